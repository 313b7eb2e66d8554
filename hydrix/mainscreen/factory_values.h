// "Factory Values": clears the controller's validity mark (EEPROM addresses
// 21 and 22), then resets it, so that it starts again with its factory
// settings. Each write's answer is looked at: the first one that does not
// come in full stops the sequence before the reset, so a controller that
// stopped answering is never reported as restored. Nothing is written when
// the controller no longer holds the settings read from it (another unit on
// the connection, or settings changed since: ReadForWrite).
#pragma once

#include <string>

#include "hydrix/commands/hydrix_device.h"

namespace hx {

struct FactoryOutcome {
  bool reset = false;      // both writes were answered and the reset was sent
  int failedAddress = -1;  // the write that got no full answer, -1 for none
  std::string refusal;     // why nothing was written (no controller, link given up, another
                           // unit, settings changed)
};

FactoryOutcome RestoreFactoryValues(HydrixDevice& device);

}  // namespace hx
