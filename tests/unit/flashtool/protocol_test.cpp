// The request and packet layouts handed to the boot-loader library, byte for byte.
#include <gtest/gtest.h>

#include "wire/boot_protocol.h"

using namespace hx::boot;
using Bytes = std::vector<std::uint8_t>;

TEST(BootRequestLayout, DeviceIdReadIsLittleEndianWithZeroPadding) {
  const auto b = EncodeBootRequest({kReadProgram, 2, 0x3FFFFE, 1, 1, 0});
  EXPECT_EQ(Bytes(b.begin(), b.end()), (Bytes{1, 2, 0, 0, 0xFE, 0xFF, 0x3F, 0x00, 1, 1, 0, 0}));
}

TEST(BootRequestLayout, NegativeAddressAndRetriesRoundTrip) {
  const BootRequest r{kWriteProgram, 16, -2, 32, 2, -300};
  const auto b = EncodeBootRequest(r);
  EXPECT_EQ(b[4], 0xFE);
  EXPECT_EQ(b[7], 0xFF);
  EXPECT_EQ(b[10], 0xD4);
  EXPECT_EQ(b[11], 0xFE);
  EXPECT_EQ(DecodeBootRequest(b), r);
}

TEST(BootCommand, IsValueLow55AAThenZerosCutToLength) {
  EXPECT_EQ(MakeBootCommand(23, 9), (Bytes{23, 0x55, 0xAA, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(MakeBootCommand(0x1234, 3), (Bytes{0x34, 0x55, 0xAA}));
  EXPECT_EQ(MakeBootCommand(23, 500).size(), kBootCommandBufferSize);
  EXPECT_TRUE(IsBootCommand(MakeBootCommand(31, 17), 31));
  EXPECT_FALSE(IsBootCommand(MakeBootCommand(31, 17), 23));
  EXPECT_FALSE(IsBootCommand(Bytes{31, 0x55}, 31));
  EXPECT_FALSE(IsBootCommand(Bytes{31, 0x55, 0xAA, 1}, 31));
}

TEST(Packets, CarryCommandCountAndThreeAddressBytes) {
  const auto e = MakeErasePacket(0x7FC0);
  EXPECT_EQ(Bytes(e.begin(), e.begin() + 6), (Bytes{3, 1, 0xC0, 0x7F, 0x00, 0}));
  const auto r = MakeReadBytePacket(0x300006);
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 6), (Bytes{6, 1, 0x06, 0x00, 0x30, 0}));
  const auto w = MakeWriteConfigPacket(0x300002, 0x1F);
  EXPECT_EQ(Bytes(w.begin(), w.begin() + 6), (Bytes{7, 1, 0x02, 0x00, 0x30, 0x1F}));
  EXPECT_EQ(w.size(), kPacketCapacity);
  const auto f = ParsePacket(w);
  EXPECT_EQ(f.command, kWriteConfig);
  EXPECT_EQ(f.address, 0x300002u);
  EXPECT_EQ(f.data, 0x1F);
}
