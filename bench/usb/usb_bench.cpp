// The USB backends at the wire's pace, on umockdev's emulated bus (run it
// under umockdev-wrapper): one exchange, a full settings read (258
// exchanges) and a 32 KB programming run with verify, each through our
// libraries beside the same transfers on one held libusb handle (the floor
// no implementation can beat on this bed) and, for exchanges, beside a floor
// that opens, claims, releases and closes per exchange as the design does,
// without looking the controllers up. Each case reports the USB requests the
// device saw (bulk OUT transfers) and the reads (bulk IN transfers, those
// that drop a late answer included) per iteration.
#include <benchmark/benchmark.h>
#include <libusb.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "common/sleeper.h"
#include "hydrix/commands/frames.h"
#include "hydrix/commands/hydrix_device.h"
#include "hydrix/link/usb_library.h"
#include "platform/hxboot/backend.h"
#include "platform/hxboot/device_session.h"
#include "platform/hxusb_device/usb_ids.h"
#include "sim/controller_model.h"
#include "support/boot_loader_device.h"
#include "support/usb_testbed.h"
#include "wire/boot_protocol.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint16_t kAppVendor = 0x1209, kAppProduct = 0x7A01;
constexpr std::uint16_t kBootVendor = 0x04D8, kBootProduct = 0x000B;
// The whole application area of a 32 KB chip (above the boot block).
constexpr std::uint32_t kProgramLow = 0x200, kProgramBytes = 0x8000 - 0x200;

// One controller's application and one boot loader on the emulated bus,
// for the whole run.
struct Bed {
  Bed() : model({.id = 1, .typeCode = 11, .major = 1, .minor = 5}) {
    folder = std::filesystem::temp_directory_path() / ("hx-usb-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder / "hydrix");
    std::ofstream(folder / "hydrix" / "hxusb.conf")
        << "[backend]\ntype=usb\n[application]\nvendor=0x1209\nproduct=0x7A01\ninterface=0\nout=0x01\nin=0x81\n";
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", folder.c_str(), 1);
    ::setenv("HYDRIX_USB_BACKEND", "usb", 1);
    app = bed.Add({.vendor = kAppVendor, .product = kAppProduct, .serial = "HX-BENCH", .ports = {4}, .address = 5},
            [this](std::span<const std::uint8_t> request) {
              ++requests;
              std::lock_guard lock(mutex);
              const auto answer = model.Exchange(request);
              return answer ? std::vector<Bytes>{*answer} : std::vector<Bytes>{};
            });
    boot = bed.Add({.vendor = kBootVendor, .product = kBootProduct, .ports = {5}, .address = 6},
            [this](std::span<const std::uint8_t> packet) {
              ++requests;
              std::lock_guard lock(mutex);
              const auto answer = loader.Answer(packet);
              return answer ? std::vector<Bytes>{*answer} : std::vector<Bytes>{};
            });
  }
  ~Bed() { std::filesystem::remove_all(folder); }

  hx::testing::UsbTestbed bed;
  std::mutex mutex;
  hx::sim::ControllerModel model;
  hx::testing::BootLoaderDevice loader;
  std::atomic<long> requests{0};
  std::filesystem::path folder;
  std::string app, boot;  // their sysfs paths

  // Bulk IN transfers submitted to either device so far (reads that drop a
  // late answer included).
  long Reads() const {
    long n = 0;
    for (const auto* d : {&app, &boot})
      for (const char c : bed.BulkLog(*d)) n += c == 'I';
    return n;
  }
};

Bed& TheBed() {
  static Bed bed;
  return bed;
}

class NoDialogs : public hx::DialogService {
 public:
  hx::MsgAnswer Message(const hx::MessageBoxRequest&) override { return hx::MsgAnswer::Ok; }
  std::optional<std::string> OpenFile(const hx::FileDialogRequest&) override { return std::nullopt; }
  std::optional<std::string> SaveFile(const hx::FileDialogRequest&) override { return std::nullopt; }
};

// The program's own path: the hydrix core over the real libhxusbif.
struct Program {
  Program() : device(usb, messages, dialogs, sleeper) {
    device.Choose(hx::usb::IdentifierOf("HX-BENCH"));
  }
  hx::UsbLibrary usb;
  hx::CodeMessageSource messages;
  NoDialogs dialogs;
  hx::RealSleeper sleeper;
  hx::HydrixDevice device;
};

// libusb on its own: the device found once.
struct Raw {
  Raw(std::uint16_t vendor, std::uint16_t product) {
    libusb_init(&context);
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < n; ++i) {
      libusb_device_descriptor d{};
      if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == vendor && d.idProduct == product)
        device = libusb_ref_device(list[i]);
    }
    if (n >= 0) libusb_free_device_list(list, 1);
  }
  ~Raw() {
    Release();
    if (device) libusb_unref_device(device);
    libusb_exit(context);
  }
  // Waits up to a second for the library of an earlier case to release it.
  bool Claim() {
    if (!device || libusb_open(device, &handle) != 0) return false;
    libusb_set_auto_detach_kernel_driver(handle, 1);
    for (int i = 0; i < 100; ++i) {
      const int rc = libusb_claim_interface(handle, 0);
      if (rc != LIBUSB_ERROR_BUSY) return rc == 0;
      usleep(10000);
    }
    return false;
  }
  void Release() {
    if (!handle) return;
    libusb_release_interface(handle, 0);
    libusb_close(handle);
    handle = nullptr;
  }
  // One request and its answer; the answer's length, or -1.
  int Transfer(std::span<const std::uint8_t> request, unsigned timeoutMs = 1000) {
    int sent = 0, got = 0;
    std::uint8_t answer[64];
    if (libusb_bulk_transfer(handle, 0x01, const_cast<std::uint8_t*>(request.data()),
                             static_cast<int>(request.size()), &sent, timeoutMs) != 0)
      return -1;
    if (libusb_bulk_transfer(handle, 0x81, answer, sizeof answer, &got, timeoutMs) != 0) return -1;
    return got;
  }
  libusb_context* context = nullptr;
  libusb_device* device = nullptr;
  libusb_device_handle* handle = nullptr;
};

