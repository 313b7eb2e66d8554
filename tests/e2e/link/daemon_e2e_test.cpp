// The simulator daemon and libhxusbif under what a busy bench does to them:
// two programs on one controller, a frozen daemon, idle and surplus
// connections, two daemons on one state folder or one socket, a state
// folder that cannot be written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "common/sleeper.h"
#include "hydrix/commands/hydrix_device.h"
#include "hydrix/link/usb_library.h"
#include "support/recording_dialog_service.h"
#include "support/sim_daemon.h"
#include "wire/sim_protocol.h"

namespace hx {
namespace {

using test::RunProgram;
using test::SimDaemon;
using Clock = std::chrono::steady_clock;

class NoSleep : public Sleeper {
 public:
  void Sleep(std::chrono::milliseconds) override {}
};

// A program on a controller through the real library.
struct Program {
  explicit Program(std::int32_t id) { device.SetUsbID(id); }
  UsbLibrary usb{HXUSBIF_LIB};
  CodeMessageSource messages;
  test::RecordingDialogService dialogs;
  NoSleep sleeper;
  HydrixDevice device{usb, messages, dialogs, sleeper};
};

// A connection that sends nothing; `wait`: for room in the daemon's queue.
int IdleConnection(const std::string& socket, bool wait = true) {
  sockaddr_un addr{};
  std::string error;
  if (!sim::SocketAddress(socket, addr, error)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Processor time a process has used, from /proc.
std::chrono::milliseconds CpuTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(all.substr(all.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int k = 3; k <= 15 && fields >> field; ++k) {
    if (k == 14 || k == 15) ticks += std::stol(field);  // utime, stime
  }
  return std::chrono::milliseconds(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
}

class DaemonEndToEnd : public ::testing::Test {
 protected:
  void StartWith(std::vector<std::string> controllers, std::vector<std::string> options = {}) {
    daemon = std::make_unique<SimDaemon>(HYDRIX_SIM_EXE, std::move(controllers), std::move(options));
    ASSERT_TRUE(daemon->Start()) << daemon->Log();
    daemon->Export();
  }
  test::CommandResult Sim(std::vector<std::string> args) {
    args.insert(args.begin(), {HYDRIX_SIM_EXE, args[0], "--socket", daemon->socket()});
    args.erase(args.begin() + 4);
    return RunProgram(args);
  }
  test::CommandResult Ctl(std::vector<std::string> args, const std::string& timeoutMs = "200") {
    args.insert(args.begin(), HYDRIXCTL_EXE);
    return RunProgram(args, {"HYDRIX_SIM_SOCKET=" + daemon->socket(), "HYDRIX_USB_TIMEOUT_MS=" + timeoutMs});
  }

  std::unique_ptr<SimDaemon> daemon;
};

TEST_F(DaemonEndToEnd, TwoProgramsOnOneControllerEachReadTheirOwnAnswers) {
  StartWith({"id=5,latency=1"});
  ASSERT_EQ(Sim({"set", "--id", "5", "eeprom", "100=0x11", "101=0x22"}).status, 0);
  std::vector<pid_t> programs;
  for (int address : {100, 101}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Program program(5);
      HydrixDevice& device = program.device;
      int foreign = 0;
      for (int k = 0; k < 150; ++k) {
        const int value = device.LitEEprom(address);
        if (value != (address == 100 ? 0x11 : 0x22) || !device.LastAnswerComplete()) ++foreign;
      }
      ::_exit(foreign == 0 ? 0 : 1);
    }
    programs.push_back(pid);
  }
  for (pid_t pid : programs) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a program read an answer not meant for it";
  }
}

TEST_F(DaemonEndToEnd, AFrozenDaemonCostsAFewTimeOutsNotOnePerExchange) {
  StartWith({"id=5"});
  ASSERT_TRUE(daemon->Freeze());
  // 258 exchanges: at 200 ms each that would be close to a minute.
  auto started = Clock::now();
  auto image = Ctl({"--id", "5", "image"});
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(3)) << image.err;
  EXPECT_EQ(image.status, 1);
  EXPECT_NE(image.err.find("the simulator at " + daemon->socket() + " does not answer"), std::string::npos)
      << image.err;

  // Its queue full as well, the connect itself is bounded.
  std::vector<int> queued;
  for (int fd; queued.size() < 512 && (fd = IdleConnection(daemon->socket(), false)) >= 0;)
    queued.push_back(fd);
  started = Clock::now();
  auto list = Ctl({"list"});
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
  EXPECT_EQ(list.status, 1);
  EXPECT_NE(list.err.find("cannot reach the simulator at " + daemon->socket()), std::string::npos)
      << list.err;
  for (int fd : queued) ::close(fd);
  ASSERT_TRUE(daemon->Thaw());
  EXPECT_EQ(Ctl({"list"}).status, 0);
}

TEST_F(DaemonEndToEnd, IdleAndSurplusConnectionsDoNotStopService) {
  StartWith({"id=5"}, {"--max-connections", "8", "--idle-timeout", "400"});
  std::vector<int> idle;
  for (int k = 0; k < 40; ++k) {
    const int fd = IdleConnection(daemon->socket());
    ASSERT_GE(fd, 0);
    idle.push_back(fd);
  }
  auto image = Ctl({"--id", "5", "image"}, "1000");
  EXPECT_EQ(image.status, 0) << image.err;
  // The daemon closes a connection that stays silent.
  const int late = IdleConnection(daemon->socket());
  ASSERT_GE(late, 0);
  pollfd p{late, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  char byte = 0;
  EXPECT_EQ(::recv(late, &byte, 1, 0), 0);
  for (int fd : idle) ::close(fd);
  ::close(late);
}

// The library keeps a program's connections a moment after an exchange to
// use them again; the daemon, at its cap, closes the idlest, which are those.
// The next exchange still gets its answer, and in time, not after a time-out.
TEST_F(DaemonEndToEnd, KeptConnectionsTheDaemonClosedCostNoAnswer) {
  StartWith({"id=5"}, {"--max-connections", "2"});
  Program program(5);
  program.device.link().SetReadTimeoutMs(2000);
  ASSERT_NE(program.device.LitDateEtHeure(), "00/00/00 - 00:00:00");
  // Each of these is served only after the daemon made room for it.
  std::vector<sim::Connection> others(2);
  for (auto& c : others) {
    std::string error;
    ASSERT_TRUE(c.Connect(daemon->socket(), error)) << error;
    sim::Writer w;
    w.u8(static_cast<std::uint8_t>(sim::Op::List));
    ASSERT_TRUE(c.Call(w.body(), std::chrono::seconds(2), error)) << error;
  }
  others.clear();
  const auto started = Clock::now();
  EXPECT_NE(program.device.LitDateEtHeure(), "00/00/00 - 00:00:00");
  EXPECT_FALSE(program.device.TimeOut());
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1000));
  EXPECT_TRUE(program.dialogs.messages.empty()) << program.dialogs.Texts()[0];
}

TEST_F(DaemonEndToEnd, OutOfDescriptorsTheDaemonWaitsInsteadOfSpinning) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' own checks need descriptors the daemon has run out of";
#endif
  // Few descriptors, many connections allowed: accept fails with EMFILE.
  rlimit saved{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  rlimit few = saved;
  few.rlim_cur = 24;
  ::setrlimit(RLIMIT_NOFILE, &few);
  StartWith({"id=5"}, {"--max-connections", "1000", "--idle-timeout", "1500"});
  ::setrlimit(RLIMIT_NOFILE, &saved);
  std::vector<int> idle;
  for (int k = 0; k < 40; ++k) idle.push_back(IdleConnection(daemon->socket()));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto before = CpuTime(daemon->pid());
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_LT(CpuTime(daemon->pid()) - before, std::chrono::milliseconds(300));
  for (int fd : idle) ::close(fd);
  // Once the connections are gone, it serves again.
  auto list = Ctl({"list"}, "1000");
  EXPECT_EQ(list.status, 0) << list.err << daemon->Log();
}

TEST_F(DaemonEndToEnd, OneDaemonPerStateFolder) {
  StartWith({"id=5"});
  const std::string other = (daemon->folder() / "other.sock").string();
  auto second = RunProgram({HYDRIX_SIM_EXE, "serve", "--socket", other, "--state", daemon->state().string(),
                            "--controller", "id=5"});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("another simulator uses the state folder " + daemon->state().string()),
            std::string::npos)
      << second.err;
  EXPECT_FALSE(std::filesystem::exists(other));
  EXPECT_EQ(Ctl({"list"}).status, 0);
}

