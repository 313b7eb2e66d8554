#include "common/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace hx {
namespace {

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(2.5), 2.0);
  EXPECT_EQ(RoundHalfEven(3.5), 4.0);
  EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
  EXPECT_EQ(RoundHalfEven(-3.5), -4.0);
  EXPECT_EQ(RoundHalfEven(0.5), 0.0);
  EXPECT_EQ(RoundHalfEven(1.5), 2.0);
  EXPECT_EQ(RoundHalfEven(2.4999999), 2.0);
  EXPECT_EQ(RoundHalfEven(2.5000001), 3.0);
  EXPECT_EQ(RoundHalfEven(-0.4), 0.0);
  EXPECT_EQ(RoundHalfEven(4503599627370497.0), 4503599627370497.0);  // no fraction left
}

TEST(RoundHalfEven, Into16BitsReportsOverflow) {
  std::int16_t v = 99;
  EXPECT_EQ(RoundHalfEven(32767.4, v), NumStatus::Ok);
  EXPECT_EQ(v, 32767);
  EXPECT_EQ(RoundHalfEven(-32768.5, v), NumStatus::Ok);  // half to even: -32768
  EXPECT_EQ(v, -32768);
  v = 7;
  EXPECT_EQ(RoundHalfEven(32767.5, v), NumStatus::Overflow);  // rounds to 32768
  EXPECT_EQ(v, 7);
  EXPECT_EQ(RoundHalfEven(-32769.0, v), NumStatus::Overflow);
  EXPECT_EQ(RoundHalfEven(std::nan(""), v), NumStatus::Overflow);
  EXPECT_EQ(RoundHalfEven(std::numeric_limits<double>::infinity(), v), NumStatus::Overflow);
  EXPECT_EQ(v, 7);
}

TEST(RoundHalfEven, Into32BitsReportsOverflow) {
  std::int32_t v = 0;
  EXPECT_EQ(RoundHalfEven(2147483647.4, v), NumStatus::Ok);
  EXPECT_EQ(v, 2147483647);
  EXPECT_EQ(RoundHalfEven(2147483647.5, v), NumStatus::Overflow);
  EXPECT_EQ(RoundHalfEven(-2147483648.0, v), NumStatus::Ok);
  EXPECT_EQ(v, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(RoundHalfEven(-2147483649.0, v), NumStatus::Overflow);
  EXPECT_EQ(RoundHalfEven(1e300, v), NumStatus::Overflow);
}

struct NumericCase {
  const char* text;
  bool numeric;
};

class IsNumericTest : public ::testing::TestWithParam<NumericCase> {};

TEST_P(IsNumericTest, Classifies) { EXPECT_EQ(IsNumeric(GetParam().text), GetParam().numeric) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(
    Texts, IsNumericTest,
    ::testing::Values(NumericCase{"12", true}, NumericCase{"  12  ", true}, NumericCase{"\t-12.5", true},
                      NumericCase{"+3", true}, NumericCase{"12,5", true}, NumericCase{".5", true},
                      NumericCase{"5.", true}, NumericCase{"1e3", true}, NumericCase{"1.5E-3", true},
                      NumericCase{"-2,5e+2", true}, NumericCase{"", false}, NumericCase{"   ", false},
                      NumericCase{"12A", false}, NumericCase{"1.2.3", false}, NumericCase{"1,2.3", false},
                      NumericCase{"-", false}, NumericCase{"+", false}, NumericCase{".", false},
                      NumericCase{"e5", false}, NumericCase{"1e", false}, NumericCase{"1e+", false},
                      NumericCase{"1 2", false}, NumericCase{"--1", false}, NumericCase{"0x10", false},
                      NumericCase{"1,000.5", false}));

TEST(ParseNumber, ReadsBothSeparatorsWhateverTheLocale) {
  EXPECT_DOUBLE_EQ(*ParseNumber("12,5"), 12.5);
  EXPECT_DOUBLE_EQ(*ParseNumber(" 12.5 "), 12.5);
  EXPECT_DOUBLE_EQ(*ParseNumber("+7"), 7.0);
  EXPECT_DOUBLE_EQ(*ParseNumber("-1.5e2"), -150.0);
  EXPECT_DOUBLE_EQ(*ParseNumber(".5"), 0.5);
  EXPECT_FALSE(ParseNumber("12A").has_value());
  EXPECT_FALSE(ParseNumber("").has_value());
  EXPECT_TRUE(std::isinf(*ParseNumber("1e999")));
  EXPECT_EQ(*ParseNumber("1e-999"), 0.0);
}

struct FormatCase {
  double value;
  const char* pattern;
  const char* text;
};

class FormatNumberTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatNumberTest, Formats) {
  EXPECT_EQ(FormatNumber(GetParam().value, GetParam().pattern), GetParam().text)
      << GetParam().value << " with " << GetParam().pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FormatNumberTest,
    ::testing::Values(
        FormatCase{0.5, "#.00", ".50"}, FormatCase{0, "#.0000", ".0000"}, FormatCase{-0.05, "0.000", "-0.050"},
        FormatCase{7, "00", "07"}, FormatCase{123, "00", "123"}, FormatCase{13.5, "0.00", "13.50"},
        FormatCase{12.5, "#.00", "12.50"}, FormatCase{15.984, "#.0000", "15.9840"},
        FormatCase{16.016016016, "#.0000", "16.0160"}, FormatCase{-1, "#.0000", "-1.0000"},
        FormatCase{1.234, "0.000", "1.234"},
        // Half away from zero on the decimal value, not on the binary one.
        FormatCase{2.675, "0.00", "2.68"}, FormatCase{1.005, "0.00", "1.01"}, FormatCase{-2.675, "0.00", "-2.68"},
        FormatCase{2.5, "0", "3"}, FormatCase{-2.5, "0", "-3"}, FormatCase{0.4, "0", "0"},
        FormatCase{9.995, "0.00", "10.00"}, FormatCase{99.6, "00", "100"}, FormatCase{0.996, "#.00", "1.00"},
        FormatCase{-0.0004, "0.000", "0.000"}, FormatCase{20.25, "0.00", "20.25"},
        FormatCase{2.4, "0.00", "2.40"}, FormatCase{1e-7, "0.000", "0.000"},
        FormatCase{123456789.125, "0.00", "123456789.13"}, FormatCase{1e20, "0", "100000000000000000000"}));

TEST(FormatNumber, UnknownPatternGivesShortestText) {
  EXPECT_EQ(FormatNumber(5, "x"), "5");
  EXPECT_EQ(FormatNumber(0.1, ""), "0.1");
  EXPECT_EQ(ShortestDecimal(5), "5");
  EXPECT_EQ(ShortestDecimal(-0.25), "-0.25");
}

}  // namespace
}  // namespace hx
