#include "hydrix/mainscreen/measure_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>

#include "common/numbers.h"

namespace hx {

std::string MeasureLogHeader() {
  return "time,battery_voltage_V,temperature_C,charging_current_mA,discharging_current_mA,turbine,relay,"
         "not_charging,charge_state,state,state_text,delay_on_start_s,delay_after_charge_s,"
         "delay_before_charge_s,delay_before_relay_s";
}

std::string IsoLocalTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&t, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  // "+0100" becomes "+01:00".
  std::string s = text;
  if (s.size() >= 5) s.insert(s.size() - 2, ":");
  return s;
}

std::string MeasureLogLine(std::chrono::system_clock::time_point when, const MeasureBlock& block) {
  auto w = [&](int index) { return std::to_string(MeasureWord(block, index)); };
  return IsoLocalTime(when) + "," + FormatNumber(MeasureWord(block, 0) / 1000.0, "0.000") + "," + w(2) + "," +
         w(4) + "," + w(6) + "," + w(24) + "," + w(26) + "," + w(8) + "," + w(10) + "," + w(20) + "," +
         StateText(MeasureWord(block, 20)) + "," + w(18) + "," + w(12) + "," + w(14) + "," + w(16);
}

std::string MeasureLog::Open(const std::filesystem::path& path) {
  Close();
  std::error_code ec;
  const bool fresh = !std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) == 0;
  out_.open(path, std::ios::binary | std::ios::app);
  if (!out_) {
    const std::string why = std::strerror(errno);
    out_ = {};
    return "The measure log " + path.string() + " cannot be written: " + why + ".";
  }
  path_ = path;
  return fresh ? WriteLine(MeasureLogHeader()) : std::string();
}

std::string MeasureLog::Append(std::chrono::system_clock::time_point when, const MeasureBlock& block) {
  if (!IsOpen()) return "The measure log is not open.";
  return WriteLine(MeasureLogLine(when, block));
}

std::string MeasureLog::WriteLine(const std::string& line) {
  out_ << line << '\n';
  out_.flush();
  if (out_) return {};
  const std::string why = errno ? std::strerror(errno) : "write failed";
  Close();
  return "The measure log " + path_.string() + " could not be written (" + why + "); logging stopped.";
}

void MeasureLog::Close() {
  if (out_.is_open()) out_.close();
  out_.clear();
}

}  // namespace hx
