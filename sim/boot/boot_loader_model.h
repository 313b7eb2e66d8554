// The simulated USB boot loader of a PIC18 part: it answers the boot-loader
// library's requests and packets (device ID read, configuration bytes, block
// erase, 16-byte row programming, data EEPROM writes) on a model of the chip's
// memories. Flash behaves as PIC18 flash does: an erase sets a whole block to
// 0xFF and programming can only clear bits. The boot block is protected.
// The data EEPROM belongs to the controller (it holds the application's
// settings, the boot flag at 0xFF): the model works on the controller's array.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "wire/boot_memory_map.h"
#include "wire/boot_protocol.h"

namespace hx::sim {

// The boot loader's memory map, as the model names it.
using boot::kApplicationResetVector;
using boot::kBootFlagAddress;
using boot::kConfigBase;
using boot::kUserIdBase;
inline constexpr std::uint32_t kDeviceIdBase = boot::kDeviceIdAddress;
inline constexpr std::uint32_t kUserIdSize = 8;
inline constexpr std::uint32_t kConfigSize = 14;

struct ChipModel {
  std::string name;
  std::uint16_t deviceId = 0;          // the ID word: device code × 32 + revision
  std::uint32_t flashSize = 0;         // bytes
  std::uint32_t bootBlockEnd = 0x200;  // 0 .. bootBlockEnd-1 cannot be erased or written
  std::uint32_t eraseBlock = 64;
  std::array<std::uint8_t, kConfigSize> configDefaults{};
};

// The PIC18 USB parts the model knows (PIC18F2455/2550/4455/4550 and
// 2458/2553/4458/4553), by name; nullptr when unknown. `revision` (0-31)
// goes into the ID word.
std::optional<ChipModel> FindChip(std::string_view name, std::uint8_t revision = 7);
ChipModel DefaultChip();  // PIC18F2550

// Failure results (SendGetPacket and ReadPIC: negative; WritePIC: bit 15 set).
inline constexpr std::int16_t kBadRequest = -1;
inline constexpr std::int16_t kProtected = -2;
inline constexpr std::int16_t kOutOfRange = -3;
inline constexpr std::int16_t kFault = -4;
inline constexpr std::int16_t kNoAnswer = -5;  // the cut fault: the boot loader is gone
inline constexpr std::int16_t kWriteFailed = static_cast<std::int16_t>(0x8000);

class BootLoaderModel {
 public:
  BootLoaderModel(ChipModel chip, std::array<std::uint8_t, 256>& eeprom);

  // The three request forms of the boot-loader library.
  // Packet commands 3 (erase), 6 (read one byte), 7 (write a configuration
  // byte); the answer goes back into `packet`. Returns the answer length.
  std::int16_t SendGetPacket(std::span<std::uint8_t> packet, int sendCount);
  // Command 1: DataLength bytes from Address. Returns DataLength.
  std::int16_t ReadPIC(const boot::RequestBytes& request, std::span<std::uint8_t> data);
  // Commands 2 (program memory) and 5 (data EEPROM). Returns DataLength.
  std::int16_t WritePIC(const boot::RequestBytes& request, std::span<const std::uint8_t> data);

  // The byte at any readable address (flash, user ID, configuration, device ID).
  std::optional<std::uint8_t> ReadByte(std::uint32_t address) const;

  const ChipModel& Chip() const { return chip_; }
  std::span<const std::uint8_t> Flash() const { return flash_; }
  std::span<const std::uint8_t, kConfigSize> Config() const { return config_; }
  const std::array<std::uint8_t, 256>& Eeprom() const { return eeprom_; }

  // Factory programming, beside the boot loader: puts bytes into flash as a
  // programmer would (no protection, bits only cleared).
  void Program(std::uint32_t address, std::span<const std::uint8_t> bytes);
  // A small application: a GOTO at the reset vector 0x000200 and a few words.
  void InstallApplication();

  // True when an application is there, tested as the programmer tests it:
  // the byte at 0x000201 (the high byte of the reset vector's GOTO) is 0xEF.
  bool ApplicationPresent() const;
  // What a reset of the boot loader does: the application starts when the
  // boot flag (EEPROM 0xFF) is not 0xFF and an application is present;
  // otherwise the boot loader stays.
  bool StartsApplication() const;
  // How many writes touched the boot flag (EEPROM 0xFF) since the last Reset.
  int BootFlagWrites() const { return bootFlagWrites_; }
  void ResetBootFlagWrites() { bootFlagWrites_ = 0; }

  // Faults on demand.
  void FailConfigWrites(int count) { configFailures_ = count; }
  void FailEraseAt(std::optional<std::uint32_t> address) { eraseFault_ = address; }
  void FailWriteAt(std::optional<std::uint32_t> address) { writeFault_ = address; }
  // Programming the 16-byte row holding `address` reports success but leaves
  // the row as it was.
  void StickRowAt(std::optional<std::uint32_t> address) { stuck_ = address; }
  // The boot loader stops answering at its `n`-th request from now (1: the
  // next one) and stays silent until the fault is cleared.
  void CutAt(std::optional<int> n);
  // True once a cut fault has struck: the boot loader answers nothing.
  bool IsCut() const { return cut_; }
  void ClearFaults();

  // State kept in `folder`: flash.bin and config.bin. Saving writes each file
  // under a temporary name first. Loading a folder without those files keeps
  // the current contents; a file of the wrong size is refused and nothing
  // changes.
  bool Save(const std::filesystem::path& folder, std::string& error) const;
  bool Load(const std::filesystem::path& folder, std::string& error);

 private:
  bool InBootBlock(std::uint32_t first) const;
  // Counts one request against the cut fault; false when it goes unanswered.
  bool Answers();

  ChipModel chip_;
  std::array<std::uint8_t, 256>& eeprom_;
  std::vector<std::uint8_t> flash_;
  std::array<std::uint8_t, kConfigSize> config_{};
  std::array<std::uint8_t, kUserIdSize> userId_{};
  int bootFlagWrites_ = 0;
  int configFailures_ = 0;
  std::optional<std::uint32_t> eraseFault_, writeFault_, stuck_;
  std::optional<int> cutAt_;
  int requestsSinceCut_ = 0;
  bool cut_ = false;
};

// Memory as text: 16 hex bytes a line, each line prefixed by its address
// ("000200: EF 00 ..."), for the daemon's dump command.
std::string DumpBytes(std::uint32_t baseAddress, std::span<const std::uint8_t> bytes);

}  // namespace hx::sim
