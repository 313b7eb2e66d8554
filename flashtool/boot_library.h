// The boot-loader library as the run sees it. One implementation binds
// libhxboot.so by name (hxboot_binding.h); tests use fakes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "wire/boot_protocol.h"

namespace hx::flash {

class BootLibrary {
 public:
  virtual ~BootLibrary() = default;
  // False, with a one-line reason, when the library cannot be used at all.
  virtual bool Ready(std::string& error) = 0;
  virtual std::int32_t OpenPIC(std::int32_t connection, std::int32_t reserved, std::int32_t interfaceSel) = 0;
  virtual void ClosePIC(std::int32_t handle) = 0;
  virtual std::int32_t SendRawData(std::int32_t handle, std::span<const std::uint8_t> data) = 0;
  // `received` gets the number of bytes placed in `buffer`.
  virtual std::int32_t ReadRawData(std::int32_t handle, std::span<std::uint8_t> buffer,
                                   std::int32_t& received) = 0;
  // Sends the first `sendCount` bytes of `packet`; the answer comes back in it.
  virtual std::int16_t SendGetPacket(std::int32_t handle, boot::Packet& packet, int sendCount, int capacity,
                                     int retries) = 0;
  // `data` holds at least request.DataLength bytes.
  virtual std::int16_t ReadPIC(std::int32_t handle, const boot::RequestBytes& request,
                               std::span<std::uint8_t> data) = 0;
  virtual std::int16_t WritePIC(std::int32_t handle, const boot::RequestBytes& request,
                                std::span<const std::uint8_t> data) = 0;
  // Why the last OpenPIC failed, when the library can tell; else empty.
  virtual std::string Problem() { return {}; }
  // The connections whose boot loader is attached now; empty when none or
  // when the library cannot tell.
  virtual std::vector<std::int32_t> BootLoaders() { return {}; }
};

}  // namespace hx::flash
