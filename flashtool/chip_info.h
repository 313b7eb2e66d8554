// What the parameter file says about the chips and the program: a chip's
// own section (its memory ranges and block sizes, DeviceInfo), the memory
// every chip of a product shares, and the program's section "PIC18FBOOT".
// Plain reads of a loaded ParameterFile; failures come back as values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flashtool/hex_loader.h"
#include "flashtool/parameter_file.h"

namespace hx::flash {

// Section "PIC18FBOOT".
struct ProgramSettings {
  std::string progmem, eedata, userid, config, errorlog, editor;
  long debuglevel = 0;
  long devicemode = 0;
};

// One chip's section.
struct DeviceInfo {
  std::uint32_t pmrangelow = 0, pmrangehigh = 0, eerangelow = 0, eerangehigh = 0;
  std::uint32_t usrrangelow = 0, usrrangehigh = 0, cfgrangelow = 0, cfgrangehigh = 0;
  std::uint8_t bytesperaddr = 0, maxpacketsize = 0, eraseblock = 0, readblock = 0, writeblock = 0,
               devicetype = 0;
};

// Reads a chip's section. False, with the reason (naming the key), when a
// range is not hex or runs backwards, or a block size or the
// bytes-per-address divisor is not a number from 1 to 255; such a chip is
// never erased or programmed.
bool ReadChipSection(const ParameterFile& ini, const std::string& chip, DeviceInfo& info,
                     std::string& reason);
// The memory a HEX file may fill on every one of `chips`: program memory,
// data EEPROM, user ID and configuration ranges, each the part all share.
// With `markerRows`, the top program row of each chip (pmrangehigh AND
// 0xFFFFF0 to pmrangehigh), where the run writes its flash marker, is kept
// free.
HexLimits SharedLimits(const std::vector<DeviceInfo>& chips, bool markerRows = false);

// Reads section "PIC18FBOOT" in the order progmem, eedata, userid, config,
// errorlog, debuglevel, devicemode, editor into `settings`; a number that
// is not one leaves its field as it was.
void ReadProgramSettings(const ParameterFile& ini, ProgramSettings& settings);

}  // namespace hx::flash
