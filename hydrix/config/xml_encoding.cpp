#include "hydrix/config/xml_encoding.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace hx {
namespace {

// windows-1252 bytes 0x80 to 0x9F. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the control character
// of the same value, so that every byte reads and writes back unchanged.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of the encoding pseudo-attribute of a leading declaration; empty
// when there is no declaration or it names no encoding.
std::string DeclaredEncoding(std::string_view bytes) {
  if (bytes.substr(0, 5) != "<?xml" || bytes.size() < 6 || !IsXmlSpace(bytes[5])) return {};
  std::size_t end = bytes.find("?>");
  if (end == std::string_view::npos) return {};
  std::string_view decl = bytes.substr(0, end);
  std::size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return {};
  std::size_t i = at + 8;
  while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
  if (i >= decl.size() || decl[i] != '=') return {};
  ++i;
  while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
  if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return {};
  char quote = decl[i++];
  std::size_t close = decl.find(quote, i);
  if (close == std::string_view::npos) return {};
  return std::string(decl.substr(i, close - i));
}

bool DecodeUtf16(std::string_view bytes, bool bigEndian, std::string& out, std::string& error) {
  if (bytes.size() % 2 != 0) {
    error = "the file is not valid UTF-16 (odd number of bytes)";
    return false;
  }
  auto unit = [&](std::size_t k) -> char32_t {
    auto b0 = static_cast<unsigned char>(bytes[k]), b1 = static_cast<unsigned char>(bytes[k + 1]);
    return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
  };
  out.clear();
  out.reserve(bytes.size() / 2);
  for (std::size_t k = 0; k < bytes.size(); k += 2) {
    char32_t u = unit(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 2 < bytes.size()) {
      char32_t low = unit(k + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        k += 2;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      error = "the file is not valid UTF-16 (unpaired surrogate at byte " + std::to_string(k) + ")";
      return false;
    }
    AppendUtf8(out, u);
  }
  return true;
}

void AppendCharRef(std::string& out, char32_t cp) {
  out += "&#";
  out += std::to_string(static_cast<unsigned long>(cp));
  out += ';';
}

// Whether a single-byte encoding (or any Unicode one) has a byte for `cp`.
bool EncodingHolds(XmlEncoding encoding, char32_t cp) {
  switch (encoding) {
    case XmlEncoding::Utf8:
    case XmlEncoding::Utf16LE:
    case XmlEncoding::Utf16BE:
      return true;
    case XmlEncoding::Ascii:
      return cp < 0x80;
    case XmlEncoding::Latin1:
      return cp <= 0xFF;
    case XmlEncoding::Windows1252:
      if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return true;
      return std::find(kCp1252High.begin(), kCp1252High.end(), cp) != kCp1252High.end();
  }
  return false;
}

// Appends the byte of `cp` in a single-byte encoding that holds it.
void AppendEncoded(std::string& out, XmlEncoding encoding, char32_t cp) {
  if (encoding == XmlEncoding::Windows1252 && ((cp >= 0x80 && cp < 0xA0) || cp > 0xFF)) {
    const auto at = std::find(kCp1252High.begin(), kCp1252High.end(), cp);
    out += static_cast<char>(0x80 + (at - kCp1252High.begin()));
    return;
  }
  out += static_cast<char>(cp);
}

}  // namespace

char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  int len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (len == 1 || len == 0 || i + len > s.size()) {
    ++i;
    return c;
  }
  char32_t cp = c & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) {
      ++i;
      return c;
    }
    cp = cp << 6 | (b(i + k) & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return c;
  }
  i += len;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

const char* XmlEncodingName(XmlEncoding encoding) {
  switch (encoding) {
    case XmlEncoding::Utf8:
      return "UTF-8";
    case XmlEncoding::Utf16LE:
      return "UTF-16 (little-endian)";
    case XmlEncoding::Utf16BE:
      return "UTF-16 (big-endian)";
    case XmlEncoding::Latin1:
      return "ISO-8859-1";
    case XmlEncoding::Windows1252:
      return "windows-1252";
    case XmlEncoding::Ascii:
      return "US-ASCII";
  }
  return "?";
}

