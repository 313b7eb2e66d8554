// The monitor's readings: every period, the measures of each controller
// watched, and a look for the ones that are missing. Only the identity
// probe, the serial number's EEPROM bytes, the measures and the clock are
// read; nothing is ever written to a controller. Plain data out: the front
// end publishes it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hydrix/commands/hydrix_device.h"
#include "hydrix/config/message_source.h"
#include "hydrix/selection/device_selection.h"
#include "hydrix/settings/measures_codec.h"

namespace hx {

// A controller the monitor publishes, named by its serial number.
struct WatchedController {
  std::string serial;   // "24001001"; "id1001" when the serial cannot be read
  std::int32_t id = 0;  // the identifier it answers on now
  int typeCode = 0;
  std::string type;      // "Hydrix"
  std::string firmware;  // "1.05"
  bool online = false;
};

struct Reading {
  std::string serial;
  std::chrono::system_clock::time_point when;
  MeasureBlock block{};
};

struct ControllerEvent {
  enum class Kind { Found, Online, Offline };
  Kind kind;
  WatchedController controller;  // as it is after the event
  std::string detail;            // why it went offline
};

struct PeriodResult {
  std::vector<Reading> readings;
  std::vector<ControllerEvent> events;
  std::vector<std::string> notes;  // one-off remarks for the log (a controller not watched)
};

class MonitorReader {
 public:
  // `wanted` empty: every Hydrix that answers; otherwise those identifiers.
  MonitorReader(UsbInterface& usb, std::vector<std::int32_t> wanted,
                std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now);
  ~MonitorReader();

  // One period: probes the identifiers not accounted for while a controller
  // is missing (or, watching all, always): a missing controller is the one
  // answering with its serial on whatever identifier, a new one is taken
  // when it is wanted. Then reads every controller online; one that does
  // not answer with a reading goes offline.
  // `stop` is asked before each controller: a stop cuts the period short.
  // `sink`, when given, receives the events and each reading as soon as
  // they happen (so a reading goes out before the next controller is read);
  // the result then holds them too.
  PeriodResult Period(const std::function<bool()>& stop = {},
                      const std::function<void(const PeriodResult& sofar)>& sink = {});

  const std::vector<WatchedController>& controllers() const { return controllers_; }
  // Probes wait this long for an answer, so silent identifiers cost little.
  static constexpr std::uint32_t kProbeTimeoutMs = 200;

 private:
  void Look(PeriodResult& result, const std::function<bool()>& stop);
  bool Wanted(std::int32_t id) const;

  UsbInterface& usb_;
  std::vector<std::int32_t> wanted_;
  std::function<std::chrono::system_clock::time_point()> now_;
  CodeMessageSource messages_;
  class SilentDialogs;
  std::unique_ptr<SilentDialogs> dialogs_;
  RealSleeper sleeper_;
  HydrixDevice device_;
  DeviceSelection selection_;
  std::vector<WatchedController> controllers_;
  // Identifiers that answered as a controller not watched (another type,
  // not listed): not probed again while they stay attached.
  std::set<std::int32_t> ignored_;
  std::set<std::int32_t> missingTold_;  // listed, never found, and said so
};

}  // namespace hx
