// The Intel HEX loader: validates a HEX file (32-bit linear addressing) and
// converts it into the four memory list files of 16-byte rows (program
// memory, data EEPROM, user ID, configuration) that programming reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace hx::flash {

// CheckHexFile statuses.
inline constexpr std::int16_t kHexValid = 1;
inline constexpr std::int16_t kHexEmpty = -1;
inline constexpr std::int16_t kHexBadRecord = -3;  // wrong checksum, or a malformed record
inline constexpr std::int16_t kHexBadLine = -4;    // a line starts with something else than ':' or a blank
inline constexpr std::int16_t kHexNoEnd = -5;      // no end-of-file record
inline constexpr std::int16_t kHexUnreadable = -6;

// The list files: a folder and the four names from the parameter file.
struct ListFiles {
  std::filesystem::path folder;
  std::string progmem, eedata, userid, config;
};

enum class ListKind { Program, Eeprom, UserId, Config };

// The value in upper-case hexadecimal, left-filled with "0" to `width`.
std::string HexPad(std::uint32_t value, int width);

// Validates the file without writing anything. Reading stops at the first
// end-of-file record; lines after it are never looked at. A record is
// malformed (kHexBadRecord) when it is not ':' followed by exactly 2N+10 hex
// digits (upper or lower case; trailing blanks and CR are allowed), or when
// an address record (type 02 or 04) does not carry two bytes.
std::int16_t CheckHexFile(const std::filesystem::path& path);
std::int16_t CheckHexText(std::string_view text);

// Receives the rows of a conversion. Returning false ends the conversion.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual bool Row(ListKind kind, std::uint32_t address, const std::uint8_t* bytes16) = 0;
};

// Validates, then converts: every data record gives the 16-byte rows of its
// span (bytes it does not supply are 0xFF) in file order, to the list its
// upper address selects. Returns the number of program-memory rows, or the
// negative validation status (nothing is written then), or -1 when writing
// failed; in that case `warning` (when given) holds "ERR n/stage (reason)".
// The list files are written whole or not at all: each is written under a
// temporary name and renamed over the old one once the conversion succeeded.
std::int32_t LoadHexFile(const std::filesystem::path& path, const ListFiles& lists,
                         std::string* warning = nullptr);
// The same on text in memory, rows going to `sink`.
std::int32_t LoadHexText(std::string_view text, RowSink& sink);

// One row of a list file: address as six hex digits, a space, sixteen bytes
// each followed by a space (55 characters), without the line ending.
std::string FormatListRow(std::uint32_t address, const std::uint8_t* bytes16);
// Reads a list row back; false when it is not in that form.
bool ParseListRow(std::string_view line, std::uint32_t& address, std::uint8_t* bytes16);

}  // namespace hx::flash
