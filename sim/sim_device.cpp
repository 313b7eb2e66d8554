#include "sim/sim_device.h"

#include <algorithm>
#include <charconv>
#include <iomanip>
#include <sstream>

#include "sim/state_store.h"

namespace hx::sim {

namespace {

bool ToInt(const std::string& s, long long& out) {
  if (s.empty()) return false;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && ptr == s.data() + s.size();
}

// A decimal number, or hex with a 0x prefix.
bool ToAddress(const std::string& s, long long& out) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    auto [ptr, ec] = std::from_chars(s.data() + 2, s.data() + s.size(), out, 16);
    return ec == std::errc() && ptr == s.data() + s.size();
  }
  return ToInt(s, out);
}

}  // namespace

std::optional<ControllerSpec> ParseControllerSpec(const std::string& text, std::string& error) {
  ControllerSpec spec;
  bool haveId = false;
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    const auto eq = item.find('=');
    if (eq == std::string::npos) {
      error = "'" + item + "' is not KEY=VALUE";
      return std::nullopt;
    }
    const std::string key = item.substr(0, eq);
    const std::string value = item.substr(eq + 1);
    long long n = 0;
    if (key == "id") {
      // The factory serial number is 24000000 + id, a signed 32-bit number.
      constexpr long long kHighest = INT32_MAX - 24000000LL;
      if (!ToInt(value, n) || n < INT32_MIN || n > kHighest || n == -1 || n == 0) {
        error = "id must be a number from " + std::to_string(INT32_MIN) + " to " + std::to_string(kHighest) +
                ", other than 0 and -1 (the serial number 24000000 + id must fit 32 bits)";
        return std::nullopt;
      }
      spec.identity.id = static_cast<std::int32_t>(n);
      haveId = true;
    } else if (key == "type") {
      if (!ToInt(value, n) || n < 0 || n > 255) {
        error = "type must be 0..255";
        return std::nullopt;
      }
      spec.identity.typeCode = static_cast<std::uint8_t>(n);
    } else if (key == "version") {
      const auto dot = value.find('.');
      long long major = 0;
      long long minor = 0;
      if (dot == std::string::npos || !ToInt(value.substr(0, dot), major) || !ToInt(value.substr(dot + 1), minor) ||
          major < 0 || major > 255 || minor < 0 || minor > 99) {
        error = "version must be MAJ.MIN with MAJ 0..255 and MIN 0..99";
        return std::nullopt;
      }
      spec.identity.major = static_cast<std::uint8_t>(major);
      spec.identity.minor = static_cast<std::uint8_t>(minor);
    } else if (key == "fault") {
      if (value == "silent") {
        spec.faults.mode = Faults::Mode::Silent;
      } else if (value == "zeros") {
        spec.faults.mode = Faults::Mode::Zeros;
      } else if (value == "short") {
        spec.faults.mode = Faults::Mode::Short;
      } else if (value.rfind("after:", 0) == 0 && ToInt(value.substr(6), n) && n >= 0 && n <= INT32_MAX) {
        spec.faults.mode = Faults::Mode::After;
        spec.faults.afterExchanges = static_cast<int>(n);
      } else if (value == "none") {
        spec.faults.mode = Faults::Mode::None;
        spec.boot.noBoot = false;
      } else if (value == "noboot") {
        spec.boot.noBoot = true;
      } else {
        error = "fault must be silent, zeros, short, after:N, noboot or none";
        return std::nullopt;
      }
    } else if (key == "seed") {
      if (!ToInt(value, n) || n < 0) {
        error = "seed must be a whole number from 0";
        return std::nullopt;
      }
      spec.seed = static_cast<std::uint64_t>(n);
    } else if (key == "latency") {
      if (!ToInt(value, n) || n < 0 || n > 600000) {
        error = "latency must be 0..600000 ms";
        return std::nullopt;
      }
      spec.faults.latencyMs = static_cast<int>(n);
    } else if (key == "chip") {
      if (!FindChip(value)) {
        error =
            "chip must be one of PIC18F2455, PIC18F2550, PIC18F4455, PIC18F4550, PIC18F2458, PIC18F2553, "
            "PIC18F4458, PIC18F4553";
        return std::nullopt;
      }
      spec.boot.chip = value;
    } else if (key == "rev") {
      if (!ToInt(value, n) || n < 0 || n > 31) {
        error = "rev must be 0..31";
        return std::nullopt;
      }
      spec.boot.revision = static_cast<std::uint8_t>(n);
    } else if (key == "bootcmd") {
      const auto colon = value.find(':');
      long long length = 0;
      if (colon == std::string::npos || !ToAddress(value.substr(0, colon), n) ||
          !ToInt(value.substr(colon + 1), length) || n < 0 || n > 65535 || length < 3 || length > 51) {
        error = "bootcmd must be VALUE:LENGTH with VALUE 0..65535 and LENGTH 3..51";
        return std::nullopt;
      }
      spec.boot.commandValue = static_cast<std::uint16_t>(n);
      spec.boot.commandLength = static_cast<std::uint8_t>(length);
    } else if (key == "flash") {
      if (value != "empty" && value != "app") {
        error = "flash must be empty or app";
        return std::nullopt;
      }
      spec.boot.emptyFlash = value == "empty";
    } else if (key == "cfgfail") {
      if (!ToInt(value, n) || n < 0 || n > 1000000) {
        error = "cfgfail must be a count 0..1000000";
        return std::nullopt;
      }
      spec.boot.configFailures = static_cast<int>(n);
    } else if (key == "cut") {
      if (value == "none") {
        spec.boot.cutAt.reset();
      } else if (!ToInt(value, n) || n < 1 || n > INT32_MAX) {
        error = "cut must be a request count 1.. or none";
        return std::nullopt;
      } else {
        spec.boot.cutAt = static_cast<int>(n);
      }
    } else if (key == "erasefail" || key == "writefail" || key == "stuck") {
      auto& at = key == "erasefail"   ? spec.boot.eraseFailAt
                 : key == "writefail" ? spec.boot.writeFailAt
                                      : spec.boot.stuckAt;
      if (value == "none") {
        at.reset();
      } else if (!ToAddress(value, n) || n < 0 || n > 0xFFFFFF) {
        error = key + " must be an address 0..0xFFFFFF or none";
        return std::nullopt;
      } else {
        at = static_cast<std::uint32_t>(n);
      }
    } else {
      error = "unknown key '" + key + "'";
      return std::nullopt;
    }
  }
  if (!haveId) {
    error = "id=N is required";
    return std::nullopt;
  }
  return spec;
}

