// Looking for a lost controller against simulated controllers: the same one
// is found by its serial on whatever connection answers, never another
// controller, and the link state is left as the window holds it.
#include "hydrix/mainscreen/return_watch.h"

#include <gtest/gtest.h>

#include "support/inprocess_usb.h"
#include "support/recording_dialog_service.h"

namespace hx {
namespace {

void SetSerial(sim::InProcessUsb& usb, std::int32_t id, std::int32_t serial) {
  for (int i = 0; i < 4; ++i) {
    usb.Find(id)->model().eeprom()[static_cast<std::size_t>(36 + i)] =
        static_cast<std::uint8_t>(static_cast<std::uint32_t>(serial) >> (8 * i));
  }
}

TEST(ReturnWatch, FindsTheLostControllerBySerialOnAnyConnectionAndNeverAnother) {
  sim::InProcessUsb usb;
  test::RecordingDialogService dialogs;
  LinkState state;
  MULTIUSB link(usb, state, dialogs);
  usb.Add(5);
  usb.Add(6);
  state.UsbID = 5;
  state.Chosen = true;
  state.TimeOut = true;
  usb.Find(5)->faults().mode = sim::Faults::Mode::Silent;

  const auto t0 = ReturnWatch::Clock::now();
  ReturnWatch watch;
  watch.Lost(5, 24000005, t0);
  EXPECT_EQ(watch.SecondsSince(t0 + std::chrono::milliseconds(47900)), 47);
  // Silent, and the other controller has another serial: not found, no box,
  // the choice kept and the link still given up, the probes' wait restored.
  EXPECT_EQ(watch.Look(usb, link, state), std::nullopt);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(state.UsbID, 5);
  EXPECT_TRUE(state.TimeOut);
  EXPECT_TRUE(state.Chosen);
  EXPECT_EQ(link.ReadTimeoutMs(), MULTIUSB::kDefaultReadTimeoutMs);

  // Plugged into another port: the same serial under another identifier.
  usb.Add(7);
  SetSerial(usb, 7, 24000005);
  EXPECT_EQ(watch.Look(usb, link, state), 7);
  EXPECT_TRUE(state.TimeOut);  // the window decides what to make of it
  // Back on its own connection, which is probed first.
  usb.Find(5)->faults().mode = sim::Faults::Mode::None;
  EXPECT_EQ(watch.Look(usb, link, state), 5);

  // Another controller on the lost one's connection is not it.
  SetSerial(usb, 5, 24000099);
  usb.Find(7)->faults().mode = sim::Faults::Mode::Silent;
  EXPECT_EQ(watch.Look(usb, link, state), std::nullopt);

  // A controller whose serial was never read is looked for on its own
  // connection only.
  watch.Lost(6, std::nullopt, t0);
  EXPECT_EQ(watch.Candidates({5, 6, 7}), std::vector<std::int32_t>{6});
  EXPECT_EQ(watch.Look(usb, link, state), 6);
  watch.Lost(6, 24000006, t0);
  EXPECT_EQ(watch.Candidates({5, 6, 7}), (std::vector<std::int32_t>{6, 5, 7}));
  EXPECT_EQ(watch.Candidates({5, 7}), (std::vector<std::int32_t>{5, 7}));
}

}  // namespace
}  // namespace hx
