#include <signal.h>

#include <atomic>
#include <iostream>
#include <string>

#include "hydrix/link/usb_library.h"
#include "hydrix/monitor/monitor_service.h"

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Only a lock-free store: safe in a signal handler. The main loop looks at
// the flag at least every tenth of a second.
extern "C" void RequestStop(int) { stopRequested.store(true); }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << "hydrix-monitor " HYDRIX_VERSION "\n";
    return 0;
  }
  // A broker that closes the connection while a message is written makes
  // the write fail (and the client reconnect) instead of ending the program.
  ::signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a wait in progress ends at once
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  hx::UsbLibrary usb;
  return hx::RunMonitor({argv + 1, argv + argc}, usb, std::cout, std::cerr, stopRequested);
}
