#include "hydrix/commands/hydrix_device.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/inprocess_usb.h"
#include "support/recording_dialog_service.h"

namespace hx {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::Faults;

class RecordingSleeper : public Sleeper {
 public:
  void Sleep(std::chrono::milliseconds d) override { pauses.push_back(d); }
  std::vector<std::chrono::milliseconds> pauses;
};

class CountingMessages : public MessageSource {
 public:
  std::string LitMessage(const std::string& language, const std::string& code,
                         const std::string& def) override {
    lookups.push_back(language + "/" + code);
    return "text of " + code + (def.empty() ? "" : "/" + def);
  }
  std::vector<std::string> lookups;
};

class DeviceTest : public ::testing::Test {
 protected:
  sim::InProcessUsb usb;
  CountingMessages messages;
  test::RecordingDialogService dialogs;
  RecordingSleeper sleeper;
  DateHeure clock{2024, 12, 31, 23, 59, 59};
  HydrixDevice device{usb, messages, dialogs, sleeper, [this] { return clock; }};

  sim::SimDevice& Controller(Faults f = {}) {
    auto& d = usb.Add(5, f);
    device.Choose(5);
    return d;
  }
  static Bytes Frame12(Bytes b) {
    b.resize(12, 0);
    return b;
  }
};

TEST_F(DeviceTest, EepromReadOfAWideAddressSendsBothBytes) {
  Controller();
  device.LitEEprom(300);
  ASSERT_EQ(usb.writes.size(), 1u);
  EXPECT_EQ(usb.writes[0], Frame12({0xFE, 0x2C, 0x01}));
  usb.writes.clear();
  EXPECT_EQ(device.LitEEprom(-1), 0);
  EXPECT_EQ(device.LitEEprom(65536), 0);
  EXPECT_TRUE(usb.writes.empty());
}

TEST_F(DeviceTest, ByteSplitRoundsHalfToEvenAndRefusesWhatDoesNotFit) {
  EXPECT_EQ(HydrixDevice::OctetBas(2.5), 2);
  EXPECT_EQ(HydrixDevice::OctetBas(3.5), 4);
  EXPECT_EQ(HydrixDevice::OctetHaut(65535), 255);
  EXPECT_EQ(HydrixDevice::OctetBas(65535), 255);
  EXPECT_EQ(HydrixDevice::OctetHaut(12500), 0x30);
  EXPECT_EQ(HydrixDevice::OctetBas(12500), 0xD4);
  EXPECT_FALSE(HydrixDevice::OctetHaut(65535.5));  // rounds to 65536
  EXPECT_FALSE(HydrixDevice::OctetBas(-0.6));
  EXPECT_EQ(HydrixDevice::OctetBas(-0.5), 0);  // half to even: 0
}

TEST_F(DeviceTest, ImageIsReadTwiceByteByByteWithALookupPerExchange) {
  auto& c = Controller();
  c.model().eeprom()[40] = 0x12;
  EXPECT_TRUE(device.LitImage());
  EXPECT_EQ(usb.writes.size(), 258u);
  EXPECT_EQ(usb.writes[0], Frame12({0xFE, 0, 0}));
  EXPECT_EQ(usb.writes[1], Frame12({0xFE, 0, 0}));
  EXPECT_EQ(usb.writes[257], Frame12({0xFE, 128, 0}));
  EXPECT_EQ(messages.lookups.size(), 258u);
  EXPECT_EQ(messages.lookups[0], "English/Missing Hydrix");
  for (int a = 0; a <= 128; ++a) {
    EXPECT_EQ(device.ImageParams()[a], c.model().eeprom()[a]) << a;
    EXPECT_EQ(device.ImageEcriture()[a], c.model().eeprom()[a]) << a;
  }
  EXPECT_EQ(device.ImageParams()[129], 0);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(usb.openHandles.empty());
}

TEST_F(DeviceTest, FailedReadInsideTheImageLeavesZerosShowsOneBoxAndBlocksTheWriteBack) {
  auto& c =
      Controller({Faults::Mode::After, 101});  // answers addresses 0..49 twice, then the first read of 50
  EXPECT_FALSE(device.LitImage());
  EXPECT_EQ(usb.writes.size(), 258u);  // requests are still written
  EXPECT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "text of Missing Hydrix");
  EXPECT_EQ(device.ImageParams()[0], 0x10);
  EXPECT_EQ(device.ImageParams()[50], c.model().eeprom()[50]);
  EXPECT_EQ(device.ImageEcriture()[49], c.model().eeprom()[49]);
  for (int a = 51; a <= 128; ++a) {
    EXPECT_EQ(device.ImageParams()[a], 0) << a;
    EXPECT_EQ(device.ImageEcriture()[a], 0) << a;
  }
  EXPECT_EQ(device.ImageEcriture()[50], 0);
  EXPECT_TRUE(device.TimeOut());

