// The boot loader's own packets on the wire, and the mapping of the
// library's calls (SendGetPacket, ReadPIC, WritePIC) onto them over a bulk
// link. A packet is [command, length, address bits 0-7, 8-15, 16-23, data],
// at most 59 data bytes. Reads answer with the 5-byte header echoed, then the
// data; writes and erases answer with one byte echoing the command.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/hxusb_device/bulk_link.h"
#include "wire/boot_memory_map.h"

namespace hx::boot {

inline constexpr std::size_t kDevicePacketSize = 64;
inline constexpr std::size_t kDeviceMaxData = 59;
inline constexpr std::uint8_t kDevVersion = 0x00;
inline constexpr std::uint8_t kDevReadProgram = 0x01;
inline constexpr std::uint8_t kDevWriteProgram = 0x02;
inline constexpr std::uint8_t kDevErase = 0x03;
inline constexpr std::uint8_t kDevReadEeprom = 0x04;
inline constexpr std::uint8_t kDevWriteEeprom = 0x05;
inline constexpr std::uint8_t kDevReadConfig = 0x06;
inline constexpr std::uint8_t kDevWriteConfig = 0x07;
inline constexpr std::uint8_t kDevReset = 0xFF;
// Addresses from here on (user ID, configuration, device ID) are read with
// kDevReadConfig; program memory below with kDevReadProgram.
inline constexpr std::uint32_t kConfigSpaceBase = kUserIdBase;

// One packet: the 5-byte header, then `data`.
std::vector<std::uint8_t> MakeDevicePacket(std::uint8_t command, std::uint8_t length, std::uint32_t address,
                                           std::span<const std::uint8_t> data = {});

using BulkLink = hx::usb::BulkLink;

struct SessionTimeouts {
  std::chrono::milliseconds read{1000};
  // An erase answers only once the blocks are erased.
  std::chrono::milliseconds erase{5000};
};

// The library's calls over a boot loader's link; results as in hxboot.h.
class BootLoaderSession {
 public:
  explicit BootLoaderSession(BulkLink& link, SessionTimeouts timeouts = {})
      : link_(link), timeouts_(timeouts) {}
  std::int16_t SendGetPacket(std::uint8_t* packet, std::int32_t sendCount, std::int32_t capacity,
                             std::int32_t retries);
  std::int16_t ReadPIC(const std::uint8_t* request, std::uint8_t* data);
  std::int16_t WritePIC(const std::uint8_t* request, const std::uint8_t* data);
  // True once this session wrote the boot flag (data EEPROM 0xFF).
  bool BootFlagWritten() const { return bootFlagWritten_; }
  // Restarts the device (the reset packet, which gets no answer: the boot
  // loader leaves the bus and the application starts if the flag says so).
  void Reset();

 private:
  // Sends one packet and receives an answer of exactly `answerLength` bytes
  // starting with `echo` (the whole header for reads); tried `attempts` times.
  bool Exchange(std::span<const std::uint8_t> packet, std::span<const std::uint8_t> echo,
                std::span<std::uint8_t> answer, std::chrono::milliseconds timeout, int attempts);

  BulkLink& link_;
  SessionTimeouts timeouts_;
  bool bootFlagWritten_ = false;
};

}  // namespace hx::boot
