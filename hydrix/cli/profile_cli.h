// hydrixctl's settings profiles: settings export FILE, settings import FILE
// (to one, several or all controllers), settings diff FILE.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "hydrix/commands/hydrix_device.h"
#include "hydrix/selection/device_selection.h"

namespace hx {

bool IsProfileCommand(const std::vector<std::string>& words);
// `ids`: the --id values given (none: the first listed controller). A
// profile to import or compare is read and checked before any exchange.
// Returns the exit status.
int RunProfileCommand(const std::vector<std::string>& words, const std::vector<std::int32_t>& ids,
                      HydrixDevice& device, DeviceSelection& selection, std::ostream& out, std::ostream& err);

}  // namespace hx
