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

inline constexpr const char* kSysInfoUnavailable = "System Information Is Unavailable At This Time";

}  // namespace hx
