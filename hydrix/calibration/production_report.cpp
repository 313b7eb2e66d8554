#include "hydrix/calibration/production_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/lock_file.h"
#include "common/safe_file.h"
#include "common/shown_text.h"

namespace hx {

namespace {

constexpr std::chrono::milliseconds kLogLockWait{5000};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

std::vector<std::string> ReportLines(const ReportInput& in) {
  const std::string sep = " : ";
  return {
      " ",
      std::string(42, '-'),
      in.date,
      " ",
      in.orderCaption + " " + in.order,
      " ",
      in.comments,
      " ",
      in.versionCaption + sep + in.version,
      in.serialCaption + sep + in.serial,
      in.dateCaption + sep + in.programmingDate,
      " ",
      "Clock Calibration : " + in.clockCorrection + " / " + in.clockValue,
      " ",
      in.startLowCaption + sep + in.startLow,
      in.startHighCaption + sep + in.startHigh,
      in.alarmCaption + sep + in.alarm,
      in.pulseCaption + sep + in.pulse,
      in.forced1Caption + sep + in.forced1,
      in.forced2Caption + sep + in.forced2,
      in.capacityCaption + sep + in.capacity,
      "Clock calibration : " + in.clockCorrection + " (" + in.clockValue + ")",
      "Voltage calibration : " + in.voltageCorrection,
      " ",
  };
}

std::string ProposedLogName(const std::string& order) {
  if (order.empty()) return {};
  return Lower(order).find(".log") != std::string::npos ? order : order + ".log";
}

std::string ReportFieldProblem(const std::string& order, const std::string& comments) {
  if (auto what = UnprintableInText(order))
    return "The order number holds " + *what + "; nothing was written.";
  if (auto what = UnprintableInText(comments, "\t\n"))
    return "The comments hold " + *what + "; nothing was written.";
  return {};
}

std::string AppendReport(const std::filesystem::path& file, const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  int fd = -1;
  if (const FileStatus status = OpenForAppend(file, fd); !status.ok())
    return "The production log " + file.string() + " cannot be opened: " + status.reason + ".";
  // Several stations may append to one log: the lock is held from the size
  // taken before the append to the cut back after a failure, so that a cut
  // never removes a report another station appended meanwhile.
  LockFile lock;
  if (const FileStatus status = lock.LockDescriptor(fd, kLogLockWait); !status.ok()) {
    ::close(fd);
    return "The production log " + file.string() + " cannot be locked: " + status.reason +
           ". Nothing was written.";
  }
  struct stat st {};
  const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
  int error = WriteAll(fd, text.data(), text.size());
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  // A report that did not go in whole is cut back to the old end.
  int cutError = 0;
  if (error != 0) cutError = before < 0 ? EIO : (::ftruncate(fd, before) == 0 ? 0 : errno);
  lock.Unlock();  // appended and, after a failure, cut back: the lock is done with
  const bool closed = ::close(fd) == 0;
  if (error == 0 && !closed) {
    error = errno;
    cutError = EIO;  // the descriptor is gone: nothing can be cut back any more
  }
  if (error == 0) return {};
  std::string message =
      "The report could not be written to " + file.string() + ": " + std::strerror(error) + ".";
  if (cutError == 0) return message + " The log is as it was before.";
  return message + " The log could not be cut back to its former length (" + std::strerror(cutError) +
         "): it may end with part of this report.";
}

}  // namespace hx
