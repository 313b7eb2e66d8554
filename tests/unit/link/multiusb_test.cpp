#include "hydrix/link/multiusb.h"

#include <gtest/gtest.h>

#include "support/inprocess_usb.h"
#include "support/recording_dialog_service.h"

namespace hx {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::Faults;

class MultiUsbTest : public ::testing::Test {
 protected:
  sim::InProcessUsb usb;
  LinkState state;
  test::RecordingDialogService dialogs;
  MULTIUSB link{usb, state, dialogs};

  Bytes Cycle(const Bytes& frame, std::int16_t length, bool show = true) {
    link.UsbOpen(state.UsbID);
    link.UsbWrite(frame, static_cast<std::int16_t>(frame.size()));
    auto a = link.UsbRead(length, "Missing Hydrix", show, "");
    link.UsbClose();
    return a;
  }
};

const Bytes kReadClock{0xF1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

TEST_F(MultiUsbTest, OpenGivesTwoHandlesAndCloseReleasesBoth) {
  usb.Add(5);
  EXPECT_TRUE(link.UsbOpen(5));
  EXPECT_NE(link.WriteHandle(), link.ReadHandle());
  EXPECT_EQ(usb.openHandles.size(), 2u);
  // Reopening closes first.
  EXPECT_TRUE(link.UsbOpen(5));
  EXPECT_EQ(usb.openHandles.size(), 2u);
  link.UsbClose();
  EXPECT_TRUE(usb.openHandles.empty());
  EXPECT_EQ(link.WriteHandle(), 0);
  EXPECT_EQ(link.ReadHandle(), 0);
  EXPECT_EQ(usb.cancelCalls, 2);
  // Closing again is harmless and calls nothing.
  const int closes = usb.closeCalls;
  link.UsbClose();
  EXPECT_EQ(usb.closeCalls, closes);
}

TEST_F(MultiUsbTest, RequestWrittenOnOneHandleIsAnsweredOnTheOther) {
  usb.Add(5);
  state.UsbID = 5;
  const auto a = Cycle(kReadClock, 7);
  EXPECT_EQ(a.size(), 7u);
  EXPECT_EQ(a[0], 0xF1);
  EXPECT_EQ(usb.writes, std::vector<Bytes>{kReadClock});
  EXPECT_FALSE(state.TimeOut);
  EXPECT_EQ(link.LastReadCount(), 7u);
}

TEST_F(MultiUsbTest, WriteIsTriedThreeTimesThenTheReadFollowsAsUsual) {
  usb.Add(5);
  state.UsbID = 5;
  usb.failNextWrites = 3;
  const auto a = Cycle(kReadClock, 7);
  EXPECT_EQ(usb.writes.size(), 3u);
  EXPECT_EQ(usb.readCalls, 1);
  EXPECT_EQ(a, Bytes(7, 0));  // nothing was asked, nothing came
  EXPECT_TRUE(state.TimeOut);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Missing Hydrix"});

  state.TimeOut = false;
  usb.writes.clear();
  usb.failNextWrites = 2;
  EXPECT_EQ(Cycle(kReadClock, 7)[0], 0xF1);
  EXPECT_EQ(usb.writes.size(), 3u);
  EXPECT_FALSE(state.TimeOut);
}

TEST_F(MultiUsbTest, NoAnswerClosesBothHandlesSetsTimeOutAndShowsTheTextOnce) {
  usb.Add(5, {Faults::Mode::Silent});
  state.UsbID = 5;
  link.UsbOpen(5);
  link.UsbWrite(kReadClock, 12);
  const auto a = link.UsbRead(7, "Missing Hydrix", true, "");
  EXPECT_EQ(a, Bytes(7, 0));
  EXPECT_TRUE(state.TimeOut);
  EXPECT_TRUE(usb.openHandles.empty());
  EXPECT_EQ(link.WriteHandle(), 0);
  EXPECT_EQ(link.ReadHandle(), 0);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Missing Hydrix");
  EXPECT_EQ(dialogs.messages[0].title, "");
  EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::Ok);
  EXPECT_EQ(usb.cancelCalls, 0);  // the failure path closes without cancelling
}

TEST_F(MultiUsbTest, WhileTimeOutIsSetReadsGiveZerosWithoutReadingButRequestsAreWritten) {
  usb.Add(5);
  state.UsbID = 5;
  state.TimeOut = true;
  const auto a = Cycle(kReadClock, 7);
  EXPECT_EQ(a, Bytes(7, 0));
  EXPECT_EQ(usb.readCalls, 0);
  EXPECT_EQ(usb.writes.size(), 1u);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(usb.openHandles.empty());
}

TEST_F(MultiUsbTest, SilentProbeWithoutMessageSetsTimeOutQuietly) {
  usb.Add(5, {Faults::Mode::Silent});
  state.UsbID = 5;
  Cycle(kReadClock, 5, false);
  EXPECT_TRUE(state.TimeOut);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(usb.openHandles.empty());
}

TEST_F(MultiUsbTest, ShortAnswerIsPaddedWithZerosAndClearsTimeOut) {
  usb.Add(5, {Faults::Mode::Short});
  state.UsbID = 5;
  state.TimeOut = false;
  const auto a = Cycle(kReadClock, 7);
  ASSERT_EQ(a.size(), 7u);
  EXPECT_EQ(a[0], 0xF1);
  EXPECT_NE(a[1], 0);  // the day
  EXPECT_EQ(Bytes(a.begin() + 3, a.end()), Bytes(4, 0));
  EXPECT_FALSE(state.TimeOut);
  EXPECT_EQ(link.LastReadCount(), 3u);
}

TEST_F(MultiUsbTest, FailedOpenShowsAsAFailedWriteAndAnEmptyRead) {
  usb.Add(5);
  usb.failOpens = true;
  EXPECT_FALSE(link.UsbOpen(5));
  link.UsbWrite(kReadClock, 12);
  const auto a = link.UsbRead(7, "Missing Hydrix", true, "");
  link.UsbClose();
  EXPECT_EQ(usb.writes.size(), 3u);
  EXPECT_EQ(a, Bytes(7, 0));
  EXPECT_TRUE(state.TimeOut);
  EXPECT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(usb.closeCalls, 0);  // -1 is not a handle of the library
}

TEST_F(MultiUsbTest, AnswerLaterThanTheReadTimeOutIsNoAnswer) {
  usb.Add(5, {Faults::Mode::None, 0, 900});
  state.UsbID = 5;
  link.SetReadTimeoutMs(100);
  Cycle(kReadClock, 7);
  EXPECT_TRUE(state.TimeOut);
  link.SetReadTimeoutMs(1000);
  state.TimeOut = false;
  EXPECT_EQ(Cycle(kReadClock, 7)[0], 0xF1);
}

TEST_F(MultiUsbTest, ReadTimeOutComesFromTheEnvironment) {
  setenv("HYDRIX_USB_TIMEOUT_MS", "250", 1);
  MULTIUSB custom(usb, state, dialogs);
  EXPECT_EQ(custom.ReadTimeoutMs(), 250u);
  setenv("HYDRIX_USB_TIMEOUT_MS", "soon", 1);
  MULTIUSB fallback(usb, state, dialogs);
  EXPECT_EQ(fallback.ReadTimeoutMs(), MULTIUSB::kDefaultReadTimeoutMs);
  unsetenv("HYDRIX_USB_TIMEOUT_MS");
}

}  // namespace
}  // namespace hx
