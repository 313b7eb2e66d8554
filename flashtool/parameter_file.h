// The programmer's parameter file: an INI file of [sections] and key=value
// lines, read the way the profile-string service reads it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hx::flash {

// Longest value ReadIni returns; longer values are cut.
inline constexpr std::size_t kIniValueMax = 49;

class ParameterFile {
 public:
  ParameterFile() = default;
  // Reads the whole file; false when it cannot be opened or read, is not a
  // regular file (never waiting on a FIFO) or is larger than 1 MiB, with the
  // reason in `why` when given.
  bool Load(const std::filesystem::path& path, std::string* why = nullptr);
  // Parses INI text (for tests and for Load).
  void Parse(std::string_view text);

  // The value of `key` in `section`, both matched without regard to case;
  // "" when either is missing. Surrounding blanks and one pair of matching
  // quotes are removed; the value is cut to kIniValueMax characters. When a
  // section or key occurs twice, the first one counts.
  std::string ReadIni(std::string_view section, std::string_view key) const;
  // The keys of `section` (upper case) with their values (cut as ReadIni
  // cuts them), in file order; a key met twice counts once, the first time.
  std::vector<std::pair<std::string, std::string>> Section(std::string_view section) const;
  // The names of the sections that hold keys (upper case), in file order.
  std::vector<std::string> SectionNames() const;

 private:
  struct Entry {
    std::string section;  // upper-cased
    std::string key;      // upper-cased
    std::string value;
  };
  std::vector<Entry> entries_;
};

// True when the file `folder`/`name`.INI cannot be opened for reading (or
// is not a regular file).
bool IniMissing(const std::filesystem::path& folder, const std::string& name);

// Number texts of the parameter file and command line.
// A decimal integer within [min, max] (halves rounded to even, as a
// conversion to an integer type does); nothing when not numeric or out of range.
bool ParseInteger(std::string_view text, long min, long max, long& out);
// The value of the leading hexadecimal digits (no prefix), 0 when there are none.
std::uint32_t ParseHexDigits(std::string_view text);

std::string ToUpper(std::string_view text);
std::string Trim(std::string_view text);

}  // namespace hx::flash
