#include "flashtool/parameter_file.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "common/numbers.h"
#include "common/safe_file.h"

namespace hx::flash {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string ToUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool ParameterFile::Load(const std::filesystem::path& path, std::string* why) {
  std::string text;
  const FileStatus status = ReadRegularFile(path, kSmallFileLimit, text);
  if (!status.ok()) {
    if (why) *why = status.reason;
    return false;
  }
  Parse(text);
  return true;
}

void ParameterFile::Parse(std::string_view text) {
  entries_.clear();
  std::string section;
  bool inSection = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    const std::string line = Trim(text.substr(pos, nl - pos));
    pos = nl + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      section = ToUpper(
          Trim(std::string_view(line).substr(1, close == std::string::npos ? std::string::npos : close - 1)));
      inSection = true;
      continue;
    }
    const std::size_t eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    Entry e{section, ToUpper(Trim(std::string_view(line).substr(0, eq))),
            Trim(std::string_view(line).substr(eq + 1))};
    if (e.value.size() >= 2 && (e.value.front() == '"' || e.value.front() == '\'') &&
        e.value.back() == e.value.front()) {
      e.value = e.value.substr(1, e.value.size() - 2);
    }
    entries_.push_back(std::move(e));
  }
}

std::string ParameterFile::ReadIni(std::string_view section, std::string_view key) const {
  const std::string s = ToUpper(Trim(section));
  const std::string k = ToUpper(Trim(key));
  for (const auto& e : entries_) {
    if (e.section == s && e.key == k) return e.value.substr(0, kIniValueMax);
  }
  return {};
}

std::vector<std::pair<std::string, std::string>> ParameterFile::Section(std::string_view section) const {
  const std::string s = ToUpper(Trim(section));
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& e : entries_) {
    if (e.section != s) continue;
    if (std::none_of(out.begin(), out.end(), [&](const auto& kv) { return kv.first == e.key; })) {
      out.emplace_back(e.key, e.value.substr(0, kIniValueMax));
    }
  }
  return out;
}

std::vector<std::string> ParameterFile::SectionNames() const {
  std::vector<std::string> names;
  for (const auto& e : entries_) {
    if (std::find(names.begin(), names.end(), e.section) == names.end()) names.push_back(e.section);
  }
  return names;
}

bool IniMissing(const std::filesystem::path& folder, const std::string& name) {
  int fd = -1;
  if (!OpenRegularForRead(folder / (name + ".INI"), fd).ok()) return true;
  ::close(fd);
  return false;
}

bool ParseInteger(std::string_view text, long min, long max, long& out) {
  const auto value = hx::ParseNumber(text);
  if (!value || !std::isfinite(*value)) return false;
  const double r = hx::RoundHalfEven(*value);
  if (r < static_cast<double>(min) || r > static_cast<double>(max)) return false;
  out = static_cast<long>(r);
  return true;
}

std::uint32_t ParseHexDigits(std::string_view text) {
  const std::string t = Trim(text);
  std::uint32_t v = 0;
  for (char c : t) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) break;
    const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::toupper(c) - 'A' + 10);
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  return v;
}

}  // namespace hx::flash
