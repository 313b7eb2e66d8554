// The chip operations of a run over the boot-loader library: the boot
// command to the application, then one connection to the boot loader and
// the requests made on it (device ID, configuration bytes with their
// reconnects, erase, programming from the program-memory list, read-back,
// flash marker, boot flag), with the figures the run reports. Results are
// the library's own: negative, or bit 15 set, on failure.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <span>
#include <string>

#include "flashtool/boot_library.h"
#include "flashtool/chip_info.h"
#include "flashtool/flash_ui.h"

namespace hx::flash {

// The CRC-32 (IEEE 802.3, as zip computes it) of `bytes`, continuing `crc`.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

class BootSession {
 public:
  // List files are read from `listFolder`. `cancelled` is asked between the
  // requests of EraseFlash and ProgramFlash; true ends them with a failure.
  BootSession(BootLibrary& library, FlashUi& ui, FlashClock& clock, std::filesystem::path listFolder,
              std::function<bool()> cancelled);

  // Starts a run on connection `usbId`: three reconnects, no byte counted.
  void Begin(std::int32_t usbId);
  // The chip the requests are for (erase block, top of program memory,
  // bytes per address).
  void SetChip(const DeviceInfo& info) { info_ = info; }
  const DeviceInfo& Chip() const { return info_; }

  // Opens the application's interface, sends the boot command (`length`
  // bytes for `value`) and closes it again; false when it did not open.
  bool SendBootCommand(std::uint16_t value, std::uint8_t length);
  // OpenPIC on the boot loader's interface: the library's result, not kept.
  std::int32_t OpenBootLoader();
  // Makes `handle` the connection every request goes to.
  void SetHandle(std::int32_t handle) { handle_ = handle; }
  std::int32_t Handle() const { return handle_; }
  // If the handle is 1 or more, closes it and sets it to 0.
  void CloseDevice();

  // Waits `ms` milliseconds, processing window events.
  void WaitMs(std::int64_t ms);
  // Waits until the clock's seconds have moved on by `seconds` (a wait of
  // seconds-1 to seconds).
  void WaitSecondsAdvance(int seconds);

  // Reads the list `name` of the list folder whole and keeps it for
  // ProgramFlash, so that it stays this run's own; nothing is kept when it
  // cannot be read.
  void KeepList(const std::string& name);
  // The list kept, for reading (the caller rewinds it); nullptr when none.
  std::istream* KeptList() { return list_.get(); }

  // The device ID word (0 to 65535), or -1.
  std::int32_t ReadDeviceId();
  // The byte at `address`, or the negative library result.
  int ReadConfigByte(std::uint32_t address);
  // 1, or the negative library result once the reconnects are used up (a
  // byte is tried at most four times).
  int WriteConfigByte(std::uint32_t address, std::uint8_t value);
  // Erases low..high block by block: 1, or the negative result of the block
  // that failed (FailedAddress), or -1 when cancelled.
  int EraseFlash(std::uint32_t low, std::uint32_t high);
  // Writes every row of the list `listname` (the kept list when it is that
  // one): 1, or a result with bit 15 set (FailedAddress for a refused row).
  int ProgramFlash(std::uint8_t writeblock, std::uint8_t bytesperaddr, std::uint8_t command,
                   const std::string& listname, int rowcount);
  // Sixteen 0x55 at the top row of program memory: the WritePIC result.
  int WriteFlashMarker(std::uint8_t writeblock, std::uint8_t bytesperaddr, std::uint8_t command);
  // The boot flag in data EEPROM: the WritePIC result.
  int WriteBootFlag(std::uint8_t value);
  // Reads back every row ProgramFlash wrote and compares it with what the
  // list asked for (rows of one address together). 1; 0 with the first
  // differing byte address in `address`; -1 with a row that could not be read.
  int VerifyFlash(std::uint32_t& address);

  // The address where the last erase or write failed.
  std::uint32_t FailedAddress() const { return failedAddress_; }
  // Bytes written to and read back from program memory, and the CRC-32 of
  // the programmed rows in address order (16 bytes each).
  std::uint64_t BytesWritten() const { return bytesWritten_; }
  std::uint64_t BytesVerified() const { return bytesVerified_; }
  std::uint32_t ImageCrc() const;

 private:
  BootLibrary& lib_;
  FlashUi& ui_;
  FlashClock& clock_;
  std::filesystem::path listFolder_;
  std::function<bool()> cancelled_;

  DeviceInfo info_;
  std::int32_t usbId_ = -1;
  std::int32_t handle_ = 0;
  int reconnects_ = 3;
  std::uint32_t failedAddress_ = 0;
  std::uint64_t bytesWritten_ = 0, bytesVerified_ = 0;
  // What the programmed rows must read back as, by row address.
  std::map<std::uint32_t, std::array<std::uint8_t, 16>> expected_;
  // The program-memory list this run converted, and its name.
  std::unique_ptr<std::istream> list_;
  std::string listName_;
};

}  // namespace hx::flash
