#include "wire/boot_protocol.h"

#include <algorithm>

namespace hx::boot {

RequestBytes EncodeBootRequest(const BootRequest& r) {
  RequestBytes b{};
  b[0] = r.Command;
  b[1] = r.DataLength;
  const auto a = static_cast<std::uint32_t>(r.Address);
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<std::uint8_t>(a >> (8 * i));
  b[8] = r.BlockSize;
  b[9] = r.BytesPerAddr;
  const auto retries = static_cast<std::uint16_t>(r.Retries);
  b[10] = static_cast<std::uint8_t>(retries);
  b[11] = static_cast<std::uint8_t>(retries >> 8);
  return b;
}

BootRequest DecodeBootRequest(std::span<const std::uint8_t, 12> b) {
  BootRequest r;
  r.Command = b[0];
  r.DataLength = b[1];
  std::uint32_t a = 0;
  for (int i = 0; i < 4; ++i) a |= static_cast<std::uint32_t>(b[4 + i]) << (8 * i);
  r.Address = static_cast<std::int32_t>(a);
  r.BlockSize = b[8];
  r.BytesPerAddr = b[9];
  r.Retries = static_cast<std::int16_t>(static_cast<std::uint16_t>(b[10] | (b[11] << 8)));
  return r;
}

std::vector<std::uint8_t> MakeBootCommand(std::uint16_t commandValue, std::size_t length) {
  std::vector<std::uint8_t> buffer(kBootCommandBufferSize, 0);
  buffer[0] = static_cast<std::uint8_t>(commandValue & 0xFF);
  buffer[1] = 0x55;
  buffer[2] = 0xAA;
  buffer.resize(std::min(length, kBootCommandBufferSize));
  return buffer;
}

bool IsBootCommand(std::span<const std::uint8_t> data, std::uint8_t commandValueLow) {
  if (data.size() < 3 || data[0] != commandValueLow || data[1] != 0x55 || data[2] != 0xAA) return false;
  return std::all_of(data.begin() + 3, data.end(), [](std::uint8_t b) { return b == 0; });
}

namespace {
Packet MakePacket(std::uint8_t command, std::uint32_t address, std::uint8_t data) {
  Packet p{};
  p[0] = command;
  p[1] = 1;
  p[2] = static_cast<std::uint8_t>(address);
  p[3] = static_cast<std::uint8_t>(address >> 8);
  p[4] = static_cast<std::uint8_t>(address >> 16);
  p[5] = data;
  return p;
}
}  // namespace

Packet MakeErasePacket(std::uint32_t address) { return MakePacket(kEraseBlock, address, 0); }
Packet MakeReadBytePacket(std::uint32_t address) { return MakePacket(kReadByte, address, 0); }
Packet MakeWriteConfigPacket(std::uint32_t address, std::uint8_t value) {
  return MakePacket(kWriteConfig, address, value);
}

PacketFields ParsePacket(std::span<const std::uint8_t> p) {
  PacketFields f;
  if (p.size() < 5) return f;
  f.command = p[0];
  f.count = p[1];
  f.address = p[2] | (static_cast<std::uint32_t>(p[3]) << 8) | (static_cast<std::uint32_t>(p[4]) << 16);
  f.data = p.size() > 5 ? p[5] : 0;
  return f;
}

}  // namespace hx::boot
