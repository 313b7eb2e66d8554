// The main window driven as an operator would, offscreen, against simulated
// controllers in the same process.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "common/numbers.h"
#include "common/paths.h"
#include "hydrix/calibration/frmProduction.h"
#include "hydrix/commands/frames.h"
#include "hydrix/config/byte_packing.h"
#include "hydrix/config/date_helpers.h"
#include "hydrix/config/frmAbout.h"
#include "hydrix/mainscreen/MainScreen.h"
#include "hydrix/mainscreen/trend_chart.h"
#include "hydrix/selection/frmConnect.h"
#include "support/inprocess_usb.h"
#include "support/recording_dialog_service.h"
#include "support/whole_captions.h"

// Readable QString values in failure messages.
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

namespace fs = std::filesystem;
using hx::sim::Faults;
using Bytes = std::vector<std::uint8_t>;

// Records the processes the window would start.
class RecordingStarter : public hx::ProcessStarter {
 public:
  bool Start(const fs::path& program, const std::vector<std::string>& args, std::string& error) override {
    started.emplace_back(program, args);
    if (missing) error = program.string() + " could not be started";
    return !missing;
  }
  std::vector<std::pair<fs::path, std::vector<std::string>>> started;
  bool missing = false;  // as when the program is not installed
};

class NoSleep : public hx::Sleeper {
 public:
  void Sleep(std::chrono::milliseconds) override {}
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Records, with each box, whether the busy pointer was showing.
class CursorDialogs : public hx::test::RecordingDialogService {
 public:
  hx::MsgAnswer Message(const hx::MessageBoxRequest& request) override {
    busy.push_back(QApplication::overrideCursor() != nullptr);
    return RecordingDialogService::Message(request);
  }
  std::vector<bool> busy;
};

// What the operator does in the device selection when it opens.
enum class Choice { First, Cancel, CloseBox };

class MainScreenTest : public ::testing::Test {
 public:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("hydrix-gui-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    std::string xml = ReadFile(HX_SHIPPED_CONFIG_XML);
    const auto at = xml.find("<Maintenance>False</Maintenance>");
    if (at != std::string::npos) xml.replace(at, 32, "<Maintenance>True</Maintenance>");
    std::ofstream(folder_ / "config.xml", std::ios::binary) << xml;
    config_ = std::make_unique<hx::ConfigFile>(folder_ / "config.xml");
    // The serial numbers written are recorded here, one record per test.
    ::setenv("XDG_STATE_HOME", (folder_ / "state").c_str(), 1);
  }
  void TearDown() override {
    window_.reset();
    fs::remove_all(folder_);
  }

  // Opens the window and runs its start-up, answering the device selection.
  MainScreen& Start(Choice choice = Choice::First) {
    window_ = std::make_unique<MainScreen>(
        MainScreen::Services{usb, *config_, dialogs, sleeper, [] { return now; }, &starter, remembered});
    window_->show();
    Answer(choice);
    window_->Form_Load();
    return *window_;
  }

  // Answers the next device selection when it shows.
  void Answer(Choice choice) {
    QTimer::singleShot(0, [this, choice] {
      auto* dialog = qobject_cast<frmConnect*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      listed = {};
      auto* list = dialog->findChild<QListWidget*>("Listeeline");
      selectedRow = list->currentRow();
      for (int i = 0; i < list->count(); ++i) listed.push_back(list->item(i)->text().toStdString());
      if (choice == Choice::First && list->count() > 0) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
      } else if (choice == Choice::Cancel || list->count() == 0) {
        QTest::mouseClick(dialog->findChild<QPushButton*>("ExitEtalonnage"), Qt::LeftButton);
      } else {
        dialog->close();
      }
    });
  }

  template <class T>
  T* Get(const char* name, int index = -1) {
    T* c = window_->Control<T>(name, index);
    EXPECT_NE(c, nullptr) << name << " " << index;
    return c;
  }
  QString Text(const char* name, int index = -1) { return Get<QLineEdit>(name, index)->text(); }
  QString Label(const char* name, int index = -1) { return Get<QLabel>(name, index)->text(); }
  void Click(const char* name) { QTest::mouseClick(Get<QPushButton>(name), Qt::LeftButton); }
  void Type(const char* name, int index, const QString& text) { Get<QLineEdit>(name, index)->setText(text); }

  // The EEPROM write frames (address, value) sent since `from`.
  std::vector<std::pair<int, int>> EepromWrites(std::size_t from = 0) const {
    std::vector<std::pair<int, int>> w;
    for (std::size_t i = from; i < usb.writes.size(); ++i) {
      if (usb.writes[i][0] == hx::cmd::kWriteEeprom) w.emplace_back(usb.writes[i][1], usb.writes[i][2]);
    }
    return w;
  }
  int Resets(std::size_t from = 0) const {
    int n = 0;
    for (std::size_t i = from; i < usb.writes.size(); ++i) n += usb.writes[i][0] == hx::cmd::kReset;
    return n;
  }
  hx::sim::Eeprom& Eeprom(int id) { return usb.Find(id)->model().eeprom(); }

  static inline hx::DateHeure now{2024, 3, 7, 14, 5, 9};
  hx::sim::InProcessUsb usb;
  CursorDialogs dialogs;
  NoSleep sleeper;
  RecordingStarter starter;
  std::vector<std::string> listed;
  int selectedRow = -1;  // the row selected when the device selection opened
  fs::path remembered;
  fs::path folder_;
  std::unique_ptr<hx::ConfigFile> config_;
  std::unique_ptr<MainScreen> window_;
};

