// Settings profiles from hydrixctl end to end: export, diff and import
// through the real libhxusbif and a hydrix-sim daemon.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/sim_daemon.h"

namespace {

using hx::test::CommandResult;
using hx::test::RunProgram;
using hx::test::SimDaemon;

class ProfileEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon = std::make_unique<SimDaemon>(
        HYDRIX_SIM_EXE, std::vector<std::string>{"id=5", "id=6,version=2.13", "id=7", "id=8"});
    ASSERT_TRUE(daemon->Start());
    profile = (daemon->folder() / "site profile.txt").string();
  }
  CommandResult Ctl(std::vector<std::string> args, const std::string& socket = "") {
    args.insert(args.begin(), HYDRIXCTL_EXE);
    return RunProgram(args, {"HYDRIX_SIM_SOCKET=" + (socket.empty() ? daemon->socket() : socket),
                             "HYDRIX_USB_TIMEOUT_MS=200"});
  }
  // The EEPROM as 256 bytes.
  std::vector<int> Eeprom(int id) {
    std::istringstream in(RunProgram({HYDRIX_SIM_EXE, "dump", "--socket", daemon->socket(), "--id",
                                      std::to_string(id), "eeprom"})
                              .out);
    std::vector<int> bytes;
    for (std::string row; std::getline(in, row);) {
      std::istringstream r(row.substr(row.find(':') + 1));
      for (std::string b; r >> b;) bytes.push_back(std::stoi(b, nullptr, 16));
    }
    return bytes;
  }
  std::unique_ptr<SimDaemon> daemon;
  std::string profile;
};

TEST_F(ProfileEndToEnd, CloningCarriesTheSettingsAndNeverTheIdentity) {
  ASSERT_EQ(Ctl({"--id", "5", "settings", "set", "start_level_low_battery_V=12.5", "forced_charge_1_h=6",
                 "battery_capacity_index=2", "solenoid_pulse_ms=480"})
                .status,
            0);
  auto r = Ctl({"--id", "5", "settings", "export", profile});
  ASSERT_EQ(r.status, 0) << r.err;

  r = Ctl({"--id", "6", "settings", "diff", profile});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "battery_capacity_index: 0 -> 2\n"
            "start_level_low_battery_V: 12.00 -> 12.50\n"
            "solenoid_pulse_ms: 320 -> 480\n"
            "forced_charge_1_h: none -> 6\n");

  const std::vector<int> before = Eeprom(6);
  r = Ctl({"settings", "import", profile, "--id", "6", "--id", "7"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "controller 6: settings written from " + profile +
                       "\ncontroller 7: settings written from " + profile + "\n");
  EXPECT_EQ(Ctl({"--id", "6", "settings", "diff", profile}).status, 0);
  const std::vector<int> after = Eeprom(6);
  ASSERT_EQ(after.size(), 256u);
  // Serial number, corrections, identity and everything else stay the second controller's.
  for (int a : {2, 3, 36, 37, 38, 39, 81, 82, 124, 125, 126, 127}) EXPECT_EQ(after[a], before[a]) << a;
  const std::vector<int> five = Eeprom(5);
  for (int a : {0, 1, 13, 14, 17, 18, 26}) EXPECT_EQ(after[a], five[a]) << a;
}

TEST_F(ProfileEndToEnd, ABadFileIsRefusedBeforeAnyExchangeAndASilentControllerDoesNotStopTheOthers) {
  std::ofstream(profile) << "alarm_level_V = 11\nstart_level_high_battery_V = 99\nserial_number = 1\n";
  // Against a socket that does not exist: the file is refused first.
  auto r = Ctl({"settings", "import", profile, "--all"}, (daemon->folder() / "none.sock").string());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("line 2: start_level_high_battery_V"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("line 3: serial_number"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("simulator"), std::string::npos) << r.err;

  std::ofstream(profile) << "alarm_level_V = 11.2\n";
  ASSERT_EQ(RunProgram({HYDRIX_SIM_EXE, "set", "--socket", daemon->socket(), "--id", "7", "fault", "silent"})
                .status,
            0);
  r = Ctl({"settings", "import", profile, "--id", "5", "--id", "7", "--id", "8"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("controller 5: settings written"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("controller 7: FAILED"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("controller 8: settings written"), std::string::npos) << r.out;
  EXPECT_EQ(Ctl({"--id", "8", "settings", "diff", profile}).status, 0);
  EXPECT_EQ(Ctl({"--id", "5", "--id", "6", "settings", "diff", profile}).status, 2);
}

}  // namespace
