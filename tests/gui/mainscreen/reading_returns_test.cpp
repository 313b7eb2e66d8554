// Reading that comes back by itself: a controller lost while it was read
// continuously is looked for every few seconds; when it answers again the
// reading and the measure log go on, and F5 reads a chosen controller that
// answers again instead of refusing it.
#include <QAction>
#include <QCheckBox>
#include <QRegularExpression>
#include <QShortcut>
#include <QStatusBar>
#include <fstream>

#include "hydrix/mainscreen/trend_chart.h"
#include "live_view_fixture.h"

namespace hx::test {
namespace {

TEST_F(LiveViewTest, ReadingAndTheLogComeBackByThemselvesWhenTheControllerAnswersAgain) {
  usb.Add(5);
  Start();
  const auto file = folder_ / "measures.csv";
  dialogs.files.push_back(file.string());
  window_->findChild<QAction*>("mnuJournal")->trigger();
  auto* box = Get<QCheckBox>("LectureContinu");
  box->setChecked(true);
  Tick();
  auto* look = window_->findChild<QTimer*>("LookAgainTimer");
  ASSERT_NE(look, nullptr);
  EXPECT_FALSE(look->isActive());

  // Lost: one box, reading stops, and the controller is looked for.
  usb.Find(5)->faults().mode = sim::Faults::Mode::Silent;
  Tick();
  Tick();
  EXPECT_FALSE(box->isChecked());
  EXPECT_TRUE(look->isActive());
  EXPECT_EQ(look->interval(), 3000);
  EXPECT_TRUE(
      window_->statusBar()->findChild<QLabel*>()->text().contains("it is looked for every few seconds"));
  // Still silent: nothing changes, no second box; nor while a box is open.
  QMetaObject::invokeMethod(look, "timeout");
  EXPECT_TRUE(window_->TimeOut());
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Missing Hydrix"});
  usb.Find(5)->faults().mode = sim::Faults::Mode::None;
  const std::size_t sent = usb.writes.size();
  dialogs.whileOpen = [&](const MessageBoxRequest&) { QMetaObject::invokeMethod(look, "timeout"); };
  Click("ActivateRelay");  // refused, in a box of the window
  dialogs.whileOpen = nullptr;
  EXPECT_EQ(usb.writes.size(), sent);

  // It answers: reading goes on by itself, in the same run and file.
  Word(5, 0, 13020);
  const auto xBefore = window_->Chart()->data().Points(0).back().x;
  QMetaObject::invokeMethod(look, "timeout");
  EXPECT_FALSE(window_->TimeOut());
  EXPECT_TRUE(box->isChecked());
  EXPECT_FALSE(look->isActive());
  EXPECT_TRUE(QRegularExpression("^Controller 5 answers again after \\d+ s$")
                  .match(window_->statusBar()->currentMessage())
                  .hasMatch())
      << window_->statusBar()->currentMessage().toStdString();
  EXPECT_TRUE(window_->statusBar()->findChild<QLabel*>()->text().endsWith("(answering)"));
  Tick();
  EXPECT_GT(window_->Chart()->data().Points(0).back().x, xBefore);  // the run's counter went on
  const auto rows = FileLines(file);
  ASSERT_EQ(rows.size(), 3u);  // the header, the row before the loss, the row after it
  EXPECT_NE(rows[2].find(",13.020,"), std::string::npos) << rows[2];
  ASSERT_EQ(dialogs.messages.size(), 2u);  // the loss's box and the refusal
  EXPECT_NE(dialogs.messages[1].text.find("is not answering"), std::string::npos);

  // A second loss shows its own box, once.
  usb.Find(5)->faults().mode = sim::Faults::Mode::Silent;
  Tick();
  Tick();
  QMetaObject::invokeMethod(look, "timeout");
  EXPECT_EQ(dialogs.messages.size(), 3u);
  EXPECT_EQ(dialogs.messages.back().text, "Missing Hydrix");
}

TEST_F(LiveViewTest, F5ReadsAChosenControllerThatAnswersAgain) {
  usb.Add(5);
  usb.Add(6);
  Start();
  usb.Find(5)->faults().mode = sim::Faults::Mode::Silent;
  Click("ActivateRelay");
  ASSERT_TRUE(window_->TimeOut());
  usb.Find(5)->faults().mode = sim::Faults::Mode::None;
  const std::size_t from = usb.writes.size();
  for (QShortcut* s : window_->findChildren<QShortcut*>()) {
    if (s->key() == QKeySequence(Qt::Key_F5)) emit s->activated();
  }
  EXPECT_FALSE(window_->TimeOut());
  EXPECT_EQ(window_->UsbID(), 5);
  EXPECT_FALSE(Sent(cmd::kIdentity, from).empty());                        // looked for first
  EXPECT_GE(Sent(cmd::kReadEeprom, from).size(), 4u + 258u);               // its serial, then the settings
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Missing Hydrix"});  // no refusal
}

}  // namespace
}  // namespace hx::test
