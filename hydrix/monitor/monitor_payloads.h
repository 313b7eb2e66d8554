// What hydrix-monitor publishes: the topics, the JSON of a reading and the
// Home Assistant discovery configurations (one per measure and state, all
// of a controller grouped as one device).
#pragma once

#include <string>
#include <vector>

#include "hydrix/monitor/monitor_reader.h"

namespace hx {

struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retain = false;
};

// <prefix>/<serial>/state, <prefix>/<serial>/availability and
// <prefix>/monitor/<client_id>/availability.
std::string StateTopic(const std::string& prefix, const std::string& serial);
std::string AvailabilityTopic(const std::string& prefix, const std::string& serial);
std::string MonitorAvailabilityTopic(const std::string& prefix, const std::string& clientId);

// The reading as one JSON object: time (local, ISO 8601 with milliseconds
// and offset), id, serial, type, firmware, battery_voltage_V (3 decimals),
// temperature_C, charging_current_mA, discharging_current_mA, power_W (the
// power balance with 2 decimals: positive while charging, negative while
// only discharging, 0 when both currents are 0), and the booleans charging,
// charge_fault, turbine_running, relay.
std::string StateJson(const WatchedController& controller, const Reading& reading);

// The retained discovery configurations of one controller, under
// homeassistant/<component>/hydrix_<serial>/<measure>/config. Each reads the
// state topic and is available while both the monitor and the controller
// are online.
std::vector<MqttMessage> DiscoveryMessages(const std::string& prefix, const std::string& clientId,
                                           const WatchedController& controller);

// "2024-03-07T14:05:09.250+01:00" for `when` in the local time zone.
std::string IsoLocalTimeMs(std::chrono::system_clock::time_point when);

}  // namespace hx
