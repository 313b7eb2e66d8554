#include "common/paths.h"

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

}  // namespace hx
