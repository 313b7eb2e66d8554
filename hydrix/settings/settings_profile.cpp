#include "hydrix/settings/settings_profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <set>
#include <sstream>

#include "common/atomic_file.h"
#include "common/numbers.h"
#include "common/safe_file.h"
#include "common/shown_text.h"
#include "hydrix/config/byte_packing.h"
#include "hydrix/config/config_file_system.h"
#include "wire/identity.h"

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

// What the controller holds for `f`, as text; `shown` false when the screen
// cannot show it as held.
std::string Held(const ParameterField& f, std::span<const std::int32_t> image, bool& shown) {
  const auto byte = [&](int a) { return static_cast<std::uint8_t>(image[static_cast<std::size_t>(a)]); };
  shown = true;
  if (f.kind == FieldKind::TempoChoice) {
    const std::uint8_t b[2] = {byte(f.address), byte(f.address + 1)};
    const int delay = OctetsVersEntier(b);
    for (std::size_t i = 0; i < kCapacityTempo.size(); ++i) {
      if (delay == kCapacityTempo[i]) return std::to_string(i);
    }
    shown = false;
    return "a delay of " + std::to_string(delay) + " s, none of the capacity list's";
  }
  if (f.kind == FieldKind::Hour) {
    const int v = byte(f.address);
    if (v <= 23 || v == kHourNone) return HourItemText(v == kHourNone ? kHourItems - 1 : v);
    shown = false;
    return "hour byte " + std::to_string(v) + ", not an hour";
  }
  return DecodeParametres(image).at(f.key);
}

// What an import of `file` writes to a controller holding `image`.
std::array<std::uint8_t, 256> Imported(std::span<const std::int32_t> image, const ParameterTexts& file) {
  ParameterTexts screen = DecodeParametres(image);
  for (const auto& [key, value] : file) screen[key] = value;
  std::array<std::uint8_t, 256> held{};
  for (std::size_t a = 0; a < held.size() && a < image.size(); ++a)
    held[a] = static_cast<std::uint8_t>(image[a]);
  const EncodeResult r = EncodeParametres(screen, held, 0);
  return r.problems.empty() ? r.image : held;
}

// What an import writes for `f`; `withDelay` adds the capacity's delay, to
// set it beside a delay the list does not hold.
std::string Written(const ParameterField& f, const std::array<std::uint8_t, 256>& image, bool withDelay) {
  std::array<std::int32_t, 256> entries{};
  std::copy(image.begin(), image.end(), entries.begin());
  std::string text = DecodeParametres(entries).at(f.key);
  if (withDelay && f.kind == FieldKind::TempoChoice) {
    text += " (" + std::to_string(kCapacityTempo[static_cast<std::size_t>(std::stoi(text))]) + " s)";
  }
  return text;
}

bool SameBytes(const ParameterField& f, std::span<const std::int32_t> held,
               const std::array<std::uint8_t, 256>& to) {
  for (int a = f.address; a < f.address + f.width; ++a) {
    if (static_cast<std::uint8_t>(held[static_cast<std::size_t>(a)]) != to[static_cast<std::size_t>(a)])
      return false;
  }
  return true;
}

// The bytes the controller would store for one value.
std::array<std::uint8_t, 256> Stored(const std::string& key, const std::string& text) {
  ParameterTexts screen = Baseline();
  screen[key] = text;
  return EncodeParametres(screen, {}, 0).image;
}

}  // namespace

std::string ScreenValue(const ParameterField& f, const std::string& text) {
  if (f.kind != FieldKind::TempoChoice) return text;
  const auto v = ParseNumber(text);
  if (!v || *v != std::floor(*v) || *v < 0 || *v > 2) return text;
  return std::to_string(static_cast<int>(*v));
}

std::string ValueProblem(const ParameterField& f, const std::string& text, bool withBounds) {
  ParameterTexts screen = Baseline();
  screen[f.key] = ScreenValue(f, text);
  const EncodeResult r = EncodeParametres(screen, {}, 0);
  if (!r.problems.empty()) return r.problems.front().text;
  if (withBounds && f.check && f.control_kind == ControlKind::TextBox && !CheckField(f, text).ok()) {
    return "\"" + text + "\" is outside " + ShortestDecimal(f.check->min) + " to " +
           ShortestDecimal(f.check->max);
  }
  return {};
}

