#include <iostream>

#include "hydrix/cli/hydrixctl.h"
#include "hydrix/link/usb_library.h"

int main(int argc, char** argv) {
  hx::UsbLibrary usb;
  hx::CodeMessageSource messages;
  return hx::RunHydrixCtl({argv + 1, argv + argc}, usb, messages, std::cout, std::cerr);
}
