// The library's calls mapped onto the boot loader's packets, over a fake
// bulk link that runs the simulated boot loader as a device would.
#include "platform/hxboot/device_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "sim/boot/boot_loader_model.h"
#include "support/boot_loader_device.h"
#include "wire/boot_protocol.h"

namespace hx::boot {
namespace {

using namespace std::chrono_literals;

class FakeBootLoaderLink : public BulkLink {
 public:
  bool Out(std::span<const std::uint8_t> bytes, std::chrono::milliseconds) override {
    if (gone) return false;
    sent.emplace_back(bytes.begin(), bytes.end());
    answer_ = device_.Answer(bytes);
    gone = device_.reset;
    return true;
  }
  std::optional<std::size_t> In(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
    timeouts.push_back(timeout);
    if (gone || !answer_ || dropAnswers > 0) {
      if (dropAnswers > 0) --dropAnswers;
      return std::nullopt;
    }
    const auto n = std::min(buffer.size(), answer_->size());
    std::copy_n(answer_->begin(), n, buffer.begin());
    if (corruptEcho) buffer[0] ^= 0x40;
    answer_.reset();
    return n;
  }

 private:
  testing::BootLoaderDevice device_;
  std::optional<std::vector<std::uint8_t>> answer_;

 public:
  std::array<std::uint8_t, 256>& eeprom = device_.eeprom;
  sim::BootLoaderModel& model = device_.model;
  std::vector<std::vector<std::uint8_t>> sent;
  std::vector<std::chrono::milliseconds> timeouts;
  int dropAnswers = 0;
  bool corruptEcho = false;
  bool gone = false;
};

RequestBytes Request(std::uint8_t command, std::uint8_t length, std::int32_t address,
                     std::int16_t retries = 1) {
  return EncodeBootRequest({command, length, address, 1, 1, retries});
}

TEST(DeviceSession, ProgramsEraseWriteAndReadBackInPacketsOfAtMost59Bytes) {
  FakeBootLoaderLink link;
  BootLoaderSession s(link);
  auto erase = MakeErasePacket(0x0800);
  ASSERT_EQ(s.SendGetPacket(erase.data(), kErasePacketLength, 255, 1), kErasePacketLength);
  EXPECT_EQ(link.sent.back(), (std::vector<std::uint8_t>{0x03, 1, 0x00, 0x08, 0x00}));
  EXPECT_EQ(link.timeouts.back(), SessionTimeouts{}.erase);

  std::array<std::uint8_t, 64> image{};
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
  link.sent.clear();
  ASSERT_EQ(s.WritePIC(Request(kWriteProgram, 64, 0x0800).data(), image.data()), 64);
  ASSERT_EQ(link.sent.size(), 2u);  // 48 bytes (three whole rows), then 16
  EXPECT_EQ(link.sent[0].size(), 5u + 48);
  EXPECT_EQ(link.sent[1], (MakeDevicePacket(0x02, 16, 0x0830, std::span(image).subspan(48))));

  std::array<std::uint8_t, 100> back{};
  link.sent.clear();
  // 100 bytes from 0x07E0: the 32 erased bytes before, the 64 written, 4 erased after.
  ASSERT_EQ(s.ReadPIC(Request(kReadProgram, 100, 0x07E0).data(), back.data()), 100);
  ASSERT_EQ(link.sent.size(), 2u);
  EXPECT_EQ(link.sent[0], (std::vector<std::uint8_t>{0x01, 59, 0xE0, 0x07, 0x00}));
  EXPECT_EQ(link.sent[1], (std::vector<std::uint8_t>{0x01, 41, 0x1B, 0x08, 0x00}));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), back.begin() + 32));
}

