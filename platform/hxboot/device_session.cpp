#include "platform/hxboot/device_session.h"

#include <algorithm>
#include <cstring>

#include "wire/boot_protocol.h"

namespace hx::boot {

namespace {
constexpr std::int16_t kSessionWriteFailed = static_cast<std::int16_t>(0x8000 | 0x7F);
constexpr std::size_t kRowSize = 16;
// Program memory is written in whole 16-byte rows, as many as fit a packet.
constexpr std::size_t kProgramChunk = (kDeviceMaxData / kRowSize) * kRowSize;
}  // namespace

std::vector<std::uint8_t> MakeDevicePacket(std::uint8_t command, std::uint8_t length, std::uint32_t address,
                                           std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> p(5 + data.size());
  p[0] = command;
  p[1] = length;
  for (int i = 0; i < 3; ++i) p[2 + i] = static_cast<std::uint8_t>(address >> (8 * i));
  std::copy(data.begin(), data.end(), p.begin() + 5);
  return p;
}

bool BootLoaderSession::Exchange(std::span<const std::uint8_t> packet, std::span<const std::uint8_t> echo,
                                 std::span<std::uint8_t> answer, std::chrono::milliseconds timeout,
                                 int attempts) {
  std::array<std::uint8_t, kDevicePacketSize> in{};
  for (int attempt = 0; attempt < std::max(1, attempts); ++attempt) {
    if (!link_.Out(packet, timeout)) continue;
    const auto n = link_.In(in, timeout);
    // Only a time-out is worth another try; a wrong answer means the device
    // does something else than what was asked.
    if (!n) continue;
    if (*n != answer.size() || !std::equal(echo.begin(), echo.end(), in.begin())) return false;
    std::memcpy(answer.data(), in.data(), answer.size());
    return true;
  }
  return false;
}

std::int16_t BootLoaderSession::SendGetPacket(std::uint8_t* packet, std::int32_t sendCount,
                                              std::int32_t capacity, std::int32_t retries) {
  if (!packet || sendCount < 5 || sendCount > static_cast<std::int32_t>(kPacketCapacity) || capacity < 1)
    return -1;
  const auto f = ParsePacket({packet, static_cast<std::size_t>(sendCount)});
  std::array<std::uint8_t, kDevicePacketSize> answer{};
  switch (f.command) {
    case kEraseBlock: {
      const auto out = MakeDevicePacket(kDevErase, std::max<std::uint8_t>(1, f.count), f.address);
      if (!Exchange(out, std::span(out).first(1), std::span(answer).first(1), timeouts_.erase, retries))
        return -1;
      return static_cast<std::int16_t>(sendCount);
    }
    case kReadByte: {
      const auto out = MakeDevicePacket(kDevReadConfig, 1, f.address);
      if (!Exchange(out, out, std::span(answer).first(6), timeouts_.read, retries)) return -1;
      std::memcpy(packet, answer.data(), std::min<std::size_t>(6, static_cast<std::size_t>(capacity)));
      return 6;
    }
    case kWriteConfig: {
      if (sendCount < 6) return -1;
      const std::uint8_t value = f.data;
      const auto out = MakeDevicePacket(kDevWriteConfig, 1, f.address, {&value, 1});
      if (!Exchange(out, std::span(out).first(1), std::span(answer).first(1), timeouts_.read, retries))
        return -1;
      return 6;
    }
    default:
      return -1;
  }
}

std::int16_t BootLoaderSession::ReadPIC(const std::uint8_t* request, std::uint8_t* data) {
  const auto r = DecodeBootRequest(std::span<const std::uint8_t, 12>(request, 12));
  if (r.Command != kReadProgram || r.DataLength == 0 || r.Address < 0) return -1;
  std::array<std::uint8_t, kDevicePacketSize> answer{};
  for (std::size_t done = 0; done < r.DataLength;) {
    const auto address = static_cast<std::uint32_t>(r.Address) + static_cast<std::uint32_t>(done);
    const auto n = std::min<std::size_t>(kDeviceMaxData, r.DataLength - done);
    const auto command = address >= kConfigSpaceBase ? kDevReadConfig : kDevReadProgram;
    const auto out = MakeDevicePacket(command, static_cast<std::uint8_t>(n), address);
    if (!Exchange(out, out, std::span(answer).first(5 + n), timeouts_.read, std::max<int>(1, r.Retries)))
      return -1;
    std::memcpy(data + done, answer.data() + 5, n);
    done += n;
  }
  return r.DataLength;
}

std::int16_t BootLoaderSession::WritePIC(const std::uint8_t* request, const std::uint8_t* data) {
  const auto r = DecodeBootRequest(std::span<const std::uint8_t, 12>(request, 12));
  if (r.Address < 0) return kSessionWriteFailed;
  std::uint8_t command = 0;
  std::size_t chunk = 0;
  if (r.Command == kWriteProgram) {
    // The boot loader programs whole rows only.
    if (r.Address % kRowSize != 0 || r.DataLength % kRowSize != 0) return kSessionWriteFailed;
    command = kDevWriteProgram;
    chunk = kProgramChunk;
  } else if (r.Command == kWriteEeprom) {
    command = kDevWriteEeprom;
    chunk = kDeviceMaxData;
  } else {
    return kSessionWriteFailed;
  }
  std::array<std::uint8_t, 1> answer{};
  for (std::size_t done = 0; done < r.DataLength;) {
    const auto address = static_cast<std::uint32_t>(r.Address) + static_cast<std::uint32_t>(done);
    const auto n = std::min<std::size_t>(chunk, r.DataLength - done);
    const auto out = MakeDevicePacket(command, static_cast<std::uint8_t>(n), address, {data + done, n});
    if (!Exchange(out, std::span(out).first(1), answer, timeouts_.read, std::max<int>(1, r.Retries))) {
      return kSessionWriteFailed;
    }
    done += n;
  }
  // Only a write that covers the flag's byte wrote the flag.
  const auto first = static_cast<std::uint32_t>(r.Address);
  if (command == kDevWriteEeprom && first <= kBootFlagAddress && kBootFlagAddress < first + r.DataLength) {
    bootFlagWritten_ = true;
  }
  return r.DataLength;
}

void BootLoaderSession::Reset() {
  const auto out = MakeDevicePacket(kDevReset, 0, 0);
  link_.Out(out, timeouts_.read);
}

}  // namespace hx::boot