SimDevice::SimDevice(const ControllerSpec& spec, std::filesystem::path stateFolder,
                     std::chrono::steady_clock::time_point now)
    : spec_(spec), model_(spec.identity), last_(now) {
  if (spec.seed) model_.SetSeed(*spec.seed);
  auto chip = FindChip(spec.boot.chip, spec.boot.revision);
  boot_ = std::make_unique<BootLoaderModel>(chip ? *chip : DefaultChip(), model_.eeprom());
  if (!spec.boot.emptyFlash) boot_->InstallApplication();
  if (!stateFolder.empty()) {
    bootFolder_ = stateFolder / ("controller-" + std::to_string(spec.identity.id));
    std::string error;
    if (!boot_->Load(bootFolder_, error)) lastError_ = error;  // a damaged file: as delivered
  }
  ApplyBootFaults();
  ApplyCut();
  if (!stateFolder.empty()) {
    eepromFile_ = stateFolder / ("controller-" + std::to_string(spec.identity.id)) / "eeprom.bin";
    bool loaded = false;
    if (auto bytes = LoadFile(eepromFile_); bytes && bytes->size() == model_.eeprom().size()) {
      std::copy(bytes->begin(), bytes->end(), model_.eeprom().begin());
      loaded = true;
    }
    // A power-up: the firmware checks its validity mark. What it restored,
    // or a factory image that was never saved, goes to disk now.
    model_.Restart();
    savedGeneration_ = loaded ? 0 : ~std::uint64_t{0};
    Save();
  }
  // Power-up: the boot loader decides by the boot flag and the application.
  inBootLoader_ = !boot_->StartsApplication();
}

