#include "common/paths.h"

#include <sys/stat.h>

#include <system_error>

// Where the installation puts things, relative to the programs' folder and
// to the private library folder (set by the build from the install folders).
#ifndef HYDRIX_SHARE_FROM_BIN
#define HYDRIX_SHARE_FROM_BIN "../share/hydrix"
#endif
#ifndef HYDRIX_LIBS_FROM_BIN
#define HYDRIX_LIBS_FROM_BIN "../lib/hydrix"
#endif
#ifndef HYDRIX_SHARE_FROM_LIBS
#define HYDRIX_SHARE_FROM_LIBS "../../share/hydrix"
#endif

namespace hx {

namespace {
std::filesystem::path ExePath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return p;
}

bool IsFolder(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::is_directory(p, ec);
}

bool Exists(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(p, ec));
}

std::filesystem::path Absolute(const GetEnv& getenv, const char* name) {
  const char* v = getenv(name);
  return v && *v == '/' ? std::filesystem::path(v) : std::filesystem::path();
}
}  // namespace

std::filesystem::path ProgramFolder() {
  const auto exe = ExePath();
  if (exe.empty()) {
    std::error_code ec;
    auto cwd = std::filesystem::current_path(ec);
    return ec ? std::filesystem::path(".") : cwd;
  }
  return exe.parent_path();
}

std::string ProgramTitle() { return ExePath().stem().string(); }

ProgramLayout LayoutOf(const std::filesystem::path& programFolder) {
  ProgramLayout layout;
  const auto share = (programFolder / HYDRIX_SHARE_FROM_BIN).lexically_normal();
  if (!Exists(programFolder / "config.xml") && IsFolder(share)) {
    layout.installed = true;
    layout.shipped = share;
    layout.libraries = (programFolder / HYDRIX_LIBS_FROM_BIN).lexically_normal();
  } else {
    layout.shipped = programFolder;
    layout.libraries = programFolder;
  }
  return layout;
}

ProgramLayout Layout() { return LayoutOf(ProgramFolder()); }

std::filesystem::path InstalledShippedFolderOfLibrary(const std::filesystem::path& libraryFolder) {
  if (libraryFolder.empty() || Exists(libraryFolder / "config.xml")) return {};
  const auto share = (libraryFolder / HYDRIX_SHARE_FROM_LIBS).lexically_normal();
  return IsFolder(share) ? share : std::filesystem::path();
}

std::filesystem::path HelpIndex(const ProgramLayout& layout) {
  return layout.shipped / "help" / "index.html";
}

std::filesystem::path UserConfigFolder(const GetEnv& getenv) {
  if (const char* xdg = getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::filesystem::path(xdg) / "hydrix";
  const char* home = getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".config" / "hydrix";
}

std::filesystem::path UserStateFolder(const GetEnv& getenv) {
  if (auto state = Absolute(getenv, "XDG_STATE_HOME"); !state.empty()) return state / "hydrix";
  if (auto home = Absolute(getenv, "HOME"); !home.empty()) return home / ".local" / "state" / "hydrix";
  return {};
}

std::filesystem::path TransientFolder(std::string* why, const GetEnv& getenv) {
  std::filesystem::path folder;
  if (auto runtime = Absolute(getenv, "XDG_RUNTIME_DIR"); !runtime.empty()) {
    folder = runtime / "hydrix";
  } else {
    folder = UserStateFolder(getenv);
  }
  if (folder.empty()) {
    if (why) *why = "neither XDG_RUNTIME_DIR, XDG_STATE_HOME nor HOME names a folder";
    return {};
  }
  std::error_code ec;
  if (std::filesystem::create_directories(folder, ec)) {
    ::chmod(folder.c_str(), 0700);
  }
  // Only a real folder (not a link to elsewhere, not a file) holds the files.
  const auto status = std::filesystem::symlink_status(folder, ec);
  if (ec || !std::filesystem::is_directory(status)) {
    if (why) *why = folder.string() + " is not a folder" + (ec ? ": " + ec.message() : "");
    return {};
  }
  return folder;
}

ConfigLocation ConfigXmlLocation(const ProgramLayout& layout, const GetEnv& getenv) {
  if (!layout.installed) return {layout.shipped / "config.xml", {}};
  return {UserConfigFolder(getenv) / "config.xml", layout.shipped / "config.xml"};
}

std::vector<std::filesystem::path> UsbConfigSearchPath(const std::filesystem::path& libraryFolder,
                                                       const GetEnv& getenv) {
  const auto user = UserConfigFolder(getenv) / "hxusb.conf";
  const auto shipped = InstalledShippedFolderOfLibrary(libraryFolder);
  if (!shipped.empty()) return {user, "/etc/hydrix/hxusb.conf", shipped / "hxusb.conf"};
  std::vector<std::filesystem::path> path;
  if (!libraryFolder.empty()) path.push_back(libraryFolder / "hxusb.conf");
  path.push_back(user);
  return path;
}

std::filesystem::path StartFolder(const GetEnv& getenv) {
  if (auto home = Absolute(getenv, "HOME"); !home.empty() && IsFolder(home)) return home;
  std::error_code ec;
  auto cwd = std::filesystem::current_path(ec);
  return ec ? std::filesystem::path("/") : cwd;
}

}  // namespace hx
