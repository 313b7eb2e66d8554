#include "hydrix/mainscreen/captions.h"

namespace hx {

namespace {
constexpr FixedCaption kFixedCaptions[] = {
    {"Label1", 1, "Temperature (°C)"},
    {"Label1", 0, "Battery Voltage (V)"},
    {"Label1", 2, "Battery Charging Current (mA)"},
    {"Label1", 3, "Battery Discharging Current (mA)"},
    {"Label1", 15, "Start @Low Battery Level (V)"},
    {"Label1", 14, "Start Tempo @ High Battery Level (V)"},
    {"Label1", 4, "Solenoid Pulse(ms)"},
    {"Label1", 9, "Forced charge 1 (h)"},
    {"Label1", 10, "Forced charge 2 (h)"},
    {"Label1", 12, "Battery Capacity (Ah)\u00a0: Tempo (Hr)"},
    {"Label1", 6, "Relay"},
    {"Label1", 7, "ON (1)/OFF (0)"},
    {"Label1", 20, "Serial Number"},
    {"Label1", 5, "Not Charging"},
    {"Label1", 8, "Battery Default"},
    {"Label3", -1, "End of Charge Tempo (S)"},
    {"Frame2", -1, "Continuous Reading Graphic"},
};
constexpr const char* kCapacityItems[] = {"3,5 Ah \t\t: 1 Hr", "7 to 25 Ah \t: 3 Hrs", "> 25 Ah \t\t: 6 Hrs"};
}  // namespace

std::span<const FixedCaption> FixedCaptions() { return kFixedCaptions; }

const char* FixedCaptionKey(const std::string& control, int index) {
  for (const auto& c : kFixedCaptions) {
    if (control == c.control && index == c.index) return c.key;
  }
  return nullptr;
}

std::span<const char* const> CapacityItems() { return kCapacityItems; }

}  // namespace hx