TEST_F(DaemonEndToEnd, AStateFolderThatCannotBeWrittenIsRefused) {
  StartWith({"id=5"});
  const auto file = daemon->folder() / "plain-file";
  std::ofstream(file) << "x";
  const std::string socket = (daemon->folder() / "other.sock").string();
  auto underFile = RunProgram({HYDRIX_SIM_EXE, "serve", "--socket", socket, "--state",
                               (file / "state").string(), "--controller", "id=5"});
  EXPECT_EQ(underFile.status, 1);
  EXPECT_NE(underFile.err.find("state folder " + (file / "state").string()), std::string::npos)
      << underFile.err;

  if (::geteuid() != 0) {  // permission bits do not stop the superuser
    const auto readOnly = daemon->folder() / "read-only";
    std::filesystem::create_directories(readOnly);
    std::filesystem::permissions(readOnly,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    auto refused = RunProgram(
        {HYDRIX_SIM_EXE, "serve", "--socket", socket, "--state", readOnly.string(), "--controller", "id=5"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("cannot be written"), std::string::npos) << refused.err;
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_all);
  }
}

// What stands where a state file goes and is not a regular file (a FIFO, a
// link, a folder) stops the daemon at start, named, and is left as it was;
// so is an identifier whose serial number would not fit.
TEST_F(DaemonEndToEnd, StatePathsThatAreNotFilesAndIdsOutOfRangeAreRefusedAtStart) {
  namespace fs = std::filesystem;
  StartWith({"id=5"});
  const fs::path state = daemon->folder() / "odd-state", controller = state / "controller-7";
  const std::string socket = (daemon->folder() / "other.sock").string();
  auto serve = [&](const std::string& spec) {
    return RunProgram(
        {HYDRIX_SIM_EXE, "serve", "--socket", socket, "--state", state.string(), "--controller", spec});
  };
  const fs::path eeprom = controller / "eeprom.bin", flash = controller / "flash.bin";
  fs::create_directories(controller);
  ASSERT_EQ(::mkfifo(eeprom.c_str(), 0600), 0);
  auto r = serve("id=7");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "hydrix-sim: " + eeprom.string() + " is a FIFO, not a regular file; it is never replaced\n");
  EXPECT_TRUE(fs::is_fifo(eeprom));

  fs::remove(eeprom);
  fs::create_symlink("/nonexistent-target", flash);
  r = serve("id=7");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "hydrix-sim: " + flash.string() +
                       " is a symbolic link, not a regular file; it is never replaced\n");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(flash)));

  fs::remove(flash);
  fs::create_directory(eeprom);
  r = serve("id=7");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "hydrix-sim: " + eeprom.string() + " is a folder, not a regular file; it is never replaced\n");
  EXPECT_FALSE(fs::exists(socket));

  r = serve("id=2123483648");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(
      r.err.substr(0, r.err.find('\n')),
      "hydrix-sim: --controller id=2123483648: id must be a number from -2147483648 to 2123483647, other "
      "than 0 and -1 (the serial number 24000000 + id must fit 32 bits)");
}

