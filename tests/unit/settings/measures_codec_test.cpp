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

namespace hx {
namespace {

// Zeros from a controller that is not answering plausibly are no reading;
// zeros with a real date, or any other block, are.
TEST(NotAReading, TypeZeroZerosWithoutADateAndShortAnswers) {
  const std::array<std::uint8_t, 5> hydrix{0, 1, 11, 5, 0}, zero{};
  MeasureBlock zeros{}, some{};
  some[0] = 0x70, some[1] = 0x30;  // 12400 mV
  struct Row {
    const MeasureBlock& block;
    bool whole;
    std::optional<std::array<std::uint8_t, 5>> identity;
    const char* clock;
    const char* starts;  // "" for a reading
  };
  const Row rows[] = {
      {zeros, true, hydrix, "07/03/24 - 14:05:09", ""},
      {zeros, true, std::nullopt, "00/00/00 - 00:00:00",
       "Every measure of controller 5 is 0 and its clock reads 00/00/00"},
      {some, true, zero, "07/03/24 - 14:05:09",
       "The identity of controller 5 reads as type 0, firmware 0.00"},
      {some, false, hydrix, "07/03/24 - 14:05:09", "No whole answer from controller 5"},
  };
  for (const auto& r : rows) {
    const std::string why = NotAReading(r.block, r.whole, r.identity, r.clock, 5);
    EXPECT_EQ(why.rfind(r.starts, 0), 0u) << why;
    EXPECT_EQ(why.empty(), *r.starts == '\0') << why;
  }
}

}  // namespace
}  // namespace hx
