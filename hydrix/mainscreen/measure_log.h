// The measure log: one CSV line per reading of the measure block, appended
// to a file the technician chooses and flushed line by line, so a crash
// loses at most the line being written. The window's continuous reading and
// `hydrixctl measures --watch` both write it.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "hydrix/mainscreen/measures_codec.h"

namespace hx {

// The header line (without the line end).
std::string MeasureLogHeader();
// One line (without the line end): the local time in ISO 8601 with its UTC
// offset, then the decoded measures, "." as decimal point.
std::string MeasureLogLine(std::chrono::system_clock::time_point when, const MeasureBlock& block);
// "2024-03-07T14:05:09+01:00" for `when` in the local time zone.
std::string IsoLocalTime(std::chrono::system_clock::time_point when);

class MeasureLog {
 public:
  // Opens `path` for appending, writing the header first when the file is
  // new or empty. Empty on success, otherwise why the file cannot be written
  // (the log stays closed).
  std::string Open(const std::filesystem::path& path);
  bool IsOpen() const { return out_.is_open(); }
  const std::filesystem::path& path() const { return path_; }
  // Appends and flushes one line. Empty on success; otherwise why, and the
  // log is closed (a half-written file is not written on).
  std::string Append(std::chrono::system_clock::time_point when, const MeasureBlock& block);
  void Close();

 private:
  std::string WriteLine(const std::string& line);
  std::filesystem::path path_;
  std::ofstream out_;
};

}  // namespace hx
