// One simulated controller as the bus sees it: the firmware model, the
// faults asked for, the time it takes to answer and its saved EEPROM.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/controller_model.h"

namespace hx::sim {

struct Faults {
  enum class Mode { None, Silent, Zeros, Short, After };
  Mode mode = Mode::None;
  int afterExchanges = 0;  // with Mode::After: answers this many, then none
  int latencyMs = 0;       // time before an answer is ready
};

// What a --controller SPEC names: id=N[,type=T][,version=MAJ.MIN]
// [,fault=silent|zeros|short|after:N][,latency=MS].
struct ControllerSpec {
  Identity identity;
  Faults faults;
};

// Parses a SPEC; nothing and a reason in `error` when it is malformed.
std::optional<ControllerSpec> ParseControllerSpec(const std::string& text, std::string& error);

// Bytes as rows of 16 hex bytes, each prefixed by its address
// ("0010: AA 55 ...") with `addressDigits` hex digits.
std::string HexRows(std::span<const std::uint8_t> bytes, std::uint32_t base, int addressDigits);

class SimDevice {
 public:
  // `stateFolder` empty: nothing is saved. Otherwise the EEPROM is loaded
  // from, and saved to, stateFolder/controller-<id>/eeprom.bin.
  SimDevice(const ControllerSpec& spec, std::filesystem::path stateFolder = {},
            std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

  // A request frame written to the controller. Returns the answer the
  // controller puts on the bus (shaped by the faults), or nothing.
  std::optional<std::vector<std::uint8_t>> Request(std::span<const std::uint8_t> frame,
                                                   std::chrono::steady_clock::time_point now);

  // Brings the model's time up to `now`.
  void Catch(std::chrono::steady_clock::time_point now);

  ControllerModel& model() { return model_; }
  const ControllerSpec& spec() const { return spec_; }
  Faults& faults() { return spec_.faults; }
  std::int32_t id() const { return spec_.identity.id; }
  int exchanges() const { return exchanges_; }
  // Saves the EEPROM when it changed since the last save. False when the
  // save failed (the reason in lastError()).
  bool Save();
  // Tells that the EEPROM was changed from outside the firmware.
  void MarkEepromChanged();
  const std::string& lastError() const { return lastError_; }

 private:
  ControllerSpec spec_;
  ControllerModel model_;
  std::filesystem::path eepromFile_;
  std::chrono::steady_clock::time_point last_;
  std::uint64_t savedGeneration_ = 0;  // generation of the EEPROM on disk
  int exchanges_ = 0;
  std::string lastError_;
};

}  // namespace hx::sim