TEST_F(MainScreenTest, StartWithOneControllerReadsEveryBoxAndRecordsTheLanguage) {
  usb.Add(5);
  auto& e = Eeprom(5);
  e[0] = 0x30, e[1] = 0x2A;                                // 10800 s: the second capacity
  e[2] = 0x18, e[3] = 0xFC;                                // voltage correction -1000
  e[13] = 0xF4, e[14] = 0x01;                              // 500 mV: shows .50, below its bounds
  e[17] = 100, e[18] = 0;                                  // 100 ticks: 320 ms
  e[26] = 30, e[27] = 7;                                   // an hour past the list, and 7
  e[36] = 0x15, e[37] = 0xCD, e[38] = 0x5B, e[39] = 0x07;  // 123456789
  e[81] = 0x18, e[82] = 0xFC;                              // clock correction -1000
  e[125] = 1, e[126] = 3, e[127] = 10;                     // version 1.3A
  Start();

  EXPECT_EQ(listed, std::vector<std::string>{"Hydrix (11) 1.05 \u00B7 serial 123456789 \u00B7 id 5"});
  EXPECT_EQ(window_->UsbID(), 5);
  EXPECT_FALSE(window_->TimeOut());
  EXPECT_EQ(Text("EndOfChargeTempo"), "10800");
  EXPECT_EQ(Get<QComboBox>("ComboChargeTempo")->currentIndex(), 1);  // kept after start-up
  EXPECT_EQ(Text("correctionV"), "-1.000");
  EXPECT_EQ(Text("Text1", 4), ".50");
  EXPECT_EQ(Text("Text1", 5), "13.80");
  EXPECT_EQ(Text("Text1", 6), "320");
  EXPECT_EQ(Text("Text1", 7), "11.50");
  EXPECT_EQ(Get<QComboBox>("Heure1")->currentText(), "0");
  EXPECT_EQ(Get<QComboBox>("Heure2")->currentText(), "7");
  EXPECT_EQ(Label("NumeroSerie"), "123456789");
  EXPECT_EQ(Text("ValeurNumeroSerie"), "123456789");
  EXPECT_EQ(Label("Version"), "1.3A");
  EXPECT_NE(Label("DateProgrammation"), "--");
  EXPECT_EQ(Text("ValeurHorloge", 0), "-1000");
  EXPECT_EQ(Text("ValeurHorloge", 1), "16.0160");
  EXPECT_EQ(window_->windowTitle(), "Tessaro Hydrix  (11) V 1.310");
  EXPECT_NE(Label("txtCurrentTime"), "--");
  EXPECT_TRUE(Get<QGroupBox>("FrameMaintenance")->isVisibleTo(window_.get()));
  // The start level read below its bounds is coloured at once; the language
  // pass then empties the message line.
  EXPECT_TRUE(Get<QLineEdit>("Text1", 4)->styleSheet().contains("250, 100, 100"));
  EXPECT_EQ(Label("Message"), "");
  EXPECT_TRUE(window_->statusBar()->findChild<QLabel*>()->text().contains(
      "Controller 5: Hydrix (11) 1.05 \u00B7 serial 123456789 \u00B7 id 5 (answering)"))
      << window_->statusBar()->findChild<QLabel*>()->text().toStdString();
  EXPECT_EQ(config_->LitConfiguration("Langue"), "English");
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.Texts().front();
}

TEST_F(MainScreenTest, ASilentControllerIsNotListedAndChoosingTheOtherOneReadsIt) {
  usb.Add(5);
  usb.Add(6, {Faults::Mode::Silent});
  Start();
  EXPECT_EQ(listed.size(), 1u);
  EXPECT_EQ(window_->UsbID(), 5);
  EXPECT_FALSE(window_->TimeOut());
  EXPECT_EQ(Text("Text1", 5), "13.80");
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(MainScreenTest, WithoutAControllerNothingIsReadUntilUsbConnectFindsOne) {
  Start(Choice::Cancel);
  EXPECT_TRUE(window_->TimeOut());
  EXPECT_EQ(Text("Text1", 4), "");
  EXPECT_EQ(Label("NumeroSerie"), "--");
  EXPECT_EQ(Get<QComboBox>("ComboChargeTempo")->currentIndex(), 2);
  EXPECT_TRUE(usb.writes.empty());
  EXPECT_TRUE(window_->statusBar()->findChild<QLabel*>()->text().contains("No controller chosen"));

  usb.Add(9);
  Answer(Choice::First);
  window_->findChild<QAction*>("MnuConnect")->trigger();
  EXPECT_EQ(window_->UsbID(), 9);
  EXPECT_EQ(Text("Text1", 4), "12.00");
  EXPECT_EQ(Label("NumeroSerie"), "24000009");
}

TEST_F(MainScreenTest, TheCloseBoxChoosesTheOnlyAnsweringControllerAndReadsIt) {
  usb.Add(5);
  usb.Add(6, {Faults::Mode::Silent});
  Start(Choice::CloseBox);
  EXPECT_EQ(window_->UsbID(), 5);
  EXPECT_TRUE(window_->device().Chosen());
  EXPECT_EQ(Text("Text1", 5), "13.80");
}

// After Cancel, or the close box with several controllers answering, the
// enumeration leaves an identifier behind that nobody chose: no command
// reaches it, each says how to choose one, the status bar names none.
TEST_F(MainScreenTest, NothingReachesAControllerNobodyChose) {
  usb.Add(5);
  usb.Add(6);
  const char* buttons[] = {"Lire",
                           "Ecrire",
                           "Raz",
                           "SetTime",
                           "ActivateSolenoid",
                           "ActivateRelay",
                           "SetEndOFChargeTempo",
                           "Command_tension",
                           "CommandCalibrationCLK",
                           "Programmer",
                           "Rapport"};
  for (Choice choice : {Choice::Cancel, Choice::CloseBox}) {
    SCOPED_TRACE(choice == Choice::Cancel ? "Cancel" : "close box");
    dialogs.messages.clear();
    Start(choice);
    EXPECT_EQ(window_->UsbID(), 6);  // the last enumerated
    EXPECT_FALSE(window_->device().Chosen());
    const auto before = Eeprom(6);
    const std::size_t probes = usb.writes.size();
    dialogs.defaultAnswer = hx::MsgAnswer::Yes;  // every question answered Yes
    Type("ValeurTension", -1, "12.5");
    Type("ValeurNumeroSerie", -1, "77");
    for (const char* name : buttons) Click(name);
    Get<QCheckBox>("CheckClockSpeed")->click();
    Get<QCheckBox>("LectureContinu")->setChecked(true);
    window_->findChild<QAction*>("nmuBootLoad")->trigger();
    dialogs.defaultAnswer = hx::MsgAnswer::No;
    EXPECT_EQ(usb.writes.size(), probes);
    EXPECT_EQ(Eeprom(6), before);
    EXPECT_TRUE(starter.started.empty());
    EXPECT_FALSE(Get<QCheckBox>("LectureContinu")->isChecked());
    ASSERT_EQ(dialogs.messages.size(), std::size(buttons) + 3);
    for (const auto& m : dialogs.messages) {
      EXPECT_EQ(m.text, "No controller is chosen. Choose one with USB Connect. Nothing was sent.");
    }
    const QString status = window_->statusBar()->findChild<QLabel*>()->text();
    EXPECT_TRUE(status.contains("No controller chosen")) << status.toStdString();
    EXPECT_FALSE(status.contains("Controller 6"));
  }
}

// A controller left in its boot loader by a failed update does not answer;
// chosen, it can still be updated from hydrix.
TEST_F(MainScreenTest, FirmwareUpdateNeedsOnlyAChosenController) {
  usb.Add(5);
  Start();
  usb.Find(5)->faults().mode = Faults::Mode::Silent;
  Click("Lire");
  ASSERT_TRUE(window_->TimeOut());
  dialogs.messages.clear();
  Click("SetTime");
  EXPECT_NE(dialogs.Texts().at(0).find("Controller 5 is not answering"), std::string::npos);
  dialogs.answers = {hx::MsgAnswer::Yes};
  dialogs.files.push_back((folder_ / "fw.hex").string());
  window_->findChild<QAction*>("nmuBootLoad")->trigger();
  ASSERT_EQ(starter.started.size(), 1u);
}

TEST_F(MainScreenTest, WriteParametersWritesTheWholeImageThenResets) {
  usb.Add(5);
  auto& e = Eeprom(5);
  for (int a = 44; a <= 80; ++a)
    e[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(a);  // carried through
  e[0] = 0x88, e[1] = 0x13;                                         // 5000 s, none of the list's values
  Start();
  const hx::sim::Eeprom before = e;
  EXPECT_EQ(Text("EndOfChargeTempo"), "5000");
  Get<QComboBox>("ComboChargeTempo")->setCurrentIndex(2);
  Type("Text1", 4, "12.5");
  Type("Text1", 5, "14");
  Type("Text1", 6, "320");
  Type("Text1", 7, "11,25");
  Get<QComboBox>("Heure1")->setCurrentText("none");
  Get<QComboBox>("Heure2")->setCurrentText("6");  // typed, not chosen
  const std::size_t from = usb.writes.size();
  Click("Ecrire");

  auto expected = before;
  expected[0] = 0x60, expected[1] = 0x54;    // 21600
  expected[13] = 0xD4, expected[14] = 0x30;  // 12500
  expected[15] = 0xB0, expected[16] = 0x36;  // 14000
  expected[17] = 100, expected[18] = 0;      // 320 / 3.2
  expected[19] = 0xF2, expected[20] = 0x2B;  // 11250
  expected[21] = 0xAA, expected[22] = 0x55;
  expected[26] = 255, expected[27] = 6;
  const auto date = hx::LongVersOctets(hx::DateVersSecondes(now));
  for (int i = 0; i < 4; ++i) expected[40 + static_cast<std::size_t>(i)] = date[static_cast<std::size_t>(i)];

  const auto writes = EepromWrites(from);
  ASSERT_EQ(writes.size(), 129u);
  for (int a = 0; a <= 128; ++a) {
    EXPECT_EQ(writes[static_cast<std::size_t>(a)],
              (std::pair<int, int>{a, expected[static_cast<std::size_t>(a)]}))
        << "address " << a;
  }
  EXPECT_EQ(usb.writes.back()[0], hx::cmd::kReset);
  EXPECT_EQ(Resets(from), 1);
  EXPECT_TRUE(std::equal(e.begin(), e.begin() + 129, expected.begin()));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Parameters Writed");
  EXPECT_EQ(dialogs.messages[0].title, "HydrixIP");
  EXPECT_EQ(dialogs.messages[0].icon, hx::MsgIcon::Information);
}

// Each refusal writes nothing, resets nothing and says why.
TEST_F(MainScreenTest, WriteParametersRefusesWhatCannotBeWrittenSafely) {
  struct Case {
    const char* name;
    std::function<void(MainScreenTest&)> arrange;
    const char* why;
  };
  const Case cases[] = {
      {"not a number", [](MainScreenTest& t) { t.Type("Text1", 5, "13,8x"); }, "is not a number"},
      {"past 16 bits", [](MainScreenTest& t) { t.Type("Text1", 7, "70"); }, "16-bit"},
      {"negative", [](MainScreenTest& t) { t.Type("Text1", 6, "-3"); }, "16-bit"},
      {"typed hour", [](MainScreenTest& t) { t.Get<QComboBox>("Heure1")->setCurrentText("24"); }, "0 to 23"},
      {"another controller", [](MainScreenTest& t) { t.window_->device().SetUsbID(6); }, "controller 5"},
      {"link given up", [](MainScreenTest& t) { t.window_->device().SetTimeOut(true); }, "is not answering"},
      {"answering zeros",
       [](MainScreenTest& t) {
         t.usb.Find(5)->faults().mode = Faults::Mode::Zeros;
         t.Click("Lire");
         EXPECT_TRUE(t.window_->statusBar()->findChild<QLabel*>()->text().endsWith(
             "(not answering properly: its settings read as zeros)"));
       },
       "Every byte of the settings read from controller 5 is 0"},
  };
  usb.Add(5);
  usb.Add(6);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dialogs.messages.clear();
    Start();
    const auto before = Eeprom(5);
    c.arrange(*this);
    const std::size_t from = usb.writes.size();
    Click("Ecrire");
    EXPECT_TRUE(EepromWrites(from).empty());
    EXPECT_EQ(Resets(from), 0);
    EXPECT_EQ(Eeprom(5), before);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find(c.why), std::string::npos) << dialogs.messages[0].text;
    EXPECT_NE(dialogs.messages[0].text.find("Nothing was"), std::string::npos);
  }
}