  // Writing back that image would put zeros into the controller: refused.
  usb.writes.clear();
  c.faults().mode = Faults::Mode::None;
  device.SetTimeOut(false);
  const auto before = c.model().eeprom();
  EXPECT_FALSE(device.EcritImage());
  EXPECT_TRUE(usb.writes.empty());
  EXPECT_EQ(c.model().eeprom(), before);
}

TEST_F(DeviceTest, ShortAnswersDoNotMakeAWholeImage) {
  Controller({Faults::Mode::Short});
  EXPECT_FALSE(device.LitImage());
  EXPECT_FALSE(device.TimeOut());
  EXPECT_FALSE(device.EcritImage());
}

// Whole answers that cannot be the controller's own settings: every byte 0,
// or a controller whose identity probe gave type 0 and version 0.00. A
// controller after Factory Values (no validity mark) is writable.
TEST_F(DeviceTest, AnImageThatCannotBeTheControllersOwnIsNeverWrittenBack) {
  auto& c = Controller({Faults::Mode::Zeros});
  ASSERT_TRUE(device.LitImage());
  usb.writes.clear();
  EXPECT_NE(device.ImageWriteRefusal().find("Every byte of the settings read from controller 5 is 0"),
            std::string::npos);
  EXPECT_FALSE(device.EcritImage());
  EXPECT_TRUE(usb.writes.empty());

  c.faults().mode = Faults::Mode::None;
  device.state().Identities[5] = {0, 0, 0, 0, 0};  // what its probe said
  ASSERT_TRUE(device.LitImage());
  EXPECT_NE(device.ImageWriteRefusal().find("type 0, firmware 0.00"), std::string::npos);
  EXPECT_FALSE(device.EcritImage());

  device.state().Identities[5] = {0, 1, 11, 5, 0};
  c.model().eeprom()[21] = 0, c.model().eeprom()[22] = 0;
  ASSERT_TRUE(device.LitImage());
  EXPECT_EQ(device.ImageWriteRefusal(), "");

  device.SetUsbID(6);  // moved by an enumeration, not chosen
  device.state().Chosen = false;
  EXPECT_EQ(device.ImageWriteRefusal(), "No controller is chosen. Choose one with USB Connect.");
  EXPECT_EQ(device.CommandRefusal(false), "No controller is chosen. Choose one with USB Connect.");
}

TEST_F(DeviceTest, ImageIsWrittenBackAddressByAddress) {
  auto& c = Controller();
  ASSERT_TRUE(device.LitImage());
  usb.writes.clear();
  device.ImageEcriture()[36] = 0x99;
  device.ImageEcriture()[128] = 0x01;
  EXPECT_TRUE(device.EcritImage());
  ASSERT_EQ(usb.writes.size(), 129u);
  EXPECT_EQ(usb.writes[36], Frame12({0xFF, 36, 0x99}));
  EXPECT_EQ(usb.writes[128], Frame12({0xFF, 128, 0x01}));
  EXPECT_EQ(c.model().eeprom()[36], 0x99);
  EXPECT_EQ(c.model().eeprom()[128], 0x01);
  EXPECT_EQ(c.model().eeprom()[255], 0x00);  // beyond the image: untouched
}

TEST_F(DeviceTest, WritesOutsideAByteSendNothing) {
  Controller();
  EXPECT_EQ(device.EcritEEprom(256, 1), 0);
  EXPECT_EQ(device.EcritEEprom(3, 300), 0);
  EXPECT_EQ(device.EcritEEprom(-1, 3), 0);
  EXPECT_TRUE(usb.writes.empty());
  EXPECT_EQ(device.EcritEEprom(3, 7), 7);
  EXPECT_EQ(usb.writes[0], Frame12({0xFF, 3, 7}));
}

TEST_F(DeviceTest, WordsOfTheImagesAreSignedLittleEndian) {
  device.ImageParams()[10] = 0x34;
  device.ImageParams()[11] = 0x12;
  device.ImageParams()[20] = 0xFF;
  device.ImageParams()[21] = 0xFF;
  EXPECT_EQ(device.LitMotParams(10), 4660);
  EXPECT_EQ(device.LitMotParams(20), -1);
  EXPECT_EQ(device.LitMotParams(255), 0);
  device.ImageMesures()[4] = 0x40;
  device.ImageMesures()[5] = 0x9C;  // 40000
  EXPECT_EQ(device.LitMotValeur(4), -25536);
  EXPECT_EQ(device.LitMotValeur(32), 0);
}

TEST_F(DeviceTest, ResetIsNotReadAndPausesTwoSeconds) {
  Controller();
  device.ResetDevice();
  EXPECT_EQ(usb.writes, std::vector<Bytes>{Bytes(12, 0)});
  EXPECT_EQ(usb.readCalls, 0);
  EXPECT_EQ(sleeper.pauses, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(2000)});
  EXPECT_TRUE(usb.openHandles.empty());
}

