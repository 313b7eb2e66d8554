#include "flashtool/flash_history.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <ostream>

#include "common/local_time.h"
#include "common/lock_file.h"
#include "common/safe_file.h"
#include "common/shown_text.h"
#include "flashtool/boot_session.h"
#include "flashtool/hex_loader.h"

namespace hx::flash {

namespace {

constexpr std::chrono::milliseconds kLineLockWait{2000};

template <typename T>
std::string Number(const std::optional<T>& value) {
  return value ? std::to_string(*value) : std::string();
}

// Reads `fd` to its end in blocks, handing each to `take`; the errno value
// of a failed read, or 0.
template <typename Take>
int ReadBlocks(int fd, Take take) {
  std::array<char, 65536> block{};
  for (;;) {
    const ssize_t got = ::read(fd, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    take(std::string_view(block.data(), static_cast<std::size_t>(got)));
  }
}

// Characters as a terminal shows them: UTF-8 continuation bytes take no room.
std::size_t Width(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

std::optional<FileFacts> FactsOf(const std::filesystem::path& file) {
  int fd = -1;
  if (!OpenRegularForRead(file, fd).ok()) return std::nullopt;
  FileFacts facts;
  const int error = ReadBlocks(fd, [&](std::string_view bytes) {
    facts.bytes += bytes.size();
    facts.crc32 = Crc32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, facts.crc32);
  });
  ::close(fd);
  if (error != 0) return std::nullopt;
  return facts;
}

std::string CsvField(std::string_view text) {
  // Line ends and other control characters become escapes: a field never
  // spans lines, so the history stays one run per line.
  std::string field = ShownText(text);
  const bool quote = field.find_first_of(",\"") != std::string::npos ||
                     (!field.empty() && (field.front() == ' ' || field.back() == ' '));
  if (!quote) return field;
  std::string quoted = "\"";
  for (const char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string HistoryLine(const HistoryEntry& e) {
  const std::vector<std::string> fields = {
      IsoLocalTime(e.time),
      CsvField(e.user),
      CsvField(e.host),
      Number(e.connection),
      Number(e.serial),
      CsvField(e.product),
      CsvField(e.chip),
      CsvField(e.hexFile),
      Number(e.hexBytes),
      e.hexCrc32 ? HexPad(*e.hexCrc32, 8) : std::string(),
      std::to_string(e.written),
      std::to_string(e.verified),
      CsvField(e.result),
      std::to_string(e.exit)};
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + fields[i];
  return line;
}

std::vector<std::string> SplitCsvLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') {
        fields.back() += c;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::string UserName() {
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name && *pw->pw_name) return pw->pw_name;
  for (const char* name : {"USER", "LOGNAME"}) {
    if (const char* v = std::getenv(name); v && *v) return v;
  }
  return std::to_string(::getuid());
}

std::string HostName() {
  std::array<char, 256> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) return {};
  return name.data();
}

std::filesystem::path HistoryFile(const std::filesystem::path& stateFolder) {
  return stateFolder.empty() ? std::filesystem::path() : stateFolder / kHistoryFileName;
}

std::string AppendHistory(const std::filesystem::path& file, const HistoryEntry& entry) {
  if (file.empty()) return "The firmware history cannot be kept: neither XDG_STATE_HOME nor HOME names a folder.";
  const std::string head = "The firmware history " + file.string() + " could not be written: ";
  std::error_code ec;
  const auto folder = file.parent_path();
  if (std::filesystem::create_directories(folder, ec)) ::chmod(folder.c_str(), 0700);
  if (ec) return head + "its folder cannot be made (" + ec.message() + ").";
  int fd = -1;
  if (const FileStatus status = OpenForAppend(file, fd); !status.ok()) return head + status.reason + ".";
  LockFile lock;
  if (const FileStatus status = lock.LockDescriptor(fd, kLineLockWait); !status.ok()) {
    ::close(fd);
    return head + status.reason + ".";
  }
  // Under the lock: the header for a new file, a line end after part of a
  // line left by a crash, then the line, all in one write.
  struct stat st {};
  const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
  std::string text;
  if (before == 0) text = std::string(kHistoryHeader) + "\n";
  char last = '\n';
  if (before > 0 && ::pread(fd, &last, 1, before - 1) == 1 && last != '\n') text += "\n";
  text += HistoryLine(entry) + "\n";
  int error = WriteAll(fd, text.data(), text.size());
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (error != 0 && before >= 0) (void)::ftruncate(fd, before);
  lock.Unlock();
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0) return {};
  return head + std::strerror(error) + ".";
}

int PrintHistory(const std::filesystem::path& file, int count, std::ostream& out, std::ostream& err) {
  if (file.empty()) {
    err << "flashtool: no firmware history: neither XDG_STATE_HOME nor HOME names a folder\n";
    return 1;
  }
  int fd = -1;
  if (const FileStatus status = OpenRegularForRead(file, fd); !status.ok()) {
    if (status.missing) {
      out << "No firmware history yet: " << file.string() << " does not exist (each run of flashtool adds a line).\n";
      return 0;
    }
    err << "flashtool: the firmware history " << file.string() << " cannot be read: " << status.reason << "\n";
    return 1;
  }
  // Only the last lines are kept while the file streams by.
  std::deque<std::string> lines;
  std::string partial;
  bool first = true;
  auto take = [&](std::string line) {
    if (first) {
      first = false;
      if (line == kHistoryHeader || line == std::string(kHistoryHeader) + "\r") return;
    }
    if (line.empty()) return;
    lines.push_back(std::move(line));
    if (lines.size() > static_cast<std::size_t>(count)) lines.pop_front();
  };
  const int error = ReadBlocks(fd, [&](std::string_view bytes) {
    for (std::size_t at = 0;;) {
      const std::size_t end = bytes.find('\n', at);
      if (end == std::string_view::npos) {
        partial.append(bytes.substr(at));
        break;
      }
      partial.append(bytes.substr(at, end - at));
      take(std::move(partial));
      partial.clear();
      at = end + 1;
    }
  });
  ::close(fd);
  if (error != 0) {
    err << "flashtool: the firmware history " << file.string() << " cannot be read: " << std::strerror(error)
        << "\n";
    return 1;
  }
  if (!partial.empty()) take(std::move(partial));
  std::vector<std::vector<std::string>> rows{SplitCsvLine(kHistoryHeader)};
  for (const auto& line : lines) {
    auto fields = SplitCsvLine(line);
    fields.resize(kHistoryColumns);
    // The terminal shows the fields as text, never as its own commands.
    for (auto& f : fields) f = ShownText(f);
    rows.push_back(std::move(fields));
  }
  out << AlignedTable(rows);
  return 0;
}

std::string AlignedTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size());
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Width(row[c]));
  }
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c) line += "  ";
      line += row[c];
      if (c + 1 < row.size()) line.append(widths[c] - Width(row[c]), ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line + "\n";
  }
  return text;
}

}  // namespace hx::flash
