// The session counts the boot flag as written only when a data EEPROM write
// that the device confirmed covered the flag's byte (0xFF): the device is
// restarted on closing only then.
#include <gtest/gtest.h>

#include "platform/hxboot/device_session.h"
#include "wire/boot_protocol.h"

namespace hx::boot {
namespace {

// Confirms every packet by echoing its command byte.
class EchoLink : public BulkLink {
 public:
  bool Out(std::span<const std::uint8_t> bytes, std::chrono::milliseconds) override {
    last_ = bytes[0];
    ++packets;
    return true;
  }
  std::optional<std::size_t> In(std::span<std::uint8_t> buffer, std::chrono::milliseconds) override {
    buffer[0] = last_;
    return 1;
  }
  int packets = 0;

 private:
  std::uint8_t last_ = 0;
};

struct FlagCase {
  std::int32_t address;
  std::uint8_t length;
  bool flagWritten;
};

class BootFlag : public ::testing::TestWithParam<FlagCase> {};

TEST_P(BootFlag, OnlyAWriteCoveringTheFlagByteCountsAsTheBootFlag) {
  const FlagCase c = GetParam();
  EchoLink link;
  BootLoaderSession s(link);
  std::vector<std::uint8_t> data(c.length, 0x00);
  const auto request = EncodeBootRequest({kWriteEeprom, c.length, c.address, 1, 1, 1});
  EXPECT_EQ(s.WritePIC(request.data(), data.data()), c.length);
  EXPECT_EQ(s.BootFlagWritten(), c.flagWritten);
}

INSTANTIATE_TEST_SUITE_P(Writes, BootFlag,
                         ::testing::Values(FlagCase{0xFF, 1, true}, FlagCase{0xF0, 16, true},
                                           FlagCase{0xF0, 15, false},
                                           // Found by the fuzzer: nothing written, yet counted as the flag.
                                           FlagCase{0x01050203, 0, false}, FlagCase{0x100, 1, false},
                                           FlagCase{0x100, 0, false}));

}  // namespace
}  // namespace hx::boot
