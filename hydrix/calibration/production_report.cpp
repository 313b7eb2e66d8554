#include "hydrix/calibration/production_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hx {

namespace {

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

std::string AppendReport(const std::filesystem::path& file, const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    return "The production log " + file.string() + " cannot be opened: " + std::strerror(errno) + ".";
  struct stat st {};
  const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
  std::size_t done = 0;
  int error = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  // A report that did not go in whole is cut back to the old end.
  if (error != 0 && before >= 0 && ::ftruncate(fd, before) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    return "The report could not be written to " + file.string() + ": " + std::strerror(error) +
           ". The log is as it was before.";
  }
  return {};
}

}  // namespace hx
