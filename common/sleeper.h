// Pauses that a core must make (the pause after a reset, the waits of the
// boot-loader run) go through a sleeper, so tests need not wait.
#pragma once

#include <chrono>
#include <thread>

namespace hx {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

class RealSleeper : public Sleeper {
 public:
  void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

}  // namespace hx
