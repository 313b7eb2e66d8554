// The memory map of the PIC18 USB boot loader: the addresses the programmer,
// its HEX loader, the boot-loader library and the simulated boot loader agree
// on. Program memory, user ID, configuration and device ID share one 24-bit
// address space; data EEPROM has addresses of its own (0 to 255).
#pragma once

#include <cstdint>

namespace hx::boot {

// The application's reset vector: the boot block ends here and the
// application starts with a GOTO at this address.
inline constexpr std::uint32_t kApplicationResetVector = 0x000200;
// The byte that tells whether an application is present: the high byte of
// the reset vector's GOTO, which reads kGotoOpcode when one was programmed.
inline constexpr std::uint32_t kApplicationCheckAddress = kApplicationResetVector + 1;
inline constexpr std::uint8_t kGotoOpcode = 0xEF;

// The user ID bytes; program memory lies below them. From here on the boot
// loader reads with its configuration-space command.
inline constexpr std::uint32_t kUserIdBase = 0x200000;
// The configuration bytes (CONFIG1L at +0 ... CONFIG7H at +13).
inline constexpr std::uint32_t kConfigBase = 0x300000;
// The device ID word, low byte first: device code × 32 + revision.
inline constexpr std::uint32_t kDeviceIdAddress = 0x3FFFFE;

// Where a HEX file places data EEPROM; on the wire its addresses start at 0.
inline constexpr std::uint32_t kEepromHexBase = 0xF00000;
// How far each memory above program memory reaches in a HEX file.
inline constexpr std::uint32_t kHexRegionSize = 0x10000;

// The boot flag's address in data EEPROM: the boot loader hands over to the
// application only when it is not 0xFF.
inline constexpr std::uint32_t kBootFlagAddress = 0xFF;

// The address of the 16-byte row that holds a 24-bit address.
inline constexpr std::uint32_t kRowAddressMask = 0xFFFFF0;

}  // namespace hx::boot
