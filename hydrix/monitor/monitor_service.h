// hydrix-monitor as a whole: the command line, the configuration, a reading
// of every watched controller each period, and their publication over MQTT.
// Retained messages (the monitor's and each controller's availability, the
// discovery configurations) are published again on each new connection;
// readings wait in a bounded queue while the broker is away and go out
// oldest first, with their own time, once it is back.
#pragma once

#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

#include "hydrix/link/usb_interface.h"

namespace hx {

extern const char* const kMonitorUsage;

// Runs the monitor until `stop` becomes true (the program's signal handler
// sets it). Returns 0 after a stop, 2 for a bad command line or
// configuration (every problem on `err`, with its file and line), 1 when the
// MQTT client cannot be set up. One line per event on `err`; with
// --verbose one per reading too.
int RunMonitor(const std::vector<std::string>& args, UsbInterface& usb, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& stop);

}  // namespace hx