TEST_F(DaemonEndToEnd, AFailedSaveIsReportedAndNotApplied) {
  StartWith({"id=5"});
  ASSERT_EQ(Sim({"set", "--id", "5", "eeprom", "100=0x11"}).status, 0);
  // A folder where the temporary file goes makes every save fail, even
  // for the superuser.
  std::filesystem::create_directory(daemon->state() / "controller-5" / "eeprom.bin.tmp");
  auto set = Sim({"set", "--id", "5", "eeprom", "100=0x77"});
  EXPECT_EQ(set.status, 1);
  EXPECT_NE(set.err.find("eeprom.bin.tmp"), std::string::npos) << set.err;

  Program program(5);
  HydrixDevice& device = program.device;
  device.EcritEEprom(100, 0x66);
  EXPECT_TRUE(device.TimeOut());  // not acknowledged
  EXPECT_NE(Sim({"dump", "--id", "5", "eeprom"}).out.find("0060: 00 00 00 00 11"), std::string::npos);
  std::filesystem::remove(daemon->state() / "controller-5" / "eeprom.bin.tmp");
  device.SetTimeOut(false);
  EXPECT_EQ(device.LitEEprom(100), 0x11);
  EXPECT_EQ(daemon->Stop(), 0);
  ASSERT_TRUE(daemon->Start());
  EXPECT_NE(Sim({"dump", "--id", "5", "eeprom"}).out.find("0060: 00 00 00 00 11"), std::string::npos);
}

