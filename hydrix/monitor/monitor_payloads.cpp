#include "hydrix/monitor/monitor_payloads.h"

#include <cstdio>
#include <ctime>

#include "common/numbers.h"
#include "hydrix/settings/measure_log.h"

namespace hx {

namespace {

// A JSON string: quotes, backslashes and control characters escaped.
std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (const unsigned char ch : s) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += static_cast<char>(ch);
    } else if (ch < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", ch);
      out += esc;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out + "\"";
}

const char* Bool(bool b) { return b ? "true" : "false"; }

struct Entity {
  const char* component;  // sensor or binary_sensor
  const char* key;        // the state's field
  const char* name;
  const char* unit;          // nullptr: none
  const char* deviceClass;   // nullptr: none
};

constexpr Entity kEntities[] = {
    {"sensor", "battery_voltage_V", "Battery voltage", "V", "voltage"},
    {"sensor", "temperature_C", "Temperature", "°C", "temperature"},
    {"sensor", "charging_current_mA", "Charging current", "mA", "current"},
    {"sensor", "discharging_current_mA", "Discharging current", "mA", "current"},
    {"sensor", "power_W", "Power balance", "W", "power"},
    {"binary_sensor", "charging", "Charging", nullptr, "battery_charging"},
    {"binary_sensor", "charge_fault", "Charge fault", nullptr, "problem"},
    {"binary_sensor", "turbine_running", "Turbine running", nullptr, "running"},
    {"binary_sensor", "relay", "Relay", nullptr, "power"},
};

}  // namespace

std::string StateTopic(const std::string& prefix, const std::string& serial) {
  return prefix + "/" + serial + "/state";
}
std::string AvailabilityTopic(const std::string& prefix, const std::string& serial) {
  return prefix + "/" + serial + "/availability";
}
std::string MonitorAvailabilityTopic(const std::string& prefix, const std::string& clientId) {
  return prefix + "/monitor/" + clientId + "/availability";
}

std::string IsoLocalTimeMs(std::chrono::system_clock::time_point when) {
  const std::string whole = IsoLocalTime(when);  // "...T14:05:09+01:00"
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
  char frac[8];
  std::snprintf(frac, sizeof frac, ".%03d", static_cast<int>(ms < 0 ? ms + 1000 : ms));
  return whole.substr(0, 19) + frac + whole.substr(19);
}

std::string StateJson(const WatchedController& c, const Reading& r) {
  const auto w = [&](int index) { return MeasureWord(r.block, index); };
  const double u = w(0), ic = w(4), id = w(6);
  const double power = ic != 0 ? ic * u / 1e6 : id != 0 ? -id * u / 1e6 : 0.0;
  std::string j = "{";
  j += "\"time\":" + Quoted(IsoLocalTimeMs(r.when));
  j += ",\"id\":" + std::to_string(c.id);
  j += ",\"serial\":" + Quoted(c.serial);
  j += ",\"type\":" + Quoted(c.type);
  j += ",\"firmware\":" + Quoted(c.firmware);
  j += ",\"battery_voltage_V\":" + FormatNumber(u / 1000, "0.000");
  j += ",\"temperature_C\":" + std::to_string(w(2));
  j += ",\"charging_current_mA\":" + std::to_string(w(4));
  j += ",\"discharging_current_mA\":" + std::to_string(w(6));
  j += ",\"power_W\":" + FormatNumber(power, "0.00");
  j += std::string(",\"charging\":") + Bool(w(8) == 0);
  j += std::string(",\"charge_fault\":") + Bool(w(10) == 0);
  j += std::string(",\"turbine_running\":") + Bool(w(24) != 0);
  j += std::string(",\"relay\":") + Bool(w(26) != 0);
  return j + "}";
}

std::vector<MqttMessage> DiscoveryMessages(const std::string& prefix, const std::string& clientId,
                                           const WatchedController& c) {
  std::vector<MqttMessage> out;
  const std::string node = "hydrix_" + c.serial;
  const std::string device = "{\"identifiers\":[" + Quoted(node) + "],\"name\":" + Quoted(c.type + " " + c.serial) +
                             ",\"model\":" + Quoted(c.type) + ",\"sw_version\":" + Quoted(c.firmware) + "}";
  const std::string availability = "[{\"topic\":" + Quoted(MonitorAvailabilityTopic(prefix, clientId)) +
                                   "},{\"topic\":" + Quoted(AvailabilityTopic(prefix, c.serial)) + "}]";
  for (const Entity& e : kEntities) {
    const bool binary = std::string(e.component) == "binary_sensor";
    std::string j = "{\"name\":" + Quoted(e.name);
    j += ",\"unique_id\":" + Quoted(node + "_" + e.key);
    j += ",\"object_id\":" + Quoted(node + "_" + e.key);
    j += ",\"state_topic\":" + Quoted(StateTopic(prefix, c.serial));
    j += ",\"value_template\":" +
         Quoted(binary ? std::string("{{ 'ON' if value_json.") + e.key + " else 'OFF' }}"
                       : std::string("{{ value_json.") + e.key + " }}");
    if (e.unit) j += ",\"unit_of_measurement\":" + Quoted(e.unit) + ",\"state_class\":\"measurement\"";
    if (e.deviceClass) j += ",\"device_class\":" + Quoted(e.deviceClass);
    j += ",\"availability\":" + availability + ",\"availability_mode\":\"all\"";
    j += ",\"device\":" + device + "}";
    out.push_back({"homeassistant/" + std::string(e.component) + "/" + node + "/" + e.key + "/config", j, true});
  }
  return out;
}

}  // namespace hx
