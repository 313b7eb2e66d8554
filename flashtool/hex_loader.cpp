#include "flashtool/hex_loader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>
#include <memory>
#include <vector>

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
  // Next line, or false at the end (or on a read error, see Failed()).
  virtual bool Next(std::string_view& line) = 0;
  virtual bool Failed() const { return false; }
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
    return true;
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
      carry_.append(start, len_ - pos_);
      carrying = true;
      pos_ = len_;
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
  static bool Finish(std::string_view& line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
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

// Checks one ':' line; on success fills `rec`.
bool ValidRecord(std::string_view line, Record& rec) {
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  if (line.size() < 11) return false;
  for (std::size_t i = 1; i < line.size(); ++i) {
    if (Nibble(line[i]) < 0) return false;
  }
  if ((line.size() - 1) % 2 != 0) return false;
  const unsigned n = ByteAt(line, 1);
  if (line.size() != 11 + 2 * static_cast<std::size_t>(n)) return false;
  rec.count = n;
  rec.address = ByteAt(line, 3) << 8 | ByteAt(line, 5);
  rec.type = ByteAt(line, 7);
  rec.digits = line.substr(9, 2 * static_cast<std::size_t>(n));
  if ((rec.type == 2 || rec.type == 4) && n != 2) return false;
#ifndef HYDRIX_HEX_SKIP_CHECKSUM
  unsigned sum = 0;
  for (std::size_t i = 1; i < line.size(); i += 2) sum += ByteAt(line, i);
  if ((sum & 0xFF) != 0) return false;
#endif
  return true;
}

std::int16_t Check(LineSource& lines) {
  std::string_view line;
  bool any = false;
  while (lines.Next(line)) {
    any = true;
    const char first = line.empty() ? ' ' : line[0];
    if (first == ':') {
      Record rec;
      if (!ValidRecord(line, rec)) return kHexBadRecord;
      if (rec.type == 1) return kHexValid;
    } else if (!IsBlank(first)) {
      return kHexBadLine;
    }
  }
  if (lines.Failed()) return kHexUnreadable;
  return any ? kHexNoEnd : kHexEmpty;
}

// Converts records already validated by Check. Returns the program-row
// count, or -1 when the sink refused a row.
std::int32_t Convert(LineSource& lines, RowSink& sink, int* stage) {
  auto mark = [stage](int s) {
    if (stage) *stage = s;
  };
  mark(7);
  std::uint32_t upper = 0;
  std::int32_t programRows = 0;
  // A 255-byte record starting at offset 15 of its row spans 17 rows.
  std::uint8_t buffer[17 * 16];
  std::string_view line;
  while (lines.Next(line)) {
    if (line.empty() || line[0] != ':') continue;
    Record rec;
    if (!ValidRecord(line, rec)) return -1;  // the file changed since it was checked
    if (rec.type == 1) break;
    if (rec.type == 4) {
      upper = ByteAt(rec.digits, 0) << 8 | ByteAt(rec.digits, 2);
      continue;
    }
    if (rec.type != 0 || rec.count == 0) continue;
    mark(99);
    const unsigned offset = rec.address & 0x000F;
    const unsigned rows = (offset + rec.count + 15) / 16;
    std::memset(buffer, 0xFF, rows * 16);
    for (unsigned k = 0; k < rec.count; ++k)
      buffer[offset + k] = static_cast<std::uint8_t>(ByteAt(rec.digits, 2 * k));
    ListKind kind;
    std::uint32_t first;
    const std::uint32_t low = rec.address & 0xFFF0;
    if (upper <= 0x001F) {
      kind = ListKind::Program, first = (upper << 16) + low, mark(8);
    } else if (upper == 0x0020) {
      kind = ListKind::UserId, first = 0x200000 + low, mark(9);
    } else if (upper == 0x0030) {
      kind = ListKind::Config, first = 0x300000 + low, mark(10);
    } else if (upper == 0x00F0) {
      kind = ListKind::Eeprom, first = low, mark(11);
    } else {
      continue;  // no memory region: the data is dropped
    }
    for (unsigned j = 0; j < rows; ++j) {
      if (!sink.Row(kind, first + 16 * j, buffer + 16 * j)) return -1;
      if (kind == ListKind::Program) ++programRows;
    }
  }
  if (lines.Failed()) return -1;
  return programRows;
}

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

// The four list files, written under temporary names.
class ListWriter : public RowSink {
 public:
  ListWriter(const ListFiles& lists, int& stage) : lists_(lists), stage_(stage) {}
  ~ListWriter() override { Discard(); }

  // Creates the four temporary files in the order progmem, eedata, userid, config.
  bool Create() {
    const std::string* names[4] = {&lists_.progmem, &lists_.eedata, &lists_.userid, &lists_.config};
    for (int i = 0; i < 4; ++i) {
      stage_ = 3 + i;
      if (names[i]->empty()) {
        errno_ = ENOENT;
        return false;
      }
      finals_[i] = lists_.folder / *names[i];
      temps_[i] = finals_[i];
      temps_[i] += ".part" + std::to_string(::getpid());  // one per run, should two share the folder
      std::FILE* f = std::fopen(temps_[i].c_str(), "wb");
      if (!f) {
        errno_ = errno;
        temps_[i].clear();
        return false;
      }
      files_[i].reset(f);
      std::setvbuf(f, nullptr, _IOFBF, 1 << 16);
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

  // Writes what is pending, closes the files and renames them into place.
  bool Commit() {
    static const int stageOf[4] = {8, 11, 9, 10};
    for (int i = 0; i < 4; ++i) {
      stage_ = stageOf[i];
      if (!Flush(i)) return false;
      std::FILE* f = files_[i].release();
      if (std::fclose(f) != 0) {
        errno_ = errno;
        return false;
      }
    }
    for (int i = 0; i < 4; ++i) {
      stage_ = 3 + i;
      std::error_code ec;
      std::filesystem::rename(temps_[i], finals_[i], ec);
      if (ec) {
        errno_ = ec.value();
        return false;
      }
      temps_[i].clear();
    }
    return true;
  }

  int Error() const { return errno_; }

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
  bool Flush(int i) {
    std::string& out = pending_[i];
    if (!out.empty() && std::fwrite(out.data(), 1, out.size(), files_[i].get()) != out.size()) {
      errno_ = errno ? errno : EIO;
      return false;
    }
    out.clear();
    return true;
  }
  void Discard() {
    for (int i = 0; i < 4; ++i) {
      files_[i].reset();
      if (!temps_[i].empty()) {
        std::error_code ec;
        std::filesystem::remove(temps_[i], ec);
      }
    }
  }

  const ListFiles& lists_;
  int& stage_;
  File files_[4];
  std::filesystem::path temps_[4], finals_[4];
  std::string pending_[4];
  int errno_ = 0;
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

std::int16_t CheckHexText(std::string_view text) {
  MemoryLines lines(text);
  return Check(lines);
}

std::int16_t CheckHexFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return kHexUnreadable;
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) return kHexUnreadable;
  FileLines lines(f.get());
  return Check(lines);
}

std::int32_t LoadHexText(std::string_view text, RowSink& sink) {
  const std::int16_t status = CheckHexText(text);
  if (status < 0) return status;
  MemoryLines lines(text);
  return Convert(lines, sink, nullptr);
}

std::int32_t LoadHexFile(const std::filesystem::path& path, const ListFiles& lists, std::string* warning) {
  const std::int16_t status = CheckHexFile(path);
  if (status < 0) return status;
  int stage = 1;
  auto fail = [&](int error) {
    if (warning) *warning = Warning(error ? error : EIO, stage);
    return -1;
  };
  stage = 2;
  File hex(std::fopen(path.c_str(), "rb"));
  if (!hex) return fail(errno);
  ListWriter writer(lists, stage);
  if (!writer.Create()) return fail(writer.Error());
  FileLines lines(hex.get());
  const std::int32_t rows = Convert(lines, writer, &stage);
  if (rows < 0) return fail(writer.Error() ? writer.Error() : (lines.Failed() ? EIO : EILSEQ));
  if (!writer.Commit()) return fail(writer.Error());
  return rows;
}

}  // namespace hx::flash
