#include "hydrix/config/captions.h"

namespace hx {

namespace {
constexpr const char* kCapacityItems[] = {"3,5 Ah \t\t: 1 Hr", "7 to 25 Ah \t: 3 Hrs", "> 25 Ah \t\t: 6 Hrs"};
constexpr SettingLabel kSettingLabels[] = {
    {"battery_capacity_index", "Label1", 12},     {"start_level_low_battery_V", "Label1", 15},
    {"start_level_high_battery_V", "Label1", 14}, {"solenoid_pulse_ms", "Label1", 4},
    {"alarm_level_V", "LabelAlarmLevel", -1},     {"forced_charge_1_h", "Label1", 9},
    {"forced_charge_2_h", "Label1", 10},
};
}  // namespace

const SettingLabel* SettingCaption(const std::string& key) {
  for (const auto& l : kSettingLabels) {
    if (key == l.key) return &l;
  }
  return nullptr;
}

const char* FixedCaptionKey(const std::string& control, int index) {
  for (const auto& c : FixedCaptions()) {
    if (control == c.control && index == c.index) return c.key;
  }
  return nullptr;
}

std::span<const char* const> CapacityItems() { return kCapacityItems; }

}  // namespace hx
