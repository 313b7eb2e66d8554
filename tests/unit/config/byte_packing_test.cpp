#include "hydrix/config/byte_packing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace hx {
namespace {

using B4 = std::array<std::uint8_t, 4>;
using B2 = std::array<std::uint8_t, 2>;

TEST(LongVersOctets, LeastSignificantFirstTwosComplement) {
  EXPECT_EQ(LongVersOctets(1), (B4{1, 0, 0, 0}));
  EXPECT_EQ(LongVersOctets(-1), (B4{255, 255, 255, 255}));
  EXPECT_EQ(LongVersOctets(305419896), (B4{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(LongVersOctets(INT32_MIN), (B4{0, 0, 0, 0x80}));
  EXPECT_EQ(LongVersOctets(INT32_MAX), (B4{0xFF, 0xFF, 0xFF, 0x7F}));
}

TEST(OctetsVersLong, JoinsFourBytesSignedAndRefusesOtherSizes) {
  const std::vector<std::uint8_t> minusOne{255, 255, 255, 255};
  const std::vector<std::uint8_t> min{0, 0, 0, 128};
  const std::vector<std::uint8_t> two{1, 2};
  const std::vector<std::uint8_t> five{1, 2, 3, 4, 5};
  EXPECT_EQ(OctetsVersLong(minusOne), -1);
  EXPECT_EQ(OctetsVersLong(min), INT32_MIN);
  EXPECT_EQ(OctetsVersLong(two), 0);
  EXPECT_EQ(OctetsVersLong(five), 0);
  for (std::int32_t v : {0, 1, -1, 1245061230, INT32_MAX, INT32_MIN, -123456}) {
    const auto b = LongVersOctets(v);
    EXPECT_EQ(OctetsVersLong(b), v);
  }
}

TEST(MotVersOctets, SplitsWordsLowByteFirst) {
  EXPECT_EQ(MotVersOctets(1000), (B2{0xE8, 0x03}));
  EXPECT_EQ(MotVersOctets(-1), (B2{255, 255}));
  EXPECT_EQ(MotVersOctets(70000), (B2{0x70, 0}));
  EXPECT_EQ(MotVersOctets(-16001), (B2{0x7F, 0xC1}));
  EXPECT_EQ(MotVersOctets(32767), (B2{0xFF, 0x7F}));
  EXPECT_EQ(MotVersOctets(-32768), (B2{0x00, 0x80}));
  EXPECT_EQ(MotVersOctets(65535), (B2{0xFF, 0xFF}));
  EXPECT_EQ(MotVersOctets(65536), (B2{0, 0}));
  EXPECT_EQ(MotVersOctets(-65536), (B2{0, 0}));
}

TEST(MotVersOctets, RoundsHalfToEvenBeforeSplitting) {
  EXPECT_EQ(MotVersOctets(2.5), (B2{2, 0}));
  EXPECT_EQ(MotVersOctets(3.5), (B2{4, 0}));
  // The carry of the rounding reaches the high byte.
  EXPECT_EQ(MotVersOctets(255.7), (B2{0, 1}));
  EXPECT_EQ(MotVersOctets(-0.3), (B2{0, 0}));
  EXPECT_EQ(MotVersOctets(-1.5), (B2{0xFE, 0xFF}));
}

TEST(MotVersOctets, BelowMinus65536KeepsTheLow16BitsOfTheTwosComplement) {
  EXPECT_EQ(MotVersOctets(-65537), (B2{0xFF, 0xFF}));
  EXPECT_EQ(MotVersOctets(-70000), (B2{0x90, 0xEE}));  // -70000 mod 65536 = 61072 = 0xEE90
  EXPECT_EQ(MotVersOctets(-1e12), MotVersOctets(std::fmod(-1e12, 65536.0)));
  EXPECT_EQ(MotVersOctets(std::nan("")), (B2{0, 0}));
  EXPECT_EQ(MotVersOctets(-INFINITY), (B2{0, 0}));
}

TEST(OctetsVersEntier, JoinsTwoBytesSignedAndRefusesOtherSizes) {
  const std::vector<std::uint8_t> max{0xFF, 0x7F};
  const std::vector<std::uint8_t> min{0x00, 0x80};
  const std::vector<std::uint8_t> four{1, 2, 3, 4};
  const std::vector<std::uint8_t> one{1};
  EXPECT_EQ(OctetsVersEntier(max), 32767);
  EXPECT_EQ(OctetsVersEntier(min), -32768);
  EXPECT_EQ(OctetsVersEntier(four), 0);
  EXPECT_EQ(OctetsVersEntier(one), 0);
  for (int v = -32768; v <= 32767; v += 97) {
    const auto b = MotVersOctets(v);
    EXPECT_EQ(OctetsVersEntier(b), v);
  }
}

}  // namespace
}  // namespace hx
