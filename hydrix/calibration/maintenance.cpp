#include "hydrix/calibration/maintenance.h"

#include <cmath>

#include "common/numbers.h"
#include "hydrix/commands/image_recheck.h"
#include "hydrix/config/byte_packing.h"

namespace hx {

namespace {

const std::string kEnglish = "English";

ImageAddresses Range(int first, int count) {
  ImageAddresses set;
  for (int a = first; a < first + count; ++a) set.set(static_cast<std::size_t>(a));
  return set;
}

std::string NotConfirmed(const HydrixDevice& device) {
  return "Controller " + std::to_string(device.UsbID()) +
         " did not confirm every byte of the settings. Read the parameters and try again.";
}

std::int32_t Stored32(const HydrixDevice& device, int address) {
  std::uint8_t b[4];
  for (int i = 0; i < 4; ++i)
    b[i] = static_cast<std::uint8_t>(device.ImageParams()[static_cast<std::size_t>(address + i)]);
  return OctetsVersLong(b);
}

}  // namespace

StepOutcome CalibrateVoltage(HydrixDevice& device, double volts) {
  const auto low = HydrixDevice::OctetBas(volts * 1000);
  const auto high = HydrixDevice::OctetHaut(volts * 1000);
  if (!(volts >= kReferenceVolts.min && volts <= kReferenceVolts.max) || !low || !high) {
    return {false, "The reference must be from 0 to 65.535 V."};
  }
  if (auto refusal = device.CommandRefusal(); !refusal.empty())
    return {false, refusal + " Nothing was sent."};
  auto& link = device.link();
  const Frame f = FrameVoltageCalibration(*low, *high);
  link.UsbOpen(device.UsbID());
  link.UsbWrite(f, static_cast<std::int16_t>(f.size()));
  link.UsbRead(answer::kVoltageCalibration, device.messages().LitMessage(kEnglish, failure::kAbsent, ""),
               true, "");
  link.UsbClose();
  if (device.TimeOut()) return {false, ""};
  if (!device.LitImage())
    return {false, "The calibration was sent, but the settings could not be read back."};
  if (auto implausible = device.ImageImplausible(); !implausible.empty())
    return {false, "The calibration was sent, but the settings read back cannot be shown. " + implausible};
  return {true, {}};
}

VoltageCalibrationPlan PlanVoltageCalibration(std::int32_t measured_mV, std::int32_t correctionWord,
                                              double referenceV) {
  VoltageCalibrationPlan p;
  p.measuredV = measured_mV / 1000.0;
  p.referenceV = referenceV;
  const double reference_mV = RoundHalfEven(referenceV * 1000);
  p.correctionV = (reference_mV - (measured_mV - correctionWord)) / 1000.0;
  p.farOff = !(std::fabs(reference_mV - measured_mV) <= kCalibrationTolerance * std::fabs(measured_mV));
  if (p.farOff) {
    p.question = "The controller measures " + FormatNumber(p.measuredV, "0.00") + " V, and the reference " +
                 FormatNumber(p.referenceV, "0.000") +
                 " V is more than 10 % away from it. Calibrating stores a voltage correction of " +
                 FormatNumber(p.correctionV, "0.000") + " (now " +
                 FormatNumber(correctionWord / 1000.0, "0.000") + "). Calibrate anyway?";
  }
  return p;
}

std::string VoltageCorrectionText(const HydrixDevice& device) {
  return FormatNumber(device.LitMotParams(2) / 1000.0, "0.000");
}

std::int32_t ClockCorrectionNumber(const std::string& measured) {
  if (!IsNumeric(measured)) return 0;
  const auto f = ParseNumber(measured);
  if (!f || !std::isfinite(*f) || *f == 0) return 0;
  const double x = (1 / *f - 1.0 / 16) * 16;
  if (x == 0) return 0;
  const double n = RoundHalfEven(1 / x);
  if (!(n >= -32000 && n <= 32000)) return 0;
  return static_cast<std::int32_t>(n);
}

StepOutcome CalibrateClock(HydrixDevice& device, std::int32_t N) {
  if (auto refusal = ReadForWrite(device, Range(81, 2)); !refusal.empty()) return {false, refusal};
  const auto bytes = MotVersOctets(N);
  device.ImageEcriture()[81] = bytes[0];
  device.ImageEcriture()[82] = bytes[1];
  if (!device.EcritImage()) return {false, NotConfirmed(device)};
  if (!device.LitImage() || device.LitMotParams(81) != N) {
    return {false, "The correction was written, but reading it back did not show it."};
  }
  return {true, {}};
}

StepOutcome SetFastClock(HydrixDevice& device, bool fast) {
  if (auto refusal = device.CommandRefusal(); !refusal.empty())
    return {false, refusal + " Nothing was sent."};
  std::uint8_t answer = 0;
  device.EcritHorlogeRapide(true, fast, answer);
  if (!device.LastAnswerComplete()) return {false, ""};
  return {true, {}};
}

SerialCheck CheckSerial(const std::string& text) {
  if (!IsNumeric(text)) return {std::nullopt, kSerialNotValid};
  const auto v = ParseNumber(text);
  if (!v) return {std::nullopt, kSerialNotValid};
  std::int32_t n = 0;
  if (*v > 2147483647.0 || RoundHalfEven(*v, n) != NumStatus::Ok) return {std::nullopt, kSerialTooLarge};
  return {n, {}};
}

std::string SerialOverwriteQuestion(std::int32_t current, std::int32_t next) {
  if (current == 0 || current == next) return {};
  return "The controller already holds serial number " + std::to_string(current) + ". Write " +
         std::to_string(next) + " over it?";
}

std::optional<std::int32_t> HeldSerial(HydrixDevice& device) {
  if (!device.ImageComplete() || device.ImageUsbID() != device.UsbID()) device.LitImage();
  if (!device.ImageComplete()) return std::nullopt;
  return Stored32(device, 36);
}

StepOutcome ProgramSerial(HydrixDevice& device, std::int32_t serial) {
  if (auto refusal = ReadForWrite(device, Range(36, 4)); !refusal.empty()) return {false, refusal};
  const auto bytes = LongVersOctets(serial);
  for (int i = 0; i < 4; ++i)
    device.ImageEcriture()[36 + static_cast<std::size_t>(i)] = bytes[static_cast<std::size_t>(i)];
  if (!device.EcritImage()) return {false, NotConfirmed(device)};
  if (!device.LitImage() || Stored32(device, 36) != serial) {
    return {false, "The serial number was written, but reading it back did not show it."};
  }
  return {true, {}};
}

}  // namespace hx
