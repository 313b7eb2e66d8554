// Test doubles for the programmer: a boot-loader library over the simulated
// boot loader with a scriptable application side, a clock that does not
// wait, a recording front end, and a folder with a parameter file.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "flashtool/boot_library.h"
#include "flashtool/flash_run.h"
#include "sim/boot/boot_loader_model.h"

namespace hx::flash::test {

// A controller behind the boot-loader library: its application answers on
// interface 250 until it gets its boot command, then its boot loader answers
// on interface 150 (not once the model's cut fault has struck). When the last
// boot-loader handle closes after a boot flag write, the boot loader resets:
// the application starts when the boot flag and flash say so. Every call is
// logged.
class FakeBootLibrary : public BootLibrary {
 public:
  explicit FakeBootLibrary(sim::ChipModel chip = sim::DefaultChip());

  bool Ready(std::string& error) override;
  std::int32_t OpenPIC(std::int32_t connection, std::int32_t reserved, std::int32_t interfaceSel) override;
  void ClosePIC(std::int32_t handle) override;
  std::int32_t SendRawData(std::int32_t handle, std::span<const std::uint8_t> data) override;
  std::int32_t ReadRawData(std::int32_t handle, std::span<std::uint8_t> buffer,
                           std::int32_t& received) override;
  std::int16_t SendGetPacket(std::int32_t handle, boot::Packet& packet, int sendCount, int capacity,
                             int retries) override;
  std::int16_t ReadPIC(std::int32_t handle, const boot::RequestBytes& request,
                       std::span<std::uint8_t> data) override;
  std::int16_t WritePIC(std::int32_t handle, const boot::RequestBytes& request,
                        std::span<const std::uint8_t> data) override;
  std::string Problem() override { return problem; }
  std::vector<std::int32_t> BootLoaders() override {
    if (inBootLoader && !model.IsCut()) return {connection};
    return {};
  }

  // Script.
  bool ready = true;
  std::string readyError = "libhxboot.so cannot be loaded: not found";
  std::int32_t connection = 1;     // the only controller attached
  bool inBootLoader = false;       // where the controller is
  bool acceptsBootCommand = true;  // false: the application ignores it (no boot loader)
  std::uint8_t expectedCommandValue = 23;
  std::size_t expectedCommandLength = 9;
  bool failDeviceIdRead = false;
  bool busy = false;                                  // another program holds the boot loader
  std::string problem;                                // the library's reason for a failed open
  std::optional<std::uint16_t> deviceIdOverride;      // an ID word the chip does not have
  std::optional<std::int16_t> readByteResultAt201;    // e.g. a failed read of the application check
  std::deque<std::vector<std::uint8_t>> rawIncoming;  // spy mode

  // Record.
  std::vector<std::string> calls;
  std::vector<std::vector<std::uint8_t>> rawSent;
  std::vector<boot::BootRequest> writes;  // WritePIC requests in order
  std::vector<std::uint32_t> erased;      // erase packet addresses
  std::vector<int> eraseRetries;
  int openHandles() const { return static_cast<int>(open_.size()); }

  std::array<std::uint8_t, 256> eeprom{};
  sim::BootLoaderModel model;

 private:
  struct Open {
    std::int32_t handle;
    std::int32_t interfaceSel;
  };
  const Open* Find(std::int32_t handle) const;
  std::vector<Open> open_;
  std::int32_t next_ = 7;
};

// A clock that moves only when the run idles.
class FakeClock : public FlashClock {
 public:
  std::int64_t NowMs() override { return now; }
  void Idle(std::chrono::milliseconds step) override {
    now += step.count();
    idled += step.count();
  }
  std::int64_t now = 1'000'250;
  std::int64_t idled = 0;
};

// Records what the run shows.
class RecordingUi : public FlashUi {
 public:
  void PrintLine(const std::string& line) override { printed.push_back(line); }
  void SetStatus(const std::string& text) override { statuses.push_back(text); }
  void ShowProgress() override { progressVisible = true; }
  void SetProgressRange(int min, int max) override { ranges.push_back({min, max}); }
  void SetProgressValue(int value) override { lastValue = value; }
  void DoEvents() override {
    ++events;
    if (onEvents) onEvents();
  }
  void ShowRawBytes(const std::string& hex) override { raw.push_back(hex); }
  bool StopRequested() override {
    if (onStopAsked) onStopAsked();
    return stop;
  }
  void ClearStop() override { stop = false; }
  void Log(const std::string& line) override { logs.push_back(line); }

  std::vector<std::string> printed, statuses, raw, logs;
  std::vector<std::pair<int, int>> ranges;
  bool progressVisible = false;
  int lastValue = 0;
  long events = 0;
  bool stop = false;
  std::function<void()> onEvents;
  std::function<void()> onStopAsked;
};

// A fresh folder holding the shipped flashtool.INI (or other text).
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::filesystem::path& path() const { return path_; }
  void Write(const std::string& name, const std::string& text) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }

 private:
  std::filesystem::path path_;
};

// The sentence a failure's message ends with once the controller has left
// its application.
inline const std::string kLeft = "\n\n" + std::string(kLeftInBootLoader);

// The shipped parameter file's text.
std::string ShippedIni();

// A text's lines, without their line ends.
std::vector<std::string> Lines(const std::string& text);

// Intel HEX text for `bytes` at `address` (16-byte data records, type 04
// records where the upper address changes), ending with the end record.
std::string MakeHex(std::uint32_t address, const std::vector<std::uint8_t>& bytes, int perRecord = 16);
// One record with a correct checksum.
std::string HexRecord(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data);

}  // namespace hx::flash::test
