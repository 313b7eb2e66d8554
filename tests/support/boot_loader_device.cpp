#include "support/boot_loader_device.h"

#include "platform/hxboot/device_session.h"
#include "wire/boot_protocol.h"

namespace hx::testing {

using namespace hx::boot;

std::optional<std::vector<std::uint8_t>> BootLoaderDevice::Answer(std::span<const std::uint8_t> p) {
  if (reset || p.size() < 5) return std::nullopt;
  const std::uint8_t cmd = p[0], len = p[1];
  const std::uint32_t address = p[2] | (p[3] << 8) | (p[4] << 16);
  std::vector<std::uint8_t> header(p.begin(), p.begin() + 5);
  const std::vector<std::uint8_t> echo{cmd};
  switch (cmd) {
    case kDevReadProgram:
    case kDevReadConfig:
      for (std::uint32_t i = 0; i < len; ++i) header.push_back(model.ReadByte(address + i).value_or(0));
      return header;
    case kDevWriteProgram:
    case kDevWriteEeprom: {
      if (p.size() < 5u + len) return std::nullopt;
      const auto r = EncodeBootRequest(
          {cmd == kDevWriteProgram ? kWriteProgram : kWriteEeprom, len, static_cast<std::int32_t>(address)});
      return model.WritePIC(r, p.subspan(5, len)) == len ? std::optional(echo) : std::nullopt;
    }
    case kDevErase:
      for (std::uint32_t b = 0; b < len; ++b) {
        auto e = MakeErasePacket(address + 64 * b);
        if (model.SendGetPacket(e, kErasePacketLength) < 0) return std::nullopt;
      }
      return echo;
    case kDevWriteConfig: {
      if (p.size() < 6) return std::nullopt;
      auto w = MakeWriteConfigPacket(address, p[5]);
      return model.SendGetPacket(w, kWriteConfigPacketLength) >= 0 ? std::optional(echo) : std::nullopt;
    }
    case kDevReset:
      reset = true;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace hx::testing
