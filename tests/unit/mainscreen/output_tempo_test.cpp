#include "hydrix/mainscreen/output_tempo.h"

#include <gtest/gtest.h>

#include "hydrix/commands/frames.h"
#include "support/inprocess_usb.h"
#include "support/recording_dialog_service.h"

namespace hx {
namespace {

class NoSleep : public Sleeper {
 public:
  void Sleep(std::chrono::milliseconds) override {}
};
class Codes : public MessageSource {
 public:
  std::string LitMessage(const std::string&, const std::string& code, const std::string&) override {
    return code;
  }
};

class SetTempoTest : public ::testing::Test {
 protected:
  sim::InProcessUsb usb;
  Codes messages;
  test::RecordingDialogService dialogs;
  NoSleep sleeper;
  HydrixDevice device{usb, messages, dialogs, sleeper};

  void Select(std::int32_t id) { device.Choose(id); }
  std::vector<std::pair<int, int>> Writes() const {
    std::vector<std::pair<int, int>> w;
    for (const auto& f : usb.writes) {
      if (f[0] == cmd::kWriteEeprom) w.emplace_back(f[1], f[2]);
    }
    return w;
  }
  int Resets() const {
    int n = 0;
    for (const auto& f : usb.writes) n += f[0] == cmd::kReset;
    return n;
  }
};

TEST_F(SetTempoTest, WritesTheDelayInTheFirstTwoBytesAndTheRestAsRead) {
  auto& e = usb.Add(5).model().eeprom();
  Select(5);
  e[2] = 0x18, e[100] = 0x42;
  const auto before = e;
  EXPECT_EQ(SetTempo(device, "7200"), TempoOutcome::Written);
  const auto w = Writes();
  ASSERT_EQ(w.size(), 129u);
  EXPECT_EQ(w[0], (std::pair{0, 32}));
  EXPECT_EQ(w[1], (std::pair{1, 28}));
  for (int a = 2; a <= 128; ++a) EXPECT_EQ(w[static_cast<std::size_t>(a)], (std::pair{a, int{before[a]}}));
  EXPECT_EQ(Resets(), 1);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Parameters Writed"});
}

// The controller's word is signed: 40000 s would read back as -25536.
TEST_F(SetTempoTest, RefusesWhatTheSignedWordCannotHoldAndAnUnchosenController) {
  usb.Add(5);
  device.SetUsbID(5);  // left there by an enumeration, not chosen
  EXPECT_EQ(SetTempo(device, "100"), TempoOutcome::Refused);
  EXPECT_TRUE(usb.writes.empty());
  ASSERT_EQ(dialogs.Texts(),
            std::vector<std::string>{"No controller is chosen. Choose one with USB Connect."});
  dialogs.messages.clear();
  Select(5);
  EXPECT_EQ(SetTempo(device, "abc"), TempoOutcome::NotNumeric);
  EXPECT_TRUE(usb.writes.empty());
  EXPECT_TRUE(dialogs.messages.empty());
  for (const char* text : {"40000", "32768", "-1", "1e9"}) {
    EXPECT_EQ(SetTempo(device, text), TempoOutcome::OutOfRange) << text;
  }
  EXPECT_TRUE(usb.writes.empty());
  ASSERT_EQ(dialogs.messages.size(), 4u);
  EXPECT_NE(dialogs.messages[0].text.find("from 0 to 32767 seconds"), std::string::npos);
  EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Critical);
  EXPECT_EQ(SetTempo(device, "32767"), TempoOutcome::Written);
  EXPECT_EQ(Writes()[1], (std::pair{1, 127}));
}

TEST_F(SetTempoTest, AReadThatStopsPartWayWritesNothingAndSaysSo) {
  usb.Add(5, {sim::Faults::Mode::After, 40});
  Select(5);
  EXPECT_EQ(SetTempo(device, "7200"), TempoOutcome::ReadFailed);
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(Resets(), 0);
  // The exchange's own message, then why nothing was written; no success.
  const auto texts = dialogs.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "Missing Hydrix");
  EXPECT_NE(texts[1].find("Nothing was written"), std::string::npos);
}

}  // namespace
}  // namespace hx