// Pink boxes are written as the screen holds them, but only after one
// question naming each by its caption; a word past 32767 never is.
TEST_F(MainScreenTest, OutOfLimitsValuesAskFirstAndOversizedWordsAreRefused) {
  usb.Add(5);
  Start();
  Type("Text1", 4, "3");
  Type("Text1", 6, "2000");
  const std::size_t from = usb.writes.size();
  Click("Ecrire");
  EXPECT_TRUE(EepromWrites(from).empty());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text,
            "These values are outside their limits:\n" + Label("Label1", 15).toStdString() +
                " = 3 (limits 5 to 20)\n" + Label("Label1", 4).toStdString() +
                " = 2000 (limits 10 to 1000)\nWrite them to the controller anyway?");
  EXPECT_TRUE(dialogs.messages[0].defaultNo);
  dialogs.answers = {hx::MsgAnswer::Yes};
  Click("Ecrire");
  EXPECT_EQ(EepromWrites(from).size(), 129u);
  EXPECT_EQ(Eeprom(5)[13] | Eeprom(5)[14] << 8, 3000);

  // 40 V would be stored as 40 9C and read back as -25.54 V.
  const auto before = Eeprom(5);
  dialogs.messages.clear();
  dialogs.defaultAnswer = hx::MsgAnswer::Yes;
  Type("Text1", 7, "40");
  Click("Ecrire");
  EXPECT_EQ(Eeprom(5), before);
  ASSERT_EQ(dialogs.messages.size(), 1u);  // refused outright: no question first
  EXPECT_NE(dialogs.messages[0].text.find(Label("LabelAlarmLevel").toStdString() +
                                          ": \"40\" does not fit the controller's 16-bit word: the largest "
                                          "value that fits is 32.76"),
            std::string::npos)
      << dialogs.messages[0].text;
}

TEST_F(MainScreenTest, NoWriteWithoutAWholeReadAndNoResetAfterAPartWrite) {
  // Never read: the controller was cancelled at start.
  usb.Add(5);
  Start(Choice::Cancel);
  window_->device().Choose(5);
  Click("Ecrire");
  EXPECT_TRUE(EepromWrites().empty());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.Texts()[0].find("Read the parameters first"), std::string::npos);

  // A read that stopped part-way.
  dialogs.messages.clear();
  auto& silentLater = usb.Add(7, {Faults::Mode::After, 100});
  (void)silentLater;
  window_->device().Choose(7);
  window_->LitTout();
  window_->device().SetTimeOut(false);
  std::size_t from = usb.writes.size();
  dialogs.messages.clear();
  Click("Ecrire");
  EXPECT_TRUE(EepromWrites(from).empty());
  EXPECT_NE(dialogs.Texts().back().find("did not complete"), std::string::npos);

  // A write that the controller stops answering half-way (after the read,
  // the read again before writing and 60 bytes): no reset, no "written".
  auto& halfway = usb.Add(8, {Faults::Mode::After, 258 + 28 + 1 + 129 + 60});
  (void)halfway;
  window_->device().Choose(8);
  window_->LitTout();
  ASSERT_TRUE(window_->device().ImageComplete());
  from = usb.writes.size();
  dialogs.messages.clear();
  Click("Ecrire");
  EXPECT_FALSE(EepromWrites(from).empty());
  EXPECT_EQ(Resets(from), 0);
  const auto texts = dialogs.Texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Parameters Writed"), 0);
  EXPECT_NE(dialogs.Texts().back().find("not reset"), std::string::npos);
}

