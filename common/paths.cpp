#include "common/paths.h"

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

}  // namespace hx
