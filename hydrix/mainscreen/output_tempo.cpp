#include "hydrix/mainscreen/output_tempo.h"

#include "common/numbers.h"
#include "hydrix/commands/image_recheck.h"

namespace hx {

TempoOutcome SetTempo(HydrixDevice& device, const std::string& text) {
  const std::optional<double> value = ParseNumber(text);
  if (!value) return TempoOutcome::NotNumeric;
  auto fail = [&](const std::string& why) {
    device.dialogs().Message({why, HydrixDevice::kTitle, MsgButtons::Ok, MsgIcon::Critical});
  };
  if (auto refusal = device.CommandRefusal(); !refusal.empty()) {
    fail(refusal);
    return TempoOutcome::Refused;
  }
  // The controller keeps a signed 16-bit word: 0..32767 seconds; anything
  // else would read back as another delay.
  const auto low = HydrixDevice::OctetBas(*value);
  const auto high = HydrixDevice::OctetHaut(*value);
  if (!low || !high || RoundHalfEven(*value) > 32767) {
    fail(
        "End of Charge Tempo must be from 0 to 32767 seconds (the largest value that fits the controller's "
        "word), not " +
        text + ". Nothing was written.");
    return TempoOutcome::OutOfRange;
  }
  // Over the settings read earlier from this controller, which it must
  // still hold apart from the delay: never onto another unit put on the
  // same connection, nor over a change another program made since.
  ImageAddresses sets;
  sets.set(0).set(1);
  if (auto refusal = ReadForWrite(device, sets); !refusal.empty()) {
    fail(refusal);
    return TempoOutcome::ReadFailed;
  }
  device.ImageEcriture()[0] = *low;
  device.ImageEcriture()[1] = *high;
  if (!device.EcritImage()) {
    fail(
        "The controller did not confirm every byte of the settings; it was not reset. "
        "Set the tempo again.");
    return TempoOutcome::WriteFailed;
  }
  device.ResetDevice();
  device.dialogs().Message({device.messages().LitMessage("English", "Parameters Writed", ""),
                            HydrixDevice::kTitle, MsgButtons::Ok, MsgIcon::Information});
  return TempoOutcome::Written;
}

}  // namespace hx
