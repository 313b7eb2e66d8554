#include "flashtool/chip_info.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "wire/boot_memory_map.h"

namespace hx::flash {

bool ReadChipSection(const ParameterFile& ini, const std::string& chip, DeviceInfo& info,
                     std::string& reason) {
  info = DeviceInfo{};
  bool ok = true;
  auto fail = [&](const std::string& why) {
    if (ok) reason = why;
    ok = false;
  };
  // Hex digits without prefix; `required` ranges must be there.
  auto hex = [&](const char* key, bool required, bool& present) -> std::uint32_t {
    const std::string text = Trim(ini.ReadIni(chip, key));
    present = !text.empty();
    if (text.empty()) {
      if (required) fail(std::string(key) + " is missing");
      return 0;
    }
    if (text.size() > 8 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      fail(std::string(key) + "=" + text + " is not a hex number");
      return 0;
    }
    return ParseHexDigits(text);
  };
  auto byte = [&](const char* key, long min) -> std::uint8_t {
    long v = 0;
    const std::string text = ini.ReadIni(chip, key);
    if (ParseInteger(text, min, 255, v)) return static_cast<std::uint8_t>(v);
    if (min > 0)
      fail(std::string(key) + "=" + text + " is not a number from " + std::to_string(min) + " to 255");
    return 0;
  };
  bool present = false, lowPresent = false;
  auto range = [&](const char* lowKey, const char* highKey, std::uint32_t& low, std::uint32_t& high,
                   bool required) {
    low = hex(lowKey, required, lowPresent);
    high = hex(highKey, required || lowPresent, present);
    if (present && !lowPresent) fail(std::string(lowKey) + " is missing");
    if (ok && present && high < low) fail(std::string(highKey) + " is below " + lowKey);
  };
  range("pmrangelow", "pmrangehigh", info.pmrangelow, info.pmrangehigh, true);
  range("eerangelow", "eerangehigh", info.eerangelow, info.eerangehigh, false);
  range("usrrangelow", "usrrangehigh", info.usrrangelow, info.usrrangehigh, false);
  range("cfgrangelow", "cfgrangehigh", info.cfgrangelow, info.cfgrangehigh, false);
  info.bytesperaddr = byte("bytesperaddr", 1);
  info.maxpacketsize = byte("maxpacketsize", 0);
  info.eraseblock = byte("eraseblock", 1);
  info.readblock = byte("readblock", 0);
  info.writeblock = byte("writeblock", 1);
  info.devicetype = byte("devicetype", 0);
  // Erasing from an address inside a block would erase below it.
  if (ok && info.pmrangelow % info.eraseblock != 0) fail("pmrangelow is not a multiple of eraseblock");
  if (!ok) reason = "[" + chip + "] " + reason;
  return ok;
}

HexLimits SharedLimits(const std::vector<DeviceInfo>& chips, bool markerRows) {
  HexLimits limits;
  if (chips.empty()) return limits;
  using Member = std::uint32_t DeviceInfo::*;
  const std::pair<Member, Member> kinds[] = {{&DeviceInfo::pmrangelow, &DeviceInfo::pmrangehigh},
                                             {&DeviceInfo::eerangelow, &DeviceInfo::eerangehigh},
                                             {&DeviceInfo::usrrangelow, &DeviceInfo::usrrangehigh},
                                             {&DeviceInfo::cfgrangelow, &DeviceInfo::cfgrangehigh}};
  for (const auto& [lowOf, highOf] : kinds) {
    std::uint32_t low = 0, high = UINT32_MAX;
    bool any = true;
    for (const auto& c : chips) {
      // A range left out of a chip's section (both ends 0) is no memory.
      if (c.*lowOf == 0 && c.*highOf == 0 && lowOf != &DeviceInfo::pmrangelow) any = false;
      low = std::max(low, c.*lowOf);
      high = std::min(high, c.*highOf);
    }
    if (any && low <= high) limits.ranges.push_back({low, high});
  }
  if (markerRows) {
    for (const auto& c : chips)
      limits.markerRows.push_back({c.pmrangehigh & boot::kRowAddressMask, c.pmrangehigh});
  }
  return limits;
}

void ReadProgramSettings(const ParameterFile& ini, ProgramSettings& settings) {
  settings.progmem = ini.ReadIni("PIC18FBOOT", "progmem");
  settings.eedata = ini.ReadIni("PIC18FBOOT", "eedata");
  settings.userid = ini.ReadIni("PIC18FBOOT", "userid");
  settings.config = ini.ReadIni("PIC18FBOOT", "config");
  settings.errorlog = ini.ReadIni("PIC18FBOOT", "errorlog");
  ParseInteger(ini.ReadIni("PIC18FBOOT", "debuglevel"), INT32_MIN, INT32_MAX, settings.debuglevel);
  ParseInteger(ini.ReadIni("PIC18FBOOT", "devicemode"), 0, 255, settings.devicemode);
  settings.editor = ini.ReadIni("PIC18FBOOT", "editor");
}

}  // namespace hx::flash
