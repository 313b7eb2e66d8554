// The firmware history: one CSV line per run of flashtool (window, form,
// batch), appended to flash-history.csv in the user's state folder, so that
// a production line can say for any unit which firmware it got, when, and
// whether it was verified. `flashtool --history` shows its last lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hx::flash {

// The file's name in the state folder, and its first line.
inline constexpr const char* kHistoryFileName = "flash-history.csv";
inline constexpr const char* kHistoryHeader =
    "time,user,host,connection,serial,product,chip,hex_file,hex_bytes,hex_crc32,written,verified,result,exit";
inline constexpr int kHistoryColumns = 14;
inline constexpr int kHistoryDefaultCount = 20;

// One run, as its line records it. Empty texts and absent numbers give
// empty fields.
struct HistoryEntry {
  std::chrono::system_clock::time_point time;  // when the run began
  std::string user, host;
  std::optional<std::int32_t> connection;
  std::optional<std::int32_t> serial;  // read from the application before the boot command
  std::string product;                 // the product named (device=)
  std::string chip;                    // the chip identified
  std::string hexFile;                 // the HEX file's full path
  std::optional<std::uint64_t> hexBytes;
  std::optional<std::uint32_t> hexCrc32;  // CRC-32 of the HEX file's bytes
  std::uint64_t written = 0, verified = 0;
  std::string result;  // the words of the run's result line ("completed", "failed", ...)
  int exit = 1;
};

// The size and CRC-32 of a HEX file, read whole; nothing when it cannot be
// read (not there, not a regular file).
struct FileFacts {
  std::uint64_t bytes = 0;
  std::uint32_t crc32 = 0;
};
std::optional<FileFacts> FactsOf(const std::filesystem::path& file);

// A CSV field: quoted (with quotes doubled) when it holds a comma, a quote
// or starts or ends with a blank. Control characters are written as escapes
// ("\n", "\x1B"), so that a line is always one line.
std::string CsvField(std::string_view text);
// The entry's line, without the line end.
std::string HistoryLine(const HistoryEntry& entry);
// The fields of one CSV line; a line that is not CSV (an open quote) gives
// what could be read, the rest in its last field.
std::vector<std::string> SplitCsvLine(std::string_view line);

// The login name of the user running the program, and the machine's name.
std::string UserName();
std::string HostName();

// flash-history.csv in `stateFolder`; empty when there is no state folder.
std::filesystem::path HistoryFile(const std::filesystem::path& stateFolder);

// Appends the entry's line to `file` (its folder is made, mode 0700, when
// missing; a new or empty file gets the header first) in one write, under
// an exclusive lock on the file that every run takes, so that two runs
// never mix their lines; a line that did not go in whole is cut off again,
// and a file left ending with part of a line gets a line end first. Empty
// on success, otherwise why it was not written (naming the file).
std::string AppendHistory(const std::filesystem::path& file, const HistoryEntry& entry);

// The last `count` lines of the history (the header not counted), as an
// aligned table under the header's names, to `out`; 0. A history that does
// not exist yet gives one line saying so and 0 too; one that cannot be read
// gives the reason on `err` and 1.
int PrintHistory(const std::filesystem::path& file, int count, std::ostream& out, std::ostream& err);

// `rows` (the first one the header) as columns separated by two blanks,
// each as wide as its widest field; the last column is not padded.
std::string AlignedTable(const std::vector<std::vector<std::string>>& rows);

}  // namespace hx::flash
