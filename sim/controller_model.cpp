#include "sim/controller_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace hx::sim {

namespace {

constexpr int kAnswerSetClock = 1;
constexpr int kAnswerOutput = 8;
constexpr int kAnswerIdentity = 5;
constexpr int kAnswerClock = 7;
constexpr int kAnswerClockSpeed = 2;
constexpr int kAnswerCalibration = 1;
constexpr int kAnswerByte = 2;

// Seconds the outputs keep a state set by hand before the automatic control
// takes them back.
constexpr int kManualHoldSeconds = 60;
constexpr int kStartDelaySeconds = 10;
constexpr int kBeforeChargeSeconds = 5;
constexpr int kBeforeRelaySeconds = 5;

int DaysInMonth(int year, int month) {
  using namespace std::chrono;
  return static_cast<int>(static_cast<unsigned>(
      year_month_day_last{std::chrono::year{year}, month_day_last{std::chrono::month{static_cast<unsigned>(month)}}}
          .day()));
}

void PutWord(Eeprom& e, int address, int value) {
  const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
  e[static_cast<std::size_t>(address)] = static_cast<std::uint8_t>(u & 0xFF);
  e[static_cast<std::size_t>(address + 1)] = static_cast<std::uint8_t>(u >> 8);
}

}  // namespace

ControllerModel::ControllerModel(const Identity& identity, ClockTime start)
    : identity_(identity), eeprom_(FactoryImage(identity)), clock_(start) {
  Restart();
}

Eeprom ControllerModel::FactoryImage(const Identity& identity) {
  Eeprom e{};
  PutWord(e, ee::kTempo, 3600);
  PutWord(e, ee::kVoltageCorrection, 0);
  PutWord(e, ee::kStartLow, 12000);
  PutWord(e, ee::kStartHigh, 13800);
  PutWord(e, ee::kSolenoidPulse, 100);  // 320 ms
  PutWord(e, ee::kAlarm, 11500);
  e[ee::kMark1] = 0xAA;
  e[ee::kMark2] = 0x55;
  e[ee::kForced1] = 255;
  e[ee::kForced2] = 255;
  const std::int32_t serial = 24000000 + identity.id;
  const std::int32_t date = 1705312800;  // 15 January 2024, 10:00:00
  for (int i = 0; i < 4; ++i) {
    e[static_cast<std::size_t>(ee::kSerial + i)] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(serial) >> (8 * i));
    e[static_cast<std::size_t>(ee::kDate + i)] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(date) >> (8 * i));
  }
  PutWord(e, ee::kClockCorrection, 0);
  e[ee::kIdentity] = identity.typeCode;
  e[ee::kIdentity + 1] = identity.major;
  e[ee::kIdentity + 2] = static_cast<std::uint8_t>(identity.minor / 10);
  e[ee::kIdentity + 3] = static_cast<std::uint8_t>(identity.minor % 10);
  e[ee::kBootFlag] = 0x00;
  return e;
}

int ControllerModel::Word(int address) const {
  return static_cast<std::int16_t>(eeprom_[static_cast<std::size_t>(address)] |
                                   (eeprom_[static_cast<std::size_t>(address + 1)] << 8));
}

void ControllerModel::SetWord(int address, int value) {
  Eeprom copy = eeprom_;
  PutWord(copy, address, value);
  WriteEeprom(address, copy[static_cast<std::size_t>(address)]);
  WriteEeprom(address + 1, copy[static_cast<std::size_t>(address + 1)]);
}

void ControllerModel::WriteEeprom(int address, std::uint8_t value) {
  auto& cell = eeprom_[static_cast<std::size_t>(address & 0xFF)];
  if (cell != value) {
    cell = value;
    ++eepromGeneration_;
  }
}

int ControllerModel::MeasuredVoltage() const {
  return static_cast<int>(std::lround(voltage_)) + rawVoltageError_ + Word(ee::kVoltageCorrection);
}

void ControllerModel::Restart() {
  if (eeprom_[ee::kMark1] != 0xAA || eeprom_[ee::kMark2] != 0x55) {
    const Eeprom factory = FactoryImage(identity_);
    for (std::size_t a = 0; a < factory.size(); ++a) WriteEeprom(static_cast<int>(a), factory[a]);
  }
  solenoid_ = false;
  relay_ = false;
  manualHold_ = 0;
  state_ = State::StartDelay;
  delayOnStart_ = kStartDelaySeconds;
  delayAfterCharge_ = 0;
  delayBeforeCharge_ = 0;
  delayBeforeRelay_ = kBeforeRelaySeconds;
}

void ControllerModel::TickClock() {
  if (++clock_.second < 60) return;
  clock_.second = 0;
  if (++clock_.minute < 60) return;
  clock_.minute = 0;
  if (++clock_.hour < 24) return;
  clock_.hour = 0;
  if (++clock_.day <= DaysInMonth(clock_.year, clock_.month)) return;
  clock_.day = 1;
  if (++clock_.month <= 12) return;
  clock_.month = 1;
  ++clock_.year;
}

