// Request frames of the controller's commands and the decoding of their
// answers. A request is always 12 bytes: the command code, then parameters
// (0 where a command names none). An answer has a command-specific length;
// its byte 0 is never used.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "wire/identity.h"

namespace hx {

using Frame = std::array<std::uint8_t, 12>;

namespace cmd {
constexpr std::uint8_t kReset = 0x00;
constexpr std::uint8_t kSetClock = 0x01;
constexpr std::uint8_t kOutput = 0x04;
constexpr std::uint8_t kIdentity = 0xF0;
constexpr std::uint8_t kReadClock = 0xF1;
constexpr std::uint8_t kClockSpeed = 0xF3;
constexpr std::uint8_t kVoltageCalibration = 0xF4;
constexpr std::uint8_t kReadVariable = 0xFC;
constexpr std::uint8_t kReadEeprom = 0xFE;
constexpr std::uint8_t kWriteEeprom = 0xFF;
}  // namespace cmd

// Answer lengths in bytes.
namespace answer {
constexpr std::int16_t kSetClock = 1;
constexpr std::int16_t kOutput = 8;
constexpr std::int16_t kIdentity = 5;
constexpr std::int16_t kReadClock = 7;
constexpr std::int16_t kClockSpeed = 2;
constexpr std::int16_t kVoltageCalibration = 1;
constexpr std::int16_t kReadVariable = 2;
constexpr std::int16_t kReadEeprom = 2;
constexpr std::int16_t kWriteEeprom = 2;
}  // namespace answer

// Failure texts (catalogue codes, looked up in "English").
namespace failure {
inline const std::string kMissing = "Missing Hydrix";
inline const std::string kAbsent = "Hydrix Absent";
}  // namespace failure

// The controller clock as the set-clock request carries it.
struct ClockFields {
  std::uint8_t weekday;  // 1 = Monday .. 7 = Sunday
  std::uint8_t hour, minute, second, day, month, yearOfCentury;
};

Frame FrameReset();
Frame FrameSetClock(const ClockFields& c);
Frame FrameOutput(std::uint8_t output, std::uint8_t state);
Frame FrameReadClock();
Frame FrameClockSpeed(bool write, bool fast);
Frame FrameVoltageCalibration(std::uint8_t low, std::uint8_t high);
Frame FrameReadVariable(std::uint8_t index);
Frame FrameReadEeprom(std::uint8_t low, std::uint8_t high);
Frame FrameWriteEeprom(std::uint8_t address, std::uint8_t value);

// FrameIdentity, NomAppareil and IdentityText: wire/identity.h.

// The controller clock from the 7-byte answer: "07/03/24 - 14:05:09".
std::string ClockText(std::span<const std::uint8_t> answer);

}  // namespace hx
