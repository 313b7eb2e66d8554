// The request and packet layouts of the boot-loader library: what the
// programmer hands to ReadPIC/WritePIC and SendGetPacket, and what the
// library, the daemon and the simulated boot loader read back. Layouts are
// built and parsed only here.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace hx::boot {

// Command codes of the boot loader.
inline constexpr std::uint8_t kReadProgram = 1;   // ReadPIC: program memory, IDs, config
inline constexpr std::uint8_t kWriteProgram = 2;  // WritePIC: 16 bytes of program memory
inline constexpr std::uint8_t kEraseBlock = 3;    // SendGetPacket, 5 bytes
inline constexpr std::uint8_t kWriteEeprom = 5;   // WritePIC: data EEPROM
inline constexpr std::uint8_t kReadByte = 6;      // SendGetPacket, 5 bytes; answer in byte 5
inline constexpr std::uint8_t kWriteConfig = 7;   // SendGetPacket, 6 bytes

// OpenPIC's last argument: which firmware interface to open.
inline constexpr std::int32_t kApplicationInterface = 250;  // running application (boot command, spy)
inline constexpr std::int32_t kBootLoaderInterface = 150;   // boot loader (identification, programming)
// OpenPIC's result when another program holds the boot loader: one
// programming run per controller.
inline constexpr std::int32_t kOpenBusy = -2;

inline constexpr std::size_t kBootCommandBufferSize = 51;
inline constexpr std::size_t kPacketSize = 6;        // command, count, 3 address bytes, data
inline constexpr std::size_t kPacketCapacity = 255;  // answer capacity of SendGetPacket
inline constexpr std::size_t kRawBufferSize = 257;   // ReadRawData's buffer

// The 12-byte record handed to ReadPIC and WritePIC (little-endian):
// 0 Command, 1 DataLength, 2-3 zero, 4-7 Address (signed 32-bit),
// 8 BlockSize, 9 BytesPerAddr, 10-11 Retries (signed 16-bit).
struct BootRequest {
  std::uint8_t Command = 0;
  std::uint8_t DataLength = 0;
  std::int32_t Address = 0;
  std::uint8_t BlockSize = 1;
  std::uint8_t BytesPerAddr = 1;
  std::int16_t Retries = 0;
  bool operator==(const BootRequest&) const = default;
};
using RequestBytes = std::array<std::uint8_t, 12>;

RequestBytes EncodeBootRequest(const BootRequest& request);
BootRequest DecodeBootRequest(std::span<const std::uint8_t, 12> bytes);

// The boot command: a zero-filled 51-byte buffer starting with the low byte
// of the product's command value, 0x55 and 0xAA, of which the first `length`
// bytes are sent (length is capped at the buffer size).
std::vector<std::uint8_t> MakeBootCommand(std::uint16_t commandValue, std::size_t length);
// True when `data` is a boot command for `commandValue` as MakeBootCommand
// builds it (at least the three leading bytes, zeros after them).
bool IsBootCommand(std::span<const std::uint8_t> data, std::uint8_t commandValueLow);

// SendGetPacket packets: [command, 1, address bits 0-7, 8-15, 16-23, data].
// The buffer is kPacketCapacity bytes long so the answer fits in it.
using Packet = std::array<std::uint8_t, kPacketCapacity>;
Packet MakeErasePacket(std::uint32_t address);                            // 5 bytes sent
Packet MakeReadBytePacket(std::uint32_t address);                         // 5 bytes sent
Packet MakeWriteConfigPacket(std::uint32_t address, std::uint8_t value);  // 6 bytes sent
inline constexpr int kErasePacketLength = 5;
inline constexpr int kReadBytePacketLength = 5;
inline constexpr int kWriteConfigPacketLength = 6;

struct PacketFields {
  std::uint8_t command = 0;
  std::uint8_t count = 0;
  std::uint32_t address = 0;  // 24 bits
  std::uint8_t data = 0;      // byte 5 (the value written, or the first answer byte)
};
// Reads the fields of a packet of at least 5 bytes (data is 0 when absent).
PacketFields ParsePacket(std::span<const std::uint8_t> packet);
// The first answer data byte of a read packet.
inline std::uint8_t PacketAnswerByte(const Packet& packet) { return packet[5]; }

}  // namespace hx::boot
