#include "hydrix/selection/device_selection.h"

#include <gtest/gtest.h>

#include "hydrix/link/usb_library.h"
#include "support/inprocess_usb.h"
#include "support/recording_dialog_service.h"

namespace hx {
namespace {

using sim::Faults;

class DeviceSelectionTest : public ::testing::Test {
 protected:
  sim::InProcessUsb usb;
  LinkState state;
  test::RecordingDialogService dialogs;
  MULTIUSB link{usb, state, dialogs};
  DeviceSelection selection{usb, link, state, dialogs};

  void AddTyped(std::int32_t id, std::uint8_t type, Faults f = {}) {
    sim::ControllerSpec spec;
    spec.identity = {id, type, 2, 7};
    spec.faults = f;
    usb.Add(spec);
  }
};

TEST_F(DeviceSelectionTest, ProbeSendsTheIdentityFrameAndNamesTheController) {
  usb.Add(5);
  bool local = false;
  EXPECT_EQ(selection.LitVersion(5, local), "Hydrix (11) 1.05");
  EXPECT_TRUE(local);
  ASSERT_EQ(usb.writes.size(), 1u);
  EXPECT_EQ(usb.writes[0], (std::vector<std::uint8_t>{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_TRUE(usb.openHandles.empty());
}

TEST_F(DeviceSelectionTest, SilentControllerIsLeftOutAndChoosingAnAnsweringOneRevivesTheLink) {
  usb.Add(5);
  usb.Add(6, {Faults::Mode::Silent});
  const DeviceList list = selection.Load();
  EXPECT_EQ(list.texts, std::vector<std::string>{"Hydrix (11) 1.05"});
  EXPECT_EQ(list.ids, std::vector<std::int32_t>{5});
  EXPECT_EQ(list.selected, -1);
  EXPECT_TRUE(dialogs.messages.empty());
  // With no controller chosen before, UsbID stays on the last enumerated.
  EXPECT_EQ(state.UsbID, 6);
  EXPECT_TRUE(state.TimeOut);
  EXPECT_TRUE(selection.ListClick(list, 0));
  EXPECT_EQ(state.UsbID, 5);
  EXPECT_FALSE(state.TimeOut);  // it has just answered its probe
}

TEST_F(DeviceSelectionTest, ZeroAnsweringControllerIsListedAsGeneric) {
  usb.Add(9, {Faults::Mode::Zeros});
  const DeviceList list = selection.Load();
  EXPECT_EQ(list.texts, std::vector<std::string>{"Generic Ostrel (0) 0.00"});
  EXPECT_FALSE(state.TimeOut);
}

TEST_F(DeviceSelectionTest, ReopeningSelectsTheCurrentControllerAndKeepsIt) {
  usb.Add(5);
  usb.Add(6);
  usb.Add(7);
  state.UsbID = 6;
  const DeviceList list = selection.ViewAllClick(true);
  EXPECT_EQ(list.ids, (std::vector<std::int32_t>{5, 6, 7}));
  EXPECT_EQ(list.selected, 1);
  EXPECT_EQ(state.UsbID, 6);
  EXPECT_FALSE(state.TimeOut);
}

TEST_F(DeviceSelectionTest, EveryTypeIsListedUnderItsName) {
  AddTyped(1, 17);
  AddTyped(2, 14);
  AddTyped(3, 2);
  AddTyped(4, 20);
  const DeviceList list = selection.RemplitListe(false);
  EXPECT_EQ(list.texts, (std::vector<std::string>{"Generic Ostrel (17) 2.07", " (14) 2.07",
                                                  "Arvel L1 (2) 2.07", "Mervo 33 (20) 2.07"}));
}

TEST_F(DeviceSelectionTest, CancelGivesUpTheLinkUntilTheNextEnumeration) {
  usb.Add(5);
  selection.Cancel();
  EXPECT_TRUE(state.TimeOut);
  selection.Load();
  EXPECT_FALSE(state.TimeOut);
}

// A controller is chosen by a click, or by the close box when it alone
// answered; Cancel unchooses whatever was chosen.
TEST_F(DeviceSelectionTest, OnlyAClickOrALoneAnsweringControllerIsChosen) {
  usb.Add(5);
  usb.Add(6);
  usb.Add(7, {Faults::Mode::Silent});
  DeviceList list = selection.Load();
  EXPECT_EQ(list.silent, std::vector<std::int32_t>{7});
  EXPECT_EQ(state.UsbID, 7);  // the last enumerated
  selection.CloseBox(list);
  EXPECT_FALSE(state.Chosen);
  ASSERT_TRUE(selection.ListClick(list, 0));
  EXPECT_TRUE(state.Chosen);
  EXPECT_EQ(state.UsbID, 5);
  EXPECT_EQ(state.Identities.at(5)[2], 11);
  selection.Cancel();
  EXPECT_FALSE(state.Chosen);

  usb.Find(5)->faults().mode = Faults::Mode::Silent;
  list = selection.Load();
  selection.CloseBox(list);
  EXPECT_TRUE(state.Chosen);
  EXPECT_EQ(state.UsbID, 6);
  EXPECT_FALSE(state.TimeOut);
}

TEST_F(DeviceSelectionTest, AMissingLibraryIsReportedOnceAndTheBusLooksEmpty) {
  usb.problem = "The USB interface library libhxusbif.so cannot be loaded.";
  EXPECT_TRUE(selection.Load().ids.empty());
  selection.Load();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Critical);
}

TEST(UsbLibrary, MissingLibraryGivesAClearProblemAndNoController) {
  UsbLibrary lib("libhxusbif-not-here.so");
  EXPECT_EQ(lib.GetDeviceCount(), 0);
  EXPECT_EQ(lib.OpenDevice(5), UsbInterface::kInvalidHandle);
  EXPECT_NE(lib.Problem().find("libhxusbif-not-here.so"), std::string::npos);
}

TEST(UsbLibrary, LibraryWithoutTheEntryPointsIsRefused) {
  UsbLibrary lib("libm.so.6");
  EXPECT_EQ(lib.GetDeviceCount(), 0);
  EXPECT_NE(lib.Problem().find("USB_GetDeviceCount"), std::string::npos);
}

TEST_F(DeviceSelectionTest, WhenNothingAnswersItSaysWhatToDo) {
  EXPECT_NE(selection.NothingFoundText().find("USB cable"), std::string::npos);
  usb.backendProblem = "cannot reach the simulator at /run/x.sock: No such file or directory";
  const std::string text = selection.NothingFoundText();
  EXPECT_EQ(text.rfind("Cannot reach the simulator at /run/x.sock", 0), 0u) << text;
  EXPECT_NE(text.find("hydrix-sim serve"), std::string::npos);
  // A device's own message (no permission, in use) is whole: no simulator advice.
  usb.backendProblem =
      "The controller 04d8:000b at /dev/bus/usb/001/004 is in use by another program. Close it.";
  EXPECT_EQ(selection.NothingFoundText(), usb.backendProblem);
  usb.problem = "The USB interface library libhxusbif.so cannot be loaded.";
  EXPECT_EQ(selection.NothingFoundText(), usb.problem);
}

}  // namespace
}  // namespace hx
