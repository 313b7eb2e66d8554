#include "hydrix/settings/measures_codec.h"

#include "common/numbers.h"
#include "hydrix/config/byte_packing.h"

namespace hx {

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
