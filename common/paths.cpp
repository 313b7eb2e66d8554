#include "common/paths.h"

#include <sys/stat.h>

#include <cstdlib>
#include <system_error>

namespace hx {

namespace {
std::filesystem::path ExePath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return p;
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

std::filesystem::path UserConfigFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    return std::filesystem::path(xdg) / "hydrix";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".config" / "hydrix";
}

std::filesystem::path TransientFolder(std::string* why,
                                      const std::function<const char*(const char*)>& getenv) {
  auto absolute = [&](const char* name) -> std::filesystem::path {
    const char* v = getenv(name);
    return v && *v == '/' ? std::filesystem::path(v) : std::filesystem::path();
  };
  std::filesystem::path folder;
  if (auto runtime = absolute("XDG_RUNTIME_DIR"); !runtime.empty()) {
    folder = runtime / "hydrix";
  } else if (auto state = absolute("XDG_STATE_HOME"); !state.empty()) {
    folder = state / "hydrix";
  } else if (auto home = absolute("HOME"); !home.empty()) {
    folder = home / ".local" / "state" / "hydrix";
  } else {
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

}  // namespace hx
