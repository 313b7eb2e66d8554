// Cost of one exchange with the controller and of a whole settings image
// read (258 exchanges): through the real libhxusbif and the simulator's
// daemon code on a local socket, and in-process (the program's own share:
// frame building, the exchange cycle, the failure-text lookup).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include "common/sleeper.h"
#include "hydrix/commands/hydrix_device.h"
#include "hydrix/link/usb_library.h"
#include "support/inprocess_usb.h"
#include "sim/sim_server.h"

namespace {

class NoDialogs : public hx::DialogService {
 public:
  hx::MsgAnswer Message(const hx::MessageBoxRequest&) override { return hx::MsgAnswer::Ok; }
  std::optional<std::string> OpenFile(const hx::FileDialogRequest&) override { return std::nullopt; }
  std::optional<std::string> SaveFile(const hx::FileDialogRequest&) override { return std::nullopt; }
};

// A daemon serving one controller on a socket of its own, for the whole run.
struct Daemon {
  Daemon() {
    socket = (std::filesystem::temp_directory_path() / ("hydrix-bench-" + std::to_string(getpid()) + ".sock")).string();
    hx::sim::ControllerSpec spec;
    spec.identity.id = 5;
    server = std::make_unique<hx::sim::SimServer>(std::vector{spec}, std::filesystem::path{});
    std::string error;
    if (!server->Listen(socket, error)) throw std::runtime_error(error);
    thread = std::thread([this] { server->Run(); });
    setenv("HYDRIX_SIM_SOCKET", socket.c_str(), 1);
  }
  ~Daemon() {
    server->Stop();
    thread.join();
  }
  std::string socket;
  std::unique_ptr<hx::sim::SimServer> server;
  std::thread thread;
};

Daemon& TheDaemon() {
  static Daemon d;
  return d;
}

struct Setup {
  explicit Setup(hx::UsbInterface& usb) : device(usb, messages, dialogs, sleeper) { device.SetUsbID(5); }
  hx::CodeMessageSource messages;
  NoDialogs dialogs;
  hx::RealSleeper sleeper;
  hx::HydrixDevice device;
};

void BM_ExchangeThroughDaemon(benchmark::State& state) {
  TheDaemon();
  hx::UsbLibrary usb;
  Setup s(usb);
  for (auto _ : state) benchmark::DoNotOptimize(s.device.LitEEprom(0));
  if (s.device.TimeOut()) state.SkipWithError("the controller did not answer");
}
BENCHMARK(BM_ExchangeThroughDaemon)->Unit(benchmark::kMicrosecond);

void BM_LitImageThroughDaemon(benchmark::State& state) {
  TheDaemon();
  hx::UsbLibrary usb;
  Setup s(usb);
  for (auto _ : state) benchmark::DoNotOptimize(s.device.LitImage());
  if (!s.device.ImageComplete()) state.SkipWithError("the image was not read whole");
}
BENCHMARK(BM_LitImageThroughDaemon)->Unit(benchmark::kMillisecond);

void BM_ExchangeInProcess(benchmark::State& state) {
  hx::sim::InProcessUsb usb;
  usb.Add(5);
  Setup s(usb);
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.device.LitEEprom(0));
    usb.writes.clear();
  }
}
BENCHMARK(BM_ExchangeInProcess)->Unit(benchmark::kMicrosecond);

void BM_LitImageInProcess(benchmark::State& state) {
  hx::sim::InProcessUsb usb;
  usb.Add(5);
  Setup s(usb);
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.device.LitImage());
    usb.writes.clear();
  }
}
BENCHMARK(BM_LitImageInProcess)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
