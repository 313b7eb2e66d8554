// `hydrixctl measures --watch`: continuous reading without a window. One
// CSV line per reading on standard output (and appended to a file with
// --csv), every --interval seconds, --count times or until Ctrl-C;
// --keep-going rides out readings that get no answer.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "common/sleeper.h"
#include "hydrix/commands/hydrix_device.h"

namespace hx {

// Runs the watch with `options` (the words after "--watch"): a reading every
// interval, on a fixed period from the first one. Returns 0 when the count
// was reached or Ctrl-C stopped it, 1 when the controller stopped answering
// or the file could not be written, 2 for bad options. A reading that is no
// reading (NotAReading: zeros from a controller not answering plausibly)
// counts as no answer and is neither written nor logged. With --keep-going a
// reading that got no answer writes a line with the time and empty measure
// fields (and says so on `err`), `reconnect` enumerates the controllers and
// chooses the watched one again before the next reading (false when it is
// not there), and the watch goes on.
int RunMeasuresWatch(const std::vector<std::string>& options, HydrixDevice& device, Sleeper& sleeper,
                     std::ostream& out, std::ostream& err, const std::function<bool()>& reconnect = {});

}  // namespace hx
