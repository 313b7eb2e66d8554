// The production line's steps on one controller: voltage calibration against
// a reference meter, clock calibration from a measured clock value, the fast
// clock switch and the serial number. The window's maintenance frame and
// hydrixctl both run them; each reports whether the controller confirmed the
// step, and why not.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "hydrix/commands/hydrix_device.h"
#include "hydrix/settings/parameter_map.h"

namespace hx {

struct StepOutcome {
  bool done = false;
  std::string why;  // when not done: what went wrong ("" when the link already told the operator)
};

// The reference voltage the calibration frame can carry: volts whose
// millivolts fit its two bytes.
inline constexpr Bounds kReferenceVolts{0, 65.535};

// Sends the reference (volts) with the calibration command; when the
// controller answers, re-reads the settings image so that its new voltage
// correction (parameter word 2) can be shown.
StepOutcome CalibrateVoltage(HydrixDevice& device, double volts);
// The voltage correction of the last read, as the window shows it ("1.234").
std::string VoltageCorrectionText(const HydrixDevice& device);

// The clock correction number N for a measured clock value (nominal 16):
// N = 1 / ((1/f - 1/16) * 16), rounded halves to even; 0 for a text that is
// not a number, for 0, for 16, and for a result outside -32000..32000.
std::int32_t ClockCorrectionNumber(const std::string& measured);
// Re-reads the image, stores N at addresses 81-82 and writes the image back,
// then reads it again. Done only when every byte was written and the re-read
// holds N.
StepOutcome CalibrateClock(HydrixDevice& device, std::int32_t N);
// The clock speed command (write form): `fast` ticks FastClock.
StepOutcome SetFastClock(HydrixDevice& device, bool fast);

// A typed serial number: a whole 32-bit value (a fraction rounds halves to
// even), or the message that refuses it.
struct SerialCheck {
  std::optional<std::int32_t> value;
  std::string message;
};
SerialCheck CheckSerial(const std::string& text);
inline constexpr const char* kSerialNotValid = "Le n° de série n'est pas valide";
inline constexpr const char* kSerialTooLarge = "Le n° de série est trop grand (> 32 bits)";
// Re-reads the image, stores the serial number at 36-39 and writes the image
// back. Done only when every byte was written and a re-read holds it.
StepOutcome ProgramSerial(HydrixDevice& device, std::int32_t serial);

}  // namespace hx
