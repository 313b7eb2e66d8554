// The simulated boot loader: identification, PIC18 flash behaviour, the
// protected boot block, configuration bytes, the shared EEPROM, faults, state.
#include "sim/boot/boot_loader_model.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace hx::sim;
using namespace hx::boot;
using Bytes = std::vector<std::uint8_t>;

class BootLoader : public ::testing::Test {
 protected:
  BootLoader() : model(*FindChip("PIC18F4550", 3), eeprom) { eeprom.fill(0x11); }
  std::int16_t Erase(std::uint32_t a) {
    auto p = MakeErasePacket(a);
    return model.SendGetPacket(p, kErasePacketLength);
  }
  std::int16_t Write(std::uint32_t a, const Bytes& data, std::uint8_t cmd = kWriteProgram) {
    return model.WritePIC(EncodeBootRequest({cmd, static_cast<std::uint8_t>(data.size()),
                                             static_cast<std::int32_t>(a), 32, 1, 0}),
                          data);
  }
  int ReadByte(std::uint32_t a) {
    auto p = MakeReadBytePacket(a);
    const auto r = model.SendGetPacket(p, kReadBytePacketLength);
    return r < 0 ? r : p[5];
  }
  std::int16_t WriteConfig(std::uint32_t a, std::uint8_t v) {
    auto p = MakeWriteConfigPacket(a, v);
    return model.SendGetPacket(p, kWriteConfigPacketLength);
  }
  Bytes FlashAt(std::uint32_t a, std::size_t n) {
    return Bytes(model.Flash().begin() + a, model.Flash().begin() + a + n);
  }
  std::array<std::uint8_t, 256> eeprom{};
  BootLoaderModel model;
};

TEST_F(BootLoader, AnswersTheDeviceIdReadWithTheRealIdWordAndRevision) {
  Bytes id(2);
  EXPECT_EQ(model.ReadPIC(EncodeBootRequest({kReadProgram, 2, 0x3FFFFE, 1, 1, 0}), id), 2);
  EXPECT_EQ(id, (Bytes{0x03, 0x12}));  // 0x1203: code 144, revision 3
  EXPECT_EQ(FindChip("PIC18F2455")->deviceId & 0xFFE0, 0x1260);
  EXPECT_EQ(FindChip("PIC18F2553")->deviceId & 0xFFE0, 0x2A40);
  EXPECT_EQ(FindChip("PIC18F4455")->flashSize, 0x6000u);
  EXPECT_FALSE(FindChip("PIC16F84"));
  Bytes far(2);
  EXPECT_LT(model.ReadPIC(EncodeBootRequest({kReadProgram, 2, 0x100000, 1, 1, 0}), far), 0);
}

TEST_F(BootLoader, EraseSetsAWholeBlockAndProgrammingOnlyClearsBits) {
  ASSERT_GT(Erase(0x0410), 0);  // inside the block 0x400..0x43F
  EXPECT_EQ(FlashAt(0x400, 64), Bytes(64, 0xFF));
  Bytes first(16, 0xFF), second(16, 0xFF);
  for (int i = 0; i < 8; ++i) first[i] = static_cast<std::uint8_t>(i);
  for (int i = 8; i < 16; ++i) second[i] = static_cast<std::uint8_t>(0xA0 + i);
  ASSERT_EQ(Write(0x400, first), 16);
  ASSERT_EQ(Write(0x400, second), 16);  // 0xFF bytes leave the first record's bytes alone
  EXPECT_EQ(FlashAt(0x400, 16),
            (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF}));
  ASSERT_EQ(Write(0x400, Bytes(16, 0xF0)), 16);
  EXPECT_EQ(ReadByte(0x401), 0x00);
  EXPECT_EQ(ReadByte(0x40F), 0xA0);  // 0xAF & 0xF0
}

