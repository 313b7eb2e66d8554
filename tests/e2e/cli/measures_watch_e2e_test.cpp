// hydrixctl measures --watch end to end: the real libhxusbif and a
// hydrix-sim daemon.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
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
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> args = {HYDRIXCTL_EXE, "measures", "--watch", "--interval", "0.2"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = Env();
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, HYDRIXCTL_EXE, &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  // Wait for two readings, then Ctrl-C.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Lines(ReadAll(outFile)).size() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string text = ReadAll(outFile);
  EXPECT_GE(Lines(text).size(), 3u);
  EXPECT_EQ(text.back(), '\n');
}

}  // namespace