// Factory Values asks first (default No); after the reset the screen shows
// what the controller now holds, so that Write Parameters cannot undo it.
TEST_F(MainScreenTest, FactoryValuesAsksThenResetsAndShowsWhatTheControllerHolds) {
  usb.Add(5);
  Eeprom(5)[13] = 0x10, Eeprom(5)[14] = 0x36;  // 13.84 V, not the factory's
  Start();
  EXPECT_EQ(Text("Text1", 4), "13.84");
  const std::size_t from = usb.writes.size();
  Click("Raz");
  EXPECT_EQ(usb.writes.size(), from);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].buttons, hx::MsgButtons::YesNo);
  EXPECT_TRUE(dialogs.messages[0].defaultNo);
  EXPECT_NE(dialogs.messages[0].text.find("factory values of controller 5"), std::string::npos);

  dialogs.answers = {hx::MsgAnswer::Yes};
  Click("Raz");
  const auto writes = EepromWrites(from);
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[0], (std::pair{21, 0}));
  EXPECT_EQ(writes[1], (std::pair{22, 0}));
  EXPECT_EQ(Resets(from), 1);
  EXPECT_EQ(Text("Text1", 4), "12.00");
  EXPECT_EQ(Eeprom(5)[13] | Eeprom(5)[14] << 8, 12000);
  EXPECT_EQ(dialogs.messages.size(), 2u);
}

// Factory Values with a controller that stops answering at the first write
// (after the read that checks it is still the unit read): the link's one
// box, the first write unconfirmed, then no reset and no read; the screen
// keeps what was read and the status bar says nothing was reset. An answer
// that comes short is told in a box of its own.
TEST_F(MainScreenTest, FactoryValuesStopsAtTheFirstUnconfirmedWriteAndResetsNothing) {
  usb.Add(5);
  Eeprom(5)[13] = 0x10, Eeprom(5)[14] = 0x36;  // 13.84 V
  Start();
  const std::string failed =
      "Factory values not restored: the controller did not confirm the write of address 21. Nothing was "
      "reset; read the parameters once it answers again.";
  // From the first EEPROM write on, the controller answers as `mode`.
  auto faultAtFirstWrite = [this](Faults::Mode mode) {
    usb.onWrite = [this, mode](const Bytes& frame) {
      if (frame[0] == hx::cmd::kWriteEeprom) usb.Find(5)->faults().mode = mode;
    };
  };
  faultAtFirstWrite(Faults::Mode::Silent);
  std::size_t from = usb.writes.size();
  dialogs.answers = {hx::MsgAnswer::Yes};
  Click("Raz");
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text, "Missing Hydrix");
  EXPECT_EQ(EepromWrites(from), (std::vector<std::pair<int, int>>{{21, 0}}));
  EXPECT_EQ(usb.writes.back()[0], hx::cmd::kWriteEeprom);  // no reset, no read after it
  EXPECT_EQ(Eeprom(5)[21], 170);
  EXPECT_EQ(Eeprom(5)[22], 85);
  EXPECT_EQ(Text("Text1", 4), "13.84");
  EXPECT_EQ(window_->statusBar()->currentMessage().toStdString(), failed);

  usb.onWrite = nullptr;
  usb.Find(5)->faults().mode = Faults::Mode::None;
  Answer(Choice::First);
  window_->findChild<QAction*>("MnuConnect")->trigger();
  faultAtFirstWrite(Faults::Mode::Short);
  dialogs.messages.clear();
  from = usb.writes.size();
  dialogs.answers = {hx::MsgAnswer::Yes};
  Click("Raz");
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text, failed);
  EXPECT_EQ(dialogs.messages[1].icon, hx::MsgIcon::Critical);
  EXPECT_EQ(EepromWrites(from).size(), 1u);
  EXPECT_EQ(Resets(from), 0);
}

// After a serial write the lines that name the controller name its new
// serial: the status bar now, the device selection's list when it opens.
TEST_F(MainScreenTest, AfterASerialWriteTheStatusBarAndTheSelectionNameTheNewSerial) {
  usb.Add(5);
  Start();
  auto status = [this] { return window_->statusBar()->findChild<QLabel*>()->text().toStdString(); };
  EXPECT_NE(status().find("serial 24000005"), std::string::npos) << status();
  Type("ValeurNumeroSerie", -1, "123456");
  dialogs.answers = {hx::MsgAnswer::Yes};  // over 24000005
  Click("Programmer");
  EXPECT_NE(status().find("Hydrix (11) 1.05 \u00B7 serial 123456 \u00B7 id 5"), std::string::npos)
      << status();
  Answer(Choice::First);
  window_->findChild<QAction*>("MnuConnect")->trigger();
  EXPECT_EQ(listed, std::vector<std::string>{"Hydrix (11) 1.05 \u00B7 serial 123456 \u00B7 id 5"});
  EXPECT_NE(status().find("serial 123456"), std::string::npos) << status();
}

// The serial box proposes one more than the last serial written from this
// machine, with a controller or without; a confirmed write moves the record
// on; a serial not above it is asked for, No by default.
TEST_F(MainScreenTest, TheSerialBoxProposesTheNextSerialAndAConfirmedWriteMovesItOn) {
  usb.Add(5);
  auto& e = Eeprom(5);
  const fs::path record = folder_ / "state" / "hydrix" / "last-serial";
  Start();
  EXPECT_EQ(Text("ValeurNumeroSerie"), "24000005");  // no record yet: the controller's, as before
  fs::create_directories(record.parent_path());
  std::ofstream(record) << "41\n";
  Click("Lire");
  EXPECT_EQ(Text("ValeurNumeroSerie"), "42");
  dialogs.answers = {hx::MsgAnswer::Yes};  // over 24000005
  Click("Programmer");
  EXPECT_EQ((Bytes{e[36], e[37], e[38], e[39]}), (Bytes{42, 0, 0, 0}));
  EXPECT_EQ(ReadFile(record), "42\n");
  EXPECT_EQ(Text("ValeurNumeroSerie"), "43");

  // Another program took 43 meanwhile: asked, and No writes nothing.
  std::ofstream(record) << "43\n";
  dialogs.messages.clear();
  dialogs.answers = {hx::MsgAnswer::Yes, hx::MsgAnswer::No};  // over 42; then not above 43
  std::size_t from = usb.writes.size();
  Click("Programmer");
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text,
            "Serial number 43 is not above 43, the last one written from this machine: another unit may "
            "hold it. Write it anyway?");
  EXPECT_TRUE(dialogs.messages[1].defaultNo);
  EXPECT_TRUE(EepromWrites(from).empty());
  EXPECT_EQ(Text("ValeurNumeroSerie"), "44");

  // Without a controller the box proposes too; a record that is no serial
  // is named in the status bar and on the box, which stays empty.
  Start(Choice::Cancel);
  EXPECT_EQ(Text("ValeurNumeroSerie"), "44");
  std::ofstream(record) << "forty-four\n";
  Start(Choice::Cancel);
  EXPECT_EQ(Text("ValeurNumeroSerie"), "");
  EXPECT_TRUE(window_->statusBar()->currentMessage().startsWith(
      QString::fromStdString(record.string() + " holds no serial number")))
      << window_->statusBar()->currentMessage().toStdString();
  EXPECT_EQ(Get<QLineEdit>("ValeurNumeroSerie")->toolTip(), window_->statusBar()->currentMessage());
}

