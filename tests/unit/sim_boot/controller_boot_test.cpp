// A simulated controller with its boot loader: the SPEC keys, entering the
// boot loader on the product's boot command, returning to the application
// after a run, and the saved flash.
#include <gtest/gtest.h>
#include <unistd.h>

#include "sim/sim_device.h"

using namespace hx::sim;
using Bytes = std::vector<std::uint8_t>;

namespace {
ControllerSpec Spec(const std::string& text) {
  std::string error;
  auto spec = ParseControllerSpec(text, error);
  EXPECT_TRUE(spec) << error;
  return spec ? *spec : ControllerSpec{};
}
const auto kNow = std::chrono::steady_clock::now();
}  // namespace

TEST(BootSpec, KeysOfTheControllerSpec) {
  const auto s = Spec(
      "id=3,chip=PIC18F4553,rev=2,bootcmd=0x1F:17,flash=empty,cfgfail=2,erasefail=0x1000,"
      "writefail=528,fault=noboot,stuck=0x210,cut=40");
  EXPECT_EQ(s.boot.chip, "PIC18F4553");
  EXPECT_EQ(s.boot.revision, 2);
  EXPECT_EQ(s.boot.commandValue, 31);
  EXPECT_EQ(s.boot.commandLength, 17);
  EXPECT_TRUE(s.boot.emptyFlash);
  EXPECT_EQ(s.boot.configFailures, 2);
  EXPECT_EQ(s.boot.eraseFailAt, 0x1000u);
  EXPECT_EQ(s.boot.writeFailAt, 528u);
  EXPECT_TRUE(s.boot.noBoot);
  EXPECT_EQ(s.boot.stuckAt, 0x210u);
  EXPECT_EQ(s.boot.cutAt, 40);
  EXPECT_EQ(s.faults.mode, Faults::Mode::None);
  std::string error;
  for (const char* bad : {"id=1,chip=PIC16F84", "id=1,rev=32", "id=1,bootcmd=23", "id=1,bootcmd=23:2",
                          "id=1,flash=full", "id=1,erasefail=zz", "id=1,cut=0", "id=1,stuck=-1"}) {
    EXPECT_FALSE(ParseControllerSpec(bad, error)) << bad;
  }
}

TEST(ControllerBoot, TheProductsBootCommandEntersTheBootLoader) {
  SimDevice d(Spec("id=1"), {}, kNow);
  EXPECT_FALSE(d.InBootLoader());
  EXPECT_FALSE(d.Request(Bytes{23, 0x55, 0xAA, 0, 0}, kNow));  // wrong length: not the command
  EXPECT_FALSE(d.InBootLoader());
  EXPECT_FALSE(d.Request(Bytes{24, 0x55, 0xAA, 0, 0, 0, 0, 0, 0}, kNow));  // wrong value
  EXPECT_FALSE(d.InBootLoader());
  EXPECT_FALSE(d.Request(Bytes{23, 0x55, 0xAA, 0, 0, 0, 0, 0, 0}, kNow));
  EXPECT_TRUE(d.InBootLoader());
  // The application no longer answers its frames.
  Bytes frame(12, 0);
  frame[0] = 0xFE;
  EXPECT_FALSE(d.Request(frame, kNow));
}

TEST(ControllerBoot, WithoutBootLoaderTheCommandIsIgnored) {
  SimDevice d(Spec("id=1,fault=noboot"), {}, kNow);
  d.Request(Bytes{23, 0x55, 0xAA, 0, 0, 0, 0, 0, 0}, kNow);
  EXPECT_FALSE(d.InBootLoader());
}

TEST(ControllerBoot, TheBootFlagAndTheApplicationDecideWhatStarts) {
  SimDevice d(Spec("id=1"), {}, kNow);
  auto flag = [&](std::uint8_t value) {
    d.boot().WritePIC(hx::boot::EncodeBootRequest({hx::boot::kWriteEeprom, 1, 0xFF, 1, 1, 0}), Bytes{value});
    d.BootRequestDone();
  };
  // No boot flag written yet (a reconnect within a run): the boot loader stays.
  d.Request(Bytes{23, 0x55, 0xAA, 0, 0, 0, 0, 0, 0}, kNow);
  d.BootLoaderClosed();
  EXPECT_TRUE(d.InBootLoader());
  // Boot flag 0xFF: the boot loader stays, even with an application.
  flag(0xFF);
  d.BootLoaderClosed();
  EXPECT_TRUE(d.InBootLoader());
  flag(0x00);
  EXPECT_EQ(d.model().eeprom()[0xFF], 0x00);
  d.BootLoaderClosed();
  EXPECT_FALSE(d.InBootLoader());
  // An erased reset vector: no application, whatever the flag says.
  d.Request(Bytes{23, 0x55, 0xAA, 0, 0, 0, 0, 0, 0}, kNow);
  auto erase = hx::boot::MakeErasePacket(0x200);
  ASSERT_GT(d.boot().SendGetPacket(erase, 5), 0);
  flag(0x00);
  d.BootLoaderClosed();
  EXPECT_TRUE(d.InBootLoader());

  SimDevice empty(Spec("id=2,flash=empty"), {}, kNow);
  EXPECT_TRUE(empty.InBootLoader());
  empty.boot().WritePIC(hx::boot::EncodeBootRequest({hx::boot::kWriteEeprom, 1, 0xFF, 1, 1, 0}), Bytes{0xFF});
  empty.BootLoaderClosed();
  EXPECT_TRUE(empty.InBootLoader());
}

TEST(ControllerBoot, FlashIsKeptInTheStateFolder) {
  char pattern[] = "/tmp/sim-boot-state-XXXXXX";
  const std::filesystem::path state = ::mkdtemp(pattern);
  {
    SimDevice d(Spec("id=4"), state, kNow);
    d.Request(Bytes{23, 0x55, 0xAA, 0, 0, 0, 0, 0, 0}, kNow);
    auto erase = hx::boot::MakeErasePacket(0x200);
    ASSERT_GT(d.boot().SendGetPacket(erase, 5), 0);
    d.BootLoaderClosed();
    EXPECT_TRUE(std::filesystem::exists(state / "controller-4" / "flash.bin"));
  }
  SimDevice again(Spec("id=4"), state, kNow);
  EXPECT_TRUE(again.InBootLoader());  // its application was erased
  EXPECT_EQ(again.boot().Flash()[0x201], 0xFF);
  std::filesystem::remove_all(state);
}
