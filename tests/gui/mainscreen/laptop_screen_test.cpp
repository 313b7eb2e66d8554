// The main window on a laptop's screen (the tests' offscreen screen is
// 1366×768): it fits with a window manager's frame in every language, a
// geometry kept on a larger screen comes back within this one, and the
// status bar's lines leave room for its messages and never widen the window.
#include <QCheckBox>
#include <QComboBox>
#include <QLayout>
#include <QScreen>
#include <QStatusBar>

#include "live_view_fixture.h"
#include "support/whole_captions.h"

namespace hx::test {
namespace {

// Room a window manager takes around a window: a title bar and borders.
const QSize kFrame(8, 40);

class LaptopScreenTest : public LiveViewTest {
 public:
  QRect Available() const { return QGuiApplication::primaryScreen()->availableGeometry(); }
  QLabel* ControllerLine() const { return window_->statusBar()->findChild<QLabel*>(); }
};

TEST_F(LaptopScreenTest, TheWindowFitsTheScreenWithAFrameInEveryLanguage) {
  ASSERT_EQ(Available().size(), QSize(1366, 768));
  usb.Add(5);
  Start();
  const QSize room = Available().size() - kFrame;
  // Opened at a size the screen holds, with every button and the status bar.
  EXPECT_LE(window_->width(), room.width());
  EXPECT_LE(window_->height(), room.height());
  for (const char* button : {"Lire", "Ecrire", "Sortir", "Rapport"}) {
    QWidget* b = Get<QPushButton>(button);
    EXPECT_TRUE(window_->rect().contains(QRect(b->mapTo(window_.get(), QPoint(0, 0)), b->size()))) << button;
  }
  EXPECT_TRUE(window_->rect().contains(window_->statusBar()->geometry()));
  auto* languages = Get<QComboBox>("ListeLangues");
  for (int i = 0; i < languages->count(); ++i) {
    languages->setCurrentIndex(i);
    SCOPED_TRACE(languages->currentText().toStdString());
    const QSize least = window_->minimumSizeHint().expandedTo(window_->minimumSize());
    EXPECT_LE(least.width(), room.width());
    EXPECT_LE(least.height(), room.height());
    // Every caption whole at the window's size: no label, box or button
    // narrower than its text asks for (the status lines cut on purpose).
    window_->resize(window_->size().boundedTo(room));
    window_->layout()->activate();
    QCoreApplication::processEvents();
    const auto cut = CutCaptions(*window_->centralWidget());
    EXPECT_TRUE(cut.empty()) << ::testing::PrintToString(cut);
  }
}

TEST_F(LaptopScreenTest, AGeometryKeptOnALargerScreenOrOffItComesBackWithinIt) {
  usb.Add(5);
  const std::filesystem::path file = folder_ / "hydrix.conf";
  for (const QRect kept :
       {QRect(40, 30, 2400, 1500), QRect(3000, 2000, 1100, 600), QRect(-900, -500, 1000, 650)}) {
    SCOPED_TRACE(kept.x());
    {
      QWidget other;
      other.setGeometry(kept);
      RememberedState(file).SetGeometry(other.saveGeometry());
    }
    window_ = std::make_unique<MainScreen>(MainScreen::Services{
        usb, *config_, dialogs, sleeper, [] { return DateHeure{2024, 3, 7, 14, 5, 9}; }, nullptr, file});
    EXPECT_TRUE(Available().contains(window_->geometry()))
        << window_->geometry().x() << "," << window_->geometry().y() << " " << window_->width() << "x"
        << window_->height();
  }
  // Within the screen, a kept geometry stays as it was.
  EXPECT_EQ(FitWithin(QRect(10, 40, 1200, 650), Available()), QRect(10, 40, 1200, 650));
}

TEST_F(LaptopScreenTest, ALongStatusIsCutWithItsWholeTextInTheTipAndNeverWidensTheWindow) {
  usb.Add(5);
  Start();
  Get<QComboBox>("ListeLangues")->setCurrentText("Deutsch");
  QApplication::processEvents();
  window_->resize(window_->minimumSizeHint());
  QApplication::processEvents();
  const int width = window_->width();
  Get<QCheckBox>("LectureContinu")->setChecked(true);
  usb.Find(5)->faults().mode = sim::Faults::Mode::Silent;
  Tick();
  QApplication::processEvents();
  QLabel* line = ControllerLine();
  ASSERT_GT(line->fontMetrics().horizontalAdvance(line->text()), line->width()) << line->text().toStdString();
  EXPECT_EQ(line->toolTip(), line->text());
  EXPECT_EQ(window_->width(), width);
  EXPECT_EQ(window_->minimumSizeHint().width(), width);
}

TEST_F(LaptopScreenTest, TheStatusBarShowsAConfirmationBesideTheControllersLine) {
  usb.Add(5);
  Start();
  dialogs.files.push_back((folder_ / "profile.txt").string());
  window_->findChild<QAction*>("mnuSaveSettings")->trigger();
  QApplication::processEvents();
  const QString saved = window_->statusBar()->currentMessage();
  EXPECT_TRUE(saved.startsWith("Settings saved to")) << saved.toStdString();
  // The controller's line keeps to the right and leaves the message its room.
  QLabel* line = ControllerLine();
  EXPECT_TRUE(line->isVisible());
  EXPECT_TRUE(line->text().startsWith("Controller 5"));
  EXPECT_GE(line->geometry().left(), window_->statusBar()->fontMetrics().horizontalAdvance(saved));
}

}  // namespace
}  // namespace hx::test