// The shipped catalogue words the range message without the design's
// doubled blanks.
TEST_F(MainScreenTest, TheEditCheckColoursTheBoxAndExplains) {
  usb.Add(5);
  Start();
  QLineEdit* box = Get<QLineEdit>("Text1", 4);
  Type("Text1", 4, "3");
  EXPECT_TRUE(box->styleSheet().contains("250, 100, 100"));
  EXPECT_EQ(Label("Message"), "Value Must be between 5 and 20");
  EXPECT_EQ(box->toolTip(), "Value Must be between 5 and 20");
  EXPECT_EQ(window_->focusWidget(), box);
  Type("Text1", 6, "abc");
  EXPECT_EQ(Label("Message"), "Value must be numeric");
  Type("Text1", 6, "1000");
  EXPECT_TRUE(Get<QLineEdit>("Text1", 6)->styleSheet().contains("255, 255, 255"));
  EXPECT_EQ(Label("Message"), "");
  Type("EndOfChargeTempo", -1, "32001");
  EXPECT_EQ(Label("Message"), "Value Must be between 0 and 32000");
  Type("Text1", 7, "99");  // the alarm level has no check
  EXPECT_EQ(Label("Message"), "Value Must be between 0 and 32000");
}

TEST_F(MainScreenTest, ALanguageChangeRelabelsTheWindowAndIsRecorded) {
  usb.Add(5);
  Start();
  EXPECT_EQ(Get<QPushButton>("Lire")->text(), "Read Parameters");
  EXPECT_EQ(Label("Label1", 0), "Battery Voltage (V)");
  auto* list = Get<QComboBox>("ListeLangues");
  ASSERT_EQ(list->currentText(), "English");
  const QString serial = Label("NumeroSerie");
  list->setCurrentIndex(list->findText("Deutsch"));
  EXPECT_NE(Get<QPushButton>("Lire")->text(), "Read Parameters");
  EXPECT_NE(window_->findChild<QGroupBox*>("FrameParams")->title(), "Values");
  EXPECT_EQ(Label("NumeroSerie"), serial);  // values stay
  EXPECT_EQ(config_->LitConfiguration("Langue"), "Deutsch");
  // Messages stay English.
  Type("Text1", 4, "3");
  EXPECT_EQ(Label("Message"), "Value Must be between 5 and 20");
}

TEST_F(MainScreenTest, SetTimeSendsThePcClockAndConfirms) {
  usb.Add(5);
  Start();
  const std::size_t from = usb.writes.size();
  Click("SetTime");
  ASSERT_GT(usb.writes.size(), from);
  EXPECT_EQ(usb.writes[from], (Bytes{0x01, 4, 14, 5, 9, 7, 3, 24, 0, 0, 0, 0}));  // 7 March 2024: Thursday
  EXPECT_EQ(dialogs.Texts().back(), "Time Set");
  EXPECT_EQ(Get<QDateTimeEdit>("Madate")->dateTime(), QDateTime(QDate(2024, 3, 7), QTime(14, 5, 9)));
}

TEST_F(MainScreenTest, AMissingLibraryIsToldOnceAndTheWindowStaysUsable) {
  usb.problem =
      "The USB interface library libhxusbif.so cannot be loaded (not found). No controller can be reached.";
  Start(Choice::Cancel);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, usb.problem);
  EXPECT_EQ(Get<QPushButton>("Lire")->text(), "Read Parameters");
  Click("Sortir");
  EXPECT_FALSE(window_->isVisible());
}

// Runs `act` on the modal dialog of type T once it shows.
template <class T>
void OnModal(std::function<void(T*)> act) {
  QTimer::singleShot(0, [act] {
    auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    act(dialog);
  });
}

TEST_F(MainScreenTest, MaintenanceStepsWriteTheirBytesAndRefuseWhatDoesNotFit) {
  usb.Add(5);
  Start();
  auto& e = Eeprom(5);
  // A reference the frame cannot carry is refused like an out-of-range value.
  std::size_t from = usb.writes.size();
  Type("ValeurTension", -1, "70");
  Click("Command_tension");
  EXPECT_EQ(usb.writes.size(), from);
  EXPECT_EQ(Label("Message"), "Value Must be between 0 and 65.535");
  Type("ValeurTension", -1, "12.5");
  Click("Command_tension");
  EXPECT_EQ(usb.writes[from], (Bytes{0xF4, 0xD4, 0x30, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Text("correctionV").toStdString(),
            hx::FormatNumber(static_cast<std::int16_t>(e[2] | e[3] << 8) / 1000.0, "0.000"));
  EXPECT_EQ(dialogs.Texts().back(), "V Calibrated Set");

  Type("ValeurHorloge", 1, "16.001");
  Click("CommandCalibrationCLK");
  EXPECT_EQ(e[81], 0x7F);
  EXPECT_EQ(e[82], 0xC1);
  EXPECT_EQ(Text("ValeurHorloge", 0), "-16001");
  EXPECT_EQ(dialogs.Texts().back(), "Parameters Writed");

  dialogs.messages.clear();
  from = usb.writes.size();
  Type("ValeurNumeroSerie", -1, "12A");
  Click("Programmer");
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Le n° de série n'est pas valide"});
  EXPECT_EQ(dialogs.messages[0].icon, hx::MsgIcon::None);
  Type("ValeurNumeroSerie", -1, "-2147483649");
  Click("Programmer");
  EXPECT_EQ(dialogs.Texts().back(), "Le n° de série est trop grand (> 32 bits)");
  EXPECT_EQ(usb.writes.size(), from);
  Type("ValeurNumeroSerie", -1, "123456");
  dialogs.answers = {hx::MsgAnswer::Yes};  // over 24000005
  Click("Programmer");
  EXPECT_EQ((Bytes{e[36], e[37], e[38], e[39]}), (Bytes{0x40, 0xE2, 0x01, 0x00}));
  EXPECT_EQ(Label("NumeroSerie"), "123456");
}

TEST_F(MainScreenTest, TheReportAppendsWhatTheWindowShowsAndSurvivesABadFile) {
  usb.Add(5);
  Start();
  const fs::path log = folder_ / "4711.log";
  dialogs.files = {std::string("/no/such/folder/4711.log"), log.string()};
  OnModal<frmProduction>([](frmProduction* d) {
    EXPECT_EQ(hx::test::CutCaptions(*d), std::vector<std::string>{});
    d->findChild<QLineEdit*>("Commande")->setText("4711");
    d->findChild<QPlainTextEdit*>("Commentaires")->setPlainText("unit 1");
    d->PrintReport_Click();  // the log cannot be created: the window stays
    ASSERT_TRUE(d->isVisible());
    d->PrintReport_Click();
    EXPECT_FALSE(d->isVisible());
  });
  Click("Rapport");
  EXPECT_EQ(dialogs.fileDialogs.at(0).fileName, "4711.log");
  EXPECT_EQ(dialogs.fileDialogs.at(0).filter, "Log Files (*.LOG)|*.LOG");
  EXPECT_NE(dialogs.Texts().at(0).find("/no/such/folder/4711.log"), std::string::npos);
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(log));
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 24u);
  EXPECT_EQ(lines[4], "N° de Commande 4711");
  EXPECT_EQ(lines[6], "unit 1");
  EXPECT_EQ(lines[8], "Firmware Version : 1.05");
  EXPECT_EQ(lines[9], "Serial Number : 24000005");
  EXPECT_EQ(lines[16], "Alarm Battery Level (V) : 11.50");
  EXPECT_EQ(lines[18], "Forced charge 1 (h) : none");

  // Without an order number nothing is written.
  dialogs.messages.clear();
  dialogs.files = {log.string()};
  OnModal<frmProduction>([](frmProduction* d) {
    d->PrintReport_Click();
    d->reject();
  });
  Click("Rapport");
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Vous devez saisir un N° de commande"});
  const std::string after = ReadFile(log);
  EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 24);
}

