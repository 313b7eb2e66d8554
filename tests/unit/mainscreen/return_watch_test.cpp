// Looking for a lost controller among simulated ones: found by its serial on
// whatever connection answers, never another controller, without a box, and
// the link state left as the window holds it.
#include "hydrix/mainscreen/return_watch.h"

#include <gtest/gtest.h>

#include "support/inprocess_usb.h"
#include "support/recording_dialog_service.h"

namespace hx {
namespace {

TEST(ReturnWatch, FindsTheLostControllerBySerialOnAnyConnectionAndNeverAnother) {
  sim::InProcessUsb usb;
  test::RecordingDialogService dialogs;
  LinkState state{5, true, true, {}};
  MULTIUSB link(usb, state, dialogs);
  usb.Add(5).faults().mode = sim::Faults::Mode::Silent;
  usb.Add(6);
  auto serial = [&](std::int32_t id, std::uint32_t s) {
    for (int i = 0; i < 4; ++i)
      usb.Find(id)->model().eeprom()[36u + i] = static_cast<std::uint8_t>(s >> (8 * i));
  };
  const auto t0 = ReturnWatch::Clock::now();
  ReturnWatch watch;
  watch.Lost(5, 24000005, t0);
  EXPECT_EQ(watch.SecondsSince(t0 + std::chrono::milliseconds(47900)), 47);
  EXPECT_EQ(watch.Look(usb, link, state), std::nullopt);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(state.UsbID, 5);
  EXPECT_TRUE(state.TimeOut && state.Chosen);
  EXPECT_EQ(link.ReadTimeoutMs(), MULTIUSB::kDefaultReadTimeoutMs);

  usb.Add(7);  // plugged into another port
  serial(7, 24000005);
  EXPECT_EQ(watch.Look(usb, link, state), 7);
  EXPECT_TRUE(state.TimeOut);  // the window decides what to make of it
  serial(5, 24000099);         // another controller on its own connection
  usb.Find(5)->faults().mode = sim::Faults::Mode::None;
  usb.Find(7)->faults().mode = sim::Faults::Mode::Silent;
  EXPECT_EQ(watch.Look(usb, link, state), std::nullopt);

  // Without a serial, only its own connection counts.
  watch.Lost(6, std::nullopt, t0);
  EXPECT_EQ(watch.Candidates({5, 6, 7}), std::vector<std::int32_t>{6});
  EXPECT_EQ(watch.Look(usb, link, state), 6);
}

}  // namespace
}  // namespace hx
