#include "hydrix/mainscreen/factory_values.h"

#include "hydrix/commands/image_recheck.h"
#include "hydrix/settings/parameter_map.h"

namespace hx {

FactoryOutcome RestoreFactoryValues(HydrixDevice& device) {
  FactoryOutcome outcome;
  // The controller must still be the unit whose settings were read, and
  // hold them apart from the validity mark.
  ImageAddresses sets;
  sets.set(kValidityAddress).set(kValidityAddress + 1);
  outcome.refusal = ReadForWrite(device, sets);
  if (!outcome.refusal.empty()) return outcome;
  for (const int address : {kValidityAddress, kValidityAddress + 1}) {
    device.EcritEEprom(address, 0);
    if (!device.LastAnswerComplete()) {
      outcome.failedAddress = address;
      return outcome;
    }
  }
  device.ResetDevice();
  outcome.reset = true;
  return outcome;
}

}  // namespace hx
