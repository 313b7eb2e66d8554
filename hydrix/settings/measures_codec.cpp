#include "hydrix/settings/measures_codec.h"

#include <algorithm>

#include "common/numbers.h"
#include "hydrix/config/byte_packing.h"

namespace hx {

namespace {

// A clock text "dd/mm/yy - hh:mm:ss" whose day and month make a date.
bool IsDate(const std::string& clock) {
  if (clock.size() < 5 || clock[2] != '/') return false;
  const auto day = ParseNumber(clock.substr(0, 2));
  const auto month = ParseNumber(clock.substr(3, 2));
  return day && month && *day >= 1 && *day <= 31 && *month >= 1 && *month <= 12;
}

}  // namespace

std::string NotAReading(const MeasureBlock& block, bool whole,
                        const std::optional<std::array<std::uint8_t, 5>>& identity, const std::string& clock,
                        std::int32_t UsbID) {
  const std::string who = "controller " + std::to_string(UsbID);
  if (!whole) return "No whole answer from " + who + ": these measures are not a reading.";
  if (identity && (*identity)[1] == 0 && (*identity)[2] == 0 && (*identity)[3] == 0 && (*identity)[4] == 0) {
    return "The identity of " + who +
           " reads as type 0, firmware 0.00: it is not answering plausibly, and these measures are not a "
           "reading.";
  }
  const bool zeros = std::all_of(block.begin(), block.begin() + HydrixDevice::kMeasureCount,
                                 [](std::uint8_t b) { return b == 0; });
  if (zeros && !IsDate(clock)) {
    return "Every measure of " + who + " is 0 and its clock reads " + clock +
           ", which is no date: it is not answering plausibly, and these measures are not a reading.";
  }
  return {};
}

std::string NotAReading(const HydrixDevice& device) {
  std::optional<std::array<std::uint8_t, 5>> identity;
  const auto& known = device.state().Identities;
  if (auto it = known.find(device.UsbID()); it != known.end()) identity = it->second;
  return NotAReading(device.ImageMesures(), device.MeasuresWhole(), identity, device.txtCurrentTime(),
                     device.UsbID());
}

std::int32_t MeasureWord(const MeasureBlock& block, int index) {
  if (index < 0 || index > 31) return 0;
  const std::uint8_t b[2] = {block[static_cast<std::size_t>(index)],
                             block[static_cast<std::size_t>(index) + 1]};
  return OctetsVersEntier(b);
}

MeasureView DecodeMesures(const MeasureBlock& block) {
  const std::int32_t words[4] = {MeasureWord(block, 0), MeasureWord(block, 2), MeasureWord(block, 4),
                                 MeasureWord(block, 6)};
  const double u = words[0], ic = words[2], id = words[3];
  MeasureView v;
  // The power balance: charging wins over discharging.
  if (ic != 0) {
    v.labelPower = "Input Power > Output Power (W)";
    v.power = FormatNumber(ic * u / 1000000, "0.00");
    v.powerColour = colour::kGreen;
  } else if (id != 0) {
    v.labelPower = "output Power > input Power (W)";
    v.power = FormatNumber(id * u / 1000000, "0.00");
    v.powerColour = colour::kRed;
  } else {
    v.labelPower = "Power (W)";
  }
  v.text1 = {FormatNumber(u / 1000, "0.00"), std::to_string(words[1]), std::to_string(words[2]),
             std::to_string(words[3])};
  v.relayIndex = MeasureWord(block, 26) != 0 ? 1 : 0;
  const bool running = MeasureWord(block, 24) != 0;
  v.solenoidIndex = running ? 1 : 0;
  v.label7 = running ? "Turbine Running" : "Turbine Stopped";
  const bool notCharging = MeasureWord(block, 8) != 0;
  v.lowCharge = notCharging ? colour::kGrey : colour::kGreen;
  v.label5 = notCharging ? "Not Charging" : "Charging";
  const bool noFault = MeasureWord(block, 10) != 0;
  v.batterieDefault = noFault ? colour::kGreen : colour::kRed;
  v.label8 = noFault ? "No Charge Fault" : "Charge Fault";
  return v;
}

std::string StateText(int code) {
  switch (code) {
    case 1:
      return "Start delay";
    case 2:
      return "Low level Batterie";
    case 3:
      return "Security Low level Batterie";
    case 4:
      return "Timed Forced Charge";
    case 5:
      return "End of charge";
    case 6:
      return "Normal state";
    default:
      return "";
  }
}

StateView DecodeEtat(const MeasureBlock& block) {
  StateView v;
  v.tension = FormatNumber(MeasureWord(block, 0) / 1000.0, "0.00");
  // Red means on, green off.
  const bool turbine = MeasureWord(block, 24) != 0;
  v.turbine = turbine ? "ON" : "OFF";
  v.turbineColour = turbine ? colour::kRed : colour::kGreen;
  const bool relay = MeasureWord(block, 26) != 0;
  v.relay = relay ? "ON" : "OFF";
  v.relayColour = relay ? colour::kRed : colour::kGreen;
  if (std::string s = StateText(MeasureWord(block, 20)); !s.empty()) v.state = s;
  v.delays = {std::to_string(MeasureWord(block, 18)), std::to_string(MeasureWord(block, 12)),
              std::to_string(MeasureWord(block, 14)), std::to_string(MeasureWord(block, 16))};
  return v;
}

MeasureView NoReading() {
  MeasureView v;
  v.text1 = {"--", "--", "--", "--"};
  v.relayIndex = -1;
  v.solenoidIndex = -1;
  v.lowCharge = colour::kGrey;
  v.batterieDefault = colour::kGrey;
  return v;
}

}  // namespace hx
