// The live view driven as an operator would: measures on the screen, the
// one-second tick and the chart, the output buttons and Set Tempo.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineSeries>
#include <QStatusBar>
#include <QValueAxis>
#include <fstream>

#include "hydrix/mainscreen/trend_chart.h"
#include "hydrix/settings/measure_log.h"
#include "live_view_fixture.h"
#include "support/file_size_limit.h"

namespace hx::test {
namespace {

using P = TrendData::Point;

TEST_F(LiveViewTest, AReadShowsTheMeasuresAndALanguageChangeKeepsThem) {
  usb.Add(5);
  for (auto [i, v] : {std::pair{0, 13500}, {2, 21}, {4, 1500}, {6, 0}, {8, 0}, {10, 0}, {24, 1}, {26, 1}}) {
    Word(5, i, v);
  }
  Start();  // reads, then applies the language
  EXPECT_EQ(Text("Text1", 0), "13.50");
  EXPECT_EQ(Text("Text1", 1), "21");
  EXPECT_EQ(Text("Text1", 2), "1500");
  EXPECT_EQ(Text("Text1", 3), "0");
  EXPECT_EQ(Label("LabelPower"), "Input Power > Output Power (W)");
  EXPECT_EQ(Text("Power"), "20.25");
  EXPECT_TRUE(Get<QLineEdit>("Power")->styleSheet().contains("color: rgb(0, 255, 0)"));
  EXPECT_EQ(Get<QComboBox>("SolenoidValue")->currentIndex(), 1);
  EXPECT_EQ(Get<QComboBox>("RelayValue")->currentIndex(), 1);
  EXPECT_EQ(Label("Label1", 7), "Turbine Running");
  EXPECT_EQ(Label("Label1", 5), "Charging");
  EXPECT_TRUE(Get<QFrame>("LowCharge")->styleSheet().contains("rgb(0, 255, 0)"));
  EXPECT_EQ(Label("Label1", 8), "Charge Fault");
  EXPECT_TRUE(Get<QFrame>("BatterieDefault")->styleSheet().contains("rgb(255, 0, 0)"));
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(LiveViewTest, EachTickPlotsFourPointsAtConsecutiveXAndASilentControllerStopsTheReading) {
  usb.Add(5);
  Word(5, 0, 12500), Word(5, 2, 20), Word(5, 4, 0), Word(5, 6, 300);
  Start();
  TrendChart* chart = window_->Chart();
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  Tick();
  Word(5, 0, 13500);
  Tick();
  EXPECT_EQ(chart->data().Points(0), (std::vector<P>{{0, 20}, {4, 20}}));
  EXPECT_EQ(chart->data().Points(1), (std::vector<P>{{1, 12.5}, {5, 13.5}}));  // as the box shows them
  EXPECT_EQ(chart->data().Points(3), (std::vector<P>{{3, 300}, {7, 300}}));
  EXPECT_EQ(chart->Drawn(3), (std::vector<P>{{3, 300}, {7, 300}}));
  EXPECT_EQ(Text("Power"), "4.05");
  EXPECT_TRUE(Get<QLineEdit>("Power")->styleSheet().contains("color: rgb(255, 0, 0)"));

  // Answers that come short are no measures: nothing is plotted, the
  // reading goes on, and the status bar says the controller is not answering;
  // the tick still counts, so the line has a gap there.
  auto status = [this] { return window_->statusBar()->findChild<QLabel*>()->text(); };
  EXPECT_TRUE(status().endsWith("(answering)")) << status().toStdString();
  usb.Find(5)->faults().mode = sim::Faults::Mode::Short;
  Tick();
  EXPECT_EQ(chart->data().Points(1).size(), 2u);
  EXPECT_TRUE(status().contains("not answering")) << status().toStdString();
  EXPECT_TRUE(window_->findChild<QTimer*>("Timer")->isActive());
  usb.Find(5)->faults().mode = sim::Faults::Mode::None;
  Tick();
  EXPECT_EQ(chart->data().Points(1).back(), (P{13, 13.5}));
  EXPECT_EQ(chart->DrawnStarts(1), (std::vector<std::size_t>{0, 2}));
  EXPECT_TRUE(status().endsWith("(answering)"));

  // The controller stops answering: one message, zeros on the screen, no
  // point; the next tick stops the reading.
  usb.Find(5)->faults().mode = sim::Faults::Mode::Silent;
  Tick();
  EXPECT_TRUE(window_->TimeOut());
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Missing Hydrix"});
  EXPECT_EQ(Text("Text1", 0), "--");
  const int reads = usb.readCalls;
  Tick();
  EXPECT_FALSE(Get<QCheckBox>("LectureContinu")->isChecked());
  EXPECT_FALSE(window_->findChild<QTimer*>("Timer")->isActive());
  EXPECT_EQ(usb.readCalls, reads);  // the link is given up: nothing is read
  EXPECT_EQ(chart->data().Points(1).back(), (P{13, 13.5}));
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(LiveViewTest, ALegendClickSwitchesASeriesOffAndClearGraphicKeepsTheCounter) {
  usb.Add(5);
  Start();
  TrendChart* chart = window_->Chart();
  EXPECT_EQ(chart->Series(0)->name(), "Temperature (°C)");
  EXPECT_EQ(chart->Series(1)->name(), "Batterie Voltage (V)");
  EXPECT_EQ(chart->Series(3)->color(), QColor(255, 255, 0));
  EXPECT_EQ(chart->Scale(2)->titleText(), "mA in");
  EXPECT_EQ(chart->Scale(1)->max(), 15);

  chart->LegendEntry(1)->click();
  EXPECT_FALSE(chart->Series(1)->isVisible());
  EXPECT_FALSE(chart->Scale(1)->isVisible());
  EXPECT_TRUE(chart->Scale(2)->isVisible());
  EXPECT_FALSE(chart->LegendEntry(1)->isChecked());
  EXPECT_EQ(chart->LegendEntry(1)->text(), "Batterie Voltage (V)");
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  Tick();
  EXPECT_EQ(chart->data().Count(1), 0u);
  EXPECT_EQ(chart->data().Points(2).size(), 1u);
  EXPECT_EQ(chart->data().Points(2)[0].x, 2);

  Click("Command1");  // Clear Graphic
  EXPECT_EQ(chart->data().Count(0), 0u);
  EXPECT_TRUE(chart->Drawn(0).empty());
  Tick();
  EXPECT_EQ(chart->data().Points(0)[0].x, 4);

  chart->LegendEntry(1)->click();
  EXPECT_TRUE(chart->Scale(1)->isVisible());
  Tick();
  EXPECT_EQ(chart->data().Points(1)[0].x, 9);
}

TEST_F(LiveViewTest, OutputButtonsSendTheListIndexAndTheNextTickShowsWhatTheControllerReports) {
  usb.Add(5);
  Start();
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  Get<QComboBox>("RelayValue")->setCurrentIndex(1);
  Click("ActivateRelay");
  Get<QComboBox>("SolenoidValue")->setCurrentIndex(0);
  Click("ActivateSolenoid");
  const auto frames = Sent(cmd::kOutput);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0][1], 1);
  EXPECT_EQ(frames[0][2], 1);
  EXPECT_EQ(frames[1][1], 0);
  EXPECT_EQ(frames[1][2], 0);
  EXPECT_TRUE(Get<QCheckBox>("LectureContinu")->isChecked());
  Word(5, 26, 0);  // the controller reports the relay off after all
  Tick();
  EXPECT_EQ(Get<QComboBox>("RelayValue")->currentIndex(), 0);
}

TEST_F(LiveViewTest, SetTempoStopsTheReadingWritesTheDelayAndRefusesWhatDoesNotFit) {
  usb.Add(5);
  Start();
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  Get<QLineEdit>("EndOfChargeTempo")->setText("40000");
  Click("SetEndOFChargeTempo");
  EXPECT_TRUE(Get<QCheckBox>("LectureContinu")->isChecked());  // paused, then on again
  EXPECT_TRUE(Sent(cmd::kWriteEeprom).empty());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].text.find("from 0 to 32767 seconds"), std::string::npos);

