// hydrixctl's production-line commands: calibrate-voltage, calibrate-clock,
// fast-clock, serial and report. Each exits 0 only when the controller
// confirmed the step and a re-read shows it.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "hydrix/commands/hydrix_device.h"

namespace hx {

bool IsProductionCommand(const std::string& verb);
// `words` starts with the verb. Returns the exit status (2: bad usage).
// `languages` are the catalogue's (report --language must name one of them;
// not checked when empty).
int RunProductionCommand(const std::vector<std::string>& words, HydrixDevice& device,
                         const std::vector<std::string>& languages, std::ostream& out, std::ostream& err);

}  // namespace hx
