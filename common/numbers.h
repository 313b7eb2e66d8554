// Number texts shared by every screen: rounding, the numeric test of a typed
// text, and the format patterns. No window formats a number by hand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hx {

enum class NumStatus { Ok, Overflow };

// Rounds to the nearest whole number, a half going to the even neighbour
// (2.5 -> 2, 3.5 -> 4, -2.5 -> -2). Infinities and NaN are returned as is.
double RoundHalfEven(double v);

// The same into a 16- or 32-bit target. A value that does not fit (or is not
// a number) gives NumStatus::Overflow and leaves `out` untouched.
NumStatus RoundHalfEven(double v, std::int16_t& out);
NumStatus RoundHalfEven(double v, std::int32_t& out);

// True when `text`, trimmed of blanks (spaces and tabs), is an optional sign,
// digits with at most one decimal separator ("." or ","), and optionally an
// exponent (e or E, an optional sign, digits). At least one digit is needed
// before the exponent.
bool IsNumeric(std::string_view text);

// The value of a text that IsNumeric accepts; nothing otherwise. Independent
// of the process locale.
std::optional<double> ParseNumber(std::string_view text);

// The value of a text that IsNumeric accepts when it is finite and within
// [min, max]; nothing otherwise (infinities such as 1e309, and values
// outside the target's range). Callers say the accepted range.
std::optional<double> ParseNumberIn(std::string_view text, double min, double max);

// Formats `value` with a screen pattern: an integer part of "0"s (minimum
// digits) or "#" (no digit when the value is below 1), then optionally "."
// and one "0" per decimal shown. Examples: "0", "00", "0.00", "#.00",
// "0.000", "#.0000". The decimal value is rounded half away from zero at the
// last digit shown; the decimal point is always ".". A value that rounds to
// zero is written without a sign. An unknown pattern gives the shortest
// decimal text of the value.
std::string FormatNumber(double value, std::string_view pattern);

// The shortest decimal text that reads back as the same double (5 -> "5",
// 0.1 -> "0.1"), with "." as decimal point.
std::string ShortestDecimal(double value);

}  // namespace hx
