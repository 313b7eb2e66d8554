// `hydrixctl measures --watch`: continuous reading without a window. One
// CSV line per reading on standard output (and appended to a file with
// --csv), every --interval seconds, --count times or until Ctrl-C.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "common/sleeper.h"
#include "hydrix/commands/hydrix_device.h"

namespace hx {

// Variables 0..27 into the device's measure block; true when every read was
// answered in full.
bool ReadMeasureBlock(HydrixDevice& device);

// Runs the watch with `options` (the words after "--watch"). Returns 0 when
// the count was reached or Ctrl-C stopped it, 1 when the controller stopped
// answering or the file could not be written, 2 for bad options.
int RunMeasuresWatch(const std::vector<std::string>& options, HydrixDevice& device, Sleeper& sleeper,
                     std::ostream& out, std::ostream& err);

}  // namespace hx