TEST(ResetPause, RealResetReturnsAfterAtLeastTwoSeconds) {
  sim::InProcessUsb usb;
  usb.Add(5);
  CodeMessageSource messages;
  test::RecordingDialogService dialogs;
  RealSleeper sleeper;
  HydrixDevice device(usb, messages, dialogs, sleeper);
  device.SetUsbID(5);
  const auto start = std::chrono::steady_clock::now();
  device.ResetDevice();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
}

TEST_F(DeviceTest, ClockIsSetFromOneReadingOfThePcClock) {
  auto& c = Controller();
  device.MiseAHeure();
  // 31 December 2024 is a Tuesday.
  EXPECT_EQ(usb.writes[0], Frame12({0x01, 0x02, 23, 59, 59, 31, 12, 24, 0}));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "text of Time Set");
  EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Exclamation);
  EXPECT_EQ(messages.lookups[0], "English/Hydrix Absent");
  EXPECT_EQ(c.model().Clock().year, 2024);
  EXPECT_EQ(c.model().Clock().second, 59);

  usb.writes.clear();
  clock = {2024, 12, 29, 8, 0, 0};  // a Sunday
  device.MiseAHeure();
  EXPECT_EQ(usb.writes[0][1], 7);
  usb.writes.clear();
  clock = {2024, 12, 30, 8, 0, 0};  // a Monday
  device.MiseAHeure();
  EXPECT_EQ(usb.writes[0][1], 1);
}

TEST_F(DeviceTest, ClockSetWithoutAnswerSaysHydrixAbsentAndNotTimeSet) {
  Controller({Faults::Mode::Silent});
  device.MiseAHeure();
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"text of Hydrix Absent"});
  EXPECT_TRUE(device.TimeOut());
}

TEST_F(DeviceTest, ControllerClockIsShownDayMonthYearAndTime) {
  auto& c = Controller();
  c.model().SetClock({2024, 3, 7, 14, 5, 9});
  EXPECT_EQ(device.LitDateEtHeure(), "07/03/24 - 14:05:09");
  EXPECT_EQ(usb.writes[0], Frame12({0xF1}));
  c.faults().mode = Faults::Mode::Silent;
  EXPECT_EQ(device.LitDateEtHeure(), "00/00/00 - 00:00:00");
  EXPECT_EQ(device.txtCurrentTime(), "00/00/00 - 00:00:00");
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"text of Missing Hydrix"});
}

TEST_F(DeviceTest, MeasureBlockIsReadVariableByVariable) {
  auto& c = Controller();
  c.model().SetVariable(20, 4);
  device.LitMesuresEtDate();
  ASSERT_EQ(usb.writes.size(), 29u);
  for (int i = 0; i < 28; ++i) EXPECT_EQ(usb.writes[i], Frame12({0xFC, static_cast<std::uint8_t>(i)}));
  EXPECT_EQ(usb.writes[28], Frame12({0xF1}));
  EXPECT_EQ(device.LitMotValeur(20), 4);
  EXPECT_EQ(device.LitMotValeur(0), c.model().Variables()[0] | (c.model().Variables()[1] << 8));
}

TEST_F(DeviceTest, OutputAndClockSpeedFrames) {
  auto& c = Controller();
  device.CommandeSortie(0, 1);
  EXPECT_EQ(usb.writes.back(), Frame12({0x04, 0, 1}));
  EXPECT_EQ(c.model().Variables()[24], 1);
  device.CommandeSortie(1, 0);
  EXPECT_EQ(usb.writes.back(), Frame12({0x04, 1, 0}));
  std::uint8_t result = 9;
  device.EcritHorlogeRapide(true, true, result);
  EXPECT_EQ(usb.writes.back(), Frame12({0xF3, 1, 1}));
  EXPECT_EQ(result, 1);
  EXPECT_EQ(messages.lookups.back(), "English/Hydrix Absent");
  device.EcritHorlogeRapide(true, false, result);
  EXPECT_EQ(usb.writes.back(), Frame12({0xF3, 1, 0}));
  EXPECT_EQ(result, 0);
}

TEST_F(DeviceTest, CaptionAndCorrectionComeFromTheImage) {
  EXPECT_EQ(device.LitVersion(), "Tessaro Hydrix  (0) V 0.00");
  EXPECT_EQ(device.LitValeurCorrection(), (std::array<std::string, 2>{"0", "16.0000"}));
  Controller();
  ASSERT_TRUE(device.LitImage());
  EXPECT_EQ(device.LitVersion(), "Tessaro Hydrix  (11) V 1.05");
  struct Case {
    int low, high;
    const char* c;
    const char* f;
  };
  for (const Case& k : {Case{0xE8, 0x03, "1000", "15.9840"}, Case{0x18, 0xFC, "-1000", "16.0160"},
                        Case{1, 0, "1", ".0000"}, Case{0xFF, 0xFF, "-1", "-1.0000"}}) {
    device.ImageParams()[81] = k.low;
    device.ImageParams()[82] = k.high;
    EXPECT_EQ(device.LitValeurCorrection(), (std::array<std::string, 2>{k.c, k.f}));
  }
}

}  // namespace
}  // namespace hx
