// hydrixctl settings end to end: the real libhxusbif and a hydrix-sim daemon.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/sim_daemon.h"

namespace {

using hx::test::CommandResult;
using hx::test::RunProgram;
using hx::test::SimDaemon;

class SettingsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon = std::make_unique<SimDaemon>(HYDRIX_SIM_EXE, std::vector<std::string>{"id=5", "id=6"});
    ASSERT_TRUE(daemon->Start());
  }
  CommandResult Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), HYDRIXCTL_EXE);
    return RunProgram(args, {"HYDRIX_SIM_SOCKET=" + daemon->socket(), "HYDRIX_USB_TIMEOUT_MS=200"});
  }
  std::string Eeprom(int id) {
    return RunProgram(
               {HYDRIX_SIM_EXE, "dump", "--socket", daemon->socket(), "--id", std::to_string(id), "eeprom"})
        .out;
  }
  // The value of `key` in a settings listing.
  static std::string Value(const std::string& listing, const std::string& key) {
    const auto at = listing.find(key + "\t");
    if (at == std::string::npos) return "<missing>";
    const auto from = at + key.size() + 1;
    return listing.substr(from, listing.find('\n', from) - from);
  }
  std::unique_ptr<SimDaemon> daemon;
};

TEST_F(SettingsEndToEnd, ListsEverySettingAsTheWindowShowsIt) {
  const auto r = Ctl({"--id", "6", "settings"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::pair<const char*, const char*> expected[] = {
      {"end_of_charge_delay_s", "3600"},
      {"battery_capacity_index", "0"},
      {"voltage_correction", "0.000"},
      {"start_level_low_battery_V", "12.00"},
      {"start_level_high_battery_V", "13.80"},
      {"solenoid_pulse_ms", "320"},
      {"alarm_level_V", "11.50"},
      {"forced_charge_1_h", "none"},
      {"forced_charge_2_h", "none"},
      {"serial_number", "24000006"},
      {"firmware_version", "1.05"},
      {"clock_correction", "0"},
  };
  for (const auto& [key, text] : expected) EXPECT_EQ(Value(r.out, key), text) << key;
  EXPECT_NE(Value(r.out, "last_programming_date"), "<missing>");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 13);
}

TEST_F(SettingsEndToEnd, SetWritesTheImageOnlyWithinTheChecksOrWithForce) {
  const std::string other = Eeprom(6);
  auto r = Ctl({"--id", "5", "settings", "set", "start_level_low_battery_V=12.5", "forced_charge_1_h=6",
                "battery_capacity_index=2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Parameters Writed"), std::string::npos);
  const std::string dump = Eeprom(5);
  EXPECT_NE(dump.find("0000: 60 54"), std::string::npos) << dump;  // 21600 s
  EXPECT_NE(dump.find("D4 30"), std::string::npos) << dump;        // 12500 mV at 13-14
  r = Ctl({"--id", "5", "settings"});
  EXPECT_EQ(Value(r.out, "start_level_low_battery_V"), "12.50");
  EXPECT_EQ(Value(r.out, "forced_charge_1_h"), "6");
  EXPECT_EQ(Value(r.out, "battery_capacity_index"), "2");
  EXPECT_EQ(Eeprom(6), other);

  // Refusals leave the EEPROM as it was.
  const std::string before = Eeprom(5);
  r = Ctl({"--id", "5", "settings", "set", "start_level_low_battery_V=3"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("from 5 to 20"), std::string::npos) << r.err;
  EXPECT_EQ(Ctl({"--id", "5", "settings", "set", "forced_charge_2_h=25"}).status, 2);
  EXPECT_EQ(Ctl({"--id", "5", "settings", "set", "alarm_level_V=70"}).status, 2);
  EXPECT_EQ(Ctl({"--id", "5", "settings", "set", "serial_number=1"}).status, 2);
  EXPECT_EQ(Ctl({"--id", "5", "settings", "set", "no_such_key=1"}).status, 2);
  EXPECT_EQ(Eeprom(5), before);

  r = Ctl({"--id", "5", "settings", "set", "start_level_low_battery_V=3", "--force"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Value(Ctl({"--id", "5", "settings"}).out, "start_level_low_battery_V"), "3.00");
}

TEST_F(SettingsEndToEnd, AControllerLostDuringTheReadIsNeverWritten) {
  const std::string before = Eeprom(5);
  ASSERT_EQ(
      RunProgram({HYDRIX_SIM_EXE, "set", "--socket", daemon->socket(), "--id", "5", "fault", "after:100"})
          .status,
      0);
  const auto r = Ctl({"--id", "5", "settings", "set", "alarm_level_V=11"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
  ASSERT_EQ(
      RunProgram({HYDRIX_SIM_EXE, "set", "--socket", daemon->socket(), "--id", "5", "fault", "none"}).status,
      0);
  EXPECT_EQ(Eeprom(5), before);
}

}  // namespace
