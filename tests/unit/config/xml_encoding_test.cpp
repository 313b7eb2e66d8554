#include "hydrix/config/xml_encoding.h"

#include <gtest/gtest.h>

namespace hx {
namespace {

const std::string kDegree = "\xC2\xB0";  // U+00B0 in UTF-8
const std::string kNbsp = "\xC2\xA0";    // U+00A0 in UTF-8
const std::string kEuro = "\xE2\x82\xAC";

struct EncodingCase {
  const char* name;
  std::string bytes;     // the file
  XmlEncoding encoding;  // what it decodes as
  std::string utf8;      // its text as UTF-8
};

class XmlEncodingRoundTrip : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(XmlEncodingRoundTrip, DecodesAndWritesBackTheSameBytes) {
  const EncodingCase& c = GetParam();
  DecodedXml decoded;
  std::string error;
  ASSERT_TRUE(DecodeXml(c.bytes, decoded, error)) << error;
  EXPECT_EQ(decoded.encoding, c.encoding);
  EXPECT_EQ(decoded.text, c.utf8);
  EXPECT_EQ(EncodeXml(decoded.text, decoded.encoding, decoded.byteOrderMark), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, XmlEncodingRoundTrip,
    ::testing::Values(
        EncodingCase{"utf8_no_declaration", "<a>" + kDegree + kNbsp + "</a>", XmlEncoding::Utf8,
                     "<a>" + kDegree + kNbsp + "</a>"},
        EncodingCase{"utf8_bom", "\xEF\xBB\xBF<a>" + kDegree + "</a>", XmlEncoding::Utf8,
                     "<a>" + kDegree + "</a>"},
        EncodingCase{"latin1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xB0\xA0\x80</a>",
                     XmlEncoding::Latin1,
                     "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>" + kDegree + kNbsp + "\xC2\x80</a>"},
        EncodingCase{"cp1252", "<?xml version='1.0' encoding='windows-1252'?><a>\xB0\xA0\x80\x81\x9D</a>",
                     XmlEncoding::Windows1252,
                     "<?xml version='1.0' encoding='windows-1252'?><a>" + kDegree + kNbsp + kEuro +
                         "\xC2\x81\xC2\x9D</a>"},
        EncodingCase{"utf16le_bom", std::string("\xFF\xFE<\0a\0>\0\xB0\0<\0", 12), XmlEncoding::Utf16LE,
                     "<a>" + kDegree + "<"},
        EncodingCase{"utf16be_bom", std::string("\xFE\xFF\0<\0a\0>\0\xB0\xD8\x3D\xDE\x00", 14),
                     XmlEncoding::Utf16BE, "<a>" + kDegree + "\xF0\x9F\x98\x80"}),
    [](const auto& info) { return info.param.name; });

TEST(XmlEncoding, WritesCharactersTheEncodingLacksAsReferences) {
  std::string text = "<a>" + kDegree + kEuro + "\xE2\x80\x94" + "</a>";  // degree, euro, em dash
  EXPECT_EQ(EncodeXml(text, XmlEncoding::Latin1, false), "<a>\xB0&#8364;&#8212;</a>");
  EXPECT_EQ(EncodeXml(text, XmlEncoding::Windows1252, false), "<a>\xB0\x80\x97</a>");
  EXPECT_EQ(EncodeXml(text, XmlEncoding::Ascii, false), "<a>&#176;&#8364;&#8212;</a>");
  // A C1 control that windows-1252 maps elsewhere cannot be written as a byte.
  EXPECT_EQ(EncodeXml("\xC2\x80", XmlEncoding::Windows1252, false), "&#128;");
}

TEST(XmlEncoding, RefusesWhatItCannotRead) {
  DecodedXml decoded;
  std::string error;
  EXPECT_FALSE(DecodeXml("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><a/>", decoded, error));
  EXPECT_NE(error.find("Shift_JIS"), std::string::npos);
  EXPECT_FALSE(DecodeXml("<?xml version=\"1.0\" encoding=\"us-ascii\"?><a>\xB0</a>", decoded, error));
  EXPECT_FALSE(DecodeXml("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>", decoded, error));
  EXPECT_FALSE(DecodeXml(std::string("\xFF\xFE<\0\x00\xDC", 6), decoded, error));  // lone surrogate
}

TEST(XmlEncoding, EncodingNamesMatchWithoutCase) {
  DecodedXml decoded;
  std::string error;
  ASSERT_TRUE(DecodeXml("<?xml version=\"1.0\" encoding=\"iso-8859-1\" ?><a/>", decoded, error));
  EXPECT_EQ(decoded.encoding, XmlEncoding::Latin1);
  ASSERT_TRUE(DecodeXml("<?xml version=\"1.0\" encoding = \"CP1252\"?><a/>", decoded, error));
  EXPECT_EQ(decoded.encoding, XmlEncoding::Windows1252);
}

}  // namespace
}  // namespace hx
