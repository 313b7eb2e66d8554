#include "hydrix/config/byte_packing.h"

#include <cmath>

#include "common/numbers.h"

namespace hx {

std::array<std::uint8_t, 4> LongVersOctets(std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  return {static_cast<std::uint8_t>(u & 0xFF), static_cast<std::uint8_t>((u >> 8) & 0xFF),
          static_cast<std::uint8_t>((u >> 16) & 0xFF), static_cast<std::uint8_t>((u >> 24) & 0xFF)};
}

std::int32_t OctetsVersLong(std::span<const std::uint8_t> a) {
  if (a.size() != 4) return 0;
  const std::uint32_t u = static_cast<std::uint32_t>(a[0]) | (static_cast<std::uint32_t>(a[1]) << 8) |
                          (static_cast<std::uint32_t>(a[2]) << 16) |
                          (static_cast<std::uint32_t>(a[3]) << 24);
  return static_cast<std::int32_t>(u);
}

std::array<std::uint8_t, 2> MotVersOctets(double v) {
  if (!std::isfinite(v)) return {0, 0};
  // Round before splitting: splitting first would lose 256 whenever the
  // rounding of the fraction carries into the high byte (255.7 -> 0).
  const double r = RoundHalfEven(v);
  if (r < 0) {
    // Two's complement of the 16 low bits; for -65536..-1 this is r + 65536.
    double m = std::fmod(r, 65536.0);
    if (m < 0) m += 65536.0;
    const auto w = static_cast<std::uint32_t>(m);
    return {static_cast<std::uint8_t>(w & 0xFF), static_cast<std::uint8_t>(w >> 8)};
  }
  const double low = std::fmod(r, 256.0);
  const double high = std::floor(r / 256.0);
  return {static_cast<std::uint8_t>(low), static_cast<std::uint8_t>(high <= 255.0 ? high : 0.0)};
}

std::int16_t OctetsVersEntier(std::span<const std::uint8_t> a) {
  if (a.size() != 2) return 0;
  const auto u = static_cast<std::uint16_t>(a[0] | (a[1] << 8));
  return static_cast<std::int16_t>(u);
}

}  // namespace hx
