#include "common/shown_text.h"

#include <algorithm>

namespace hx {

namespace {

// The length of the valid UTF-8 sequence at `i`, or 0 when the byte there
// starts none (a stray continuation byte, an overlong form, a surrogate, a
// value past U+10FFFF or a sequence cut short).
std::size_t Utf8Length(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  cp = len == 1 ? c : c & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b(i + k) & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool IsControl(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

std::string Hex(unsigned char byte) {
  static const char* kHex = "0123456789ABCDEF";
  return {kHex[byte >> 4], kHex[byte & 0xF]};
}

}  // namespace

std::string ShownText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t len = Utf8Length(text, i, cp);
    if (len != 0 && !IsControl(cp)) {
      out.append(text.substr(i, len));
      i += len;
      continue;
    }
    if (cp == '\t' || cp == '\n' || cp == '\r') {
      out += cp == '\t' ? "\\t" : cp == '\n' ? "\\n" : "\\r";
      ++i;
      continue;
    }
    // A C1 control shows each of its two bytes; a stray byte shows itself.
    for (std::size_t k = 0; k < std::max<std::size_t>(len, 1); ++k)
      out += "\\x" + Hex(static_cast<unsigned char>(text[i + k]));
    i += std::max<std::size_t>(len, 1);
  }
  return out;
}

std::optional<std::string> UnprintableInText(std::string_view text, std::string_view allowed) {
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t len = Utf8Length(text, i, cp);
    if (len == 0) return "the byte 0x" + Hex(static_cast<unsigned char>(text[i])) + ", which is not UTF-8";
    if (IsControl(cp) && !(cp < 0x80 && allowed.find(static_cast<char>(cp)) != std::string_view::npos)) {
      // C0 controls and DEL are single bytes; C1 controls are characters.
      return std::string("the control character ") + (cp < 0x80 ? "0x" : "U+00") +
             Hex(static_cast<unsigned char>(cp));
    }
    i += len;
  }
  return std::nullopt;
}

}  // namespace hx