TEST_F(MainScreenTest, FirmwareUpdateStartsFlashtoolWithTheWholeCommandTail) {
  usb.Add(5);
  Start();
  dialogs.answers = {hx::MsgAnswer::No};
  window_->findChild<QAction*>("nmuBootLoad")->trigger();
  EXPECT_TRUE(dialogs.fileDialogs.empty());
  EXPECT_TRUE(starter.started.empty());

  dialogs.answers = {hx::MsgAnswer::Yes, hx::MsgAnswer::Yes};
  dialogs.files = {std::nullopt, std::string("/srv/firmware files/v2  final.hex")};
  window_->findChild<QAction*>("nmuBootLoad")->trigger();  // cancelled dialog
  EXPECT_TRUE(starter.started.empty());
  window_->findChild<QAction*>("nmuBootLoad")->trigger();
  ASSERT_EQ(starter.started.size(), 1u);
  EXPECT_EQ(starter.started[0].first.filename(), "flashtool");
  EXPECT_EQ(
      starter.started[0].second,
      std::vector<std::string>{"LANGUE=English ;device=arvel;USBID=5;prg=/srv/firmware files/v2  final.hex"});
  EXPECT_EQ(dialogs.messages[0].title, "Hydrix IP");
  EXPECT_EQ(dialogs.messages[0].buttons, hx::MsgButtons::YesNo);
  EXPECT_TRUE(dialogs.messages[0].defaultNo);  // Enter and Escape answer No
  EXPECT_EQ(dialogs.fileDialogs.back().filter, "INHEX32 Files (*.HEX)|*.HEX");
}

// F1 opens the built help in the browser; without an opener the box names
// the page in full.
TEST_F(MainScreenTest, HelpOpensTheHelpPageOrNamesItInFull) {
  Start(Choice::Cancel);
  const fs::path index = hx::ProgramFolder() / "help" / "index.html";
  ASSERT_TRUE(fs::is_regular_file(index)) << index;
  const std::size_t boxes = dialogs.messages.size();
  auto* help = window_->findChild<QAction*>("mnuHelp");
  EXPECT_EQ(help->shortcut(), QKeySequence(Qt::Key_F1));
  help->trigger();
  ASSERT_EQ(starter.started.size(), 1u);
  EXPECT_EQ(starter.started[0].first, "xdg-open");
  EXPECT_EQ(starter.started[0].second, std::vector<std::string>{index.string()});
  EXPECT_EQ(dialogs.messages.size(), boxes);

  starter.missing = true;
  help->trigger();
  ASSERT_EQ(dialogs.messages.size(), boxes + 1);
  EXPECT_EQ(dialogs.messages.back().text,
            "The help cannot be opened in a browser (xdg-open could not be started). Open this page in a "
            "browser: " +
                index.string());
}

// "System Info…" gives what a problem report needs, ready to copy.
TEST_F(MainScreenTest, TheAboutBoxShowsTheVersionAndTheSystemInformation) {
  remembered = folder_ / "hydrix.conf";
  Start(Choice::Cancel);
  QString version, info;
  OnModal<frmAbout>([&](frmAbout* d) {
    version = d->findChild<QLabel*>("lblVersion")->text();
    QTimer::singleShot(0, [&] {
      auto* sys = QApplication::activeModalWidget();
      ASSERT_EQ(sys->objectName(), "SystemInfo");
      info = sys->findChild<QPlainTextEdit*>("SystemInfoText")->toPlainText();
      QTest::mouseClick(sys->findChild<QPushButton*>("cmdCopy"), Qt::LeftButton);
      qobject_cast<QDialog*>(sys)->reject();
    });
    QTest::mouseClick(d->findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
    QTest::mouseClick(d->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
  });
  window_->findChild<QAction*>("mnuApropos")->trigger();
  EXPECT_EQ(version, "Version " HYDRIX_VERSION);
  EXPECT_TRUE(info.startsWith("hydrix: Version " HYDRIX_VERSION "\nQt: ")) << info.toStdString();
  EXPECT_TRUE(info.contains("USB backend: sim")) << info.toStdString();
  EXPECT_TRUE(
      info.contains("Message catalogue: " + QString::fromStdString((folder_ / "config.xml").string())));
  EXPECT_TRUE(info.contains("Remembered state: " + QString::fromStdString(remembered.string())));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), info);
  EXPECT_TRUE(starter.started.empty());
}

