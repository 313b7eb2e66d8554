// The hydrix-sim daemon: simulated controllers behind a local socket. One
// thread per connection; one lock over all controllers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_device.h"
#include "sim/sim_protocol.h"

namespace hx::sim {

class SimServer {
 public:
  SimServer(const std::vector<ControllerSpec>& controllers, std::filesystem::path stateFolder);
  ~SimServer();

  // Creates the socket (replacing a stale one). False with a reason.
  bool Listen(const std::string& socketPath, std::string& error);
  // Serves until Stop(); then closes every connection and saves the state.
  void Run();
  // Asks Run() to return. Safe from a signal handler.
  void Stop();

  // The dump and set commands, also used in-process by tests.
  std::string Dump(std::int32_t id, const std::string& what, Status& status);
  std::string Set(std::int32_t id, const std::string& what, const std::vector<std::string>& args, Status& status);

 private:
  struct Slot {
    Slot(const ControllerSpec& spec, const std::filesystem::path& stateFolder,
         std::chrono::steady_clock::time_point now)
        : device(spec, stateFolder, now) {}
    SimDevice device;
    // Connections open on the boot loader's interface.
    int bootConnections = 0;
    // The answer the controller holds for the host, and when it is ready.
    std::optional<std::vector<std::uint8_t>> pending;
    std::chrono::steady_clock::time_point readyAt;
  };
  struct Client {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void Serve(Client& client);
  std::vector<std::uint8_t> Handle(std::span<const std::uint8_t> body, Slot*& bound, Interface& iface);
  std::vector<std::uint8_t> HandleBoot(Op op, Reader& in, Slot* bound, Interface iface);
  // A connection on the boot loader's interface goes away (lock held).
  void ReleaseBoot(Slot* slot, Interface iface);
  Slot* Find(std::int32_t id);
  void JoinFinished();

  std::vector<std::unique_ptr<Slot>> slots_;
  std::mutex mutex_;
  std::condition_variable answered_;
  std::list<Client> clients_;
  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  std::string socketPath_;
  std::atomic<bool> stopping_{false};
};

}  // namespace hx::sim
