// A hydrix-sim daemon started for one test: its own socket and state folder
// in a fresh temporary folder, stopped with SIGTERM when the object goes.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace hx::test {

class SimDaemon {
 public:
  // `executable`: the hydrix-sim program; `controllers`: the SPECs;
  // `options`: more arguments of `serve`.
  SimDaemon(std::string executable, std::vector<std::string> controllers,
            std::vector<std::string> options = {});
  ~SimDaemon();
  SimDaemon(const SimDaemon&) = delete;
  SimDaemon& operator=(const SimDaemon&) = delete;

  // Starts it and waits until it answers; false when it did not come up.
  bool Start();
  // SIGTERM, then waits; returns the exit status (-1 when killed, absent,
  // or still running 30 s later, when it is killed and the hang reported).
  int Stop();
  // Stops the daemon's process (SIGSTOP) and lets it go on (SIGCONT). A
  // daemon left frozen is let go on before Stop's SIGTERM, never after:
  // a SIGCONT that arrives while the daemon exits would cancel the SIGSTOP
  // a leak checker sends its own threads at exit, and hang it.
  bool Freeze();
  bool Thaw();
  // Sets HYDRIX_SIM_SOCKET for this process (what the stand-in libraries read).
  void Export() const;

  const std::string& socket() const { return socket_; }
  pid_t pid() const { return pid_; }
  // What it wrote on its standard output and error.
  std::string Log() const;
  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path state() const { return folder_ / "state"; }

 private:
  std::string executable_;
  std::vector<std::string> controllers_;
  std::vector<std::string> options_;
  std::filesystem::path folder_;
  std::string socket_;
  pid_t pid_ = -1;
  bool frozen_ = false;
};

struct CommandResult {
  int status = -1;  // exit status, or -1
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs a program with arguments (no shell), with extra environment
// variables ("NAME=value"), and collects its output.
CommandResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {});

}  // namespace hx::test
