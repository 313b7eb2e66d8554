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
// What a voltage calibration would do, to ask before it (the window) or to
// refuse it (hydrixctl without --force). The controller sets its correction
// so that it measures the reference: new correction = reference - (measured
// - correction now), in millivolts.
struct VoltageCalibrationPlan {
  double measuredV = 0;    // what the controller measures now
  double referenceV = 0;   // the reference typed
  double correctionV = 0;  // the correction it would store
  bool farOff = false;     // the reference is more than 10 % away from the measured voltage
  std::string question;    // the question to ask when farOff ("" otherwise), default No
};
inline constexpr double kCalibrationTolerance = 0.10;
// `measured_mV`: word 0 of the measure block; `correctionWord`: parameter
// word 2 of the image read.
VoltageCalibrationPlan PlanVoltageCalibration(std::int32_t measured_mV, std::int32_t correctionWord,
                                              double referenceV);

// The voltage correction of the last read, as the window shows it ("1.234").
std::string VoltageCorrectionText(const HydrixDevice& device);

// The clock values hydrixctl takes: up to twice the nominal 16.
inline constexpr Bounds kClockValueBounds{0, 32};

// The clock correction number N for a measured clock value (nominal 16):
// N = 1 / ((1/f - 1/16) * 16), rounded halves to even; 0 for a text that is
// not a finite number, for 0, for 16, and for a result outside -32000..32000.
std::int32_t ClockCorrectionNumber(const std::string& measured);
// Stores N at addresses 81-82 over the image read earlier from this
// controller (read first when none is held), after RecheckImage: nothing is
// written to another unit or over settings changed since the read. Then
// reads the image again. Done only when every byte was written and the
// re-read holds N.
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
// The question before writing serial number `next` over `current`, default
// No; "" when there is nothing to ask (the controller holds 0 or `next`).
std::string SerialOverwriteQuestion(std::int32_t current, std::int32_t next);
// The serial number the controller holds (36-39), from the settings read
// from it, read now when none of it is held; nothing when they cannot be
// read whole.
std::optional<std::int32_t> HeldSerial(HydrixDevice& device);
// Stores the serial number at 36-39 the same way as CalibrateClock stores N.
// Done only when every byte was written and a re-read holds it.
StepOutcome ProgramSerial(HydrixDevice& device, std::int32_t serial);

}  // namespace hx
