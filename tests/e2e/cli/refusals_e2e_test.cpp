// hydrixctl's refusals end to end, through the real libhxusbif and a
// hydrix-sim daemon: what a refused command leaves in the EEPROM and on disk,
// its exit status and the first line it says.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/sim_daemon.h"

namespace {

namespace fs = std::filesystem;
using hx::test::CommandResult;
using hx::test::RunProgram;
using hx::test::SimDaemon;

class RefusalsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon = std::make_unique<SimDaemon>(HYDRIX_SIM_EXE, std::vector<std::string>{"id=5", "id=8"});
    ASSERT_TRUE(daemon->Start());
    profile = daemon->folder() / "profile.txt";
    std::ofstream(profile) << "alarm_level_V = 11.2\n";
  }
  CommandResult Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), HYDRIXCTL_EXE);
    // Serial numbers written are recorded in the daemon's folder.
    return RunProgram(args, {"HYDRIX_SIM_SOCKET=" + daemon->socket(), "HYDRIX_USB_TIMEOUT_MS=200",
                             "XDG_STATE_HOME=" + (daemon->folder() / "state").string()});
  }
  CommandResult Sim(std::vector<std::string> args) {
    args.insert(args.begin(), {HYDRIX_SIM_EXE, "set", "--socket", daemon->socket()});
    return RunProgram(args);
  }
  std::string Eeprom(int id) {
    return RunProgram(
               {HYDRIX_SIM_EXE, "dump", "--socket", daemon->socket(), "--id", std::to_string(id), "eeprom"})
        .out;
  }
  static std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }
  std::unique_ptr<SimDaemon> daemon;
  fs::path profile;
};

// A controller that answers frames of zeros: every path that re-reads and
// writes back refuses before writing, and nothing is shown or recorded.
TEST_F(RefusalsEndToEnd, AControllerAnsweringZerosIsNeverWrittenNorRecorded) {
  ASSERT_EQ(Sim({"--id", "5", "fault", "zeros"}).status, 0);
  const std::string before = Eeprom(5);
  const std::string log = (daemon->folder() / "production.log").string();
  const std::string exported = (daemon->folder() / "out.txt").string();
  const std::vector<std::vector<std::string>> commands = {
      {"settings", "set", "alarm_level_V=11"},
      {"calibrate-clock", "16"},
      {"serial", "123"},
      {"settings", "import", profile.string()},
      {"settings"},
      {"settings", "export", exported},
      {"report", "--log", log, "--order", "42"},
  };
  for (auto args : commands) {
    SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
    args.insert(args.begin(), {"--id", "5"});
    const auto r = Ctl(args);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("type 0, firmware 0.00: it is not answering properly"), std::string::npos)
        << r.out << r.err;
    EXPECT_EQ((r.out + r.err).find("Parameters Writed"), std::string::npos);
    EXPECT_EQ(Eeprom(5), before);
  }
  EXPECT_FALSE(fs::exists(log));
  EXPECT_FALSE(fs::exists(exported));
  // The calibration command went out (the controller answered it), but the
  // correction read back is not shown.
  const auto r = Ctl({"--id", "5", "calibrate-voltage", "12.5", "--force"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find("voltage_correction"), std::string::npos);
  EXPECT_EQ(FirstLine(r.err),
            "hydrixctl: controller 5: The calibration was sent, but the settings read back cannot be shown. "
            "The identity of controller 5 reads as type 0, firmware 0.00: it is not answering properly, and "
            "settings read from it cannot be its own.");
}

