// The transport under libhxusbif's entry points: enumerate, open, bulk out,
// bulk in with a time-out, close. One backend serves the whole process,
// chosen at first use from hxusb.conf and $HYDRIX_USB_BACKEND.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/hxusb_config/usb_config.h"

namespace hx::usbif {

class Transport {
 public:
  virtual ~Transport() = default;
  // The unique identifiers of the attached controllers (empty when none or
  // when the backend cannot be reached; Problem() then says why).
  virtual std::vector<std::int32_t> Enumerate() = 0;
  // A handle of 1 or more on that controller, or -1.
  virtual std::int32_t Open(std::int32_t uniqueId) = 0;
  // Sends one request; false on failure.
  virtual bool Write(std::int32_t handle, std::span<const std::uint8_t> data) = 0;
  // Receives one answer into `buffer`, waiting at most `timeout` (0 means
  // the backend's default). The byte count (0 when none came), or nothing on failure.
  virtual std::optional<std::size_t> Read(std::int32_t handle, std::span<std::uint8_t> buffer,
                                          std::chrono::milliseconds timeout) = 0;
  virtual bool Cancel(std::int32_t handle) = 0;
  virtual bool Close(std::int32_t handle) = 0;
  // Why the backend could not be reached at the last call that needed it.
  virtual std::string Problem() = 0;
};

// Today's backend: the hydrix-sim daemon.
std::unique_ptr<Transport> MakeSimTransport();
// How long the USB backend keeps a controller claimed after its last handle
// closed, so that exchanges in a row do not reopen it each time.
inline constexpr std::chrono::milliseconds kKeepClaimed{100};

// Real controllers through libusb: the application identity of `config`.
// A controller stays claimed `keep` after its last handle closed (0: it is
// released at once); a thread of the transport's own releases it.
std::unique_ptr<Transport> MakeUsbTransport(usbconf::UsbConfig config,
                                            std::chrono::milliseconds keep = kKeepClaimed);

}  // namespace hx::usbif
