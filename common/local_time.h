// The local time as the tool set's logs write it.
#pragma once

#include <chrono>
#include <string>

namespace hx {

// "2024-03-07T14:05:09+01:00": `when` in the local time zone, ISO 8601 with
// its UTC offset.
std::string IsoLocalTime(std::chrono::system_clock::time_point when);

}  // namespace hx