TEST_F(DaemonEndToEnd, TwoDaemonsStartedAtOnceOnAStaleSocketLeaveOneServing) {
  const auto folder = std::filesystem::temp_directory_path() / ("hydrix-race-" + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string socket = (folder / "sim.sock").string();
  {
    // A socket file whose daemon died.
    sockaddr_un addr{};
    std::string error;
    ASSERT_TRUE(sim::SocketAddress(socket, addr, error));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
  }
  for (int round = 0; round < 5; ++round) {
    std::vector<pid_t> daemons;
    for (int k = 0; k < 2; ++k) {
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        const std::string state = (folder / ("state" + std::to_string(k))).string();
        ::execl(HYDRIX_SIM_EXE, HYDRIX_SIM_EXE, "serve", "--socket", socket.c_str(), "--state", state.c_str(),
                "--controller", "id=5", static_cast<char*>(nullptr));
        ::_exit(127);
      }
      daemons.push_back(pid);
    }
    // One of them gives up at once; the other serves.
    int status = 0;
    pid_t ended = -1;
    for (int wait = 0; wait < 300 && ended <= 0; ++wait) {
      ended = ::waitpid(-1, &status, WNOHANG);
      if (ended <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GT(ended, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    const pid_t serving = ended == daemons[0] ? daemons[1] : daemons[0];
    EXPECT_EQ(RunProgram({HYDRIXCTL_EXE, "list"}, {"HYDRIX_SIM_SOCKET=" + socket}).status, 0) << round;
    ::kill(serving, SIGTERM);
    ASSERT_EQ(::waitpid(serving, &status, 0), serving);
    EXPECT_FALSE(std::filesystem::exists(socket));
  }

  // At its end a daemon removes its own socket, not one put in its place.
  SimDaemon first(HYDRIX_SIM_EXE, {"id=5"});
  ASSERT_TRUE(first.Start());
  std::filesystem::rename(first.socket(), first.socket() + ".moved");
  std::ofstream(first.socket()) << "another program's file";
  EXPECT_EQ(first.Stop(), 0);
  EXPECT_TRUE(std::filesystem::exists(first.socket()));
  std::filesystem::remove_all(folder);
}

TEST_F(DaemonEndToEnd, FaultAfterCountsFromTheCommand) {
  StartWith({"id=5"});
  ASSERT_EQ(Ctl({"--id", "5", "image"}).status, 0);  // 258 exchanges
  ASSERT_EQ(Sim({"set", "--id", "5", "fault", "after:30"}).status, 0);
  EXPECT_EQ(Ctl({"--id", "5", "clock"}).status, 0);
  auto image = Ctl({"--id", "5", "image"});
  EXPECT_EQ(image.status, 1);
  EXPECT_NE(image.err.find("controller 5 did not answer"), std::string::npos) << image.err;
  ASSERT_EQ(Sim({"set", "--id", "5", "fault", "none"}).status, 0);
  EXPECT_EQ(Ctl({"--id", "5", "image"}).status, 0);
}

TEST_F(DaemonEndToEnd, HydrixctlNamesTheRealCause) {
  StartWith({"id=5,fault=short"});
  const std::string missing = (daemon->folder() / "missing.sock").string();
  auto none = RunProgram({HYDRIXCTL_EXE, "list"}, {"HYDRIX_SIM_SOCKET=" + missing});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err,
            "hydrixctl: cannot reach the simulator at " + missing + ": No such file or directory\n");
  const auto plain = daemon->folder() / "plain";
  std::ofstream(plain) << "x";
  auto notSocket = RunProgram({HYDRIXCTL_EXE, "--id", "5", "image"}, {"HYDRIX_SIM_SOCKET=" + plain.string()});
  EXPECT_EQ(notSocket.status, 1);
  EXPECT_NE(notSocket.err.find("cannot reach the simulator at " + plain.string() + ": it is not a socket"),
            std::string::npos)
      << notSocket.err;
  auto shortFrames = Ctl({"--id", "5", "clock"});
  EXPECT_EQ(shortFrames.status, 1);
  EXPECT_NE(shortFrames.err.find("controller 5 answered short frames"), std::string::npos) << shortFrames.err;
}

}  // namespace
}  // namespace hx
