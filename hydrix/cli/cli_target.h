// Which controller a hydrixctl command acts on.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>

#include "hydrix/link/usb_interface.h"
#include "hydrix/selection/device_selection.h"

namespace hx {

struct CliTarget {
  std::optional<std::int32_t> id;  // the controller, when there is one
  int status = 0;                  // otherwise the exit status, the reason said on err
};

// `given` (--id) when it is attached (answering or not); without --id, the
// only controller that answers. Several answering: status 2, each listed
// with its id, type, version and serial number. None answering, or --id
// naming a controller that is not attached: status 1.
CliTarget ResolveTarget(const DeviceList& list, std::optional<std::int32_t> given, UsbInterface& usb,
                        std::ostream& err);

}  // namespace hx
