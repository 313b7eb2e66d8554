// The simulated Hydrix IP application firmware: a 256-byte EEPROM with its
// factory image, the 28 measure variables moved by a small physical model,
// the real-time clock and the command set, answered frame by frame.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace hx::sim {

using Eeprom = std::array<std::uint8_t, 256>;

// Identity of a simulated controller: its unique identifier on the bus, the
// device type code and the firmware version (major, and minor as two digits:
// 1.05 is major 1, minor 5).
struct Identity {
  std::int32_t id = 1;
  std::uint8_t typeCode = 11;
  std::uint8_t major = 1;
  std::uint8_t minor = 5;  // 0..99
};

// A calendar date and time as the controller's clock keeps it.
struct ClockTime {
  int year = 2024;  // full year
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Addresses of the settings EEPROM that the firmware itself uses.
namespace ee {
constexpr int kTempo = 0;            // 16-bit end-of-charge delay, s
constexpr int kVoltageCorrection = 2;  // 16-bit signed, mV added to the raw measure
constexpr int kStartLow = 13;        // 16-bit, mV
constexpr int kStartHigh = 15;       // 16-bit, mV
constexpr int kSolenoidPulse = 17;   // 16-bit, ticks of 3.2 ms
constexpr int kAlarm = 19;           // 16-bit, mV
constexpr int kMark1 = 21;           // validity mark 0xAA
constexpr int kMark2 = 22;           // validity mark 0x55
constexpr int kForced1 = 26;         // hour, 255 = none
constexpr int kForced2 = 27;
constexpr int kSerial = 36;          // 32-bit signed
constexpr int kDate = 40;            // 32-bit date count
constexpr int kClockCorrection = 81;  // 16-bit signed
constexpr int kIdentity = 124;       // type, major, minor tens, minor units
constexpr int kBootFlag = 255;
}  // namespace ee

// Measure block: variable numbers (bytes) of the words.
namespace var {
constexpr int kVoltage = 0;
constexpr int kTemperature = 2;
constexpr int kCharging = 4;
constexpr int kDischarging = 6;
constexpr int kNotCharging = 8;
constexpr int kChargeOk = 10;
constexpr int kDelayAfterCharge = 12;
constexpr int kDelayBeforeCharge = 14;
constexpr int kDelayBeforeRelay = 16;
constexpr int kDelayOnStart = 18;
constexpr int kState = 20;
constexpr int kSolenoid = 24;
constexpr int kRelay = 26;
constexpr int kCount = 28;
}  // namespace var

// Operating state codes (variable word 20).
enum class State : int {
  StartDelay = 1,
  LowBattery = 2,
  SecurityLow = 3,
  ForcedCharge = 4,
  EndOfCharge = 5,
  Normal = 6,
};

class ControllerModel {
 public:
  explicit ControllerModel(const Identity& identity, ClockTime start = {2024, 3, 7, 14, 5, 9});

  // The factory image for this identity.
  static Eeprom FactoryImage(const Identity& identity);

  // Answers one request frame (12 bytes; shorter frames are padded with 0).
  // Returns the answer (the command's answer length), or nothing for the
  // reset and for an unknown command.
  std::optional<std::vector<std::uint8_t>> Exchange(std::span<const std::uint8_t> request);

  // Moves the model on by `elapsed` of simulated time, one second at a time.
  void Advance(std::chrono::milliseconds elapsed);

  // Gives the measures a noise and drift drawn from `seed`: the water flow
  // (turbine current) and the load wander, the temperature drifts, the
  // meter reads with a little noise. The same seed and the same simulated
  // time give the same measures.
  void SetSeed(std::uint64_t seed);

  // Restarts the firmware: outputs off, delays reloaded; restores the
  // factory image when the validity mark is not 0xAA 0x55.
  void Restart();

  const Identity& identity() const { return identity_; }
  Eeprom& eeprom() { return eeprom_; }
  const Eeprom& eeprom() const { return eeprom_; }
  std::array<std::uint8_t, var::kCount> Variables() const;
  void SetVariable(int index, std::uint8_t value);
  ClockTime Clock() const { return clock_; }
  void SetClock(const ClockTime& t) { clock_ = t; }
  bool FastClock() const { return fastClock_; }
  // The battery voltage the meter would read, in mV.
  int TrueVoltage() const { return static_cast<int>(voltage_); }
  void SetTrueVoltage(int mv) { voltage_ = mv; }
  // Incremented on every EEPROM change, so a store knows when to save.
  std::uint64_t eepromGeneration() const { return eepromGeneration_; }
  void TouchEeprom() { ++eepromGeneration_; }

 private:
  int Word(int address) const;
  void SetWord(int address, int value);
  void Step();  // one simulated second
  int MeasuredVoltage() const;
  void WriteEeprom(int address, std::uint8_t value);
  void TickClock();

  Identity identity_;
  Eeprom eeprom_{};
  ClockTime clock_;
  std::chrono::milliseconds pending_{0};
  std::uint64_t eepromGeneration_ = 0;

  // Physical state.
  double voltage_ = 12400;   // true battery voltage, mV
  double temperature_ = 21;  // deg C
  int rawVoltageError_ = -120;  // raw measure minus true voltage, mV
  int loadCurrent_ = 200;    // mA drawn while the relay is on
  int turbineCurrent_ = 800;   // mA given while the turbine runs (within the chart's 0..1000 scale)
  bool solenoid_ = false;
  bool relay_ = true;
  int manualHold_ = 0;  // seconds a manual output command holds
  bool fastClock_ = false;
  State state_ = State::StartDelay;
  int delayOnStart_ = 10;
  int delayAfterCharge_ = 0;
  int delayBeforeCharge_ = 0;
  int delayBeforeRelay_ = 0;
  int seconds_ = 0;
  // The seeded noise (all zero without a seed), drawn once per second.
  std::optional<std::uint64_t> random_;
  double NextUniform();          // -1 .. 1
  double flowDrift_ = 0;         // mA added to the turbine current
  double loadDrift_ = 0;         // mA added to the load
  double temperatureDrift_ = 0;  // deg C
  int chargingNoise_ = 0, dischargingNoise_ = 0, voltageNoise_ = 0;
  std::array<std::uint8_t, var::kCount> overrides_{};
  std::array<bool, var::kCount> overridden_{};
};

}  // namespace hx::sim
