#include "common/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace hx {

double RoundHalfEven(double v) {
  if (!std::isfinite(v)) return v;
  const double lower = std::floor(v);
  const double diff = v - lower;  // exact for doubles: 0 <= diff < 1
  if (diff > 0.5) return lower + 1.0;
  if (diff < 0.5) return lower;
  return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

namespace {

template <typename Int>
NumStatus RoundInto(double v, Int& out) {
  const double r = RoundHalfEven(v);
  if (!std::isfinite(r) || r < static_cast<double>(std::numeric_limits<Int>::min()) ||
      r > static_cast<double>(std::numeric_limits<Int>::max())) {
    return NumStatus::Overflow;
  }
  out = static_cast<Int>(r);
  return NumStatus::Ok;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

NumStatus RoundHalfEven(double v, std::int16_t& out) { return RoundInto(v, out); }
NumStatus RoundHalfEven(double v, std::int32_t& out) { return RoundInto(v, out); }

bool IsNumeric(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  bool separator = false;
  for (; i < s.size(); ++i) {
    if (IsDigit(s[i])) {
      ++digits;
    } else if ((s[i] == '.' || s[i] == ',') && !separator) {
      separator = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i == s.size()) return true;
  if (s[i] != 'e' && s[i] != 'E') return false;
  ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t expDigits = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) ++expDigits;
  return expDigits > 0 && i == s.size();
}

std::optional<double> ParseNumber(std::string_view text) {
  if (!IsNumeric(text)) return std::nullopt;
  std::string s(TrimBlanks(text));
  for (char& c : s) {
    if (c == ',') c = '.';
  }
  std::size_t start = (s[0] == '+') ? 1 : 0;
  double v = 0;
  auto [ptr, ec] = std::from_chars(s.data() + start, s.data() + s.size(), v);
  if (ptr != s.data() + s.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    // Too large: keep the sign and report infinity; too small: zero.
    const bool negative = s[start] == '-';
    const auto e = s.find_first_of("eE");
    const bool hugeExp = e != std::string::npos && s[e + 1] != '-';
    if (hugeExp)
      return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return negative ? -0.0 : 0.0;
  }
  if (ec != std::errc()) return std::nullopt;
  return v;
}

std::optional<double> ParseNumberIn(std::string_view text, double min, double max) {
  const auto v = ParseNumber(text);
  if (!v || !std::isfinite(*v) || !(*v >= min && *v <= max)) return std::nullopt;
  return v;
}

std::string ShortestDecimal(double value) {
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
  if (ec != std::errc()) return {};
  return std::string(buf, ptr);
}

namespace {

struct Pattern {
  int minIntDigits = 0;
  int decimals = 0;
};

std::optional<Pattern> ParsePattern(std::string_view p) {
  Pattern out;
  std::size_t i = 0;
  bool sawHash = false;
  for (; i < p.size() && (p[i] == '0' || p[i] == '#'); ++i) {
    if (p[i] == '0') {
      ++out.minIntDigits;
    } else {
      sawHash = true;
    }
  }
  if (i == 0 && (p.empty() || p[0] != '.')) return std::nullopt;
  (void)sawHash;
  if (i < p.size()) {
    if (p[i] != '.') return std::nullopt;
    ++i;
    for (; i < p.size(); ++i) {
      if (p[i] != '0') return std::nullopt;
      ++out.decimals;
    }
  }
  return out;
}

// Digits of |value| as an exact decimal string of the shortest round-trip
// form: returns the digits and the position of the decimal point.
struct Decimal {
  std::string digits;  // no leading zeros except a lone "0"
  int pointPos = 0;    // number of digits before the point (may be <= 0)
};

Decimal ToDecimal(double magnitude) {
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
  std::string_view s(buf, static_cast<std::size_t>(ptr - buf));
  (void)ec;
  const auto e = s.find('e');
  std::string mant(s.substr(0, e));
  const int exp = std::stoi(std::string(s.substr(e + 1)));
  Decimal d;
  for (char c : mant) {
    if (c != '.') d.digits += c;
  }
  d.pointPos = exp + 1;
  return d;
}

}  // namespace

std::string FormatNumber(double value, std::string_view pattern) {
  const auto pat = ParsePattern(pattern);
  if (!pat || !std::isfinite(value)) return ShortestDecimal(value);

  const bool negative = std::signbit(value);
  Decimal d = ToDecimal(std::fabs(value));
  // Integer digits and fraction digits, padded so that the fraction has at
  // least decimals + 1 digits (one more to round on).
  std::string intPart;
  std::string fracPart;
  if (d.pointPos <= 0) {
    intPart = "";
    fracPart = std::string(static_cast<std::size_t>(-d.pointPos), '0') + d.digits;
  } else if (static_cast<std::size_t>(d.pointPos) >= d.digits.size()) {
    intPart = d.digits + std::string(static_cast<std::size_t>(d.pointPos) - d.digits.size(), '0');
  } else {
    intPart = d.digits.substr(0, static_cast<std::size_t>(d.pointPos));
    fracPart = d.digits.substr(static_cast<std::size_t>(d.pointPos));
  }
  const auto keep = static_cast<std::size_t>(pat->decimals);
  bool roundUp = fracPart.size() > keep && fracPart[keep] >= '5';
  fracPart.resize(keep, '0');
  std::string all = intPart + fracPart;
  if (roundUp) {
    int i = static_cast<int>(all.size()) - 1;
    for (; i >= 0; --i) {
      if (all[static_cast<std::size_t>(i)] == '9') {
        all[static_cast<std::size_t>(i)] = '0';
      } else {
        ++all[static_cast<std::size_t>(i)];
        break;
      }
    }
    if (i < 0) {
      all.insert(all.begin(), '1');
    }
  }
  std::string newInt = all.substr(0, all.size() - keep);
  std::string newFrac = all.substr(all.size() - keep);
  // Strip leading zeros of the integer part, then pad to the minimum.
  std::size_t nz = newInt.find_first_not_of('0');
  newInt = nz == std::string::npos ? std::string() : newInt.substr(nz);
  if (newInt.size() < static_cast<std::size_t>(pat->minIntDigits)) {
    newInt.insert(0, static_cast<std::size_t>(pat->minIntDigits) - newInt.size(), '0');
  }
  const bool zero = all.find_first_not_of('0') == std::string::npos;
  std::string out;
  if (negative && !zero) out += '-';
  out += newInt;
  if (keep > 0) {
    out += '.';
    out += newFrac;
  }
  if (out.empty() || out == "-") out += '0';  // pattern "#" of a value below 0.5
  return out;
}

}  // namespace hx