void Report(benchmark::State& state, long before, long readsBefore) {
  state.counters["requests"] = benchmark::Counter(static_cast<double>(TheBed().requests - before),
                                                  benchmark::Counter::kAvgIterations);
  state.counters["reads"] = benchmark::Counter(static_cast<double>(TheBed().Reads() - readsBefore),
                                               benchmark::Counter::kAvgIterations);
}

// --- One exchange and a full settings read --------------------------------

void BM_Exchange_Library(benchmark::State& state) {
  TheBed();
  Program p;
  const long before = TheBed().requests, readsBefore = TheBed().Reads();
  for (auto _ : state) benchmark::DoNotOptimize(p.device.LitEEprom(0));
  Report(state, before, readsBefore);
  if (!p.device.LastAnswerComplete()) state.SkipWithError("no answer");
}
BENCHMARK(BM_Exchange_Library)->Unit(benchmark::kMicrosecond);

void BM_Exchange_OpenClosePerExchange(benchmark::State& state) {
  TheBed();
  Raw raw(kAppVendor, kAppProduct);
  const auto frame = hx::FrameReadEeprom(0, 0);
  const long before = TheBed().requests, readsBefore = TheBed().Reads();
  for (auto _ : state) {
    if (!raw.Claim() || raw.Transfer(frame) != hx::answer::kReadEeprom) state.SkipWithError("no answer");
    raw.Release();
  }
  Report(state, before, readsBefore);
}
BENCHMARK(BM_Exchange_OpenClosePerExchange)->Unit(benchmark::kMicrosecond);

void BM_Exchange_HeldHandle(benchmark::State& state) {
  TheBed();
  Raw raw(kAppVendor, kAppProduct);
  if (!raw.Claim()) state.SkipWithError("cannot open");
  const auto frame = hx::FrameReadEeprom(0, 0);
  const long before = TheBed().requests, readsBefore = TheBed().Reads();
  for (auto _ : state) {
    if (raw.Transfer(frame) != hx::answer::kReadEeprom) state.SkipWithError("no answer");
  }
  Report(state, before, readsBefore);
}
BENCHMARK(BM_Exchange_HeldHandle)->Unit(benchmark::kMicrosecond);

void BM_SettingsRead_Library(benchmark::State& state) {
  TheBed();
  Program p;
  const long before = TheBed().requests, readsBefore = TheBed().Reads();
  for (auto _ : state) benchmark::DoNotOptimize(p.device.LitImage());
  Report(state, before, readsBefore);
  if (!p.device.ImageComplete()) state.SkipWithError("the image was not read whole");
}
BENCHMARK(BM_SettingsRead_Library)->Unit(benchmark::kMillisecond);

