// The backend under libhxboot's entry points. The simulator backend passes
// each call to the hydrix-sim daemon whole; a device backend maps the calls
// onto boot-loader packets over a bulk transport. One backend serves the
// whole process, chosen at first use from hxusb.conf and $HYDRIX_USB_BACKEND.
// Results are those of the entry point of the same name (see hxboot.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/hxusb_config/usb_config.h"

namespace hx::boot {

class Backend {
 public:
  virtual ~Backend() = default;
  virtual std::int32_t Open(std::int32_t connection, std::int32_t interfaceSel) = 0;
  virtual void Close(std::int32_t handle) = 0;
  virtual std::int32_t SendRaw(std::int32_t handle, const std::uint8_t* data, std::int32_t count) = 0;
  virtual std::int32_t ReadRaw(std::int32_t handle, std::uint8_t* buffer, std::int32_t capacity) = 0;
  virtual std::int16_t SendGetPacket(std::int32_t handle, std::uint8_t* packet, std::int32_t sendCount,
                                     std::int32_t capacity, std::int32_t retries) = 0;
  virtual std::int16_t ReadPIC(std::int32_t handle, const std::uint8_t* request, std::uint8_t* data) = 0;
  virtual std::int16_t WritePIC(std::int32_t handle, const std::uint8_t* request,
                                const std::uint8_t* data) = 0;
  // Why the last open failed (access denied, in use, not configured), or
  // empty.
  virtual std::string Problem() { return {}; }
  // The connections whose boot loader is attached now, in bus order.
  virtual std::vector<std::int32_t> BootLoaders() { return {}; }
};

std::unique_ptr<Backend> MakeSimBackend();
// Real controllers through libusb, with the identities of `config`.
std::unique_ptr<Backend> MakeUsbBackend(usbconf::UsbConfig config);

}  // namespace hx::boot
