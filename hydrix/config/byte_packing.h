// Byte packing of controller values: little-endian byte arrays, least
// significant byte first, each element 0..255.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace hx {

// A signed 32-bit value as 4 bytes (two's complement). 1 -> 01 00 00 00.
std::array<std::uint8_t, 4> LongVersOctets(std::int32_t v);

// 4 bytes back into a signed 32-bit value; an array of any other size gives 0.
std::int32_t OctetsVersLong(std::span<const std::uint8_t> a);

// A number (a fraction is allowed) as 2 bytes (low, high). The value is first
// rounded half to even. Negative values down to -65536 are stored in two's
// complement; below that the 16 low bits of the two's complement are kept
// (the value modulo 65536). From 65536 up the low byte is kept and the high
// byte is 0. NaN and infinities give (0, 0).
std::array<std::uint8_t, 2> MotVersOctets(double v);

// 2 bytes back into a signed 16-bit value; an array of any other size gives 0.
std::int16_t OctetsVersEntier(std::span<const std::uint8_t> a);

}  // namespace hx
