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

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hydrix/settings/parameter_map.h"

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

// The text of a profile holding the profile keys of `screen`. A note of
// `notes` (by key) goes on a comment line before its key's line.
std::string FormatProfile(const ParameterTexts& screen, const ProfileOrigin& origin,
                          const std::map<std::string, std::string>& notes = {});

// A value as the screen shows it: the capacity list's index as a whole
// number ("2.0" is "2"); other values as written. The window, profiles and
// hydrixctl all read values through it.
std::string ScreenValue(const ParameterField& f, const std::string& text);

// Why `text` cannot be the value of setting `f` ("" when it can): not a
// number, not a whole index or hour, a number that does not fit the
// controller's word, and (with `withBounds`) a number outside the edit
// check's bounds.
std::string ValueProblem(const ParameterField& f, const std::string& text, bool withBounds = true);

struct ProfileParse {
  ParameterTexts values;            // key -> text, only the keys the file holds
  std::vector<std::string> errors;  // "line 4: ...", in file order; non-empty: never apply
  // The type of the controller it was saved from, from its header line
  // "# controller: Hydrix (11) 1.05, ...": the type code and "Hydrix (11)".
  // Nothing for a profile without that line (written by hand).
  std::optional<int> typeCode;
  std::string typeText;
};
// Reads a profile: blank lines and lines starting with '#' are skipped; every
// other line must be "key = value" with a profile key given once, and a value
// the window would accept within its check bounds. Values come out as the
// screen shows them ("2.0" as capacity index "2"), so the window and
// hydrixctl apply the same settings.
ProfileParse ParseProfile(const std::string& text);

// Why `profile` may not be applied to controller `UsbID`, whose identity
// probe answered `identity`, "" when it may: a profile is applied only to a
// controller of the type it was saved from. A profile without a type line
// applies to any; a controller whose type is not known takes none that has.
std::string ProfileTypeRefusal(const ProfileParse& profile,
                               const std::optional<std::array<std::uint8_t, 5>>& identity,
                               std::int32_t UsbID);

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

// The settings an import of `file` would change on a controller holding
// `image` (ImageParams): for every profile key, the bytes the import would
// write against the bytes held. A value the screen cannot show (a delay
// none of the capacity list's, an hour byte past 23) is rewritten by any
// import, so it differs even when the file does not name it. `current`
// says what the controller holds, `file` what the import writes.
std::vector<ProfileDifference> CompareWithImage(std::span<const std::int32_t> image,
                                                const ParameterTexts& file);

// For each setting of `image` that the screen cannot show as held (see
// CompareWithImage): what the controller holds and what an import of the
// saved profile writes instead, by key.
std::map<std::string, std::string> UnshowableValues(std::span<const std::int32_t> image);

}  // namespace hx
