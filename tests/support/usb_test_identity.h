// The application identity the USB tests configure, and a fake controller
// of that identity on the umockdev bed.
#pragma once

#include <string>
#include <vector>

#include "platform/hxusb_config/usb_config.h"
#include "support/usb_testbed.h"

namespace hx::testing {

inline constexpr std::uint16_t kAppVendor = 0x1209, kAppProduct = 0x7A01;

// The usb backend with the test application identity.
inline usbconf::UsbConfig AppUsbConfig() {
  usbconf::UsbConfig c;
  c.backend = usbconf::Backend::Usb;
  c.application = {kAppVendor, kAppProduct, 0, 0x01, 0x81, true};
  return c;
}

// A controller running its application at `ports`, with `serial` (none when empty).
inline FakeUsbSpec AppSpec(std::vector<int> ports, int address, std::string serial = {}) {
  return {.vendor = kAppVendor,
          .product = kAppProduct,
          .serial = std::move(serial),
          .ports = std::move(ports),
          .address = address};
}

}  // namespace hx::testing