void BM_SettingsRead_OpenClosePerExchange(benchmark::State& state) {
  TheBed();
  Raw raw(kAppVendor, kAppProduct);
  const long before = TheBed().requests, readsBefore = TheBed().Reads();
  for (auto _ : state) {
    for (int i = 0; i < 258; ++i) {
      const auto frame = hx::FrameReadEeprom(static_cast<std::uint8_t>(i / 2), 0);
      if (!raw.Claim() || raw.Transfer(frame) != hx::answer::kReadEeprom) state.SkipWithError("no answer");
      raw.Release();
    }
  }
  Report(state, before, readsBefore);
}
BENCHMARK(BM_SettingsRead_OpenClosePerExchange)->Unit(benchmark::kMillisecond);

void BM_SettingsRead_HeldHandle(benchmark::State& state) {
  TheBed();
  Raw raw(kAppVendor, kAppProduct);
  if (!raw.Claim()) state.SkipWithError("cannot open");
  const long before = TheBed().requests, readsBefore = TheBed().Reads();
  for (auto _ : state) {
    for (int i = 0; i < 258; ++i) {
      const auto frame = hx::FrameReadEeprom(static_cast<std::uint8_t>(i / 2), 0);
      if (raw.Transfer(frame) != hx::answer::kReadEeprom) state.SkipWithError("no answer");
    }
  }
  Report(state, before, readsBefore);
}
BENCHMARK(BM_SettingsRead_HeldHandle)->Unit(benchmark::kMillisecond);

// --- A 32 KB programming run with verify ----------------------------------
//
// The 32,256 bytes from 0x000200 to the end of a 32 KB chip's flash.
// flashtool's sequence over libhxboot: one erase packet per 64-byte block,
// one WritePIC per 16-byte list row, one ReadPIC per row to verify, then the
// boot flag. "Packed" is the same run with each call as large as the boot
// loader's packets allow: an erase packet for up to 255 blocks, writes of
// 48 bytes (three whole rows in the 59 data bytes of a packet), reads of
// 59 bytes. Its request count is the minimum:
//   ceil(504 blocks / 255) + ceil(32256 / 48) + ceil(32256 / 59) + 1 flag
//   = 2 + 672 + 547 + 1 = 1222.

std::uint8_t FirmwareByte(std::uint32_t i) { return static_cast<std::uint8_t>(i * 7 + 3); }

struct Packets {
  std::vector<Bytes> packets;
  std::vector<std::size_t> answerLengths;
  void Add(Bytes p, std::size_t answer) {
    packets.push_back(std::move(p));
    answerLengths.push_back(answer);
  }
};

// The device packets of a run, as libhxboot sends them.
Packets RunPackets(bool packed) {
  using namespace hx::boot;
  Packets run;
  const std::uint32_t blocks = kProgramBytes / 64;
  const std::uint32_t perErase = packed ? 255 : 1;
  for (std::uint32_t b = 0; b < blocks; b += perErase)
    run.Add(MakeDevicePacket(kDevErase, static_cast<std::uint8_t>(std::min(perErase, blocks - b)),
                             kProgramLow + 64 * b),
            1);
  const std::uint32_t write = packed ? 48 : 16, read = packed ? 59 : 16;
  for (std::uint32_t a = 0; a < kProgramBytes; a += write) {
    const std::uint32_t n = std::min(write, kProgramBytes - a);
    Bytes data(n);
    for (std::uint32_t i = 0; i < n; ++i) data[i] = FirmwareByte(a + i);
    run.Add(MakeDevicePacket(kDevWriteProgram, static_cast<std::uint8_t>(n), kProgramLow + a, data), 1);
  }
  for (std::uint32_t a = 0; a < kProgramBytes; a += read) {
    const std::uint32_t n = std::min(read, kProgramBytes - a);
    run.Add(MakeDevicePacket(kDevReadProgram, static_cast<std::uint8_t>(n), kProgramLow + a), 5 + n);
  }
  const std::uint8_t flag = 0;
  run.Add(MakeDevicePacket(kDevWriteEeprom, 1, 0xFF, {&flag, 1}), 1);
  return run;
}

