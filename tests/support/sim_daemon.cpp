#include "support/sim_daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "wire/sim_protocol.h"

extern char** environ;

namespace hx::test {

namespace {

std::filesystem::path FreshFolder() {
  // Programs run from several threads at once each get their own files.
  static std::atomic<int> counter = 0;
  auto p = std::filesystem::temp_directory_path() /
           ("hydrix-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p;
}

std::vector<char*> Pointers(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

SimDaemon::SimDaemon(std::string executable, std::vector<std::string> controllers,
                     std::vector<std::string> options)
    : executable_(std::move(executable)),
      controllers_(std::move(controllers)),
      options_(std::move(options)),
      folder_(FreshFolder()) {
  socket_ = (folder_ / "sim.sock").string();
}

SimDaemon::~SimDaemon() {
  Stop();
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

bool SimDaemon::Start() {
  std::vector<std::string> args{executable_, "serve", "--socket", socket_, "--state", state().string()};
  for (const auto& c : controllers_) {
    args.push_back("--controller");
    args.push_back(c);
  }
  args.insert(args.end(), options_.begin(), options_.end());
  auto argv = Pointers(args);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string log = (folder_ / "daemon.log").string();
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const int rc = posix_spawn(&pid_, executable_.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    return false;
  }
  for (int i = 0; i < 500; ++i) {
    sim::Connection c;
    std::string error;
    if (c.Connect(socket_, error)) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int SimDaemon::Stop() {
  if (pid_ < 0) return -1;
  Thaw();
  kill(pid_, SIGTERM);
  int status = 0;
  pid_t ended = 0;
  // A daemon that does not leave is a fault of its own, reported as such
  // rather than as the test's time-out.
  for (int wait = 0; wait < 3000 && ended == 0; ++wait) {
    ended = waitpid(pid_, &status, WNOHANG);
    if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (ended == 0) {
    std::fprintf(stderr, "hydrix-sim (process %d) still runs 30 s after SIGTERM: killed\n", static_cast<int>(pid_));
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    status = -1;
  }
  pid_ = -1;
  return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool SimDaemon::Freeze() {
  if (pid_ < 0 || kill(pid_, SIGSTOP) != 0) return false;
  frozen_ = true;
  return true;
}

bool SimDaemon::Thaw() {
  if (pid_ < 0 || !frozen_) return pid_ >= 0;
  frozen_ = false;
  return kill(pid_, SIGCONT) == 0;
}

std::string SimDaemon::Log() const { return ReadAll(folder_ / "daemon.log"); }

void SimDaemon::Export() const { setenv("HYDRIX_SIM_SOCKET", socket_.c_str(), 1); }

CommandResult RunProgram(const std::vector<std::string>& command,
                         const std::vector<std::string>& environment) {
  // Programs run from several threads at once each get their own files.
  static std::atomic<int> counter = 0;
  const auto base = std::filesystem::temp_directory_path() /
                    ("hydrix-run-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  const std::string outPath = base.string() + ".out";
  const std::string errPath = base.string() + ".err";
  std::vector<std::string> args = command;
  auto argv = Pointers(args);
  std::vector<std::string> env;
  // The variables given replace those of the same name.
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const auto& given : environment) replaced = replaced || given.rfind(name, 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& e : environment) env.push_back(e);
  auto envp = Pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The program starts as from a shell: a SIGXFSZ this test ignores (to set
  // a file-size limit on itself) is at its default action again.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  CommandResult r;
  if (posix_spawn(&pid, args[0].c_str(), &actions, &attributes, argv.data(), envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  r.out = ReadAll(outPath);
  r.err = ReadAll(errPath);
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return r;
}

}  // namespace hx::test
