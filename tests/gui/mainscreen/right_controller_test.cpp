// The window against the wrong unit, the wrong product and the wrong
// magnitude: what reaches the EEPROM, what the boxes and lamps show, and
// the questions asked first.
#include <QAction>
#include <QCheckBox>
#include <QStatusBar>

#include <fstream>
#include <functional>

#include "hydrix/config/byte_packing.h"
#include "hydrix/mainscreen/trend_chart.h"
#include "hydrix/settings/measure_log.h"
#include "live_view_fixture.h"

namespace hx::test {
namespace {

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

class RightControllerTest : public LiveViewTest {
 public:
  sim::Eeprom& Eeprom(std::int32_t id) { return usb.Find(id)->model().eeprom(); }
  void Type(const char* name, int index, const QString& text) { Get<QLineEdit>(name, index)->setText(text); }
  QString Status() { return window_->statusBar()->findChild<QLabel*>()->text(); }
};

// Another unit on the connection, or a setting changed behind the window's
// back since the read: Write Parameters, Factory Values and Set Tempo write
// nothing and say why.
TEST_F(RightControllerTest, AWriteNeverLandsOnAnotherUnitOrOverAChangedSetting) {
  struct Change {
    const char* name;
    std::function<void(sim::Eeprom&)> apply;
    std::string first;
  };
  const Change changes[] = {
      {"another unit",
       [](sim::Eeprom& e) {
         const auto serial = LongVersOctets(24000099);
         for (int i = 0; i < 4; ++i)
           e[36 + static_cast<std::size_t>(i)] = serial[static_cast<std::size_t>(i)];
         e[2] = 0x40;  // and its own voltage correction
       },
       "Another controller (serial 24000099) now answers on this connection; read it first."},
      {"a changed setting", [](sim::Eeprom& e) { e[15] ^= 0x10; },
       "The controller's settings changed since they were read; read them again."},
  };
  const char* const actions[] = {"Ecrire", "Raz", "SetEndOFChargeTempo"};
  usb.Add(5);
  const sim::Eeprom original = Eeprom(5);
  for (const auto& change : changes) {
    for (const char* action : actions) {
      SCOPED_TRACE(std::string(change.name) + ", " + action);
      Eeprom(5) = original;
      Start();
      Type("EndOfChargeTempo", -1, "7200");
      change.apply(Eeprom(5));
      const sim::Eeprom before = Eeprom(5);
      dialogs.messages.clear();
      dialogs.answers = {MsgAnswer::Yes};  // Factory Values' question
      const std::size_t from = usb.writes.size();
      Click(action);
      EXPECT_EQ(Eeprom(5), before);
      EXPECT_TRUE(Sent(cmd::kWriteEeprom, from).empty());
      EXPECT_TRUE(Sent(cmd::kReset, from).empty());
      ASSERT_FALSE(dialogs.messages.empty());
      EXPECT_EQ(FirstLine(dialogs.messages.back().text), change.first);
      EXPECT_EQ(dialogs.messages.back().icon, MsgIcon::Critical);
      if (std::string(action) == "Raz")
        EXPECT_EQ(window_->statusBar()->currentMessage().toStdString(), change.first);
    }
  }
}

// Measures that are no reading (all zeros without a date, short answers)
// show as when the controller does not answer: "--", grey lamps, nothing
// charted or logged; the status bar says so, and reading goes on.
TEST_F(RightControllerTest, MeasuresThatAreNoReadingShowDashesAndGreyLampsAndAreNotLogged) {
  usb.Add(5);
  Start();
  const auto file = folder_ / "measures.csv";
  dialogs.files.push_back(file.string());
  window_->findChild<QAction*>("mnuJournal")->trigger();
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  Tick();
  ASSERT_EQ(FileLines(file).size(), 2u);
  const auto points = window_->Chart()->data().Count(1);
  for (const auto mode : {sim::Faults::Mode::Zeros, sim::Faults::Mode::Short}) {
    SCOPED_TRACE(static_cast<int>(mode));
    usb.Find(5)->faults().mode = mode;
    Tick();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Text("Text1", i), "--") << i;
    EXPECT_TRUE(Get<QWidget>("LowCharge")->styleSheet().contains("192, 192, 192"));
    EXPECT_TRUE(Get<QWidget>("BatterieDefault")->styleSheet().contains("192, 192, 192"));
    EXPECT_EQ(Label("txtCurrentTime"), "--");
    EXPECT_EQ(FileLines(file).size(), 2u);
    EXPECT_EQ(window_->Chart()->data().Count(1), points);
    EXPECT_TRUE(Status().endsWith("(not answering plausibly: its measures are not a reading)"))
        << Status().toStdString();
    EXPECT_TRUE(window_->findChild<QTimer*>("Timer")->isActive());
  }
  usb.Find(5)->faults().mode = sim::Faults::Mode::None;
  Tick();
  EXPECT_NE(Text("Text1", 0), "--");
  EXPECT_EQ(FileLines(file).size(), 3u);
  EXPECT_TRUE(Status().endsWith("(answering)")) << Status().toStdString();
  EXPECT_TRUE(dialogs.messages.empty());
}

// A profile saved from one product is loaded only for a controller of that
// product; a hand-written one without a type line for any.
TEST_F(RightControllerTest, AProfileIsLoadedOnlyForAControllerOfItsType) {
  sim::ControllerSpec arvel;
  arvel.identity.id = 5;
  arvel.identity.typeCode = 2;
  usb.Add(arvel);
  usb.Add(6);
  const auto file = folder_ / "site.txt";
  std::ofstream(file) << "# Hydrix settings profile\n"
                         "# controller: Hydrix (11) 1.05, firmware 1.05, serial number 24000006\n"
                         "start_level_low_battery_V = 14\n";
  Start();  // the Arvel L1
  const QString shown = Text("Text1", 4);
  const std::size_t from = usb.writes.size();
  dialogs.files = {file.string()};
  window_->findChild<QAction*>("mnuLoadSettings")->trigger();
  EXPECT_EQ(Text("Text1", 4), shown);
  EXPECT_EQ(usb.writes.size(), from);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(
      dialogs.messages[0].text,
      "The profile was saved from a controller of type Hydrix (11), and controller 5 is of type Arvel L1 "
      "(2); nothing was written.");
  // Write Parameters then writes what the controller holds, not the file.
  dialogs.messages.clear();
  Click("Ecrire");
  EXPECT_EQ(Eeprom(5)[13] | Eeprom(5)[14] << 8, 12000);

  std::ofstream(file) << "start_level_low_battery_V = 14\n";  // written by hand
  dialogs.files = {file.string()};
  window_->findChild<QAction*>("mnuLoadSettings")->trigger();
  EXPECT_EQ(Text("Text1", 4), "14");

  std::ofstream(file) << "# controller: Hydrix (11) 1.05, firmware 1.05\nstart_level_low_battery_V = 13\n";
  window_->device().Choose(6);
  window_->LitTout();
  dialogs.files = {file.string()};
  window_->findChild<QAction*>("mnuLoadSettings")->trigger();
  EXPECT_EQ(Text("Text1", 4), "13");
}

// A reference far from what the controller measures, and a serial number
// over another one, are asked about first with No as the default, and No
// sends nothing; a box is refused exactly when the value it would show is.
TEST_F(RightControllerTest, FarReferencesAndOtherSerialsAskFirstAndValuesAreCheckedAsShown) {
  usb.Add(5);
  Start();
  const std::size_t from = usb.writes.size();
  Type("ValeurTension", -1, "1.27");
  Click("Command_tension");
  ASSERT_EQ(dialogs.messages.size(), 1u);
  const MessageBoxRequest& asked = dialogs.messages[0];
  EXPECT_EQ(asked.buttons, MsgButtons::YesNo);
  EXPECT_TRUE(asked.defaultNo);
  EXPECT_EQ(asked.text.rfind("The controller measures " + Text("Text1", 0).toStdString() +
                                 " V, and the reference 1.270 V is more than 10 % away from it.",
                             0),
            0u)
      << asked.text;
  EXPECT_NE(asked.text.find("Calibrate anyway?"), std::string::npos);
  EXPECT_TRUE(Sent(cmd::kVoltageCalibration, from).empty());
  dialogs.answers = {MsgAnswer::Yes};
  Click("Command_tension");
  EXPECT_EQ(Sent(cmd::kVoltageCalibration, from),
            (std::vector<std::vector<std::uint8_t>>{{0xF4, 0xF6, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(dialogs.Texts().back(), "V Calibrated Set");

  dialogs.messages.clear();
  const auto serial = Eeprom(5);
  const std::size_t serialFrom = usb.writes.size();
  Type("ValeurNumeroSerie", -1, "123456");
  Click("Programmer");
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text,
            "The controller already holds serial number 24000005. Write 123456 over it?");
  EXPECT_TRUE(dialogs.messages[0].defaultNo);
  EXPECT_TRUE(Sent(cmd::kWriteEeprom, serialFrom).empty());
  EXPECT_EQ(Eeprom(5), serial);

  // 20.004 V shows as 20.00 and passes; 4.994 V shows as 4.99 and fails.
  Type("Text1", 4, "20.004");
  EXPECT_TRUE(Get<QLineEdit>("Text1", 4)->styleSheet().contains("255, 255, 255"));
  Type("Text1", 4, "4.994");
  EXPECT_TRUE(Get<QLineEdit>("Text1", 4)->styleSheet().contains("250, 100, 100"));
  Type("Text1", 4, "12");
  // 32.767 V would read back as 32.77, past the word: refused, not written.
  Type("Text1", 7, "32.767");
  dialogs.messages.clear();
  const auto held = Eeprom(5);
  Click("Ecrire");
  EXPECT_EQ(Eeprom(5), held);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].text.find("largest value that fits is 32.76"), std::string::npos)
      << dialogs.messages[0].text;
}

}  // namespace
}  // namespace hx::test