  Get<QLineEdit>("EndOfChargeTempo")->setText("7200");
  Click("SetEndOFChargeTempo");
  EXPECT_EQ(usb.Find(5)->model().eeprom()[0], 32);
  EXPECT_EQ(usb.Find(5)->model().eeprom()[1], 28);
  EXPECT_EQ(Sent(cmd::kReset).size(), 1u);
  EXPECT_EQ(dialogs.Texts().back(), "Parameters Writed");
}

}  // namespace
}  // namespace hx::test

namespace hx::test {
namespace {

TEST_F(LiveViewTest, TheMeasureLogAppendsEachAnsweredTickAndAFailureStopsOnlyTheLog) {
  usb.Add(5);
  Word(5, 0, 12480);
  Start();
  auto* menu = window_->findChild<QAction*>("mnuJournal");
  ASSERT_NE(menu, nullptr);
  const auto file = folder_ / "measures.csv";
  dialogs.files.push_back(file.string());
  menu->trigger();
  EXPECT_TRUE(menu->isChecked());
  EXPECT_EQ(dialogs.fileDialogs.at(0).fileName, "measures.csv");
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  Tick();
  Tick();
  auto lines = FileLines(file);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], MeasureLogHeader());
  EXPECT_NE(lines[2].find(",12.480,"), std::string::npos) << lines[2];

