// The measure log: one CSV line per reading of the measure block, appended
// to a file the technician chooses and written line by line, so a crash
// loses at most the line being written. The window's continuous reading and
// `hydrixctl measures --watch` both write it, each line under an exclusive
// lock on the file; the file only ever ends with whole lines.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "common/local_time.h"  // IsoLocalTime, which the log lines start with
#include "hydrix/settings/measures_codec.h"

namespace hx {

// The header line (without the line end).
std::string MeasureLogHeader();
// One line (without the line end): the local time in ISO 8601 with its UTC
// offset, then the decoded measures, "." as decimal point.
std::string MeasureLogLine(std::chrono::system_clock::time_point when, const MeasureBlock& block);
// The line of a reading that got no answer: the time, the measure fields
// empty.
std::string MeasureLogMissedLine(std::chrono::system_clock::time_point when);

class MeasureLog {
 public:
  MeasureLog() = default;
  ~MeasureLog() { Close(); }
  MeasureLog(const MeasureLog&) = delete;
  MeasureLog& operator=(const MeasureLog&) = delete;

  // Opens `path` for appending, writing the header first when the file is
  // new or empty, and a line end when it ends with part of a line (left by
  // a full disk or a crash). Only a regular file with write permission is
  // opened, without waiting on a FIFO. Empty on success, otherwise why the
  // file cannot be written (the log stays closed).
  std::string Open(const std::filesystem::path& path);
  bool IsOpen() const { return fd_ >= 0; }
  const std::filesystem::path& path() const { return path_; }
  // Appends one line. Empty on success; otherwise why, and the log is closed
  // after cutting off what went in of that line.
  std::string Append(std::chrono::system_clock::time_point when, const MeasureBlock& block);
  // Appends the line of a reading that got no answer.
  std::string AppendMissed(std::chrono::system_clock::time_point when);
  void Close();

 private:
  std::string WriteLine(const std::string& line);
  std::filesystem::path path_;
  int fd_ = -1;
};

}  // namespace hx