bool DecodeXml(std::string_view bytes, DecodedXml& out, std::string& error) {
  out = DecodedXml{};
  auto starts = [&](std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; };
  if (starts("\xEF\xBB\xBF")) {
    out.byteOrderMark = true;
    bytes.remove_prefix(3);
  } else if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    out.byteOrderMark = true;
    out.encoding = bytes[0] == '\xFE' ? XmlEncoding::Utf16BE : XmlEncoding::Utf16LE;
    return DecodeUtf16(bytes.substr(2), out.encoding == XmlEncoding::Utf16BE, out.text, error);
  } else if (starts(std::string_view("<\0?\0", 4)) || starts(std::string_view("\0<\0?", 4))) {
    out.encoding = bytes[0] == '\0' ? XmlEncoding::Utf16BE : XmlEncoding::Utf16LE;
    return DecodeUtf16(bytes, out.encoding == XmlEncoding::Utf16BE, out.text, error);
  }

  std::string declared = DeclaredEncoding(bytes);
  std::string name = Lower(declared);
  if (out.byteOrderMark && !name.empty() && name != "utf-8" && name != "utf8") {
    error = "the file starts with a UTF-8 byte order mark but declares the encoding \"" + declared + "\"";
    return false;
  }
  if (name.empty() || name == "utf-8" || name == "utf8") {
    out.encoding = XmlEncoding::Utf8;
    out.text.assign(bytes);
    return true;
  }
  if (name == "iso-8859-1" || name == "iso8859-1" || name == "iso_8859-1" || name == "latin1" ||
      name == "latin-1" || name == "l1" || name == "cp819" || name == "iso-ir-100") {
    out.encoding = XmlEncoding::Latin1;
  } else if (name == "windows-1252" || name == "cp1252" || name == "x-cp1252") {
    out.encoding = XmlEncoding::Windows1252;
  } else if (name == "us-ascii" || name == "ascii") {
    out.encoding = XmlEncoding::Ascii;
  } else {
    error = "the file declares the encoding \"" + declared +
            "\", which this program cannot read (UTF-8, UTF-16, ISO-8859-1, windows-1252 and US-ASCII "
            "are supported)";
    return false;
  }
  out.text.reserve(bytes.size() + bytes.size() / 8);
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    auto c = static_cast<unsigned char>(bytes[k]);
    if (c < 0x80) {
      out.text += static_cast<char>(c);
    } else if (out.encoding == XmlEncoding::Ascii) {
      error = "the file declares US-ASCII but holds the byte " + std::to_string(c) + " at offset " +
              std::to_string(k);
      return false;
    } else if (out.encoding == XmlEncoding::Windows1252 && c < 0xA0) {
      AppendUtf8(out.text, kCp1252High[c - 0x80]);
    } else {
      AppendUtf8(out.text, c);
    }
  }
  return true;
}

std::string EncodeXml(std::string_view utf8, XmlEncoding encoding, bool byteOrderMark) {
  std::string out;
  switch (encoding) {
    case XmlEncoding::Utf8:
      if (byteOrderMark) out = "\xEF\xBB\xBF";
      out.append(utf8);
      return out;
    case XmlEncoding::Utf16LE:
    case XmlEncoding::Utf16BE: {
      bool big = encoding == XmlEncoding::Utf16BE;
      auto unit = [&](char32_t u) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += big ? hi : lo;
        out += big ? lo : hi;
      };
      out.reserve(utf8.size() * 2 + 2);
      if (byteOrderMark) unit(0xFEFF);
      for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = NextCodePoint(utf8, i);
        if (cp >= 0x10000) {
          unit(0xD800 + ((cp - 0x10000) >> 10));
          unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
          unit(cp);
        }
      }
      return out;
    }
    case XmlEncoding::Latin1:
    case XmlEncoding::Windows1252:
    case XmlEncoding::Ascii:
      break;
  }
  out.reserve(utf8.size());
  // Inside a CDATA section a character reference is literal text, so a
  // character the encoding lacks closes the section around its reference.
  // Comments and processing instructions are passed over, so that
  // "<![CDATA[" written inside one starts nothing.
  bool inCdata = false;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::string_view rest = utf8.substr(i);
    if (!inCdata && rest.starts_with("<!--")) {
      const std::size_t end = rest.find("-->");
      const std::size_t skip = end == std::string_view::npos ? 4 : end + 3;
      for (const std::size_t stop = i + skip; i < stop;) {
        const char32_t cp = NextCodePoint(utf8, i);
        if (EncodingHolds(encoding, cp)) {
          AppendEncoded(out, encoding, cp);
        } else {
          AppendCharRef(out, cp);
        }
      }
      continue;
    }
    if (rest.starts_with(inCdata ? "]]>" : "<![CDATA[")) {
      const std::size_t n = inCdata ? 3 : 9;
      out.append(rest.substr(0, n));
      i += n;
      inCdata = !inCdata;
      continue;
    }
    const char32_t cp = NextCodePoint(utf8, i);
    if (EncodingHolds(encoding, cp)) {
      AppendEncoded(out, encoding, cp);
    } else if (inCdata) {
      out += "]]>";
      AppendCharRef(out, cp);
      out += "<![CDATA[";
    } else {
      AppendCharRef(out, cp);
    }
  }
  return out;
}

bool XmlEncodingHolds(XmlEncoding encoding, std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    if (!EncodingHolds(encoding, NextCodePoint(utf8, i))) return false;
  }
  return true;
}

}  // namespace hx
