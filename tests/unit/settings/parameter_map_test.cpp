// The settings table's decoder and encoder: bytes of the image against the
// texts of the screen.
#include "hydrix/settings/parameter_map.h"

#include <gtest/gtest.h>

namespace hx {
namespace {

struct DecodeRow {
  std::vector<std::pair<int, int>> bytes;  // address, value
  const char* key;
  const char* text;
};

class Decode : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(Decode, ShowsTheBytesAsTheWindowDoes) {
  std::array<std::int32_t, 256> image{};
  for (auto [a, v] : GetParam().bytes) image[static_cast<std::size_t>(a)] = v;
  EXPECT_EQ(DecodeParametres(image).at(GetParam().key), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Decode,
    ::testing::Values(DecodeRow{{{0, 0x88}, {1, 0x13}}, "end_of_charge_delay_s", "5000"},
                      DecodeRow{{{0, 0x88}, {1, 0x13}}, "battery_capacity_index", "0"},
                      DecodeRow{{{0, 0x30}, {1, 0x2A}}, "battery_capacity_index", "1"},
                      DecodeRow{{{0, 0x40}, {1, 0x9C}}, "end_of_charge_delay_s", "-25536"},
                      DecodeRow{{{2, 0x18}, {3, 0xFC}}, "voltage_correction", "-1.000"},
                      DecodeRow{{{13, 0xF4}, {14, 0x01}}, "start_level_low_battery_V", ".50"},
                      DecodeRow{{{17, 100}}, "solenoid_pulse_ms", "320"},
                      DecodeRow{{{17, 5}}, "solenoid_pulse_ms", "16"},  // 16.0
                      DecodeRow{{{26, 255}}, "forced_charge_1_h", "none"},
                      DecodeRow{{{26, 30}}, "forced_charge_1_h", "0"},
                      DecodeRow{{{27, 23}}, "forced_charge_2_h", "23"},
                      DecodeRow{{{36, 0xFF}, {37, 0xFF}, {38, 0xFF}, {39, 0xFF}}, "serial_number", "-1"},
                      DecodeRow{{{125, 1}, {126, 3}, {127, 10}}, "firmware_version", "1.3A"},
                      DecodeRow{{{81, 0x18}, {82, 0xFC}}, "clock_correction", "-1000"}));

TEST(Encode, CarriesEveryOtherByteAndStampsDateAndMark) {
  std::array<std::uint8_t, 256> image{};
  for (int a = 0; a < 256; ++a) image[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(a * 7);
  const ParameterTexts screen = {{"battery_capacity_index", "1"},      {"start_level_low_battery_V", "12.5"},
                                 {"start_level_high_battery_V", "14"}, {"solenoid_pulse_ms", "320"},
                                 {"alarm_level_V", "0,0005"},          {"forced_charge_1_h", " 7 "},
                                 {"forced_charge_2_h", "none"},        {"end_of_charge_delay_s", "5000"}};
  const EncodeResult r = EncodeParametres(screen, image, 0x01020304);
  ASSERT_TRUE(r.problems.empty());
  auto expected = image;
  const std::pair<int, int> set[] = {{0, 0x30}, {1, 0x2A}, {13, 0xD4}, {14, 0x30}, {15, 0xB0}, {16, 0x36},
                                     {17, 100}, {18, 0},   {19, 0},    {20, 0},    {21, 0xAA}, {22, 0x55},
                                     {26, 7},   {27, 255}, {40, 4},    {41, 3},    {42, 2},    {43, 1}};
  for (auto [a, v] : set) expected[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(v);
  EXPECT_EQ(r.image, expected);  // 0.5 mV rounds to the even 0; the delay box is not written
}

TEST(Encode, RefusesWhatCannotBeStored) {
  const ParameterTexts good = {{"battery_capacity_index", "0"},
                               {"start_level_low_battery_V", "12"},
                               {"start_level_high_battery_V", "14"},
                               {"solenoid_pulse_ms", "320"},
                               {"alarm_level_V", "11"},
                               {"forced_charge_1_h", "0"},
                               {"forced_charge_2_h", "none"}};
  const std::pair<const char*, const char*> bad[] = {
      {"battery_capacity_index", ""},      {"battery_capacity_index", "3"},
      {"start_level_low_battery_V", "1e"}, {"start_level_high_battery_V", "65.536"},
      {"solenoid_pulse_ms", "-3.2"},       {"alarm_level_V", ""},
      {"forced_charge_1_h", "24"},         {"forced_charge_2_h", "7.5"},
      {"forced_charge_2_h", "nonee"},
  };
  EXPECT_TRUE(EncodeParametres(good, {}, 0).problems.empty());
  for (auto [key, text] : bad) {
    ParameterTexts screen = good;
    screen[key] = text;
    const auto r = EncodeParametres(screen, {}, 0);
    ASSERT_EQ(r.problems.size(), 1u) << key << "=" << text;
    EXPECT_EQ(r.problems[0].key, key);
  }
}

TEST(Check, MessagesJoinTheCatalogueTextsAndTheBounds) {
  const Bounds b{5, 20};
  EXPECT_TRUE(CheckValue("5", b).ok());
  EXPECT_TRUE(CheckValue(" 20,0 ", b).ok());
  EXPECT_EQ(CheckMessage(CheckValue("20.01", b), b, "N", "Value Must be between ", " and "),
            "Value Must be between  5  and  20");
  EXPECT_EQ(CheckMessage(CheckValue("x", b), b, "N", "B", "A"), "N");
  EXPECT_EQ(CheckMessage(CheckValue("", b), b, "N", "B", "A"), "N");
}

}  // namespace
}  // namespace hx

namespace hx {
namespace {

// The edit check and the fit apply to the value the screen shows, so a value
// accepted reads back as the same accepted text (stores: the e2e tests).
TEST(Check, BoundsApplyToTheValueAsShown) {
  EXPECT_EQ(WordFit(*FindParameter("alarm_level_V")).max, 32.76);  // 32.77 would not fit
  const ParameterField& low = *FindParameter("start_level_low_battery_V");
  EXPECT_TRUE(CheckField(low, "20.004").ok());  // shows 20.00
  EXPECT_TRUE(CheckField(low, "4.995").ok());   // shows 5.00
  EXPECT_EQ(CheckField(low, "4.994").outcome, CheckResult::Outcome::OutOfBounds);
  EXPECT_EQ(CheckField(low, "1e309").outcome, CheckResult::Outcome::OutOfBounds);
}

}  // namespace
}  // namespace hx