  // Answers that came short are not logged; nor are the zeros of a link
  // given up.
  usb.Find(5)->faults().mode = sim::Faults::Mode::Short;
  Tick();
  EXPECT_EQ(FileLines(file).size(), 3u);
  usb.Find(5)->faults().mode = sim::Faults::Mode::None;
  window_->device().SetTimeOut(true);
  Tick();
  EXPECT_EQ(FileLines(file).size(), 3u);

  // Unticked, the log stops; a cancelled file dialog starts nothing.
  menu->trigger();
  EXPECT_FALSE(menu->isChecked());
  menu->trigger();
  EXPECT_FALSE(menu->isChecked());
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.Texts().front();

  // A full disk: one clear message, reading goes on, the file keeps whole lines.
  window_->device().SetTimeOut(false);
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  dialogs.files.push_back(file.string());
  menu->trigger();
  EXPECT_TRUE(menu->isChecked());
  {
    FileSizeLimit full(std::filesystem::file_size(file) + 20);
    Tick();
  }
  EXPECT_FALSE(menu->isChecked());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].text.find(file.string()), std::string::npos);
  EXPECT_EQ(FileLines(file).size(), 3u);
  EXPECT_TRUE(Get<QCheckBox>("LectureContinu")->isChecked());
  const auto before = window_->Chart()->data().Count(0);
  Tick();
  EXPECT_EQ(window_->Chart()->data().Count(0), before + 1);
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

// Set Time pauses reading as designed; afterwards reading and the measure log
// go on by themselves: no full read, the chart's counter going on, the same
// file growing.
TEST_F(LiveViewTest, ReadingAndTheLogGoOnAfterSetTime) {
  usb.Add(5);
  Start();
  const auto file = folder_ / "measures.csv";
  dialogs.files.push_back(file.string());
  window_->findChild<QAction*>("mnuJournal")->trigger();
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  Tick();
  const std::size_t reads = Sent(cmd::kReadEeprom).size();
  Click("SetTime");
  EXPECT_TRUE(Get<QCheckBox>("LectureContinu")->isChecked());
  EXPECT_EQ(Sent(cmd::kReadEeprom).size(), reads);            // no LitTout
  EXPECT_EQ(Label("txtCurrentTime"), "07/03/24 - 14:05:09");  // the time just set
  Tick();
  EXPECT_EQ(window_->Chart()->data().Points(0).back().x, 4);  // the counter went on
  EXPECT_EQ(FileLines(file).size(), 3u);
  auto* log = window_->statusBar()->findChildren<QLabel*>().back();
  EXPECT_TRUE(log->text().startsWith("Logging measures to")) << log->text().toStdString();
  Get<QCheckBox>("LectureContinu")->setChecked(false);
  EXPECT_TRUE(log->text().contains("paused")) << log->text().toStdString();
}

// A choice the operator made in an output list survives the ticks and is
// what Activate sends.
TEST_F(LiveViewTest, AnOutputChoiceIsKeptUntilActivateSendsIt) {
  usb.Add(5);
  Word(5, 26, 1);  // the relay reported on
  Start();
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  auto* relay = Get<QComboBox>("RelayValue");
  ASSERT_EQ(relay->currentIndex(), 1);
  relay->setCurrentIndex(0);
  emit relay->activated(0);  // as the operator's pick does
  Tick();
  Tick();
  EXPECT_EQ(relay->currentIndex(), 0);
  const std::size_t from = usb.writes.size();
  Click("ActivateRelay");
  const auto sent = Sent(cmd::kOutput, from);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][1], 1);  // the relay
  EXPECT_EQ(sent[0][2], 0);  // the operator's choice
}

