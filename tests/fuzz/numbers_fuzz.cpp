// Number texts: the numeric test and the parser agree; the shortest decimal
// reads back as the same double; every screen pattern writes a numeric text
// that reads back within half its last digit and formats again to itself;
// rounding half to even stays within half a unit and reports overflow.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/numbers.h"

namespace {

struct Pattern {
  const char* text;
  int decimals;
};
constexpr Pattern kPatterns[] = {{"0", 0}, {"00", 0}, {"0.00", 2}, {"#.00", 2}, {"0.000", 3}, {"#.0000", 4}};

void CheckFormat(double x) {
  for (const auto& p : kPatterns) {
    const std::string f = hx::FormatNumber(x, p.text);
    const auto back = hx::ParseNumber(f);
    if (!back || f.find(',') != std::string::npos) std::abort();
    const double unit = std::pow(10.0, -p.decimals);
    if (std::fabs(*back - x) > unit / 2 + std::fabs(x) * 1e-15) std::abort();
    if (hx::FormatNumber(*back, p.text) != f) std::abort();
  }
}

void CheckRounding(double x) {
  const double r = hx::RoundHalfEven(x);
  if (r != std::nearbyint(r) || std::fabs(r - x) > 0.5) std::abort();
  if (std::fabs(r - x) == 0.5 && std::fmod(r, 2.0) != 0) std::abort();
  std::int16_t s = 7;
  const bool fits16 = r >= -32768 && r <= 32767;
  if ((hx::RoundHalfEven(x, s) == hx::NumStatus::Ok) != fits16) std::abort();
  if (fits16 ? s != r : s != 7) std::abort();
  std::int32_t l = 7;
  const bool fits32 = r >= -2147483648.0 && r <= 2147483647.0;
  if ((hx::RoundHalfEven(x, l) == hx::NumStatus::Ok) != fits32) std::abort();
  if (fits32 ? l != r : l != 7) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const bool numeric = hx::IsNumeric(text);
  const auto value = hx::ParseNumber(text);
  if (numeric != value.has_value()) std::abort();
  if (!value) return 0;
  const double x = *value;
  if (std::isnan(x)) std::abort();
  if (!std::isfinite(x)) {
    hx::FormatNumber(x, "0.00");
    return 0;
  }
  const std::string shortest = hx::ShortestDecimal(x);
  const auto again = hx::ParseNumber(shortest);
  if (!again || *again != x) std::abort();
  CheckFormat(x);
  CheckRounding(x);
  return 0;
}
