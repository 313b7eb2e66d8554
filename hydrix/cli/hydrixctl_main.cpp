#include <csignal>
#include <iostream>
#include <string>

#include "hydrix/cli/hydrixctl.h"
#include "hydrix/link/usb_library.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << "hydrixctl " HYDRIX_VERSION "\n";
    return 0;
  }
  // A reader that goes away (a closed pipe, a FIFO's reader) makes a write
  // fail with EPIPE, which is reported, instead of ending the program unseen.
  std::signal(SIGPIPE, SIG_IGN);
  // A file-size limit (ulimit -f, a quota) makes a write fail with EFBIG,
  // handled as a full disk is, instead of ending the program unseen.
  std::signal(SIGXFSZ, SIG_IGN);
  hx::UsbLibrary usb;
  return hx::RunHydrixCtl({argv + 1, argv + argc}, usb, std::cout, std::cerr);
}
