// Reading and writing an XML file in the encoding its declaration names.
// The text is handled as UTF-8 in between; writing it back in the same
// encoding gives the same bytes for every character that was read.
#pragma once

#include <string>
#include <string_view>

namespace hx {

enum class XmlEncoding { Utf8, Utf16LE, Utf16BE, Latin1, Windows1252, Ascii };

struct DecodedXml {
  std::string text;                          // the document as UTF-8, without byte order mark
  XmlEncoding encoding = XmlEncoding::Utf8;  // the encoding of the bytes read
  bool byteOrderMark = false;                // the bytes began with a byte order mark
};

// Decodes the bytes of an XML file: a byte order mark decides first, then
// the encoding named by the declaration (UTF-8 when there is none). False,
// with a one-line reason in `error`, for an encoding this program cannot
// read or bytes that are not valid in it.
bool DecodeXml(std::string_view bytes, DecodedXml& out, std::string& error);

// Encodes UTF-8 text back into `encoding` (with a byte order mark when
// asked). A character that the encoding cannot hold is written as a numeric
// character reference (&#NNN;), never dropped; inside a CDATA section the
// section is closed around the reference, so the text reads back the same.
std::string EncodeXml(std::string_view utf8, XmlEncoding encoding, bool byteOrderMark);

// Whether `encoding` holds every character of the UTF-8 text as it is.
bool XmlEncodingHolds(XmlEncoding encoding, std::string_view utf8);

// The display name of an encoding ("UTF-8", "ISO-8859-1", ...).
const char* XmlEncodingName(XmlEncoding encoding);

// Reads one code point from UTF-8 at `i` and moves past it. An invalid
// sequence gives its first byte as the code point and moves one byte.
char32_t NextCodePoint(std::string_view s, std::size_t& i);

// Appends the UTF-8 form of `cp`.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace hx
