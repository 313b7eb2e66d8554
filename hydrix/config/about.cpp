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

std::string SystemInfoText(const SystemInfo& i) {
  auto line = [](const char* name, const std::string& value) {
    return std::string(name) + ": " + (value.empty() ? "(none)" : value) + "\n";
  };
  return line("hydrix", i.version) + line("Qt", i.qtVersion) + line("System", i.system) +
         line("USB backend", i.backend) + line("USB interface library", i.usbLibrary) +
         line("Message catalogue", i.configXml) + line("Remembered state", i.rememberedState);
}

}  // namespace hx
