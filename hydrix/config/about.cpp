#include "hydrix/config/about.h"

#include <unistd.h>

#include <sstream>

namespace hx {

std::string VersionLine() { return "Version " HYDRIX_VERSION; }

std::optional<std::filesystem::path> FindSysInfoTool(const std::string& pathList) {
  // Graphical tools first: the about box is a window.
  static const char* const kTools[] = {"hardinfo",  "gnome-system-monitor", "plasma-systemmonitor",
                                       "ksysguard", "xfce4-taskmanager",    "lshw-gtk"};
  for (const char* tool : kTools) {
    std::istringstream dirs(pathList);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
      if (dir.empty()) continue;
      const std::filesystem::path candidate = std::filesystem::path(dir) / tool;
      if (::access(candidate.c_str(), X_OK) == 0 && std::filesystem::is_regular_file(candidate))
        return candidate;
    }
  }
  return std::nullopt;
}

}  // namespace hx