TEST_F(MainScreenTest, SettingsProfilesSaveLoadAndCompareWithoutTouchingTheController) {
  usb.Add(5);
  Start(Choice::Cancel);
  // Nothing read yet: nothing to save.
  window_->findChild<QAction*>("mnuSaveSettings")->trigger();
  EXPECT_TRUE(dialogs.fileDialogs.empty());
  EXPECT_NE(dialogs.Texts().back().find("Read the parameters"), std::string::npos);

  Answer(Choice::First);
  window_->findChild<QAction*>("MnuConnect")->trigger();
  Type("Text1", 4, "12.5");
  const fs::path file = folder_ / "site.txt";
  dialogs.files = {file.string()};
  window_->findChild<QAction*>("mnuSaveSettings")->trigger();
  EXPECT_EQ(dialogs.fileDialogs.back().title, "Save Settings…");
  EXPECT_EQ(dialogs.fileDialogs.back().fileName, "hydrix-24000005.txt");
  const std::string saved = ReadFile(file);
  EXPECT_NE(saved.find("start_level_low_battery_V = 12.5\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("serial number 24000005"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("serial_number"), std::string::npos) << saved;

  // Load fills the boxes and sends nothing; Compare lists what differs.
  std::ofstream(file) << "start_level_low_battery_V = 14\nforced_charge_2_h = 5\n";
  const std::size_t from = usb.writes.size();
  dialogs.files = {file.string()};
  window_->findChild<QAction*>("mnuLoadSettings")->trigger();
  EXPECT_EQ(Text("Text1", 4), "14");
  EXPECT_EQ(Get<QComboBox>("Heure2")->currentText(), "5");
  EXPECT_EQ(usb.writes.size(), from);
  Type("Text1", 4, "13");
  dialogs.files = {file.string()};
  window_->findChild<QAction*>("mnuCompareSettings")->trigger();
  EXPECT_EQ(dialogs.Texts().back(),
            "Settings that differ (screen -> file):\nStart @Low Battery Level (V): 13 -> 14");

  // A bad file changes nothing and says where it is wrong.
  std::ofstream(file) << "start_level_low_battery_V = 30\n";
  dialogs.files = {file.string()};
  window_->findChild<QAction*>("mnuLoadSettings")->trigger();
  EXPECT_EQ(Text("Text1", 4), "13");
  EXPECT_NE(dialogs.Texts().back().find("line 1: start_level_low_battery_V"), std::string::npos);
  EXPECT_EQ(usb.writes.size(), from);
}

// Controllers of one type are told apart by serial number and identifier;
// the one chosen last is selected at the next start, but not chosen.
TEST_F(MainScreenTest, TheSelectionTellsControllersApartAndRemembersTheLastChosen) {
  usb.Add(5);
  usb.Add(6);
  remembered = folder_ / "state" / "hydrix.conf";
  hx::RememberedState(remembered).SetLastController(6);
  Start(Choice::Cancel);
  EXPECT_EQ(listed, (std::vector<std::string>{"Hydrix (11) 1.05 \u00B7 serial 24000005 \u00B7 id 5",
                                              "Hydrix (11) 1.05 \u00B7 serial 24000006 \u00B7 id 6"}));
  EXPECT_EQ(selectedRow, 1);  // selected, not chosen
  EXPECT_FALSE(window_->device().Chosen());
  Answer(Choice::First);
  window_->findChild<QAction*>("MnuConnect")->trigger();
  EXPECT_EQ(hx::RememberedState(remembered).LastController(), 5);
}

// A catalogue without a language named exactly "English" makes no language
// change at start-up: Langue is kept.
TEST_F(MainScreenTest, AStartWithACatalogueNamedEnglishInLowerCaseKeepsLangue) {
  std::string xml = ReadFile(folder_ / "config.xml");
  for (auto at = xml.find("NOM=\"English\""); at != std::string::npos; at = xml.find("NOM=\"English\"", at))
    xml.replace(at, 13, "NOM=\"english\"");
  const auto at = xml.find("<Langue>English</Langue>");
  ASSERT_NE(at, std::string::npos);
  xml.replace(at, 24, "<Langue>Deutsch</Langue>");
  std::ofstream(folder_ / "config.xml", std::ios::binary) << xml;
  Start(Choice::Cancel);
  EXPECT_EQ(config_->LitConfiguration("Langue"), "Deutsch");
}

// Every box comes with the normal pointer; after a write the boxes show what
// was stored: the date of the write, the pulse in 3.2 ms steps.
TEST_F(MainScreenTest, AfterAWriteTheScreenShowsWhatWasStoredAndNoBoxIsBusy) {
  usb.Add(5);
  Start();
  Type("Text1", 6, "350");
  Click("Ecrire");
  ASSERT_EQ(dialogs.Texts(), std::vector<std::string>{"Parameters Writed"});
  EXPECT_EQ(dialogs.busy, std::vector<bool>{false});
  EXPECT_EQ(Text("Text1", 6), "349");
  EXPECT_EQ(Label("DateProgrammation"),
            QString::fromStdString(hx::SecondesVersTexte(hx::DateVersSecondes(now))));
}

// The shipped catalogue holds every caption the window looks up, in each of
// its languages: a start, a choice of controller, the State window and a
// switch through the languages leave config.xml as shipped (but Langue), and
// every caption shown comes from the chosen language's entries.
TEST_F(MainScreenTest, TheShippedCatalogueIsCompleteInEachLanguage) {
  usb.Add(5);
  const std::string shipped = ReadFile(folder_ / "config.xml");
  Start();
  Click("State");
  auto* languages = Get<QComboBox>("ListeLangues");
  ASSERT_EQ(languages->count(), 3);
  for (int i : {1, 2, 0}) {
    languages->setCurrentIndex(i);
    const std::string language = languages->currentText().toStdString();
    SCOPED_TRACE(language);
    auto expect = [&](QObject* o, const QString& shown, const std::string& code) {
      const auto text = config_->FindMessage(language, code);
      ASSERT_TRUE(text.has_value()) << code;
      EXPECT_EQ(shown.toStdString(), *text) << o->objectName().toStdString();
    };
    for (QAction* top : window_->menuBar()->actions()) {
      QMenu* menu = top->menu();
      expect(top, top->text(), (menu ? menu->objectName() : top->objectName()).toStdString());
      for (QAction* a : menu ? menu->actions() : QList<QAction*>{}) {
        if (!a->isSeparator()) expect(a, a->text(), a->objectName().toStdString());
      }
    }
    for (QAbstractButton* b : window_->findChildren<QAbstractButton*>()) {
      if (!b->objectName().isEmpty() && !b->objectName().startsWith("qt_") && !b->text().isEmpty() &&
          b->window() == window_.get())
        expect(b, b->text(), b->objectName().toStdString());
    }
    for (QGroupBox* g : window_->findChildren<QGroupBox*>())
      expect(g, g->title(), g->objectName().toStdString());
    // The texts this project added go through the catalogue by name too.
    const QString status = window_->statusBar()->findChild<QLabel*>()->text();
    EXPECT_TRUE(
        status.startsWith(QString::fromStdString(*config_->FindMessage(language, "StatusController")).arg(5)))
        << status.toStdString();
    expect(Get<QLineEdit>("Text1", 7), Get<QLineEdit>("Text1", 7)->statusTip(), "StatusTipAlarm");
    // The chart's buttons, their tips and its menu.
    TrendChart* chart = window_->Chart();
    expect(chart, chart->WholeRunButton()->text(), "ChartWholeRun");
    expect(chart, chart->WholeRunButton()->toolTip(), "ChartWholeRunTip");
    expect(chart, chart->FitButton()->text(), "ChartFitScales");
    expect(chart, chart->FitButton()->toolTip(), "ChartFitScalesTip");
    const std::map<QString, std::string> menuCodes = {{"chartExportData", "mnuExportChart"},
                                                      {"chartSaveImage", "mnuSaveChartImage"},
                                                      {"chartWholeRun", "ChartWholeRun"},
                                                      {"chartFitScales", "ChartFitScales"}};
    for (QAction* a : chart->ContextMenu()->actions()) {
      if (!a->isSeparator()) expect(a, a->text(), menuCodes.at(a->objectName()));
    }
    // The device selection's heading, count, line words and Rescan, and the
    // line's words again in the status bar.
    const auto word = [&](const char* code) {
      return " \u00B7 " + *config_->FindMessage(language, code) + " ";
    };
    const std::string line =
        "Hydrix (11) 1.05" + word("SelectionSerial") + "24000005" + word("SelectionId") + "5";
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<frmConnect*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      expect(dialog, dialog->findChild<QLabel*>("heading")->text(), "SelectionHeading");
      expect(dialog, dialog->findChild<QLabel*>("hint")->text(), "SelectionOneAnswered");
      expect(dialog, dialog->findChild<QPushButton*>("Rescan")->text(), "SelectionRescan");
      auto* list = dialog->findChild<QListWidget*>("Listeeline");
      EXPECT_EQ(list->item(0)->text().toStdString(), line);
      list->setCurrentRow(0);
      QTest::keyClick(list, Qt::Key_Return);
    });
    window_->findChild<QAction*>("MnuConnect")->trigger();
    EXPECT_EQ(window_->UsbID(), 5);
    EXPECT_TRUE(window_->statusBar()->findChild<QLabel*>()->text().contains(QString::fromStdString(line)));
    // Texts shown only when something fails: nothing found, a failed tick.
    for (const char* code :
         {"SelectionNothingFound", "SelectionStartSimulator", "StatusTickFailed", "StatusNoReason",
          "stopping a lost link", "reading the measures", "plotting the measures", "logging the measures"}) {
      EXPECT_TRUE(config_->FindMessage(language, code).has_value()) << code;
    }
  }
  std::string now = ReadFile(folder_ / "config.xml");
  const auto at = now.find("<Langue>English</Langue>");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(now, shipped);
}

