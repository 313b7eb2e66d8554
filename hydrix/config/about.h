// What the about box needs without a window: the version line and the
// system information tool of this machine.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace hx {

// "Version 1.1.0": major, minor and revision of the build.
std::string VersionLine();

// The first system information tool found on the search path `pathList`
// (a $PATH value), from a short list of the usual Linux desktop ones.
std::optional<std::filesystem::path> FindSysInfoTool(const std::string& pathList);

// What a technician needs to report a problem, one "name: value" line each.
struct SystemInfo {
  std::string version;          // the build's version
  std::string qtVersion;        // Qt at run time
  std::string system;           // the operating system
  std::string backend;          // the backend of the USB libraries and its configuration file
  std::string usbLibrary;       // the file of libhxusbif in use
  std::string configXml;        // config.xml
  std::string rememberedState;  // hydrix.conf
};
std::string SystemInfoText(const SystemInfo& info);

inline constexpr const char* kSysInfoUnavailable = "System Information Is Unavailable At This Time";

}  // namespace hx
