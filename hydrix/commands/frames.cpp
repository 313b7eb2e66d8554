#include "hydrix/commands/frames.h"

#include "common/numbers.h"

namespace hx {

namespace {

Frame Make(std::uint8_t code, std::initializer_list<std::uint8_t> params = {}) {
  Frame f{};
  f[0] = code;
  std::size_t i = 1;
  for (auto p : params) f[i++] = p;
  return f;
}

std::uint8_t At(std::span<const std::uint8_t> a, std::size_t i) { return i < a.size() ? a[i] : 0; }

}  // namespace

Frame FrameReset() { return Make(cmd::kReset); }

Frame FrameSetClock(const ClockFields& c) {
  return Make(cmd::kSetClock, {c.weekday, c.hour, c.minute, c.second, c.day, c.month, c.yearOfCentury, 0});
}

Frame FrameOutput(std::uint8_t output, std::uint8_t state) { return Make(cmd::kOutput, {output, state}); }

Frame FrameReadClock() { return Make(cmd::kReadClock); }

Frame FrameClockSpeed(bool write, bool fast) {
  return Make(cmd::kClockSpeed,
              {static_cast<std::uint8_t>(write ? 1 : 0), static_cast<std::uint8_t>(write && fast ? 1 : 0)});
}

Frame FrameVoltageCalibration(std::uint8_t low, std::uint8_t high) {
  return Make(cmd::kVoltageCalibration, {low, high});
}

Frame FrameReadVariable(std::uint8_t index) { return Make(cmd::kReadVariable, {index}); }

Frame FrameReadEeprom(std::uint8_t low, std::uint8_t high) { return Make(cmd::kReadEeprom, {low, high}); }

Frame FrameWriteEeprom(std::uint8_t address, std::uint8_t value) {
  return Make(cmd::kWriteEeprom, {address, value});
}

std::string ClockText(std::span<const std::uint8_t> a) {
  auto two = [&a](std::size_t i) { return FormatNumber(At(a, i), "00"); };
  return two(1) + "/" + two(2) + "/" + two(3) + " - " + two(4) + ":" + two(5) + ":" + two(6);
}

}  // namespace hx
