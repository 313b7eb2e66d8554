#include "hydrix/mainscreen/settings_profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <sstream>

#include "common/numbers.h"
#include "common/safe_file.h"
#include "hydrix/config/config_file_system.h"

namespace hx {

namespace {

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// Screen texts that every check accepts, to test one value at a time.
ParameterTexts Baseline() {
  return {{"battery_capacity_index", "0"},
          {"start_level_low_battery_V", "12"},
          {"start_level_high_battery_V", "13"},
          {"solenoid_pulse_ms", "320"},
          {"alarm_level_V", "11"},
          {"forced_charge_1_h", "0"},
          {"forced_charge_2_h", "0"}};
}

// Why `text` cannot be the value of `key`, or "".
std::string ValueProblem(const ParameterField& f, const std::string& text) {
  ParameterTexts screen = Baseline();
  screen[f.key] = text;
  const EncodeResult r = EncodeParametres(screen, {}, 0);
  if (!r.problems.empty()) return r.problems.front().text;
  if (f.check && f.control_kind == ControlKind::TextBox && !CheckValue(text, *f.check).ok()) {
    return "\"" + text + "\" is outside " + ShortestDecimal(f.check->min) + " to " +
           ShortestDecimal(f.check->max);
  }
  return {};
}

// The bytes the controller would store for one value.
std::array<std::uint8_t, 256> Stored(const std::string& key, const std::string& text) {
  ParameterTexts screen = Baseline();
  screen[key] = text;
  return EncodeParametres(screen, {}, 0).image;
}

}  // namespace

std::vector<std::string> ProfileKeys() {
  std::vector<std::string> keys;
  for (const auto& f : ParameterMap()) {
    if (f.written) keys.emplace_back(f.key);
  }
  return keys;
}

std::string FormatProfile(const ParameterTexts& screen, const ProfileOrigin& origin) {
  std::string text = "# Hydrix settings profile\n";
  text += "# controller: " + origin.controller + ", firmware " + origin.firmware + ", serial number " +
          origin.serial + "\n";
  text += "# saved: " + origin.saved + "\n";
  for (const auto& key : ProfileKeys()) {
    auto it = screen.find(key);
    text += key + " = " + (it == screen.end() ? std::string() : it->second) + "\n";
  }
  return text;
}

ProfileParse ParseProfile(const std::string& text) {
  ProfileParse p;
  std::istringstream in(text);
  std::string line;
  std::set<std::string> seen;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string where = "line " + std::to_string(number) + ": ";
    const std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    const auto eq = t.find('=');
    if (eq == std::string::npos) {
      p.errors.push_back(where + "\"" + t + "\" is not key = value");
      continue;
    }
    const std::string key = Trim(t.substr(0, eq));
    const std::string value = Trim(t.substr(eq + 1));
    const ParameterField* f = FindParameter(key);
    if (!f) {
      p.errors.push_back(where + "unknown setting \"" + key + "\"");
      continue;
    }
    if (!f->written) {
      p.errors.push_back(where + key + " belongs to one controller and is never part of a profile");
      continue;
    }
    if (!seen.insert(key).second) {
      p.errors.push_back(where + key + " is given a second time");
      continue;
    }
    if (const std::string problem = ValueProblem(*f, value); !problem.empty()) {
      p.errors.push_back(where + key + ": " + problem);
      continue;
    }
    p.values[key] = value;
  }
  if (p.errors.empty() && p.values.empty()) p.errors.push_back("the file holds no setting");
  return p;
}

ProfileParse ReadProfile(const std::filesystem::path& file) {
  std::string text;
  if (const FileStatus status = ReadRegularFile(file, kSmallFileLimit, text); !status.ok()) {
    return {{}, {"cannot be read: " + status.reason}};
  }
  return ParseProfile(text);
}

std::string SaveProfile(const std::filesystem::path& file, const std::string& text) {
  // A device, a FIFO, a folder or a read-only file is refused before
  // anything is written.
  const FileStatus target = CheckWriteTarget(file);
  if (!target.ok()) return "cannot save " + file.string() + ": " + target.reason;
  PosixConfigFileSystem fs;
  std::error_code ec;
  // The atomic replace needs a file to replace: a new profile starts empty.
  const bool created = target.missing;
  if (created) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return "cannot create " + file.string() + ": " + std::strerror(errno);
    ::close(fd);
  }
  std::string error;
  if (!fs.ReplaceFile(file, text, error)) {
    if (created) std::filesystem::remove(file, ec);
    return "cannot save " + file.string() + ": " + error;
  }
  return {};
}

std::vector<ProfileDifference> CompareProfile(const ParameterTexts& current, const ParameterTexts& file) {
  std::vector<ProfileDifference> out;
  for (const auto& key : ProfileKeys()) {
    auto f = file.find(key);
    if (f == file.end()) continue;
    auto c = current.find(key);
    const std::string now = c == current.end() ? std::string() : c->second;
    if (Stored(key, now) != Stored(key, f->second)) out.push_back({key, now, f->second});
  }
  return out;
}

}  // namespace hx