std::vector<std::string> ProfileKeys() {
  std::vector<std::string> keys;
  for (const auto& f : ParameterMap()) {
    if (f.written) keys.emplace_back(f.key);
  }
  return keys;
}

std::string FormatProfile(const ParameterTexts& screen, const ProfileOrigin& origin,
                          const std::map<std::string, std::string>& notes) {
  std::string text = "# Hydrix settings profile\n";
  text += "# controller: " + origin.controller + ", firmware " + origin.firmware + ", serial number " +
          origin.serial + "\n";
  text += "# saved: " + origin.saved + "\n";
  for (const auto& key : ProfileKeys()) {
    if (auto note = notes.find(key); note != notes.end()) text += "# " + key + ": " + note->second + "\n";
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
    if (t.rfind("# controller:", 0) == 0 && !p.typeCode) {
      // "# controller: Hydrix (11) 1.05, firmware ...": the type is the
      // name up to the first code in parentheses.
      const std::string rest = Trim(t.substr(13));
      const auto open = rest.find(" (");
      const auto close = rest.find(')', open == std::string::npos ? 0 : open);
      if (open != std::string::npos && close != std::string::npos && close > open + 2) {
        const std::string code = rest.substr(open + 2, close - open - 2);
        int n = -1;
        const auto r = std::from_chars(code.data(), code.data() + code.size(), n);
        if (r.ec == std::errc() && r.ptr == code.data() + code.size() && n >= 0 && n <= 255) {
          p.typeCode = n;
          p.typeText = rest.substr(0, close + 1);
        }
      }
      continue;
    }
    if (t.empty() || t[0] == '#') continue;
    const auto eq = t.find('=');
    if (eq == std::string::npos) {
      p.errors.push_back(where + "\"" + ShownText(t) + "\" is not key = value");
      continue;
    }
    const std::string key = Trim(t.substr(0, eq));
    const std::string value = Trim(t.substr(eq + 1));
    const ParameterField* f = FindParameter(key);
    if (!f) {
      p.errors.push_back(where + "unknown setting \"" + ShownText(key) + "\"");
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
      p.errors.push_back(where + key + ": " + ShownText(problem));
      continue;
    }
    p.values[key] = ScreenValue(*f, value);
  }
  if (p.errors.empty() && p.values.empty()) p.errors.push_back("the file holds no setting");
  return p;
}

std::string ProfileTypeRefusal(const ProfileParse& profile,
                               const std::optional<std::array<std::uint8_t, 5>>& identity,
                               std::int32_t UsbID) {
  if (!profile.typeCode) return {};
  const std::string who = "controller " + std::to_string(UsbID);
  if (!identity) {
    return "The profile was saved from a controller of type " + profile.typeText + ", and the type of " +
           who + " is not known; nothing was written.";
  }
  const int code = (*identity)[2];
  if (code == *profile.typeCode) return {};
  return "The profile was saved from a controller of type " + profile.typeText + ", and " + who +
         " is of type " + NomAppareil(code) + " (" + std::to_string(code) + "); nothing was written.";
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
  // anything is written; a failed save leaves no new file behind.
  const FileStatus status = AtomicReplace(file, text);
  return status.ok() ? std::string() : "cannot save " + file.string() + ": " + status.reason;
}

std::vector<ProfileDifference> CompareWithImage(std::span<const std::int32_t> image,
                                                const ParameterTexts& file) {
  std::vector<ProfileDifference> out;
  const auto imported = Imported(image, file);
  for (const auto& key : ProfileKeys()) {
    const ParameterField& f = *FindParameter(key);
    if (SameBytes(f, image, imported)) continue;
    bool shown = true;
    const std::string held = Held(f, image, shown);
    out.push_back({key, held, Written(f, imported, !shown)});
  }
  return out;
}

std::map<std::string, std::string> UnshowableValues(std::span<const std::int32_t> image) {
  std::map<std::string, std::string> out;
  const auto imported = Imported(image, {});
  for (const auto& key : ProfileKeys()) {
    const ParameterField& f = *FindParameter(key);
    bool shown = true;
    const std::string held = Held(f, image, shown);
    if (!shown)
      out[key] =
          "the controller holds " + held + "; an import writes " + Written(f, imported, true) + " instead";
  }
  return out;
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
