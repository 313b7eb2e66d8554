// One end of a bulk pipe pair to a USB device: what the boot loader's packet
// mapping and the USB backends exchange bytes through. Tests use fakes.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace hx::usb {

class BulkLink {
 public:
  virtual ~BulkLink() = default;
  // Sends `bytes` as one transfer; false when not all of them went out.
  virtual bool Out(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) = 0;
  // The bytes of one transfer received into `buffer`, or nothing when no
  // answer came within `timeout` or the device is gone.
  virtual std::optional<std::size_t> In(std::span<std::uint8_t> buffer,
                                        std::chrono::milliseconds timeout) = 0;
};

}  // namespace hx::usb