// 0 done, 1 the act failed, 2 bad usage or bad input: the same for every
// subcommand, and bad input never reaches the controller.
TEST_F(RefusalsEndToEnd, BadInputExitsTwoAndWritesNothing) {
  const std::string before = Eeprom(5);
  const std::string log = (daemon->folder() / "production.log").string();
  struct Case {
    std::vector<std::string> args;
    const char* first;
  };
  const Case cases[] = {
      {{"serial", "12A"}, "hydrixctl: Le n° de série n'est pas valide"},
      {{"calibrate-voltage", "abc"}, "hydrixctl: the reference must be a number"},
      {{"settings", "set", "alarm_level_V=40"},
       "hydrixctl: alarm_level_V: \"40\" does not fit the controller's 16-bit word: the largest value that "
       "fits is 32.76; nothing was written"},
      {{"settings", "set", "alarm_level_V=40", "--force"}, "hydrixctl: alarm_level_V: \"40\" does not fit"},
      {{"settings", "set", "start_level_low_battery_V=3"}, "hydrixctl: start_level_low_battery_V must be"},
      {{"settings", "set", "solenoid_pulse_ms=200000"},
       "hydrixctl: solenoid_pulse_ms: \"200000\" does not fit the controller's 16-bit word: the largest "
       "value "
       "that fits is 104854; nothing was written"},
      {{"--id", "0", "list"}, "hydrixctl: --id 0 names no controller (0 and -1 never do)"},
      {{"--id", "-1", "list"}, "hydrixctl: --id -1 names no controller (0 and -1 never do)"},
      {{"report", "--log", log, "--order", "1", "--language", "Klingon"},
       "hydrixctl: the catalogue has no language 'Klingon'; its languages are: English, Français, Deutsch"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    auto args = c.args;
    args.insert(args.begin(), {"--id", "5"});
    const auto r = Ctl(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(FirstLine(r.err).rfind(c.first, 0), 0u) << r.err;
  }
  EXPECT_EQ(Eeprom(5), before);
  EXPECT_FALSE(fs::exists(log));
}

// A failure says what failed: a read-only command that got no answer says
// the settings could not be read, and a socket path too long for a socket
// says so.
TEST_F(RefusalsEndToEnd, FailuresSayWhatFailed) {
  ASSERT_EQ(Sim({"--id", "8", "fault", "silent"}).status, 0);
  auto r = Ctl({"--id", "8", "settings"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("hydrixctl: controller 8 did not answer every read; its settings could not be read"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("nothing was written"), std::string::npos) << r.err;

  const std::string longPath = "/tmp/" + std::string(120, 's') + ".sock";
  r = RunProgram({HYDRIX_SIM_EXE, "serve", "--socket", longPath, "--controller", "id=5"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err), "hydrix-sim: the socket path " + longPath +
                                  " is 130 bytes long; a socket path holds at most 107");
}

TEST_F(RefusalsEndToEnd, ImportToAllNamesAControllerThatDoesNotAnswer) {
  ASSERT_EQ(Sim({"--id", "8", "fault", "silent"}).status, 0);
  const auto r = Ctl({"settings", "import", "--all", profile.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("controller 8: FAILED: attached but not answering; nothing was written"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("controller 5: settings written"), std::string::npos) << r.out;
}

// A delay none of the capacity list's and an hour byte past 23 are rewritten
// by any import: diff shows them, export says so in the file and on stderr.
TEST_F(RefusalsEndToEnd, DiffAndExportTellValuesTheScreenCannotShow) {
  const std::string file = (daemon->folder() / "held.txt").string();
  ASSERT_EQ(Ctl({"--id", "5", "settings", "export", file}).status, 0);
  ASSERT_EQ(Ctl({"--id", "5", "settings", "diff", file}).status, 0);
  ASSERT_EQ(Sim({"--id", "5", "eeprom", "0=0x88", "1=0x13", "26=30"}).status, 0);  // 5000 s, hour 30

  auto r = Ctl({"--id", "5", "settings", "diff", file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "battery_capacity_index: a delay of 5000 s, none of the capacity list's -> 0 (3600 s)\n"
            "forced_charge_1_h: hour byte 30, not an hour -> none\n");

  const std::string held = (daemon->folder() / "held2.txt").string();
  r = Ctl({"--id", "5", "settings", "export", held});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(FirstLine(r.err),
            "hydrixctl: battery_capacity_index: the controller holds a delay of 5000 s, none of the capacity "
            "list's; an import writes 0 (3600 s) instead");
  std::ifstream in(held);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(
      text.find("# forced_charge_1_h: the controller holds hour byte 30, not an hour; an import writes 0 "
                "instead\nforced_charge_1_h = 0\n"),
      std::string::npos)
      << text;
}

// --help and --version answer without a display (no DISPLAY, no platform).
TEST(HydrixProgram, HelpAndVersionNeedNoDisplay) {
  const std::vector<std::string> env = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};
  const auto help = RunProgram({HYDRIX_EXE, "--help"}, env);
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.out.rfind("usage: hydrix", 0), 0u) << help.out;
  const auto version = RunProgram({HYDRIX_EXE, "--version"}, env);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "hydrix " HYDRIX_VERSION "\n");
}

}  // namespace