// No single key writes to a controller; reading has its keys.
TEST_F(MainScreenTest, ShortcutsReadOnSingleKeysAndNeverWriteWithoutAModifier) {
  usb.Add(5);
  Start();
  dialogs.defaultAnswer = hx::MsgAnswer::Yes;
  QStringList keys;
  for (QShortcut* s : window_->findChildren<QShortcut*>()) {
    keys << s->key().toString();
    if (s->key()[0].keyboardModifiers() != Qt::NoModifier) continue;
    const std::size_t from = usb.writes.size();
    emit s->activated();
    EXPECT_TRUE(EepromWrites(from).empty()) << s->key().toString().toStdString();
    EXPECT_EQ(Resets(from), 0);
  }
  EXPECT_TRUE(keys.contains("F5") && keys.contains("F6") && keys.contains("F10") &&
              keys.contains("Ctrl+Shift+W"))
      << keys.join(' ').toStdString();
}

// USB Connect without the mouse: F10 opens the menu bar, Right reaches USB
// Connect and Return opens the device selection; so does its mnemonic, in
// a translated caption too. In the selection the list has the keys: an
// arrow moves, Enter chooses.
TEST_F(MainScreenTest, UsbConnectAndTheSelectionWorkFromTheKeyboard) {
  usb.Add(5);
  usb.Add(6);
  Start();
  ASSERT_EQ(window_->UsbID(), 5);
  QApplication::setActiveWindow(window_.get());
  auto keys = [this](std::vector<Qt::Key> pressed) {
    QTimer::singleShot(0, [this, pressed] {
      auto* dialog = qobject_cast<frmConnect*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      // The keys go where the dialog puts the focus: its list.
      QWidget* focus = dialog->focusWidget();
      ASSERT_EQ(focus, dialog->findChild<QListWidget*>("Listeeline")) << focus->objectName().toStdString();
      for (Qt::Key k : pressed) QTest::keyClick(focus, k);
      if (dialog->isVisible()) dialog->close();
    });
  };
  QMenuBar* bar = window_->menuBar();
  auto* connectEntry = window_->findChild<QAction*>("MnuConnect");

  QTest::keyClick(window_.get(), Qt::Key_F10);
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  QTest::keyClick(menu, Qt::Key_Right);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  EXPECT_EQ(bar->activeAction(), connectEntry);
  keys({Qt::Key_Down, Qt::Key_Return});
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window_.get(), Qt::Key_Return);
  EXPECT_EQ(window_->UsbID(), 6);
  EXPECT_EQ(bar->activeAction(), nullptr);
  EXPECT_EQ(Label("NumeroSerie"), "24000006");

  Get<QComboBox>("ListeLangues")->setCurrentText("Deutsch");
  ASSERT_TRUE(connectEntry->text().contains('&'));
  QApplication::setActiveWindow(window_.get());
  QApplication::processEvents();  // the menu bar takes its new captions' mnemonics
  keys({Qt::Key_Up, Qt::Key_Enter});
  QTest::keyClick(window_.get(), Qt::Key_U, Qt::AltModifier);
  EXPECT_EQ(window_->UsbID(), 5);
  EXPECT_EQ(Label("NumeroSerie"), "24000005");
  EXPECT_TRUE(dialogs.messages.empty());
}

// Geometry and the last controller survive a restart; an unreadable
// remembered-state file means defaults, never a failed start.
TEST_F(MainScreenTest, TheWindowIsRememberedAcrossStartsAndABadStateFileIsHarmless) {
  usb.Add(5);
  remembered = folder_ / "conf" / "hydrix.conf";
  Start();
  // A size comes back as it was left, never below the window's own minimum
  // (which differs between Qt versions with their metrics) nor beyond the
  // screen's room.
  const QSize asked(1330, 700);
  window_->resize(asked);
  window_->close();
  Start();
  EXPECT_EQ(window_->size(), asked.expandedTo(window_->minimumSize()));
  EXPECT_EQ(selectedRow, 0);
  window_->resize(5000, 4000);
  window_->close();
  Start();
  EXPECT_TRUE(window_->screen()->availableGeometry().contains(window_->geometry())) << window_->geometry().width();
  EXPECT_GE(window_->width(), window_->minimumWidth());
  window_->close();
  fs::remove(remembered);
  fs::create_directories(remembered);  // a folder where the file should be
  Start();
  EXPECT_EQ(window_->UsbID(), 5);
  EXPECT_TRUE(dialogs.messages.empty());
}

// Exit asks when an edit has not been written or the measure log runs; No
// keeps the window.
TEST_F(MainScreenTest, ExitAsksBeforeLosingAnEditOrStoppingTheLog) {
  usb.Add(5);
  Start();
  Type("Text1", 5, "14");
  Click("Sortir");
  EXPECT_TRUE(window_->isVisible());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].text.find("not written"), std::string::npos);
  EXPECT_TRUE(dialogs.messages[0].defaultNo);
  Type("Text1", 5, "13.80");
  Click("Sortir");
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

}  // namespace