// While nothing is chosen, or the link is given up, the zeros of failed
// reads are not shown as measures.
TEST_F(LiveViewTest, NoReadingShowsDashesAndGreyLampsNeverZeros) {
  usb.Add(5);
  auto shownAsNoReading = [this] {
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Text("Text1", i), "--") << i;
    EXPECT_EQ(Text("Power"), "");
    EXPECT_TRUE(Get<QWidget>("LowCharge")->styleSheet().contains("192, 192, 192"));
    EXPECT_TRUE(Get<QWidget>("BatterieDefault")->styleSheet().contains("192, 192, 192"));
    EXPECT_EQ(Label("txtCurrentTime"), "--");
  };
  Start(false);
  shownAsNoReading();

  Start();
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  Tick();
  const auto points = window_->Chart()->data().Count(0);
  usb.Find(5)->faults().mode = sim::Faults::Mode::Silent;
  Tick();
  shownAsNoReading();
  EXPECT_EQ(window_->Chart()->data().Count(0), points);
  const QString status = window_->statusBar()->findChild<QLabel*>()->text();
  EXPECT_TRUE(status.contains("stopped answering: check its USB cable and power")) << status.toStdString();
}

}  // namespace
}  // namespace hx::test

namespace hx::test {
namespace {

// No tick runs while a box of the window is open, and reading goes on once
// it closes, and after Factory Values: with the controller gone, Activate
// shows one "Missing Hydrix", not a second one from a tick run inside the
// first.
TEST_F(LiveViewTest, NoTickRunsWhileABoxIsOpenAndReadingGoesOnAfterIt) {
  usb.Add(5);
  Start();
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  std::size_t sentInside = 0;
  dialogs.whileOpen = [&](const MessageBoxRequest&) {
    const std::size_t before = usb.writes.size();
    Tick();
    Tick();
    sentInside += usb.writes.size() - before;
  };
  Click("Raz");  // its question, answered No
  dialogs.answers = {MsgAnswer::Yes};
  Click("Raz");  // Yes: reset and read back, and reading goes on as after the other actions
  EXPECT_EQ(sentInside, 0u);
  EXPECT_EQ(Sent(cmd::kReset).size(), 1u);
  EXPECT_EQ(window_->statusBar()->currentMessage(),
            "Factory values restored: the screen shows what the controller now holds.");
  const std::size_t from = usb.writes.size();
  Tick();
  EXPECT_EQ(Sent(cmd::kReadVariable, from).size(), 28u);

  usb.Find(5)->faults().mode = sim::Faults::Mode::Silent;
  Click("ActivateRelay");
  EXPECT_EQ(sentInside, 0u);
  ASSERT_EQ(dialogs.messages.size(), 3u);  // the two questions, then one box
  EXPECT_EQ(dialogs.messages[2].text, "Missing Hydrix");
  EXPECT_TRUE(window_->findChild<QTimer*>("Timer")->isActive());
}

// A measure log is one controller's: choosing another one with USB Connect
// stops it and says so, and its file takes no rows of the other controller.
TEST_F(LiveViewTest, ChoosingAnotherControllerStopsTheMeasureLog) {
  usb.Add(5);
  usb.Add(6);
  Start();  // controller 5
  auto* menu = window_->findChild<QAction*>("mnuJournal");
  const auto first = folder_ / "measures.csv";
  const auto second = folder_ / "measures-6.csv";
  dialogs.files.push_back(first.string());
  menu->trigger();
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  Tick();
  QTimer::singleShot(0, [] {
    auto* list = QApplication::activeModalWidget()->findChild<QListWidget*>("Listeeline");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
  });
  window_->findChild<QAction*>("MnuConnect")->trigger();
  ASSERT_EQ(window_->UsbID(), 6);
  EXPECT_FALSE(menu->isChecked());
  EXPECT_EQ(window_->statusBar()->currentMessage().toStdString(),
            "Measure log " + first.string() +
                " stopped: another controller was chosen. Its measures go to a new log.");
  EXPECT_TRUE(window_->statusBar()->findChildren<QLabel*>().back()->text().isEmpty());
  Tick();
  EXPECT_EQ(FileLines(first).size(), 2u);

  // The next log is a new file: the first one is refused for controller 6.
  dialogs.files = {first.string(), second.string()};
  menu->trigger();
  EXPECT_FALSE(menu->isChecked());
  EXPECT_NE(dialogs.Texts().back().find("holds the measures of controller 5"), std::string::npos);
  menu->trigger();
  Tick();
  EXPECT_EQ(FileLines(first).size(), 2u);
  EXPECT_EQ(FileLines(second).size(), 2u);
}

}  // namespace
}  // namespace hx::test
