#include "hydrix/mainscreen/factory_values.h"

#include "hydrix/settings/parameter_map.h"

namespace hx {

FactoryOutcome RestoreFactoryValues(HydrixDevice& device) {
  FactoryOutcome outcome;
  outcome.refusal = device.CommandRefusal();
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