TEST_F(BootLoader, TheBootBlockCannotBeErasedOrWritten) {
  const Bytes before = FlashAt(0, 0x200);
  EXPECT_EQ(Erase(0x0000), kProtected);
  EXPECT_EQ(Erase(0x01C0), kProtected);
  EXPECT_TRUE(Write(0x01F0, Bytes(16, 0)) & 0x8000);
  EXPECT_EQ(FlashAt(0, 0x200), before);
  EXPECT_GT(Erase(0x0200), 0);
  EXPECT_LT(Erase(0x8000), 0);
  EXPECT_TRUE(Write(0x7FF8, Bytes(16, 0)) & 0x8000);
}

TEST_F(BootLoader, ApplicationPresentFollowsTheResetVector) {
  EXPECT_FALSE(model.ApplicationPresent());
  model.InstallApplication();
  EXPECT_TRUE(model.ApplicationPresent());
  EXPECT_EQ(ReadByte(0x201), 0xEF);
  ASSERT_GT(Erase(0x200), 0);
  EXPECT_FALSE(model.ApplicationPresent());
}

TEST_F(BootLoader, ConfigurationBytesAndTheirFaults) {
  EXPECT_EQ(ReadByte(0x300002), 0x1F);
  EXPECT_EQ(ReadByte(0x300006), 0x85);
  model.FailConfigWrites(2);
  EXPECT_EQ(WriteConfig(0x300002, 0x03), kFault);
  EXPECT_EQ(WriteConfig(0x300002, 0x03), kFault);
  EXPECT_EQ(WriteConfig(0x300002, 0x03), 6);
  EXPECT_EQ(ReadByte(0x300002), 0x03);
  EXPECT_LT(WriteConfig(0x000002, 0x03), 0);  // not a configuration address
  auto shortPacket = MakeWriteConfigPacket(0x300003, 1);
  EXPECT_LT(model.SendGetPacket(shortPacket, 5), 0);
}

TEST_F(BootLoader, EraseAndWriteFaultsAtAnAddress) {
  model.FailEraseAt(0x1234);
  EXPECT_EQ(Erase(0x1200), kFault);
  EXPECT_GT(Erase(0x1240), 0);
  model.FailWriteAt(0x2005);
  EXPECT_TRUE(Write(0x2000, Bytes(16, 0)) & 0x8000);
  EXPECT_EQ(Write(0x2010, Bytes(16, 0)), 16);
  model.ClearFaults();
  EXPECT_GT(Erase(0x1200), 0);
}

TEST_F(BootLoader, AStuckRowReportsSuccessButKeepsItsBytes) {
  ASSERT_GT(Erase(0x2000), 0);
  model.StickRowAt(0x2013);
  EXPECT_EQ(Write(0x2010, Bytes(16, 0x12)), 16);
  EXPECT_EQ(FlashAt(0x2010, 16), Bytes(16, 0xFF));
  EXPECT_EQ(Write(0x2000, Bytes(16, 0x34)), 16);  // the row before is programmed
  EXPECT_EQ(FlashAt(0x2000, 16), Bytes(16, 0x34));
  model.ClearFaults();
  EXPECT_EQ(Write(0x2010, Bytes(16, 0x12)), 16);
  EXPECT_EQ(FlashAt(0x2010, 16), Bytes(16, 0x12));
}

TEST_F(BootLoader, ACutBootLoaderStopsAnsweringAtTheNthRequestUntilCleared) {
  model.CutAt(3);
  EXPECT_EQ(ReadByte(0x201), 0xFF);
  EXPECT_GT(Erase(0x2000), 0);
  EXPECT_FALSE(model.IsCut());
  EXPECT_EQ(ReadByte(0x201), kNoAnswer);  // the third request
  EXPECT_TRUE(model.IsCut());
  EXPECT_TRUE(Write(0x2000, Bytes(16, 0)) & 0x8000);
  std::array<std::uint8_t, 2> id{};
  EXPECT_LT(model.ReadPIC(EncodeBootRequest({kReadProgram, 2, 0x3FFFFE, 1, 1, 0}), id), 0);
  EXPECT_EQ(FlashAt(0x2000, 16), Bytes(16, 0xFF));
  model.ClearFaults();
  EXPECT_FALSE(model.IsCut());
  EXPECT_EQ(ReadByte(0x201), 0xFF);
}

