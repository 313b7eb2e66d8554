// Settings profiles: a profile that reads without error writes back to a
// text that reads again to the same values, and compares equal to itself.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "hydrix/settings/settings_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const hx::ProfileParse parsed = hx::ParseProfile(text);
  if (!parsed.errors.empty()) return 0;
  for (const auto& [key, value] : parsed.values) {
    const auto* field = hx::FindParameter(key);
    if (!field || !hx::ValueProblem(*field, value).empty()) std::abort();
  }
  // The writer names every key; the ones this file lacks come out empty and
  // are left out, as a file holding only some settings would.
  const std::string written = hx::FormatProfile(parsed.values, {"Hydrix (11)", "1.05", "1", "now"});
  std::istringstream in(written);
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 3 || line.compare(line.size() - 3, 3, " = ") != 0) kept += line + "\n";
  }
  const hx::ProfileParse again = hx::ParseProfile(kept);
  if (!again.errors.empty() || again.values != parsed.values) std::abort();
  if (!hx::CompareProfile(parsed.values, again.values).empty()) std::abort();
  return 0;
}
