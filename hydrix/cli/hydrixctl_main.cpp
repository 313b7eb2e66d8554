#include <iostream>

#include "hydrix/cli/hydrixctl.h"
#include "hydrix/link/usb_library.h"

int main(int argc, char** argv) {
  hx::UsbLibrary usb;
  return hx::RunHydrixCtl({argv + 1, argv + argc}, usb, std::cout, std::cerr);
}
