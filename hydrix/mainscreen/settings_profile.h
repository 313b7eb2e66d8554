// Settings profiles: the settings that Write Parameters writes, saved to a
// plain UTF-8 text file that a person can read, diff and edit, so one
// controller's settings can be compared with a file or cloned onto others.
// A profile never carries what belongs to one controller (serial number,
// corrections, programming date, firmware fields).
//
//   # Hydrix settings profile
//   # controller: Hydrix (11), firmware 1.05, serial number 24000005
//   # saved: 2026-12-08 09:40:00
//   battery_capacity_index = 2
//   start_level_low_battery_V = 12.00
//   ...
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "hydrix/mainscreen/parameter_map.h"

namespace hx {

// The keys a profile may hold, in file order.
std::vector<std::string> ProfileKeys();

// Where a profile comes from, for its header.
struct ProfileOrigin {
  std::string controller;  // "Hydrix (11)"
  std::string firmware;    // "1.05"
  std::string serial;      // "24000005"
  std::string saved;       // "2026-12-08 09:40:00"
};

// The text of a profile holding the profile keys of `screen`.
std::string FormatProfile(const ParameterTexts& screen, const ProfileOrigin& origin);

struct ProfileParse {
  ParameterTexts values;            // key -> text, only the keys the file holds
  std::vector<std::string> errors;  // "line 4: ...", in file order; non-empty: never apply
};
// Reads a profile: blank lines and lines starting with '#' are skipped; every
// other line must be "key = value" with a profile key given once, and a value
// the window would accept within its check bounds.
ProfileParse ParseProfile(const std::string& text);

// Reads and parses a file (refusing one that is not a regular file or is
// larger than any profile could be).
ProfileParse ReadProfile(const std::filesystem::path& file);

// Writes a profile through a temporary file renamed over the target, so a
// failed save never leaves half a profile. Returns the reason of a failure.
std::string SaveProfile(const std::filesystem::path& file, const std::string& text);

// A setting that differs: what the controller (or screen) holds and what the
// file holds. Values are compared as the controller would store them, so
// "12" and "12.00" are equal.
struct ProfileDifference {
  std::string key;
  std::string current;
  std::string file;
};
std::vector<ProfileDifference> CompareProfile(const ParameterTexts& current, const ParameterTexts& file);

}  // namespace hx
