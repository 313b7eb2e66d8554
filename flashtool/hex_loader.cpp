#include "flashtool/hex_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/atomic_file.h"
#include "common/safe_file.h"
#include "wire/boot_memory_map.h"

namespace hx::flash {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Value of one hex digit, or -1.
inline int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Lines of a text, split at LF; one CR before the LF is dropped.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // Next line, or false at the end (or on a read error, see Failed(), or at
  // a line longer than the longest record, see TooLong()).
  virtual bool Next(std::string_view& line) = 0;
  virtual bool Failed() const { return false; }
  bool TooLong() const { return tooLong_; }
  long Number() const { return number_; }  // of the line last returned (or refused)

 protected:
  // Counts a line; false (and TooLong) when it is longer than any record.
  bool Accept(std::size_t length) {
    ++number_;
    if (length > kMaxRecordLength) tooLong_ = true;
    return !tooLong_;
  }
  bool tooLong_ = false;
  long number_ = 0;
};

class MemoryLines : public LineSource {
 public:
  explicit MemoryLines(std::string_view text) : text_(text) {}
  bool Next(std::string_view& line) override {
    if (pos_ >= text_.size()) return false;
    std::size_t nl = text_.find('\n', pos_);
    if (nl == std::string_view::npos) nl = text_.size();
    line = text_.substr(pos_, nl - pos_);
    pos_ = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return Accept(line.size());
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads a file in large blocks; memory use does not grow with the file.
class FileLines : public LineSource {
 public:
  explicit FileLines(std::FILE* f) : f_(f), buf_(1 << 16) {}
  bool Next(std::string_view& line) override {
    carry_.clear();
    bool carrying = false;
    for (;;) {
      if (pos_ == len_) {
        if (!Fill()) {
          if (!carrying) return false;
          line = carry_;
          return Finish(line);
        }
      }
      // A line end that does not come within the longest record (a file of
      // zeros, say) is not waited for: the line is refused at once.
      if (carrying && carry_.size() > kMaxRecordLength + 1) return Accept(carry_.size());
      const char* start = buf_.data() + pos_;
      const void* nl = std::memchr(start, '\n', len_ - pos_);
      if (nl) {
        const std::size_t n = static_cast<const char*>(nl) - start;
        if (carrying) {
          carry_.append(start, n);
          line = carry_;
        } else {
          line = std::string_view(start, n);
        }
        pos_ += n + 1;
        return Finish(line);
      }
      const std::size_t take =
          std::min(len_ - pos_, kMaxRecordLength + 2 - std::min(carry_.size(), kMaxRecordLength + 2));
      carry_.append(start, take);
      carrying = true;
      pos_ += take;
    }
  }
  bool Failed() const override { return failed_; }

 private:
  bool Fill() {
    if (eof_) return false;
    len_ = std::fread(buf_.data(), 1, buf_.size(), f_);
    pos_ = 0;
    if (len_ == 0) {
      eof_ = true;
      failed_ = std::ferror(f_) != 0;
      return false;
    }
    return true;
  }
  bool Finish(std::string_view& line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return Accept(line.size());
  }
  std::FILE* f_;
  std::vector<char> buf_;
  std::size_t pos_ = 0, len_ = 0;
  bool eof_ = false, failed_ = false;
  std::string carry_;
};

// A decoded record: count, address, type and the bytes after the header.
struct Record {
  unsigned count = 0;
  unsigned address = 0;
  unsigned type = 0;
  std::string_view digits;  // the 2N data digits
};

inline unsigned ByteAt(std::string_view s, std::size_t i) {
  return static_cast<unsigned>(Nibble(s[i]) << 4 | Nibble(s[i + 1]));
}

// Checks one ':' line; on success fills `rec`, else names what is wrong.
const char* RecordProblem(std::string_view line, Record& rec) {
  constexpr const char* kMalformed = "not a record (':' and 2N+10 hex digits)";
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  if (line.size() < 11) return kMalformed;
  for (std::size_t i = 1; i < line.size(); ++i) {
    if (Nibble(line[i]) < 0) return kMalformed;
  }
  if ((line.size() - 1) % 2 != 0) return kMalformed;
  const unsigned n = ByteAt(line, 1);
  if (line.size() != 11 + 2 * static_cast<std::size_t>(n)) return "the byte count does not match the record";
  rec.count = n;
  rec.address = ByteAt(line, 3) << 8 | ByteAt(line, 5);
  rec.type = ByteAt(line, 7);
  rec.digits = line.substr(9, 2 * static_cast<std::size_t>(n));
  if ((rec.type == 2 || rec.type == 4) && n != 2) return "an address record must carry 2 bytes";
#ifndef HYDRIX_HEX_SKIP_CHECKSUM
  unsigned sum = 0;
  for (std::size_t i = 1; i < line.size(); i += 2) sum += ByteAt(line, i);
  if ((sum & 0xFF) != 0) return "bad checksum";
#endif
  return nullptr;
}

// The list a data byte at an absolute address belongs to, and the offset
// taken off its address in the list (the data EEPROM keeps its 16-bit
// address). False for data that belongs to no list.
bool RegionOf(std::uint64_t address, ListKind& kind, std::uint32_t& base, int& stage) {
  using namespace boot;
  if (address < kUserIdBase) {
    kind = ListKind::Program, base = 0, stage = 8;
  } else if (address >= kUserIdBase && address < kUserIdBase + kHexRegionSize) {
    kind = ListKind::UserId, base = 0, stage = 9;
  } else if (address >= kConfigBase && address < kConfigBase + kHexRegionSize) {
    kind = ListKind::Config, base = 0, stage = 10;
  } else if (address >= kEepromHexBase && address < kEepromHexBase + kHexRegionSize) {
    kind = ListKind::Eeprom, base = kEepromHexBase, stage = 11;
  } else {
    return false;
  }
  return true;
}

// One pass over the records: validates every line up to the end-of-file
// record (syntax, the ranges allowed, no byte given data twice) and, with a
// sink, hands it the rows of each data record. Returns kHexValid (no sink)
// or the program-row count (sink), or a negative status; -1 also when the
// sink refused a row.
class Walker {
 public:
  Walker(const HexLimits* limits, HexProblem* problem, int* stage)
      : limits_(limits), problem_(problem), stage_(stage) {}

  std::int32_t Run(LineSource& lines, RowSink* sink) {
    Mark(7);
    std::string_view line;
    bool any = false;
    while (lines.Next(line)) {
      any = true;
      const char first = line.empty() ? ' ' : line[0];
      if (first == ':') {
        Record rec;
        if (const char* why = RecordProblem(line, rec)) return Fail(kHexBadRecord, lines.Number(), why);
        if (rec.type == 1) {
          if (marker_.line) return Fail(kHexOutOfRange, marker_.line, marker_.reason);
          return sink ? programRows_ : kHexValid;
        }
        if (rec.type == 4 || rec.type == 2) {
          const std::uint32_t value = ByteAt(rec.digits, 0) << 8 | ByteAt(rec.digits, 2);
          segmented_ = rec.type == 2;
          base_ = segmented_ ? value << 4 : value << 16;
          continue;
        }
        if (rec.type != 0 || rec.count == 0) continue;  // 03, 05: start addresses, nothing to program
        if (const std::int32_t r = Data(rec, lines.Number(), sink); r < 0) return r;
      } else if (!IsBlank(first)) {
        return Fail(kHexBadLine, lines.Number(), "does not start with ':'");
      }
    }
    if (lines.TooLong()) {
      return Fail(kHexLineTooLong, lines.Number(),
                  "longer than the longest record (" + std::to_string(kMaxRecordLength) + " characters)");
    }
    if (lines.Failed()) return Fail(kHexUnreadable, 0, "the file cannot be read");
    return any ? Fail(kHexNoEnd, 0, "no end-of-file record") : Fail(kHexEmpty, 0, "the file is empty");
  }

 private:
  void Mark(int s) {
    if (stage_) *stage_ = s;
  }
  std::int32_t Fail(std::int32_t status, long line, std::string reason) {
    if (problem_) *problem_ = HexProblem{line, std::move(reason)};
    return status;
  }

  // A data record: in segment mode its offsets wrap within the 64 KB segment,
  // which may split it in two.
  std::int32_t Data(const Record& rec, long number, RowSink* sink) {
    Mark(99);
    std::uint8_t bytes[255];
    for (unsigned k = 0; k < rec.count; ++k) bytes[k] = static_cast<std::uint8_t>(ByteAt(rec.digits, 2 * k));
    unsigned done = 0;
    while (done < rec.count) {
      const unsigned offset = (rec.address + done) & (segmented_ ? 0xFFFFu : 0xFFFFFFFFu);
      unsigned n = rec.count - done;
      if (segmented_) n = std::min(n, 0x10000u - offset);
      const std::uint64_t at = std::uint64_t{base_} + offset;
      if (const std::int32_t r = Piece(at, bytes + done, n, number, sink); r < 0) return r;
      done += n;
    }
    return 0;
  }

  std::int32_t Piece(std::uint64_t at, const std::uint8_t* data, unsigned n, long number, RowSink* sink) {
    if (limits_) {
      for (unsigned k = 0; k < n; ++k) {
        if (!limits_->Contains(at + k)) {
          return Fail(kHexOutOfRange, number,
                      "address " + HexPad(static_cast<std::uint32_t>(at + k), 6) +
                          " is outside the memory to program");
        }
      }
      // Reported once the rest of the file has passed: any other fault of
      // the file is named first.
      for (unsigned k = 0; k < n && !marker_.line; ++k) {
        for (const HexRange& row : limits_->markerRows) {
          if (at + k >= row.low && at + k <= row.high) {
            marker_ = HexProblem{number, "address " + HexPad(static_cast<std::uint32_t>(at + k), 6) +
                                             " is in the row " + HexPad(row.low, 6) + "-" +
                                             HexPad(row.high, 6) + " that the flash marker is written over"};
            break;
          }
        }
      }
    }
    // Rows of 16 bytes: which bytes each has been given so far.
    for (std::uint64_t row = at >> 4; row <= (at + n - 1) >> 4; ++row) {
      const std::uint64_t lo = std::max(row << 4, at), hi = std::min((row << 4) + 15, at + n - 1);
      std::uint16_t mask = 0;
      for (std::uint64_t a = lo; a <= hi; ++a) mask = static_cast<std::uint16_t>(mask | 1u << (a & 0xF));
      std::uint16_t& given = given_[row];
      if (const std::uint16_t twice = given & mask) {
        unsigned bit = 0;
        while (!(twice & (1u << bit))) ++bit;
        return Fail(
            kHexOverlap, number,
            "address " + HexPad(static_cast<std::uint32_t>((row << 4) + bit), 6) + " is given data twice");
      }
      given = static_cast<std::uint16_t>(given | mask);
    }
    if (!sink) return 0;
    ListKind kind;
    std::uint32_t regionBase = 0;
    int stage = 0;
    if (!RegionOf(at, kind, regionBase, stage)) return 0;  // no memory region: the data is dropped
    Mark(stage);
    // A 255-byte record starting at offset 15 of its row spans 17 rows.
    std::uint8_t buffer[17 * 16];
    const unsigned offset = static_cast<unsigned>(at & 0xF);
    const unsigned rows = (offset + n + 15) / 16;
    std::memset(buffer, 0xFF, rows * 16);
    std::memcpy(buffer + offset, data, n);
    const auto first = static_cast<std::uint32_t>((at & ~std::uint64_t{0xF}) - regionBase);
    for (unsigned j = 0; j < rows; ++j) {
      if (!sink->Row(kind, first + 16 * j, buffer + 16 * j)) return -1;
      if (kind == ListKind::Program) ++programRows_;
    }
    return 0;
  }

  const HexLimits* limits_;
  HexProblem* problem_;
  int* stage_;
  bool segmented_ = false;
  std::uint32_t base_ = 0;
  std::int32_t programRows_ = 0;
  std::unordered_map<std::uint64_t, std::uint16_t> given_;
  HexProblem marker_;  // the first data byte in a marker row
};

void AppendRow(std::string& out, std::uint32_t address, const std::uint8_t* bytes) {
  char row[56];
  for (int i = 5; i >= 0; --i) {
    row[i] = kHexDigits[address & 0xF];
    address >>= 4;
  }
  row[6] = ' ';
  char* p = row + 7;
  for (int k = 0; k < 16; ++k) {
    *p++ = kHexDigits[bytes[k] >> 4];
    *p++ = kHexDigits[bytes[k] & 0xF];
    *p++ = ' ';
  }
  out.append(row, 55);
}

// The four list files, each written whole or not at all: one replacement
// per file, committed only once every row of every list is written.
class ListWriter : public RowSink {
 public:
  ListWriter(const ListFiles& lists, int& stage) : lists_(lists), stage_(stage) {}

  // Opens the four replacements in the order progmem, eedata, userid, config.
  bool Create() {
    const std::string* names[4] = {&lists_.progmem, &lists_.eedata, &lists_.userid, &lists_.config};
    for (int i = 0; i < 4; ++i) {
      stage_ = 3 + i;
      if (names[i]->empty()) {
        errno_ = ENOENT;
        return false;
      }
      if (!Check(files_[i].Open(lists_.folder / *names[i]))) return false;
    }
    return true;
  }

  bool Row(ListKind kind, std::uint32_t address, const std::uint8_t* bytes16) override {
    const int i = Index(kind);
    std::string& out = pending_[i];
    AppendRow(out, address, bytes16);
    out.push_back('\n');
    if (out.size() >= (1 << 15)) return Flush(i);
    return true;
  }

  // Writes what is pending, then replaces the four files.
  bool Commit() {
    static const int stageOf[4] = {8, 11, 9, 10};
    for (int i = 0; i < 4; ++i) {
      stage_ = stageOf[i];
      if (!Flush(i)) return false;
    }
    for (int i = 0; i < 4; ++i) {
      stage_ = 3 + i;
      if (!Check(files_[i].Commit())) {
        failedFile_ = files_[i].Target();
        return false;
      }
    }
    return true;
  }

  int Error() const { return errno_; }
  // The list file a write failed on (its temporary file is gone), or empty.
  const std::filesystem::path& FailedFile() const { return failedFile_; }

 private:
  static int Index(ListKind k) {
    switch (k) {
      case ListKind::Program:
        return 0;
      case ListKind::Eeprom:
        return 1;
      case ListKind::UserId:
        return 2;
      case ListKind::Config:
        return 3;
    }
    return 0;
  }
  bool Check(const FileStatus& status) {
    if (status.ok()) return true;
    errno_ = status.error ? status.error : EIO;
    return false;
  }
  bool Flush(int i) {
    std::string& out = pending_[i];
    if (!out.empty()) {
      const FileStatus status = files_[i].Write(out);
      if (!status.ok()) {
        Check(status);
        failedFile_ = files_[i].Target();
        return false;
      }
    }
    out.clear();
    return true;
  }

  const ListFiles& lists_;
  int& stage_;
  AtomicFile files_[4];  // an uncommitted one removes its temporary file
  std::string pending_[4];
  int errno_ = 0;
  std::filesystem::path failedFile_;
};

std::string Warning(int error, int stage) {
  return "ERR " + std::to_string(error) + "/" + std::to_string(stage) + " (" + std::strerror(error) + ")";
}

}  // namespace

std::string HexPad(std::uint32_t value, int width) {
  std::string s;
  do {
    s.insert(s.begin(), kHexDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<std::size_t>(width) - s.size(), '0');
  return s;
}

std::string FormatListRow(std::uint32_t address, const std::uint8_t* bytes16) {
  std::string row;
  AppendRow(row, address, bytes16);
  return row;
}

bool ParseListRow(std::string_view line, std::uint32_t& address, std::uint8_t* bytes16) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.size() < 54 || line[6] != ' ') return false;
  std::uint32_t a = 0;
  for (int i = 0; i < 6; ++i) {
    const int d = Nibble(line[i]);
    if (d < 0) return false;
    a = a << 4 | static_cast<std::uint32_t>(d);
  }
  for (int k = 0; k < 16; ++k) {
    const std::size_t at = 7 + 3 * static_cast<std::size_t>(k);
    const int hi = Nibble(line[at]), lo = Nibble(line[at + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes16[k] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  address = a;
  return true;
}

bool HexLimits::Contains(std::uint64_t address) const {
  for (const auto& r : ranges) {
    if (address >= r.low && address <= r.high) return true;
  }
  return false;
}

std::string HexProblem::Text() const {
  return line > 0 ? "Line " + std::to_string(line) + ": " + reason : reason;
}

std::int16_t CheckHexText(std::string_view text, const HexLimits* limits, HexProblem* problem) {
  MemoryLines lines(text);
  return static_cast<std::int16_t>(Walker(limits, problem, nullptr).Run(lines, nullptr));
}

namespace {
// Opens a regular file for reading without ever blocking on a FIFO or a
// device; nothing (and the reason) otherwise.
File OpenRegular(const std::filesystem::path& path, HexProblem* problem) {
  int fd = -1;
  if (const FileStatus status = OpenRegularForRead(path, fd); !status.ok()) {
    if (problem) *problem = HexProblem{0, status.reason};
    errno = status.error ? status.error : EINVAL;
    return File();
  }
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    const int error = errno;
    ::close(fd);
    if (problem) *problem = HexProblem{0, std::strerror(error)};
    errno = error;
    return File();
  }
  return File(f);
}
}  // namespace

std::int16_t CheckHexFile(const std::filesystem::path& path, const HexLimits* limits, HexProblem* problem) {
  File f = OpenRegular(path, problem);
  if (!f) return kHexUnreadable;
  FileLines lines(f.get());
  return static_cast<std::int16_t>(Walker(limits, problem, nullptr).Run(lines, nullptr));
}

std::int32_t LoadHexText(std::string_view text, RowSink& sink, const HexLimits* limits, HexProblem* problem) {
  const std::int16_t status = CheckHexText(text, limits, problem);
  if (status < 0) return status;
  MemoryLines lines(text);
  const std::int32_t rows = Walker(limits, nullptr, nullptr).Run(lines, &sink);
  return rows < 0 ? -1 : rows;
}

std::int32_t LoadHexFile(const std::filesystem::path& path, const ListFiles& lists, std::string* warning,
                         const HexLimits* limits, HexProblem* problem) {
  const std::int16_t status = CheckHexFile(path, limits, problem);
  if (status < 0) return status;
  int stage = 1;
  auto fail = [&](int error) {
    if (warning) *warning = Warning(error ? error : EIO, stage);
    return -1;
  };
  stage = 2;
  File hex = OpenRegular(path, nullptr);
  if (!hex) return fail(errno);
  ListWriter writer(lists, stage);
  if (!writer.Create()) return fail(writer.Error());
  FileLines lines(hex.get());
  // The same checks again: a file changed since it was checked is not converted.
  const std::int32_t rows = Walker(limits, nullptr, &stage).Run(lines, &writer);
  const bool written = rows >= 0 && writer.Commit();
  if (written) return rows;
  // A list that could not be written (a full disk, a file-size limit) is
  // named; nothing of this conversion is left behind.
  if (problem && !writer.FailedFile().empty()) {
    *problem = HexProblem{0, writer.FailedFile().string() + ": " + std::strerror(writer.Error())};
  }
  return fail(writer.Error() ? writer.Error() : (lines.Failed() ? EIO : EILSEQ));
}

}  // namespace hx::flash
