// Settings profiles: the file a person reads and edits, and what is refused.
#include "hydrix/settings/settings_profile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace hx {
namespace {

const ParameterTexts kScreen = {{"battery_capacity_index", "2"},
                                {"start_level_low_battery_V", "12.50"},
                                {"start_level_high_battery_V", "13.80"},
                                {"solenoid_pulse_ms", "320"},
                                {"alarm_level_V", "11.50"},
                                {"forced_charge_1_h", "6"},
                                {"forced_charge_2_h", "none"},
                                {"serial_number", "24000005"},
                                {"voltage_correction", "0.420"},
                                {"clock_correction", "-1000"}};

TEST(Profile, RoundTripCarriesOnlyTheWrittenSettings) {
  const std::string text =
      FormatProfile(kScreen, {"Hydrix (11) 1.05", "1.05", "24000005", "2026-12-08 09:40:00"});
  EXPECT_EQ(text,
            "# Hydrix settings profile\n"
            "# controller: Hydrix (11) 1.05, firmware 1.05, serial number 24000005\n"
            "# saved: 2026-12-08 09:40:00\n"
            "battery_capacity_index = 2\n"
            "start_level_low_battery_V = 12.50\n"
            "start_level_high_battery_V = 13.80\n"
            "solenoid_pulse_ms = 320\n"
            "alarm_level_V = 11.50\n"
            "forced_charge_1_h = 6\n"
            "forced_charge_2_h = none\n");
  const ProfileParse p = ParseProfile(text);
  ASSERT_TRUE(p.errors.empty()) << p.errors.front();
  EXPECT_EQ(p.values.size(), 7u);
  EXPECT_TRUE(CompareProfile(kScreen, p.values).empty());
}

TEST(Profile, EveryFaultIsReportedWithItsLineAndNothingIsKept) {
  const ProfileParse p = ParseProfile(
      "# comment\n"
      "\n"
      "alarm_level_V = 11\n"
      "alarm_level_V = 12\n"
      "serial_number = 3\n"
      "voltage_correction=0.1\n"
      "no_such_key = 1\n"
      "just text\n"
      "start_level_low_battery_V = 3\n"
      "solenoid_pulse_ms = abc\n"
      "forced_charge_1_h = 24\n"
      "battery_capacity_index = 3\n");
  const std::vector<std::string> lines = {
      "line 4:", "line 5:", "line 6:", "line 7:", "line 8:", "line 9:", "line 10:", "line 11:", "line 12:"};
  ASSERT_EQ(p.errors.size(), lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(p.errors[i].rfind(lines[i], 0), 0u) << p.errors[i];
  EXPECT_NE(p.errors[1].find("belongs to one controller"), std::string::npos);
  EXPECT_NE(p.errors[5].find("outside 5 to 20"), std::string::npos);
  EXPECT_EQ(ParseProfile("# only comments\n").errors.size(), 1u);
}

// One reading of a value for the window and hydrixctl: "2.0" is the third
// capacity, never the first.
TEST(Profile, ValuesComeOutAsTheScreenShowsThem) {
  const auto p = ParseProfile("battery_capacity_index = 2.0\nalarm_level_V = 11,5\n");
  ASSERT_TRUE(p.errors.empty()) << p.errors.front();
  EXPECT_EQ(p.values.at("battery_capacity_index"), "2");
  EXPECT_EQ(p.values.at("alarm_level_V"), "11,5");
  const auto big = ParseProfile("alarm_level_V = 40\n");
  ASSERT_EQ(big.errors.size(), 1u);
  EXPECT_NE(big.errors[0].find("largest value that fits is 32.76"), std::string::npos) << big.errors[0];
}

TEST(Profile, ComparesValuesAsTheControllerStoresThem) {
  const ParameterTexts file = {
      {"start_level_low_battery_V", "12.5"}, {"solenoid_pulse_ms", "321"}, {"forced_charge_1_h", "7"}};
  const auto d = CompareProfile(kScreen, file);
  ASSERT_EQ(d.size(), 1u);  // 321 ms and 320 ms are both 100 ticks
  EXPECT_EQ(d[0].key, "forced_charge_1_h");
  EXPECT_EQ(d[0].current, "6");
  EXPECT_EQ(d[0].file, "7");
}

TEST(Profile, FilesAreReadOnlyWhenRegularAndSavedWhole) {
  EXPECT_FALSE(ReadProfile("/dev/null").errors.empty());
  EXPECT_FALSE(ReadProfile("/no/such/file").errors.empty());
  const auto dir = std::filesystem::temp_directory_path() / ("hydrix-profile-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto file = dir / "site.txt";
  ASSERT_EQ(SaveProfile(file, "alarm_level_V = 11\n"), "");
  ASSERT_EQ(SaveProfile(file, "alarm_level_V = 12\n"), "");
  EXPECT_EQ(ReadProfile(file).values.at("alarm_level_V"), "12");
  EXPECT_NE(SaveProfile(dir / "missing" / "x.txt", "alarm_level_V = 11\n"), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace hx
