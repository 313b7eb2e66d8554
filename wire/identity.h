// The controller's identity probe, shared by hydrix (device selection) and
// flashtool (its controller list): the 12-byte request, the product names of
// the device type codes and the text of a 5-byte answer.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace hx {

// The probe: 0xF0 then the filler bytes 1 to 11.
std::array<std::uint8_t, 12> FrameIdentity();

// Length of the identity answer in bytes (byte 0 unused).
inline constexpr std::int16_t kIdentityAnswerLength = 5;

// Display name of a device type code ("Hydrix" for 11, "Generic Ostrel" for
// codes without a name of their own).
std::string NomAppareil(int code);

// The probe's text from the 5-byte identity answer: name, " (", type code,
// ") ", major, ".", byte 4, byte 3. 0,1,11,5,0 gives "Hydrix (11) 1.05".
// Missing bytes count as 0.
std::string IdentityText(std::span<const std::uint8_t> answer);

}  // namespace hx
