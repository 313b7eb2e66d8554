#include "hydrix/settings/parameter_map.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "common/numbers.h"
#include "hydrix/config/byte_packing.h"
#include "hydrix/config/date_helpers.h"

namespace hx {

namespace {

using K = FieldKind;
using C = ControlKind;

// clang-format off
constexpr ParameterField kMap[] = {
  // key                           addr w  kind            num  den   format  check            control              idx kind            written
  {"end_of_charge_delay_s",        0,   2, K::Word,        1,   1,    "",     Bounds{0, 32000}, "EndOfChargeTempo",  -1, C::TextBox,      false},
  {"battery_capacity_index",       0,   2, K::TempoChoice, 1,   1,    "",     Bounds{0, 2},    "ComboChargeTempo",  -1, C::CapacityList, true},
  {"voltage_correction",           2,   2, K::Word,        1,   1000, "0.000", std::nullopt,   "correctionV",       -1, C::TextBox,      false},
  {"start_level_low_battery_V",    13,  2, K::Word,        1,   1000, "#.00", Bounds{5, 20},   "Text1",             4,  C::TextBox,      true},
  {"start_level_high_battery_V",   15,  2, K::Word,        1,   1000, "#.00", Bounds{5, 20},   "Text1",             5,  C::TextBox,      true},
  {"solenoid_pulse_ms",            17,  2, K::Word,        3.2, 1,    "",     Bounds{10, 1000}, "Text1",            6,  C::TextBox,      true},
  {"alarm_level_V",                19,  2, K::Word,        1,   1000, "#.00", std::nullopt,    "Text1",             7,  C::TextBox,      true},
  {"forced_charge_1_h",            26,  1, K::Hour,        1,   1,    "",     std::nullopt,    "Heure1",            -1, C::HourList,     true},
  {"forced_charge_2_h",            27,  1, K::Hour,        1,   1,    "",     std::nullopt,    "Heure2",            -1, C::HourList,     true},
  {"serial_number",                36,  4, K::Long,        1,   1,    "",     std::nullopt,    "NumeroSerie",       -1, C::Label,        false},
  {"last_programming_date",        40,  4, K::Date,        1,   1,    "",     std::nullopt,    "DateProgrammation", -1, C::Label,        false},
  {"firmware_version",             125, 3, K::Version,     1,   1,    "",     std::nullopt,    "Version",           -1, C::Label,        false},
  {"clock_correction",             81,  2, K::Correction,  1,   1,    "",     std::nullopt,    "ValeurHorloge",     0,  C::TextBox,      false},
};
// clang-format on

std::uint8_t Byte(std::span<const std::int32_t> image, int address) {
  return static_cast<std::uint8_t>(image[static_cast<std::size_t>(address)]);
}

int Word(std::span<const std::int32_t> image, int address) {
  const std::uint8_t b[2] = {Byte(image, address), Byte(image, address + 1)};
  return OctetsVersEntier(b);
}

std::int32_t Long(std::span<const std::int32_t> image, int address) {
  const std::uint8_t b[4] = {Byte(image, address), Byte(image, address + 1), Byte(image, address + 2),
                             Byte(image, address + 3)};
  return OctetsVersLong(b);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Hex(int v) {
  char buf[8];
  auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
  return Upper(std::string(buf, r.ptr));
}

std::string Get(const ParameterTexts& screen, const std::string& key) {
  auto it = screen.find(key);
  return it == screen.end() ? std::string() : it->second;
}

// A whole number 0..23 written as such, or "none".
std::optional<int> HourByte(const std::string& text) {
  std::string t = text;
  while (!t.empty() && t.back() == ' ') t.pop_back();
  while (!t.empty() && t.front() == ' ') t.erase(t.begin());
  if (t == HourItemText(kHourItems - 1)) return kHourNone;
  int v = -1;
  auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size() || v < 0 || v > 23)
    return std::nullopt;
  return v;
}

void PutWord(std::array<std::uint8_t, 256>& image, int address, double rounded) {
  const auto v = static_cast<std::uint32_t>(rounded);
  image[static_cast<std::size_t>(address)] = static_cast<std::uint8_t>(v % 256);
  image[static_cast<std::size_t>(address) + 1] = static_cast<std::uint8_t>(v / 256);
}

}  // namespace

std::span<const ParameterField> ParameterMap() { return kMap; }

const ParameterField* FindParameter(const std::string& key) {
  for (const auto& f : kMap) {
    if (key == f.key) return &f;
  }
  return nullptr;
}

std::string HourItemText(int index) { return index >= 0 && index < 24 ? std::to_string(index) : "none"; }

ParameterTexts DecodeParametres(std::span<const std::int32_t> image) {
  ParameterTexts out;
  for (const auto& f : kMap) {
    std::string text;
    switch (f.kind) {
      case K::Word: {
        const double v = Word(image, f.address) * f.num / f.den;
        text =
            *f.format ? FormatNumber(v, f.format) : std::to_string(static_cast<long long>(RoundHalfEven(v)));
        break;
      }
      case K::TempoChoice: {
        // The list follows the delay read: one of its three values, else the first.
        const std::string t = std::to_string(Word(image, f.address));
        int index = 0;
        for (std::size_t i = 0; i < kCapacityTempo.size(); ++i) {
          if (t == std::to_string(kCapacityTempo[i])) index = static_cast<int>(i);
        }
        text = std::to_string(index);
        break;
      }
      case K::Hour: {
        const int v = Byte(image, f.address);
        // "none" for 255; a value past the list's last item shows its first.
        text = HourItemText(v == kHourNone ? kHourItems - 1 : (v > kHourItems - 1 ? 0 : v));
        break;
      }
      case K::Long:
        text = std::to_string(Long(image, f.address));
        break;
      case K::Date:
        text = SecondesVersTexte(Long(image, f.address));
        break;
      case K::Version:
        text = std::to_string(Byte(image, f.address)) + "." + std::to_string(Byte(image, f.address + 1)) +
               Hex(Byte(image, f.address + 2));
        break;
      case K::Correction:
        text = std::to_string(Word(image, f.address));
        break;
    }
    out[f.key] = text;
  }
  return out;
}

EncodeResult EncodeParametres(const ParameterTexts& screen, const std::array<std::uint8_t, 256>& image,
                              std::int32_t dateCount) {
  EncodeResult r;
  r.image = image;
  for (const auto& f : kMap) {
    if (!f.written) continue;
    const std::string text = Get(screen, f.key);
    switch (f.kind) {
      case K::TempoChoice: {
        const auto index = ParseNumber(text);
        if (!index || *index < 0 || *index >= static_cast<double>(kCapacityTempo.size()) ||
            *index != std::floor(*index)) {
          r.problems.push_back({f.key, "no battery capacity is chosen"});
          break;
        }
        PutWord(r.image, f.address, kCapacityTempo[static_cast<std::size_t>(*index)]);
        break;
      }
      case K::Word: {
        const auto v = ParseNumber(text);
        if (!IsNumeric(text) || !v) {
          r.problems.push_back({f.key, "\"" + text + "\" is not a number"});
          break;
        }
        // The value is stored as the screen shows it, so what is read back
        // is what was written.
        const double device = RoundHalfEven(ShownValue(f, *v) * f.den / f.num);
        if (!(device >= 0 && device <= 32767)) {
          const Bounds fit = WordFit(f);
          r.problems.push_back(
              {f.key, "\"" + text + "\" does not fit the controller's 16-bit word: the " +
                          (device < 0 ? "smallest value that fits is " + LimitText(f, fit.min)
                                      : "largest value that fits is " + LimitText(f, fit.max))});
          break;
        }
        PutWord(r.image, f.address, device);
        break;
      }
      case K::Hour: {
        const auto hour = HourByte(text);
        if (!hour) {
          r.problems.push_back({f.key, "\"" + text + "\" is not an hour from 0 to 23 or \"none\""});
          break;
        }
        r.image[static_cast<std::size_t>(f.address)] = static_cast<std::uint8_t>(*hour);
        break;
      }
      default:
        break;
    }
  }
  const auto date = LongVersOctets(dateCount);
  for (int i = 0; i < 4; ++i) r.image[40 + static_cast<std::size_t>(i)] = date[static_cast<std::size_t>(i)];
  r.image[kValidityAddress] = kValidityMark[0];
  r.image[kValidityAddress + 1] = kValidityMark[1];
  return r;
}

double ShownValue(const ParameterField& f, double value) {
  if (!std::isfinite(value)) return value;
  if (!*f.format) return RoundHalfEven(value);
  return ParseNumber(FormatNumber(value, f.format)).value_or(value);
}

Bounds WordFit(const ParameterField& f) {
  // The largest value the screen can show whose stored word fits.
  const std::string_view format = f.format;
  const auto point = format.find('.');
  const double scale = std::pow(10.0, point == std::string_view::npos ? 0 : format.size() - point - 1);
  return {0, std::floor(32767 * f.num / f.den * scale + 1e-9) / scale};
}

CheckResult CheckField(const ParameterField& f, const std::string& text) {
  if (!f.check) return {};
  const auto v = IsNumeric(text) ? ParseNumber(text) : std::nullopt;
  if (!v) return {CheckResult::Outcome::NotNumeric};
  const double shown = ShownValue(f, *v);
  if (!(shown >= f.check->min && shown <= f.check->max)) return {CheckResult::Outcome::OutOfBounds};
  return {};
}

std::string LimitText(const ParameterField& f, double value) {
  // With the decimals the screen shows for the setting (none without a
  // format), so that a limit reads 104854 or 32.76, never the binary
  // fraction's 104854.40000000001.
  const std::string_view format = f.format;
  const auto point = format.find('.');
  const int decimals = point == std::string_view::npos ? 0 : static_cast<int>(format.size() - point - 1);
  char buf[64];
  const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string(buf, ptr) : ShortestDecimal(value);
}

std::vector<OutOfBounds> OutOfCheckBounds(const ParameterTexts& screen) {
  std::vector<OutOfBounds> out;
  for (const auto& f : kMap) {
    if (!f.written || !f.check || f.control_kind != ControlKind::TextBox) continue;
    const std::string text = Get(screen, f.key);
    if (CheckField(f, text).outcome == CheckResult::Outcome::OutOfBounds) out.push_back({f.key, *f.check});
  }
  return out;
}

CheckResult CheckValue(const std::string& text, Bounds bounds) {
  CheckResult r;
  const auto v = IsNumeric(text) ? ParseNumber(text) : std::nullopt;
  if (!v) {
    r.outcome = CheckResult::Outcome::NotNumeric;
  } else if (!(*v >= bounds.min && *v <= bounds.max)) {
    r.outcome = CheckResult::Outcome::OutOfBounds;
  }
  return r;
}

std::string CheckMessage(const CheckResult& result, Bounds bounds, const std::string& notNumeric,
                         const std::string& between, const std::string& andText) {
  switch (result.outcome) {
    case CheckResult::Outcome::Good:
      return {};
    case CheckResult::Outcome::NotNumeric:
      return notNumeric;
    case CheckResult::Outcome::OutOfBounds:
      break;
  }
  return between + " " + ShortestDecimal(bounds.min) + " " + andText + " " + ShortestDecimal(bounds.max);
}

}  // namespace hx
