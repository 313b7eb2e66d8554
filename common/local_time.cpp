#include "common/local_time.h"

#include <ctime>

namespace hx {

std::string IsoLocalTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&t, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  // "+0100" becomes "+01:00".
  const std::string s = text;
  if (s.size() < 5) return s;
  return s.substr(0, s.size() - 2) + ":" + s.substr(s.size() - 2);
}

}  // namespace hx
