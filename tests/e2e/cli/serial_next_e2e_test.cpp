// The next serial number end to end: hydrixctl serial --next on two
// simulated controllers at once through the real libhxusbif and a hydrix-sim
// daemon, the record in the state folder, and the refusals that leave it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "support/sim_daemon.h"

namespace {

namespace fs = std::filesystem;
using hx::test::CommandResult;
using hx::test::RunProgram;
using hx::test::SimDaemon;

class SerialNext : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon = std::make_unique<SimDaemon>(HYDRIX_SIM_EXE, std::vector<std::string>{"id=1001", "id=1002,type=2"});
    ASSERT_TRUE(daemon->Start());
    record = daemon->folder() / "state" / "hydrix" / "last-serial";
  }
  CommandResult Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), HYDRIXCTL_EXE);
    return RunProgram(args, {"HYDRIX_SIM_SOCKET=" + daemon->socket(), "HYDRIX_USB_TIMEOUT_MS=200",
                             "XDG_RUNTIME_DIR=" + daemon->folder().string(),
                             "XDG_STATE_HOME=" + (daemon->folder() / "state").string()});
  }
  // The serial number controller `id` holds, as hydrixctl reads it.
  std::string Held(int id) {
    std::istringstream lines(Ctl({"--id", std::to_string(id), "settings"}).out);
    for (std::string l; std::getline(lines, l);)
      if (l.rfind("serial_number\t", 0) == 0) return l.substr(14);
    return "?";
  }
  int Fault(const std::string& word) {
    return RunProgram({HYDRIX_SIM_EXE, "set", "--socket", daemon->socket(), "--id", "1001", "fault", word}).status;
  }
  std::string Record() {
    std::ifstream in(record);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void SetRecord(const std::string& text) {
    fs::create_directories(record.parent_path());
    std::ofstream(record) << text;
  }
  std::unique_ptr<SimDaemon> daemon;
  fs::path record;
};

// Two at once get consecutive numbers, each on its controller, and the
// record holds the higher; the same unit a second time is refused.
TEST_F(SerialNext, TwoAtOnceGetConsecutiveNumbersAndTheRecordHoldsTheHigher) {
  // Before a first serial written by hand there is no next one.
  CommandResult r = Ctl({"--id", "1001", "serial", "--next"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("write the first one by hand with \"hydrixctl serial NUMBER\""), std::string::npos)
      << r.err;
  EXPECT_EQ(Held(1001), "24001001");
  EXPECT_FALSE(fs::exists(record));

  SetRecord("500\n");

  CommandResult first, second;
  std::thread a([&] { first = Ctl({"--id", "1001", "serial", "--next"}); });
  std::thread b([&] { second = Ctl({"--id", "1002", "serial", "--next"}); });
  a.join();
  b.join();
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_EQ(second.status, 0) << second.err;
  const std::multiset<std::string> printed = {first.out, second.out};
  EXPECT_EQ(printed, (std::multiset<std::string>{"serial_number\t501\n", "serial_number\t502\n"}));
  EXPECT_EQ("serial_number\t" + Held(1001) + "\n", first.out);
  EXPECT_EQ("serial_number\t" + Held(1002) + "\n", second.out);
  EXPECT_EQ(Record(), "502\n");

  const std::string last = first.out == "serial_number\t502\n" ? "1001" : "1002";
  r = Ctl({"--id", last, "serial", "--next"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("already holds serial number 502, the last one written from this machine"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Held(std::stoi(last)), "502");
  EXPECT_EQ(Record(), "502\n");

  // A serial written by hand is recorded when it is the highest.
  ASSERT_EQ(Ctl({"--id", last, "serial", "77"}).status, 0);
  EXPECT_EQ(Record(), "502\n");
  ASSERT_EQ(Ctl({"--id", last, "serial", "600"}).status, 0);
  EXPECT_EQ(Record(), "600\n");
}

// A write the controller does not confirm leaves the record, and the next
// --next offers the same number again; a record that is no serial, or the
// largest one, is named and refused, never overwritten.
TEST_F(SerialNext, AnUnconfirmedWriteOrABadRecordLeavesTheRecord) {
  SetRecord("700\n");
  // Answers the reads before the write, then none: the write is cut short.
  ASSERT_EQ(Fault("after:450"), 0);
  CommandResult r = Ctl({"--id", "1001", "serial", "--next"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("did not confirm every byte"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("The last serial number recorded is left as it was."), std::string::npos) << r.err;
  EXPECT_EQ(Record(), "700\n");
  ASSERT_EQ(Fault("none"), 0);
  r = Ctl({"--id", "1001", "serial", "--next"});
  EXPECT_EQ(r.out, "serial_number\t701\n") << r.err;
  EXPECT_EQ(Record(), "701\n");

  for (const std::string bad : {"7O2\n", "2147483648\n", ""}) {
    SCOPED_TRACE(bad);
    SetRecord(bad);
    r = Ctl({"--id", "1002", "serial", "--next"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(record.string() + " holds no serial number"), std::string::npos) << r.err;
    // A serial given by hand is written; the record stays as it is.
    r = Ctl({"--id", "1002", "serial", "900"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("was not recorded"), std::string::npos) << r.err;
    EXPECT_EQ(Record(), bad);
  }
  SetRecord("2147483647\n");
  r = Ctl({"--id", "1002", "serial", "--next"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("there is no next one"), std::string::npos) << r.err;
  EXPECT_EQ(Record(), "2147483647\n");
}

}  // namespace
