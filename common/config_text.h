// The small text steps of reading a "key = value" configuration file.
#pragma once

#include <string>
#include <string_view>

namespace hx {

// `s` without the white space at either end.
std::string_view TrimBlanks(std::string_view s);

// `s` with its ASCII letters in lower case (keys and words are compared so).
std::string LowerAscii(std::string_view s);

}  // namespace hx
