#include "hydrix/settings/measures_codec.h"

#include <gtest/gtest.h>

namespace hx {
namespace {

// A block with the given 16-bit words (byte index, value).
MeasureBlock Block(std::initializer_list<std::pair<int, int>> words) {
  MeasureBlock b{};
  for (auto [i, v] : words) {
    const auto u = static_cast<std::uint16_t>(v);
    b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u & 0xFF);
    b[static_cast<std::size_t>(i) + 1] = static_cast<std::uint8_t>(u >> 8);
  }
  return b;
}

struct PowerCase {
  int u, ic, id;
  const char* label;
  const char* power;
  std::optional<Rgb> colour;
};
class PowerBalance : public ::testing::TestWithParam<PowerCase> {};

TEST_P(PowerBalance, LabelTextAndColourFollowTheCurrents) {
  const auto& c = GetParam();
  const MeasureView v = DecodeMesures(Block({{0, c.u}, {4, c.ic}, {6, c.id}}));
  EXPECT_EQ(v.labelPower, c.label);
  EXPECT_EQ(v.power, c.power);
  EXPECT_EQ(v.powerColour, c.colour);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, PowerBalance,
    ::testing::Values(PowerCase{13500, 1500, 0, "Input Power > Output Power (W)", "20.25", colour::kGreen},
                      PowerCase{12000, 0, 200, "output Power > input Power (W)", "2.40", colour::kRed},
                      // Charging wins over discharging.
                      PowerCase{12000, 100, 200, "Input Power > Output Power (W)", "1.20", colour::kGreen},
                      PowerCase{12000, 0, 0, "Power (W)", "", std::nullopt},
                      // A word above 32767 is negative.
                      PowerCase{12000, 40000, 0, "Input Power > Output Power (W)", "-306.43",
                                colour::kGreen}));

TEST(DecodeMesures, BoxesListsLabelsAndLamps) {
  MeasureView v =
      DecodeMesures(Block({{0, 12345}, {2, -5}, {4, 40000}, {6, 7}, {8, 1}, {10, 1}, {24, 1}, {26, 0}}));
  EXPECT_EQ(v.text1, (std::array<std::string, 4>{"12.35", "-5", "-25536", "7"}));
  EXPECT_EQ(v.solenoidIndex, 1);
  EXPECT_EQ(v.label7, "Turbine Running");
  EXPECT_EQ(v.relayIndex, 0);
  EXPECT_EQ(v.label5, "Not Charging");
  EXPECT_EQ(v.lowCharge, colour::kGrey);
  EXPECT_EQ(v.label8, "No Charge Fault");
  EXPECT_EQ(v.batterieDefault, colour::kGreen);

  v = DecodeMesures(Block({{26, 3}}));
  EXPECT_EQ(v.text1[0], "0.00");
  EXPECT_EQ(v.relayIndex, 1);
  EXPECT_EQ(v.solenoidIndex, 0);
  EXPECT_EQ(v.label7, "Turbine Stopped");
  EXPECT_EQ(v.label5, "Charging");
  EXPECT_EQ(v.lowCharge, colour::kGreen);
  EXPECT_EQ(v.label8, "Charge Fault");
  EXPECT_EQ(v.batterieDefault, colour::kRed);
}

TEST(DecodeEtat, StateOutputsVoltageAndDelays) {
  StateView v = DecodeEtat(Block({{0, 12480}, {20, 4}, {24, 1}, {18, 7}, {12, 40000}, {14, 3}, {16, 9}}));
  EXPECT_EQ(v.tension, "12.48");
  EXPECT_EQ(v.state, "Timed Forced Charge");
  EXPECT_EQ(v.turbine, "ON");
  EXPECT_EQ(v.turbineColour, colour::kRed);  // red means on
  EXPECT_EQ(v.relay, "OFF");
  EXPECT_EQ(v.relayColour, colour::kGreen);
  EXPECT_EQ(v.delays, (std::array<std::string, 4>{"7", "-25536", "3", "9"}));

  EXPECT_EQ(DecodeEtat(Block({{20, 9}})).state, std::nullopt);
  EXPECT_EQ(DecodeEtat(MeasureBlock{}).state, std::nullopt);
  EXPECT_EQ(DecodeEtat(MeasureBlock{}).tension, "0.00");
}

}  // namespace
}  // namespace hx