TEST(DeviceSession, ConfigurationIdAndEepromGoThroughTheirOwnCommands) {
  FakeBootLoaderLink link;
  BootLoaderSession s(link);
  auto id = MakeReadBytePacket(sim::kDeviceIdBase + 1);
  ASSERT_EQ(s.SendGetPacket(id.data(), kReadBytePacketLength, 255, 1), 6);
  EXPECT_EQ(link.sent.back(), (std::vector<std::uint8_t>{0x06, 1, 0xFF, 0xFF, 0x3F}));
  EXPECT_EQ(PacketAnswerByte(id), sim::DefaultChip().deviceId >> 8);

  auto config = MakeWriteConfigPacket(sim::kConfigBase + 1, 0x0E);
  ASSERT_EQ(s.SendGetPacket(config.data(), kWriteConfigPacketLength, 255, 1), 6);
  EXPECT_EQ(link.sent.back(), (std::vector<std::uint8_t>{0x07, 1, 0x01, 0x00, 0x30, 0x0E}));
  EXPECT_EQ(link.model.Config()[1], 0x0E);

  const std::array<std::uint8_t, 2> flag{0x12, 0x00};
  ASSERT_EQ(s.WritePIC(Request(kWriteEeprom, 2, 0xFE).data(), flag.data()), 2);
  EXPECT_EQ(link.sent.back(), (std::vector<std::uint8_t>{0x05, 2, 0xFE, 0x00, 0x00, 0x12, 0x00}));
  EXPECT_EQ(link.eeprom[0xFF], 0x00);
}

TEST(DeviceSession, TimeOutsAreRetriedAsAskedAndAWrongEchoFailsAtOnce) {
  FakeBootLoaderLink link;
  BootLoaderSession s(link);
  auto id = MakeReadBytePacket(sim::kDeviceIdBase);
  link.dropAnswers = 2;
  EXPECT_LT(s.SendGetPacket(id.data(), kReadBytePacketLength, 255, 2), 0);
  link.dropAnswers = 2;
  EXPECT_EQ(s.SendGetPacket(id.data(), kReadBytePacketLength, 255, 3), 6);

  std::array<std::uint8_t, 16> row{};
  link.dropAnswers = 1;
  EXPECT_LT(s.ReadPIC(Request(kReadProgram, 16, 0x0200, 1).data(), row.data()), 0);
  link.dropAnswers = 1;
  EXPECT_EQ(s.ReadPIC(Request(kReadProgram, 16, 0x0200, 2).data(), row.data()), 16);

  link.corruptEcho = true;
  link.sent.clear();
  EXPECT_LT(s.ReadPIC(Request(kReadProgram, 16, 0x0200, 5).data(), row.data()), 0);
  EXPECT_EQ(link.sent.size(), 1u);
  EXPECT_NE(s.WritePIC(Request(kWriteEeprom, 1, 0x10).data(), row.data()) & 0x8000, 0);
}

TEST(DeviceSession, RefusesRowsOutOfLineAndADeviceThatLeftTheBusAfterTheResetThatEndsARun) {
  FakeBootLoaderLink link;
  BootLoaderSession s(link);
  std::array<std::uint8_t, 16> row{};
  EXPECT_NE(s.WritePIC(Request(kWriteProgram, 16, 0x0808).data(), row.data()) & 0x8000, 0);
  EXPECT_TRUE(link.sent.empty());

  // The reset comes only from the session, and only once asked for.
  std::array<std::uint8_t, 1> flag{0x00};
  EXPECT_FALSE(s.BootFlagWritten());
  ASSERT_EQ(s.WritePIC(Request(kWriteEeprom, 1, 0xFF).data(), flag.data()), 1);
  EXPECT_TRUE(s.BootFlagWritten());
  s.Reset();
  EXPECT_EQ(link.sent.back(), (std::vector<std::uint8_t>{0xFF, 0, 0, 0, 0}));
  EXPECT_TRUE(link.gone);
  EXPECT_LT(s.ReadPIC(Request(kReadProgram, 16, 0x0200, 3).data(), row.data()), 0);
  auto erase = MakeErasePacket(0x0800);
  EXPECT_LT(s.SendGetPacket(erase.data(), kErasePacketLength, 255, 3), 0);
}

}  // namespace
}  // namespace hx::boot
