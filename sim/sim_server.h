// The hydrix-sim daemon: simulated controllers behind a local socket. One
// thread per connection; one lock over all controllers. Answers go to the
// process that wrote the request: two programs on one controller each read
// their own.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_device.h"
#include "sim/state_store.h"
#include "wire/sim_protocol.h"

namespace hx::sim {

struct ServerLimits {
  // Connections served at once; at the cap, a new one replaces the one idle
  // longest.
  int maxConnections = 64;
  // A connection that sends nothing for this long is closed (not one open on
  // a boot loader, which a programmer holds through its questions).
  std::chrono::milliseconds idleTimeout{60000};
};

class SimServer {
 public:
  using Limits = ServerLimits;

  SimServer(const std::vector<ControllerSpec>& controllers, std::filesystem::path stateFolder,
            Limits limits = {});
  ~SimServer();

  // Creates the socket (replacing a stale one) under a lock beside it
  // (PATH.lock, held while the daemon runs), so that of two daemons started
  // at once on one path only one serves. False with a reason.
  bool Listen(const std::string& socketPath, std::string& error);
  // Serves until Stop(); then closes every connection and saves the state.
  void Run();
  // Asks Run() to return. Safe from a signal handler.
  void Stop();

  // The dump and set commands, also used in-process by tests.
  std::string Dump(std::int32_t id, const std::string& what, Status& status);
  std::string Set(std::int32_t id, const std::string& what, const std::vector<std::string>& args,
                  Status& status);

 private:
  // Lets a harness drive requests through Handle() without a socket.
  friend struct SimServerProbe;

  struct Slot {
    Slot(const ControllerSpec& spec, const std::filesystem::path& stateFolder,
         std::chrono::steady_clock::time_point now)
        : device(spec, stateFolder, now) {}
    SimDevice device;
    // Connections open on the boot loader's interface.
    int bootConnections = 0;
    // One program on the controller: its open connections, and the answer
    // the controller holds for it and when that is ready.
    struct Host {
      int connections = 0;
      std::optional<std::vector<std::uint8_t>> pending;
      std::chrono::steady_clock::time_point readyAt;
    };
    std::map<pid_t, Host> hosts;  // by process
  };
  struct Client {
    int fd = -1;
    pid_t pid = 0;  // the peer process
    std::thread thread;
    std::atomic<bool> done{false};
    std::atomic<bool> onBootLoader{false};
    std::atomic<std::int64_t> lastActive{0};  // steady clock, ns
  };

  void Serve(Client& client);
  std::vector<std::uint8_t> Handle(std::span<const std::uint8_t> body, pid_t host, Slot*& bound,
                                   Interface& iface);
  // A connection leaves the controller it was open on (lock held).
  void Unbind(Slot* slot, pid_t host, Interface iface);
  // Makes room for one more connection (main thread).
  void MakeRoom();
  std::vector<std::uint8_t> HandleBoot(Op op, Reader& in, Slot* bound, Interface iface);
  // A connection on the boot loader's interface goes away (lock held).
  void ReleaseBoot(Slot* slot, Interface iface);
  Slot* Find(std::int32_t id);
  void JoinFinished();

  Limits limits_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::mutex mutex_;
  std::condition_variable answered_;
  std::list<Client> clients_;
  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  std::string socketPath_;
  LockFile socketLock_;
  ino_t socketInode_ = 0;
  dev_t socketDevice_ = 0;
  std::atomic<bool> stopping_{false};
};

}  // namespace hx::sim
