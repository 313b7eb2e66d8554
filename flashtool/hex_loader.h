// The Intel HEX loader: validates a HEX file (32-bit linear addressing) and
// converts it into the four memory list files of 16-byte rows (program
// memory, data EEPROM, user ID, configuration) that programming reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace hx::flash {

// CheckHexFile statuses.
inline constexpr std::int16_t kHexValid = 1;
inline constexpr std::int16_t kHexEmpty = -1;
inline constexpr std::int16_t kHexBadRecord = -3;    // wrong checksum, or a malformed record
inline constexpr std::int16_t kHexBadLine = -4;      // a line starts with something else than ':' or a blank
inline constexpr std::int16_t kHexNoEnd = -5;        // no end-of-file record
inline constexpr std::int16_t kHexUnreadable = -6;   // cannot be opened or read, or not a regular file
inline constexpr std::int16_t kHexLineTooLong = -7;  // a line longer than the longest valid record
inline constexpr std::int16_t kHexOutOfRange = -8;   // data outside the memory ranges allowed
inline constexpr std::int16_t kHexOverlap = -9;      // a byte address given data twice

// The longest valid record: ':', count, address, type, 255 data bytes, checksum.
inline constexpr std::size_t kMaxRecordLength = 1 + 2 + 4 + 2 + 2 * 255 + 2;

// Where data may go, as absolute addresses of the HEX file (program memory
// from 0, user ID at 0x200000, configuration at 0x300000, data EEPROM at
// 0xF00000). Both ends are included.
struct HexRange {
  std::uint32_t low = 0, high = 0;
};
struct HexLimits {
  std::vector<HexRange> ranges;
  // Rows the run writes its flash marker over once programmed: data there
  // would be programmed, then overwritten, and the flash hold neither.
  std::vector<HexRange> markerRows;
  bool Contains(std::uint64_t address) const;
};

// Why a file was refused: the line (from 1; 0 for the file as a whole) and
// what is wrong, in words for the operator.
struct HexProblem {
  long line = 0;
  std::string reason;
  // "Line 12: bad checksum", or the reason alone.
  std::string Text() const;
};

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
// an address record (type 02 or 04) does not carry two bytes. A line longer
// than kMaxRecordLength is refused as soon as it is met; only a regular file
// is read (a FIFO, device or folder gives kHexUnreadable without blocking).
// Type 02 sets a segment base (value × 16, offsets wrapping within 64 KB),
// type 04 a linear base (value × 65536); 03 and 05 are accepted. No byte
// address may be given data twice; with `limits`, every data byte must lie
// in one of its ranges and in none of its marker rows (kHexOutOfRange). `problem`, when given, receives the
// reason.
std::int16_t CheckHexFile(const std::filesystem::path& path, const HexLimits* limits = nullptr,
                          HexProblem* problem = nullptr);
std::int16_t CheckHexText(std::string_view text, const HexLimits* limits = nullptr,
                          HexProblem* problem = nullptr);

// Receives the rows of a conversion. Returning false ends the conversion.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual bool Row(ListKind kind, std::uint32_t address, const std::uint8_t* bytes16) = 0;
};

// Validates, then converts: every data record gives the 16-byte rows of its
// span (bytes it does not supply are 0xFF) in file order, to the list its
// address selects (below 0x200000 program memory, 0x20xxxx user ID,
// 0x30xxxx configuration, 0xF0xxxx data EEPROM with its 16-bit address;
// other data is dropped). Returns the number of program-memory rows, or the
// negative validation status (nothing is written then), or -1 when writing
// failed; in that case `warning` (when given) holds "ERR n/stage (reason)".
// The list files are written whole or not at all: each is written under a
// temporary name and renamed over the old one once the conversion succeeded.
std::int32_t LoadHexFile(const std::filesystem::path& path, const ListFiles& lists,
                         std::string* warning = nullptr, const HexLimits* limits = nullptr,
                         HexProblem* problem = nullptr);
// The same on text in memory, rows going to `sink`.
std::int32_t LoadHexText(std::string_view text, RowSink& sink, const HexLimits* limits = nullptr,
                         HexProblem* problem = nullptr);

// One row of a list file: address as six hex digits, a space, sixteen bytes
// each followed by a space (55 characters), without the line ending.
std::string FormatListRow(std::uint32_t address, const std::uint8_t* bytes16);
// Reads a list row back; false when it is not in that form.
bool ParseListRow(std::string_view line, std::uint32_t& address, std::uint8_t* bytes16);

}  // namespace hx::flash
