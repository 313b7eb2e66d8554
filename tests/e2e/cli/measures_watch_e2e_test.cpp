// hydrixctl measures --watch end to end: the real libhxusbif and a
// hydrix-sim daemon.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "support/sim_daemon.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using hx::test::RunProgram;
using hx::test::SimDaemon;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}
std::string ReadAll(const fs::path& p) {
  std::ifstream in(p);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class WatchEndToEnd : public ::testing::Test {
 protected:
  // Starts `args` with the daemon's environment, standard output (and
  // error) into files; the process id.
  pid_t Spawn(std::vector<std::string> args, const fs::path& out, const fs::path& errFile = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = Env();
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  // The exit status, or -1 when a signal ended the process.
  static int Wait(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }
  template <class F>
  static void WaitFor(F done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  void SetUp() override {
    daemon = std::make_unique<SimDaemon>(HYDRIX_SIM_EXE, std::vector<std::string>{"id=5"});
    ASSERT_TRUE(daemon->Start());
  }
  std::vector<std::string> Env() const {
    return {"HYDRIX_SIM_SOCKET=" + daemon->socket(), "HYDRIX_USB_TIMEOUT_MS=200"};
  }
  std::unique_ptr<SimDaemon> daemon;
};

TEST_F(WatchEndToEnd, CountLinesOnTheOutputAndInTheFile) {
  const fs::path csv = daemon->folder() / "log.csv";
  const auto r = RunProgram(
      {HYDRIXCTL_EXE, "measures", "--watch", "--interval", "0.1", "--count", "3", "--csv", csv.string()},
      Env());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto out = Lines(r.out);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].rfind("time,battery_voltage_V,", 0), 0u);
  const std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d,1\d\.\d{3},-?\d+(,-?\d*[A-Za-z ]*)+)");
  for (std::size_t i = 1; i < out.size(); ++i) EXPECT_TRUE(std::regex_match(out[i], line)) << out[i];
  EXPECT_EQ(Lines(ReadAll(csv)), out);

  // Bad options and an unwritable file: clear messages, nothing read.
  auto bad = RunProgram({HYDRIXCTL_EXE, "measures", "--watch", "--interval", "0"}, Env());
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--interval"), std::string::npos);
  bad = RunProgram({HYDRIXCTL_EXE, "measures", "--watch", "--csv", "/nonexistent-folder/x.csv"}, Env());
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("cannot be written"), std::string::npos) << bad.err;
  EXPECT_EQ(bad.out, "");
}

TEST_F(WatchEndToEnd, CtrlCStopsCleanlyAfterWholeLines) {
  const fs::path outFile = daemon->folder() / "out.txt";
  const pid_t pid = Spawn({HYDRIXCTL_EXE, "measures", "--watch", "--interval", "0.2"}, outFile);
  ASSERT_GT(pid, 0);
  // Wait for two readings, then Ctrl-C.
  WaitFor([&] { return Lines(ReadAll(outFile)).size() >= 3; });
  ::kill(pid, SIGINT);
  EXPECT_EQ(Wait(pid), 0);
  const std::string text = ReadAll(outFile);
  EXPECT_GE(Lines(text).size(), 3u);
  EXPECT_EQ(text.back(), '\n');
}

// The controller falls silent for a while: without --keep-going the watch
// ends at the first missed answer; with it, each missed reading gives a row
// with the time and empty measures, and once the controller answers again
// the rows are whole again, up to the count.
TEST_F(WatchEndToEnd, ASilentControllerEndsTheWatchUnlessItKeepsGoing) {
  const std::string empty = std::string(14, ',');
  auto isEmptyRow = [&](const std::string& l) { return l.size() > empty.size() && l.ends_with(empty); };
  auto fault = [&](const char* mode) {
    return RunProgram({HYDRIX_SIM_EXE, "set", "--socket", daemon->socket(), "--id", "5", "fault", mode})
        .status;
  };
  for (const bool keepGoing : {false, true}) {
    SCOPED_TRACE(keepGoing ? "--keep-going" : "plain");
    const fs::path outFile = daemon->folder() / (keepGoing ? "keep.txt" : "plain.txt");
    const fs::path errFile = daemon->folder() / (keepGoing ? "keep.err" : "plain.err");
    std::vector<std::string> args = {HYDRIXCTL_EXE, "measures", "--watch", "--interval",
                                     "0.2",         "--count",  "14"};
    if (keepGoing) args.push_back("--keep-going");
    const pid_t pid = Spawn(args, outFile, errFile);
    ASSERT_GT(pid, 0);
    WaitFor([&] { return Lines(ReadAll(outFile)).size() >= 3; });
    ASSERT_EQ(fault("silent"), 0);
    if (keepGoing) {
      auto missedRows = [&] {
        const auto lines = Lines(ReadAll(outFile));
        return std::count_if(lines.begin(), lines.end(), isEmptyRow);
      };
      WaitFor([&] { return missedRows() >= 2; });
      ASSERT_EQ(fault("none"), 0);
    }
    const int status = Wait(pid);
    ASSERT_EQ(fault("none"), 0);
    const auto lines = Lines(ReadAll(outFile));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(ReadAll(errFile).find("controller 5 did not answer"), std::string::npos) << ReadAll(errFile);
    const std::regex stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d,.*)");
    if (!keepGoing) {
      EXPECT_EQ(status, 1);
      EXPECT_LT(lines.size(), 15u);
      EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), isEmptyRow));
      continue;
    }
    EXPECT_EQ(status, 0);
    ASSERT_EQ(lines.size(), 15u);  // the header and the 14 readings
    const auto firstMissed = std::find_if(lines.begin(), lines.end(), isEmptyRow);
    ASSERT_NE(firstMissed, lines.end());
    EXPECT_TRUE(std::regex_match(*firstMissed, stamp)) << *firstMissed;
    // Whole rows before the silence and again after it.
    EXPECT_FALSE(isEmptyRow(lines[1]));
    EXPECT_FALSE(isEmptyRow(lines.back())) << lines.back();
    for (const auto& l : lines) EXPECT_TRUE(l == lines[0] || std::regex_match(l, stamp)) << l;
  }
}

}  // namespace
