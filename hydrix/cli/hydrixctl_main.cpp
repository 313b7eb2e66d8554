#include <csignal>
#include <iostream>

#include "hydrix/cli/hydrixctl.h"
#include "hydrix/link/usb_library.h"

int main(int argc, char** argv) {
  // A reader that goes away (a closed pipe, a FIFO's reader) makes a write
  // fail with EPIPE, which is reported, instead of ending the program unseen.
  std::signal(SIGPIPE, SIG_IGN);
  hx::UsbLibrary usb;
  return hx::RunHydrixCtl({argv + 1, argv + argc}, usb, std::cout, std::cerr);
}