// The same run through libhxboot's USB backend (the library's calls).
bool RunThroughLibrary(hx::boot::Backend& boot, std::int32_t handle, bool packed) {
  using namespace hx::boot;
  const std::uint32_t blocks = kProgramBytes / 64;
  const std::uint32_t perErase = packed ? 255 : 1;
  for (std::uint32_t b = 0; b < blocks; b += perErase) {
    Packet p = MakeErasePacket(kProgramLow + 64 * b);
    p[1] = static_cast<std::uint8_t>(std::min(perErase, blocks - b));
    if (boot.SendGetPacket(handle, p.data(), kErasePacketLength, kPacketCapacity, 1) < 0) return false;
  }
  const std::uint32_t write = packed ? 240 : 16, read = packed ? 236 : 16;
  std::vector<std::uint8_t> data(256);
  for (std::uint32_t a = 0; a < kProgramBytes; a += write) {
    const std::uint32_t n = std::min(write, kProgramBytes - a);
    for (std::uint32_t i = 0; i < n; ++i) data[i] = FirmwareByte(a + i);
    const auto r = EncodeBootRequest({kWriteProgram, static_cast<std::uint8_t>(n),
                                      static_cast<std::int32_t>(kProgramLow + a), 1, 1, 1});
    if (boot.WritePIC(handle, r.data(), data.data()) != static_cast<int>(n)) return false;
  }
  for (std::uint32_t a = 0; a < kProgramBytes; a += read) {
    const std::uint32_t n = std::min(read, kProgramBytes - a);
    const auto r = EncodeBootRequest({kReadProgram, static_cast<std::uint8_t>(n),
                                      static_cast<std::int32_t>(kProgramLow + a), 1, 1, 1});
    if (boot.ReadPIC(handle, r.data(), data.data()) != static_cast<int>(n)) return false;
    for (std::uint32_t i = 0; i < n; ++i)
      if (data[i] != FirmwareByte(a + i)) return false;
  }
  const std::uint8_t flag = 0;
  const auto r = EncodeBootRequest({kWriteEeprom, 1, 0xFF, 1, 1, 1});
  return boot.WritePIC(handle, r.data(), &flag) == 1;
}

// A boot loader restarted by the last run (its reset packet) is back.
void BootLoaderBack() {
  std::lock_guard lock(TheBed().mutex);
  TheBed().loader.reset = false;
}

void BM_ProgramRun_Library(benchmark::State& state) {
  const bool packed = state.range(0) != 0;
  BootLoaderBack();
  hx::usbconf::UsbConfig config;
  config.backend = hx::usbconf::Backend::Usb;
  config.application = {kAppVendor, kAppProduct, 0, 0x01, 0x81, true};
  auto boot = hx::boot::MakeUsbBackend(config);
  const auto handle = boot->Open(hx::usb::IdentifierOf("1-5"), hx::boot::kBootLoaderInterface);
  if (handle <= 0) state.SkipWithError("cannot open the boot loader");
  const long before = TheBed().requests, readsBefore = TheBed().Reads();
  for (auto _ : state) {
    if (!RunThroughLibrary(*boot, handle, packed)) {
      state.SkipWithError("the run failed");
      break;
    }
  }
  Report(state, before, readsBefore);
  boot->Close(handle);
}
BENCHMARK(BM_ProgramRun_Library)->Arg(0)->Arg(1)->ArgName("packed")->Unit(benchmark::kMillisecond);

void BM_ProgramRun_HeldHandle(benchmark::State& state) {
  BootLoaderBack();
  Raw raw(kBootVendor, kBootProduct);
  if (!raw.Claim()) state.SkipWithError("cannot open");
  const Packets run = RunPackets(state.range(0) != 0);
  const long before = TheBed().requests, readsBefore = TheBed().Reads();
  static std::string error;
  for (auto _ : state) {
    for (std::size_t i = 0; i < run.packets.size(); ++i) {
      const int got = raw.Transfer(run.packets[i], 5000);
      if (got != static_cast<int>(run.answerLengths[i])) {
        error = "packet " + std::to_string(i) + " (command " + std::to_string(run.packets[i][0]) + ") got " +
                std::to_string(got);
        state.SkipWithError(error.c_str());
        break;
      }
    }
    if (!error.empty()) break;
  }
  Report(state, before, readsBefore);
}
BENCHMARK(BM_ProgramRun_HeldHandle)->Arg(0)->Arg(1)->ArgName("packed")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  TheBed();  // the test bed is what tells whether the preload library is there
  if (!hx::testing::UsbTestbed::Preloaded()) {
    std::fprintf(stderr, "usb_bench: run it under umockdev-wrapper (umockdev-wrapper %s)\n", argv[0]);
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