void SimDevice::Catch(std::chrono::steady_clock::time_point now) {
  if (now > last_) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - last_);
    model_.Advance(ms);
    last_ += ms;
  }
}

void SimDevice::MarkEepromChanged() { model_.TouchEeprom(); }

bool SimDevice::Save() {
  if (eepromFile_.empty() || savedGeneration_ == model_.eepromGeneration()) return true;
  const auto& e = model_.eeprom();
  if (!SaveFileAtomically(eepromFile_, std::vector<std::uint8_t>(e.begin(), e.end()), lastError_)) return false;
  savedGeneration_ = model_.eepromGeneration();
  return true;
}

void SimDevice::ApplyBootFaults() {
  boot_->FailConfigWrites(spec_.boot.configFailures);
  boot_->FailEraseAt(spec_.boot.eraseFailAt);
  boot_->FailWriteAt(spec_.boot.writeFailAt);
  boot_->StickRowAt(spec_.boot.stuckAt);
}

void SimDevice::BootRequestDone() {
  if (boot_->BootFlagWrites() > 0) model_.TouchEeprom();
  Save();
}

void SimDevice::BootLoaderClosed() {
  if (!bootFolder_.empty()) {
    std::string error;
    if (!boot_->Save(bootFolder_, error)) lastError_ = error;
  }
  const bool flagWritten = boot_->BootFlagWrites() > 0;
  boot_->ResetBootFlagWrites();
  if (inBootLoader_ && flagWritten && boot_->StartsApplication()) {
    inBootLoader_ = false;
    model_.Restart();
    model_.TouchEeprom();
    Save();
  }
}

std::optional<std::vector<std::uint8_t>> SimDevice::Request(std::span<const std::uint8_t> frame,
                                                            std::chrono::steady_clock::time_point now) {
  Catch(now);
  lastRequestFailed_ = false;
  if (inBootLoader_) return std::nullopt;  // the application is not running
  if (frame.size() == spec_.boot.commandLength &&
      boot::IsBootCommand(frame, static_cast<std::uint8_t>(spec_.boot.commandValue & 0xFF))) {
    if (!spec_.boot.noBoot) {
      inBootLoader_ = true;
      boot_->ResetBootFlagWrites();
    }
    return std::nullopt;
  }
  ++exchanges_;
  const Faults& f = spec_.faults;
  if (f.mode == Faults::Mode::Silent) return std::nullopt;
  if (f.mode == Faults::Mode::After && exchanges_ > f.afterExchanges) return std::nullopt;
  const Eeprom before = model_.eeprom();
  auto answer = model_.Exchange(frame);
  if (!Save()) {
    // What cannot be kept is not acknowledged: the EEPROM stays as it is on disk.
    model_.eeprom() = before;
    lastRequestFailed_ = true;
    return std::nullopt;
  }
  if (!answer) return std::nullopt;
  if (f.mode == Faults::Mode::Zeros) std::fill(answer->begin(), answer->end(), std::uint8_t{0});
  if (f.mode == Faults::Mode::Short) answer->resize(std::max<std::size_t>(1, answer->size() / 2));
  return answer;
}

std::string HexRows(std::span<const std::uint8_t> bytes, std::uint32_t base, int addressDigits) {
  std::ostringstream out;
  out << std::uppercase << std::hex << std::setfill('0');
  for (std::size_t row = 0; row < bytes.size(); row += 16) {
    out << std::setw(addressDigits) << (base + row) << ':';
    for (std::size_t i = row; i < std::min(bytes.size(), row + 16); ++i) out << ' ' << std::setw(2) << int{bytes[i]};
    out << '\n';
  }
  return out.str();
}

}  // namespace hx::sim
