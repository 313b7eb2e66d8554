// hydrixctl on a bench with several controllers, two of one type and one of
// another, and with two hydrixctl at once: through the real libhxusbif and a
// hydrix-sim daemon, the EEPROM byte for byte, the exit status and the first
// line of each refusal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/sim_daemon.h"

namespace {

namespace fs = std::filesystem;
using hx::test::CommandResult;
using hx::test::RunProgram;
using hx::test::SimDaemon;

class RightController : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon = std::make_unique<SimDaemon>(
        HYDRIX_SIM_EXE, std::vector<std::string>{"id=5", "id=6", "id=9,type=2,version=1.02"});
    ASSERT_TRUE(daemon->Start());
  }
  CommandResult Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), HYDRIXCTL_EXE);
    return RunProgram(args, {"HYDRIX_SIM_SOCKET=" + daemon->socket(), "HYDRIX_USB_TIMEOUT_MS=200",
                             "XDG_RUNTIME_DIR=" + daemon->folder().string()});
  }
  CommandResult Sim(std::vector<std::string> args) {
    args.insert(args.begin(), {HYDRIX_SIM_EXE, "set", "--socket", daemon->socket()});
    return RunProgram(args);
  }
  // The controller's EEPROM, from the simulator's hex rows.
  std::vector<int> Eeprom(int id) {
    std::istringstream rows(RunProgram({HYDRIX_SIM_EXE, "dump", "--socket", daemon->socket(), "--id",
                                        std::to_string(id), "eeprom"})
                                .out);
    std::vector<int> bytes;
    for (std::string word; rows >> word;) {
      if (word.back() != ':') bytes.push_back(std::stoi(word, nullptr, 16));
    }
    return bytes;
  }
  static int Word(const std::vector<int>& e, int a) {
    return e[static_cast<std::size_t>(a)] | e[static_cast<std::size_t>(a) + 1] << 8;
  }
  static std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }
  fs::path File(const std::string& name, const std::string& text) {
    const fs::path p = daemon->folder() / name;
    std::ofstream(p) << text;
    return p;
  }
  std::unique_ptr<SimDaemon> daemon;
};

// Two settings set on one controller at once take turns on its lock: both
// changes land.
TEST_F(RightController, TwoConcurrentSettingsSetBothLand) {
  CommandResult first, second;
  std::thread a([&] { first = Ctl({"--id", "5", "settings", "set", "alarm_level_V=11.6"}); });
  std::thread b([&] { second = Ctl({"--id", "5", "settings", "set", "solenoid_pulse_ms=640"}); });
  a.join();
  b.join();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(second.status, 0) << second.err;
  const auto e = Eeprom(5);
  EXPECT_EQ(Word(e, 19), 11600);
  EXPECT_EQ(Word(e, 17), 200);  // 640 / 3.2
}

// Each refusal: its exit status, its first line, and the EEPROM of every
// controller unchanged.
TEST_F(RightController, RefusalsSayWhyAndWriteNothing) {
  ASSERT_EQ(Ctl({"--id", "5", "settings", "export", (daemon->folder() / "hydrix.txt").string()}).status, 0);
  const std::string fromHydrix = (daemon->folder() / "hydrix.txt").string();
  const std::string handWritten = File("hand.txt", "alarm_level_V = 11.3\n").string();
  ASSERT_EQ(Sim({"--id", "6", "fault", "zeros"}).status, 0);
  const std::string csv = (daemon->folder() / "zeros.csv").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* first;  // the start of the first line on stderr (stdout for import)
  };
  const Case cases[] = {
      {{"settings", "set", "alarm_level_V=11.4"},
       2,
       "hydrixctl: 3 controllers answer; name one with --id N (nothing was done):"},
      {{"--id", "7", "serial", "1"}, 1, "hydrixctl: no controller 7; attached: 5, 6, 9"},
      {{"--id", "9", "settings", "import", fromHydrix},
       1,
       "controller 9: FAILED: The profile was saved from a controller of type Hydrix (11), and controller 9 "
       "is "
       "of type Arvel L1 (2); nothing was written."},
      {{"--id", "5", "calibrate-voltage", "1.27"},
       2,
       "hydrixctl: the reference 1.270 V is more than 10 % away"},
      {{"--id", "5", "calibrate-clock", "1e309"},
       2,
       "hydrixctl: the clock value must be a number from 0 to 32 (nominal 16), not '1e309'"},
      {{"--id", "5", "settings", "set", "alarm_level_V=32.767"},
       2,
       "hydrixctl: alarm_level_V: \"32.767\" does not fit the controller's 16-bit word: the largest value "
       "that "
       "fits is 32.76; nothing was written"},
      {{"--id", "6", "measures"},
       1,
       "hydrixctl: The identity of controller 6 reads as type 0, firmware 0.00: it is not answering "
       "plausibly"},
      {{"--id", "6", "measures", "--watch", "--count", "1", "--csv", csv},
       1,
       "hydrixctl: The identity of controller 6 reads as type 0, firmware 0.00: it is not answering "
       "plausibly"},
  };
  const auto before5 = Eeprom(5), before6 = Eeprom(6), before9 = Eeprom(9);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
    const auto r = Ctl(c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    const std::string said = c.args.size() > 3 && c.args[3] == "import" ? r.out : r.err;
    EXPECT_EQ(FirstLine(said).rfind(c.first, 0), 0u) << said;
    EXPECT_EQ(Eeprom(5), before5);
    EXPECT_EQ(Eeprom(6), before6);
    EXPECT_EQ(Eeprom(9), before9);
  }
  std::ifstream log(csv);
  std::string line, rows;
  while (std::getline(log, line)) rows += line.find_first_of("0123456789") == std::string::npos ? "" : line;
  EXPECT_EQ(rows, "") << "zeros were logged";

  // A profile without a type line goes to any type, as before; a typed one
  // goes to controllers of its type only.
  auto r = Ctl({"--id", "9", "settings", "import", handWritten});
  EXPECT_EQ(r.status, 0) << r.out;
  r = Ctl({"settings", "import", "--all", fromHydrix});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("controller 5: settings written"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("controller 9: FAILED: The profile was saved from a controller of type Hydrix (11)"),
            std::string::npos)
      << r.out;
  // The reference far off goes with --force, exactly as before.
  r = Ctl({"--id", "5", "calibrate-voltage", "1.27", "--force"});
  EXPECT_EQ(r.status, 0) << r.err;
}

// A value with more decimals than the screen shows is stored as shown, and
// the import's report, diff and the read-back agree.
TEST_F(RightController, ValuesAreStoredAsTheScreenShowsThem) {
  const std::string profile = File("three.txt", "alarm_level_V = 11.556\n").string();
  auto r = Ctl({"--id", "5", "settings", "import", profile});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAILED"), std::string::npos) << r.out;
  EXPECT_EQ(Word(Eeprom(5), 19), 11560);
  r = Ctl({"--id", "5", "settings", "diff", profile});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "");
}

}  // namespace
