// One simulated controller as the bus sees it: the firmware model, the
// faults asked for, the time it takes to answer and its saved EEPROM.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/boot/boot_loader_model.h"
#include "sim/controller_model.h"

namespace hx::sim {

struct Faults {
  enum class Mode { None, Silent, Zeros, Short, After };
  Mode mode = Mode::None;
  int afterExchanges = 0;  // with Mode::After: answers this many, then none
  int latencyMs = 0;       // time before an answer is ready
};

// The boot loader of a controller: its chip, the boot command its
// application answers, and the boot-loader faults asked for.
struct BootSpec {
  std::string chip = "PIC18F2550";
  std::uint8_t revision = 7;
  std::uint16_t commandValue = 23;  // first byte of the boot command (low byte)
  std::uint8_t commandLength = 9;   // bytes of the boot command
  bool emptyFlash = false;          // delivered without an application
  bool noBoot = false;              // the application ignores the boot command
  int configFailures = 0;           // configuration writes that fail first
  std::optional<std::uint32_t> eraseFailAt, writeFailAt;
  std::optional<std::uint32_t> stuckAt;  // the row holding it keeps its bytes
  std::optional<int> cutAt;              // the boot loader stops answering at this request
};

// What a --controller SPEC names: id=N[,type=T][,version=MAJ.MIN]
// [,fault=silent|zeros|short|after:N|noboot][,latency=MS]
// [,chip=NAME][,rev=N][,bootcmd=VALUE:LENGTH][,flash=empty|app]
// [,cfgfail=N][,erasefail=ADDR][,writefail=ADDR][,stuck=ADDR][,cut=N][,seed=N].
struct ControllerSpec {
  Identity identity;
  // With a seed the measures carry a reproducible noise and drift (see
  // ControllerModel::SetSeed); without one they move smoothly.
  std::optional<std::uint64_t> seed;
  Faults faults;
  BootSpec boot;
};

// Parses a SPEC; nothing and a reason in `error` when it is malformed.
std::optional<ControllerSpec> ParseControllerSpec(const std::string& text, std::string& error);

// Bytes as rows of 16 hex bytes, each prefixed by its address
// ("0010: AA 55 ...") with `addressDigits` hex digits.
std::string HexRows(std::span<const std::uint8_t> bytes, std::uint32_t base, int addressDigits);

class SimDevice {
 public:
  // `stateFolder` empty: nothing is saved. Otherwise the EEPROM is loaded
  // from, and saved to, stateFolder/controller-<id>/eeprom.bin, and the
  // boot loader's flash and configuration bytes to flash.bin and config.bin
  // there. A controller whose flash holds no application starts in its boot
  // loader.
  SimDevice(const ControllerSpec& spec, std::filesystem::path stateFolder = {},
            std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());
  // The boot loader works on this object's EEPROM: it stays where it is.
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  // A request frame written to the controller. Returns the answer the
  // controller puts on the bus (shaped by the faults), or nothing. A request
  // whose EEPROM change cannot be saved is undone and answers nothing
  // (lastRequestFailed(), the reason in lastError()). The
  // product's boot command makes the application enter its boot loader
  // (unless the noboot fault is set); in its boot loader the controller's
  // application answers nothing.
  std::optional<std::vector<std::uint8_t>> Request(std::span<const std::uint8_t> frame,
                                                   std::chrono::steady_clock::time_point now);

  // Brings the model's time up to `now`.
  void Catch(std::chrono::steady_clock::time_point now);

  // The boot loader: where the controller is, and its model.
  bool InBootLoader() const { return inBootLoader_; }
  BootLoaderModel& boot() { return *boot_; }
  BootSpec& bootSpec() { return spec_.boot; }
  // Applies the boot-loader faults of bootSpec() to the model (the cut
  // fault only through ApplyCut, which starts its count).
  void ApplyBootFaults();
  void ApplyCut() { boot_->CutAt(spec_.boot.cutAt); }
  // After a boot-loader request: saves the EEPROM when the request changed it.
  void BootRequestDone();
  // The last boot-loader connection closed. When the boot flag was written
  // since the last one opened (the end of a run), the boot loader resets and,
  // as a real one does, starts the application when the flag is not 0xFF and
  // an application is present (as at power-up); otherwise it stays, so a run
  // may reconnect. Saves flash and configuration.
  void BootLoaderClosed();

  ControllerModel& model() { return model_; }
  const ControllerSpec& spec() const { return spec_; }
  Faults& faults() { return spec_.faults; }
  std::int32_t id() const { return spec_.identity.id; }
  int exchanges() const { return exchanges_; }
  // Faults changed at run time: `after:N` counts from now.
  void RestartExchangeCount() { exchanges_ = 0; }
  bool lastRequestFailed() const { return lastRequestFailed_; }
  // Saves the EEPROM when it changed since the last save. False when the
  // save failed (the reason in lastError()).
  bool Save();
  // Tells that the EEPROM was changed from outside the firmware.
  void MarkEepromChanged();
  const std::string& lastError() const { return lastError_; }

 private:
  ControllerSpec spec_;
  ControllerModel model_;
  std::unique_ptr<BootLoaderModel> boot_;
  bool inBootLoader_ = false;
  std::filesystem::path bootFolder_;
  std::filesystem::path eepromFile_;
  std::chrono::steady_clock::time_point last_;
  std::uint64_t savedGeneration_ = 0;  // generation of the EEPROM on disk
  int exchanges_ = 0;
  bool lastRequestFailed_ = false;
  std::string lastError_;
};

}  // namespace hx::sim
