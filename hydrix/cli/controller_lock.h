// One hydrixctl at a time on a controller: the commands that write an image
// read earlier hold an flock'd file "hydrixctl-<id>.lock" in the runtime
// folder from that read to the end of the write, so two of them on one
// controller take turns and both changes land.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace hx {

class ControllerLock {
 public:
  // How long a command waits for another one on the same controller.
  static constexpr std::chrono::milliseconds kWait{60000};

  ControllerLock() = default;
  ~ControllerLock();
  ControllerLock(const ControllerLock&) = delete;
  ControllerLock& operator=(const ControllerLock&) = delete;

  // Takes the lock of controller `id`, waiting at most `wait`. False, with
  // the reason in `why`, when another program kept it or the lock file
  // could not be opened. Without a runtime folder there is no lock to take
  // (true): the check before each write still refuses to undo a change.
  bool Take(std::int32_t id, std::chrono::milliseconds wait, std::string& why);

 private:
  int fd_ = -1;
};

}  // namespace hx
