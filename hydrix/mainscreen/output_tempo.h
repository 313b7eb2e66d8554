// "Set Tempo": writes the end-of-charge delay alone into the controller's
// settings (EEPROM addresses 0 and 1), keeping every other byte as the
// controller holds it, then resets the controller.
#pragma once

#include <string>

#include "hydrix/commands/hydrix_device.h"

namespace hx {

enum class TempoOutcome {
  NotNumeric,   // nothing sent, nothing shown
  Refused,      // no chosen controller that answers; nothing sent
  OutOfRange,   // not 0..32767 once rounded (the controller's signed word); nothing sent
  ReadFailed,   // the re-read was not whole; nothing written
  WriteFailed,  // the controller did not confirm every byte; no reset
  Written,      // written, reset, "Parameters Writed" shown
};

// Re-reads the settings image, puts the delay `text` (seconds) in bytes 0 and
// 1 and writes the image back, then resets the controller. Every outcome but
// NotNumeric shows one message box through the device's dialog service.
TempoOutcome SetTempo(HydrixDevice& device, const std::string& text);

}  // namespace hx