TEST_F(BootLoader, RequestsOutsideTheChipGetAnErrorAndChangeNothing) {
  const Bytes before(model.Flash().begin(), model.Flash().end());
  const auto eepromBefore = eeprom;
  std::array<std::uint8_t, 16> data{};
  for (std::int32_t address : {-1, -16, INT32_MIN, 0x7FFFFFF0, 0x8000, 0x7FF8}) {
    for (std::uint8_t bpa : {1, 2, 255}) {
      const auto request = EncodeBootRequest({kWriteProgram, 16, address, 32, bpa, 0});
      EXPECT_TRUE(model.WritePIC(request, data) & 0x8000) << address << " " << int{bpa};
      EXPECT_LT(model.ReadPIC(EncodeBootRequest({kReadProgram, 16, address, 1, bpa, 0}), data), 0) << address;
    }
    EXPECT_TRUE(model.WritePIC(EncodeBootRequest({kWriteEeprom, 16, address, 1, 1, 0}), data) & 0x8000);
  }
  EXPECT_TRUE(model.WritePIC(EncodeBootRequest({kWriteEeprom, 16, 0xF8, 1, 1, 0}), data) & 0x8000);
  EXPECT_EQ(Bytes(model.Flash().begin(), model.Flash().end()), before);
  EXPECT_EQ(eeprom, eepromBefore);
}

TEST_F(BootLoader, TheEepromIsTheControllersAndTheBootFlagIsCounted) {
  EXPECT_EQ(Write(0x10, {0xAB}, kWriteEeprom), 1);
  EXPECT_EQ(eeprom[0x10], 0xAB);
  EXPECT_EQ(eeprom[0x11], 0x11);
  EXPECT_EQ(model.BootFlagWrites(), 0);
  EXPECT_EQ(Write(0xFF, {0x00}, kWriteEeprom), 1);
  EXPECT_EQ(eeprom[0xFF], 0x00);
  EXPECT_EQ(model.BootFlagWrites(), 1);
  EXPECT_TRUE(Write(0xFF, {1, 2}, kWriteEeprom) & 0x8000);
}

TEST_F(BootLoader, StateSurvivesARestartAndBadFilesAreRefused) {
  char pattern[] = "/tmp/sim-boot-XXXXXX";
  const std::filesystem::path dir = ::mkdtemp(pattern);
  model.InstallApplication();
  ASSERT_EQ(WriteConfig(0x300003, 0x0F), 6);
  std::string error;
  ASSERT_TRUE(model.Save(dir, error)) << error;

  std::array<std::uint8_t, 256> other{};
  BootLoaderModel restarted(*FindChip("PIC18F4550", 3), other);
  ASSERT_TRUE(restarted.Load(dir, error)) << error;
  EXPECT_TRUE(restarted.ApplicationPresent());
  EXPECT_EQ(restarted.Config()[3], 0x0F);

  BootLoaderModel smaller(*FindChip("PIC18F4455", 3), other);
  EXPECT_FALSE(smaller.Load(dir, error));
  EXPECT_NE(error.find("flash.bin"), std::string::npos);
  EXPECT_FALSE(smaller.ApplicationPresent());  // nothing changed

  BootLoaderModel fresh(*FindChip("PIC18F4550", 3), other);
  EXPECT_TRUE(fresh.Load(dir / "none", error));  // no saved state: as delivered
  std::filesystem::remove_all(dir);
}

TEST(DumpBytes, SixteenBytesALinePrefixedByTheAddress) {
  Bytes b(20);
  for (int i = 0; i < 20; ++i) b[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(DumpBytes(0x300000, b),
            "300000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n300010: 10 11 12 13\n");
}
