// "Set Tempo": writes the end-of-charge delay alone into the controller's
// settings (EEPROM addresses 0 and 1), keeping every other byte as the
// controller holds it, then resets the controller. The write goes over the
// settings read earlier from this controller (read first when none are
// held), and only while the controller still holds them.
#pragma once

#include <string>

#include "hydrix/commands/hydrix_device.h"

namespace hx {

enum class TempoOutcome {
  NotNumeric,   // nothing sent, nothing shown
  Refused,      // no chosen controller that answers; nothing sent
  OutOfRange,   // not 0..32767 once rounded (the controller's signed word); nothing sent
  ReadFailed,   // not read whole, or no longer holding the settings read
                // (another unit, or changed since); nothing written
  WriteFailed,  // the controller did not confirm every byte; no reset
  Written,      // written, reset, "Parameters Writed" shown
};

// Checks the settings image (ReadForWrite), puts the delay `text` (seconds)
// in bytes 0 and 1 and writes the image back, then resets the controller.
// Every outcome but NotNumeric shows one message box through the device's
// dialog service (after the link's own when the controller is silent).
TempoOutcome SetTempo(HydrixDevice& device, const std::string& text);

}  // namespace hx
