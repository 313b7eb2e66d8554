#include "hydrix/settings/measure_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/lock_file.h"
#include "common/numbers.h"
#include "common/safe_file.h"

namespace hx {

std::string MeasureLogHeader() {
  return "time,battery_voltage_V,temperature_C,charging_current_mA,discharging_current_mA,turbine,relay,"
         "not_charging,charge_state,state,state_text,delay_on_start_s,delay_after_charge_s,"
         "delay_before_charge_s,delay_before_relay_s";
}

std::string MeasureLogLine(std::chrono::system_clock::time_point when, const MeasureBlock& block) {
  auto w = [&](int index) { return std::to_string(MeasureWord(block, index)); };
  return IsoLocalTime(when) + "," + FormatNumber(MeasureWord(block, 0) / 1000.0, "0.000") + "," + w(2) + "," +
         w(4) + "," + w(6) + "," + w(24) + "," + w(26) + "," + w(8) + "," + w(10) + "," + w(20) + "," +
         StateText(MeasureWord(block, 20)) + "," + w(18) + "," + w(12) + "," + w(14) + "," + w(16);
}

std::string MeasureLogMissedLine(std::chrono::system_clock::time_point when) {
  // The time, then every measure field empty.
  const std::string header = MeasureLogHeader();
  return IsoLocalTime(when) +
         std::string(static_cast<std::size_t>(std::count(header.begin(), header.end(), ',')), ',');
}

namespace {

constexpr std::chrono::milliseconds kLineLockWait{1000};

// Whether a non-empty regular file ends with a line end.
bool EndsWithLineEnd(const std::filesystem::path& path, off_t size) {
  int fd = -1;
  if (!OpenRegularForRead(path, fd).ok()) return true;
  char last = '\n';
  const bool read = ::pread(fd, &last, 1, size - 1) == 1;
  ::close(fd);
  return !read || last == '\n';
}

// The first `count` bytes of a regular file (fewer when it is shorter).
std::string FirstBytes(const std::filesystem::path& path, std::size_t count) {
  int fd = -1;
  if (!OpenRegularForRead(path, fd).ok()) return {};
  std::string bytes(count, '\0');
  const ssize_t got = ::pread(fd, bytes.data(), count, 0);
  ::close(fd);
  bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return bytes;
}

}  // namespace

std::string MeasureLog::Open(const std::filesystem::path& path) {
  Close();
  int fd = -1;
  if (const FileStatus status = OpenForAppend(path, fd); !status.ok())
    return "The measure log " + path.string() + " cannot be written: " + status.reason + ".";
  fd_ = fd;
  path_ = path;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    const std::string why = std::strerror(errno);
    Close();
    return "The measure log " + path.string() + " cannot be written: " + why + ".";
  }
  if (st.st_size == 0) return WriteLine(MeasureLogHeader());
  // Rows go only under this log's own header: appended to another
  // program's file they would spoil it. A byte-order mark left by an
  // editor is let through, and a file holding nothing else gets the header.
  const std::string header = MeasureLogHeader();
  const std::string bom = "\xEF\xBB\xBF";
  std::string start = FirstBytes(path, bom.size() + header.size() + 2);
  if (start.starts_with(bom)) start.erase(0, bom.size());
  if (start.empty() && st.st_size == static_cast<off_t>(bom.size())) return WriteLine(header);
  if (!(start == header || start.starts_with(header + "\n") || start.starts_with(header + "\r\n"))) {
    Close();
    return "The measure log " + path.string() +
           " cannot be written: its first line is not the header of a measure log, so it is taken for "
           "another program's file.";
  }
  // The next row starts on a line of its own.
  if (!EndsWithLineEnd(path, st.st_size)) return WriteLine({});
  return {};
}

std::string MeasureLog::Append(std::chrono::system_clock::time_point when, const MeasureBlock& block) {
  if (!IsOpen()) return "The measure log is not open.";
  return WriteLine(MeasureLogLine(when, block));
}

std::string MeasureLog::AppendMissed(std::chrono::system_clock::time_point when) {
  if (!IsOpen()) return "The measure log is not open.";
  return WriteLine(MeasureLogMissedLine(when));
}

// Writes `line` and a line end (only the line end for an empty line) under
// the file's lock; what went in of a line that did not go in whole is cut
// off again, so that the file keeps ending with whole lines.
std::string MeasureLog::WriteLine(const std::string& line) {
  const std::string text = line + "\n";
  std::string why;
  LockFile lock;
  if (const FileStatus status = lock.LockDescriptor(fd_, kLineLockWait); status.ok()) {
    struct stat st {};
    const off_t before = ::fstat(fd_, &st) == 0 ? st.st_size : -1;
    const int error = WriteAll(fd_, text.data(), text.size());
    if (error != 0 && before >= 0) (void)::ftruncate(fd_, before);
    lock.Unlock();
    if (error == 0) return {};
    why = std::strerror(error);
  } else {
    why = status.reason;
  }
  Close();
  return "The measure log " + path_.string() + " could not be written (" + why + "); logging stopped.";
}

void MeasureLog::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace hx
