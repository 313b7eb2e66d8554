// The programmer's parameter file: values are cut at 49 characters, names
// ignore case, a key listed by Section reads back the same through ReadIni,
// and a chip section that ReadChipSection accepts has sound ranges.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "flashtool/chip_info.h"
#include "flashtool/parameter_file.h"

namespace {

using namespace hx::flash;

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The names between brackets at the start of a line, as a person reading the
// file would take them.
std::vector<std::string> SectionNames(const std::string& text) {
  std::vector<std::string> names;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::string t = Trim(line);
    const auto close = t.find(']');
    if (!t.empty() && t[0] == '[' && close != std::string::npos) names.push_back(t.substr(1, close - 1));
    if (names.size() == 8) break;  // enough to check, and the run stays fast
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ParameterFile ini;
  ini.Parse(text);
  std::vector<DeviceInfo> chips;
  for (const auto& name : SectionNames(text)) {
    std::set<std::string> keys;
    for (const auto& [key, value] : ini.Section(name)) {
      if (value.size() > kIniValueMax || key != ToUpper(key) || !keys.insert(key).second) std::abort();
      if (ini.ReadIni(name, key) != value || ini.ReadIni(Lower(name), Lower(key)) != value) std::abort();
      long n = 0;
      if (ParseInteger(value, -1000, 1000, n) && (n < -1000 || n > 1000)) std::abort();
      ParseHexDigits(value);
    }
    DeviceInfo info;
    std::string reason;
    if (ReadChipSection(ini, name, info, reason)) {
      if (info.pmrangelow > info.pmrangehigh || info.eraseblock == 0 || info.writeblock == 0 ||
          info.bytesperaddr == 0 || info.pmrangelow % info.eraseblock != 0)
        std::abort();
      chips.push_back(info);
    } else if (reason.empty()) {
      std::abort();
    }
  }
  if (!chips.empty()) {
    for (const auto& r : SharedLimits(chips).ranges) {
      if (r.low > r.high) std::abort();
    }
  }
  return 0;
}