void ControllerModel::SetSeed(std::uint64_t seed) { random_ = seed; }

double ControllerModel::NextUniform() {
  // splitmix64: small, and the same on every platform.
  std::uint64_t z = (*random_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

void ControllerModel::Advance(std::chrono::milliseconds elapsed) {
  pending_ += elapsed;
  // A long pause (the daemon idle for hours) is not simulated second by
  // second: the clock catches up, the physics only for the last hour.
  const auto whole = std::chrono::duration_cast<std::chrono::seconds>(pending_);
  pending_ -= whole;
  const long long steps = whole.count();
  const long long physics = std::min<long long>(steps, 3600);
  for (long long i = 0; i < steps - physics; ++i) TickClock();
  for (long long i = 0; i < physics; ++i) Step();
}

void ControllerModel::Step() {
  TickClock();
  ++seconds_;
  if (random_) {
    flowDrift_ = std::clamp(flowDrift_ + 8.0 * NextUniform(), -500.0, 300.0);
    loadDrift_ = std::clamp(loadDrift_ + 4.0 * NextUniform(), -150.0, 250.0);
    temperatureDrift_ = std::clamp(temperatureDrift_ + 0.02 * NextUniform(), -6.0, 6.0);
    chargingNoise_ = static_cast<int>(std::lround(12.0 * NextUniform()));
    dischargingNoise_ = static_cast<int>(std::lround(6.0 * NextUniform()));
    voltageNoise_ = static_cast<int>(std::lround(4.0 * NextUniform()));
  }
  temperature_ = 21.0 + 3.0 * std::sin(seconds_ / 600.0) + temperatureDrift_;

  const int u = MeasuredVoltage();
  const int startLow = Word(ee::kStartLow);
  const int startHigh = Word(ee::kStartHigh);
  const int alarm = Word(ee::kAlarm);
  const int hour1 = eeprom_[ee::kForced1];
  const int hour2 = eeprom_[ee::kForced2];

  if (manualHold_ > 0) {
    --manualHold_;
  } else if (delayOnStart_ > 0) {
    --delayOnStart_;
    state_ = State::StartDelay;
    solenoid_ = false;
    relay_ = false;
  } else {
    if (u < alarm) {
      state_ = State::SecurityLow;
      solenoid_ = true;
      relay_ = false;
      delayBeforeRelay_ = kBeforeRelaySeconds;
    } else if ((clock_.hour == hour1 || clock_.hour == hour2) && u < startHigh) {
      state_ = State::ForcedCharge;
      solenoid_ = true;
    } else if (solenoid_) {
      if (u >= startHigh) {
        if (delayAfterCharge_ <= 0 && state_ != State::EndOfCharge) {
          delayAfterCharge_ = std::max(0, Word(ee::kTempo));
          state_ = State::EndOfCharge;
        }
        if (delayAfterCharge_ > 0) --delayAfterCharge_;
        if (delayAfterCharge_ == 0) {
          solenoid_ = false;
          state_ = State::Normal;
        }
      } else if (state_ != State::EndOfCharge) {
        state_ = State::LowBattery;
      }
    } else if (u < startLow) {
      if (delayBeforeCharge_ == 0) delayBeforeCharge_ = kBeforeChargeSeconds;
      if (--delayBeforeCharge_ == 0) {
        solenoid_ = true;
        state_ = State::LowBattery;
      }
    } else {
      delayBeforeCharge_ = 0;
      state_ = State::Normal;
    }
    if (!relay_ && state_ != State::SecurityLow) {
      if (delayBeforeRelay_ > 0) --delayBeforeRelay_;
      if (delayBeforeRelay_ == 0) relay_ = true;
    }
  }

  const double charging =
      solenoid_ ? turbineCurrent_ + flowDrift_ + 40.0 * std::sin(seconds_ / 7.0) + chargingNoise_ : 0.0;
  const double discharging =
      relay_ ? loadCurrent_ + loadDrift_ + 15.0 * std::sin(seconds_ / 11.0) + dischargingNoise_ : 0.0;
  voltage_ += (charging - discharging) * 0.02;
  voltage_ = std::clamp(voltage_, 10500.0, 14600.0);
}

std::array<std::uint8_t, var::kCount> ControllerModel::Variables() const {
  std::array<std::uint8_t, var::kCount> v{};
  auto put = [&v](int index, int value) {
    const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
    v[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(u & 0xFF);
    v[static_cast<std::size_t>(index + 1)] = static_cast<std::uint8_t>(u >> 8);
  };
  const int charging =
      solenoid_
          ? turbineCurrent_ + static_cast<int>(flowDrift_ + 40.0 * std::sin(seconds_ / 7.0)) + chargingNoise_
          : 0;
  const int discharging =
      relay_
          ? loadCurrent_ + static_cast<int>(loadDrift_ + 15.0 * std::sin(seconds_ / 11.0)) + dischargingNoise_
          : 0;
  put(var::kVoltage, MeasuredVoltage() + voltageNoise_);
  put(var::kTemperature, static_cast<int>(std::lround(temperature_)));
  put(var::kCharging, charging);
  put(var::kDischarging, discharging);
  put(var::kNotCharging, solenoid_ ? 0 : 1);
  put(var::kChargeOk, MeasuredVoltage() > 14400 ? 0 : 1);
  put(var::kDelayAfterCharge, delayAfterCharge_);
  put(var::kDelayBeforeCharge, delayBeforeCharge_);
  put(var::kDelayBeforeRelay, delayBeforeRelay_);
  put(var::kDelayOnStart, delayOnStart_);
  put(var::kState, static_cast<int>(state_));
  put(22, 0);
  put(var::kSolenoid, solenoid_ ? 1 : 0);
  put(var::kRelay, relay_ ? 1 : 0);
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (overridden_[i]) v[i] = overrides_[i];
  }
  return v;
}

void ControllerModel::SetVariable(int index, std::uint8_t value) {
  if (index < 0 || index >= var::kCount) return;
  overrides_[static_cast<std::size_t>(index)] = value;
  overridden_[static_cast<std::size_t>(index)] = true;
}

std::optional<std::vector<std::uint8_t>> ControllerModel::Exchange(std::span<const std::uint8_t> request) {
  std::array<std::uint8_t, 12> f{};
  std::copy_n(request.begin(), std::min<std::size_t>(request.size(), f.size()), f.begin());
  const std::uint8_t code = f[0];
  auto answer = [code](int length) {
    std::vector<std::uint8_t> a(static_cast<std::size_t>(length), 0);
    a[0] = code;
    return a;
  };
  switch (code) {
    case 0x00:
      Restart();
      return std::nullopt;
    case 0x01: {
      const ClockTime t{2000 + f[7], f[6], f[5], f[2], f[3], f[4]};
      const bool valid = f[1] >= 1 && f[1] <= 7 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
                         t.day <= DaysInMonth(t.year, t.month) && t.hour < 24 && t.minute < 60 && t.second < 60;
      if (valid) {
        clock_ = t;
        pending_ = std::chrono::milliseconds(0);
      }
      return answer(kAnswerSetClock);
    }
    case 0x04: {
      const bool on = f[2] != 0;
      if (f[1] == 0) solenoid_ = on;
      if (f[1] == 1) relay_ = on;
      manualHold_ = kManualHoldSeconds;
      auto a = answer(kAnswerOutput);
      a[1] = solenoid_ ? 1 : 0;
      a[2] = relay_ ? 1 : 0;
      const auto u = static_cast<std::uint16_t>(MeasuredVoltage());
      a[3] = static_cast<std::uint8_t>(u & 0xFF);
      a[4] = static_cast<std::uint8_t>(u >> 8);
      return a;
    }
    case 0xF0: {
      auto a = answer(kAnswerIdentity);
      a[1] = identity_.major;
      a[2] = identity_.typeCode;
      a[3] = static_cast<std::uint8_t>(identity_.minor % 10);
      a[4] = static_cast<std::uint8_t>(identity_.minor / 10);
      return a;
    }
    case 0xF1: {
      auto a = answer(kAnswerClock);
      a[1] = static_cast<std::uint8_t>(clock_.day);
      a[2] = static_cast<std::uint8_t>(clock_.month);
      a[3] = static_cast<std::uint8_t>(clock_.year % 100);
      a[4] = static_cast<std::uint8_t>(clock_.hour);
      a[5] = static_cast<std::uint8_t>(clock_.minute);
      a[6] = static_cast<std::uint8_t>(clock_.second);
      return a;
    }
    case 0xF3: {
      if (f[1] == 1) fastClock_ = f[2] != 0;
      auto a = answer(kAnswerClockSpeed);
      a[1] = fastClock_ ? 1 : 0;
      return a;
    }
    case 0xF4: {
      // The correction makes the measured voltage equal to the reference.
      const int reference = f[1] | (f[2] << 8);
      const int raw = static_cast<int>(std::lround(voltage_)) + rawVoltageError_;
      SetWord(ee::kVoltageCorrection, std::clamp(reference - raw, -32768, 32767));
      return answer(kAnswerCalibration);
    }
    case 0xFC: {
      auto a = answer(kAnswerByte);
      if (f[1] < var::kCount) a[1] = Variables()[f[1]];
      return a;
    }
    case 0xFE: {
      auto a = answer(kAnswerByte);
      a[1] = eeprom_[static_cast<std::size_t>((f[1] | (f[2] << 8)) & 0xFF)];
      return a;
    }
    case 0xFF: {
      WriteEeprom(f[1], f[2]);
      auto a = answer(kAnswerByte);
      a[1] = f[2];
      return a;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace hx::sim
