// The state window opened from the main window: one modeless instance that
// redraws the last measure block every second without any exchange.
#include "hydrix/mainscreen/frm_etat.h"
#include "live_view_fixture.h"
#include "support/whole_captions.h"

namespace hx::test {
namespace {

TEST_F(LiveViewTest, TheStateWindowShowsTheLastMeasuresAndIsOpenedOnce) {
  usb.Add(5);
  Start(false);  // no controller: every word is zero
  Click("State");
  frm_etat* etat = window_->Etat();
  ASSERT_NE(etat, nullptr);
  EXPECT_TRUE(etat->isVisible());
  EXPECT_FALSE(etat->isModal());
  EXPECT_EQ(etat->windowTitle(), "HydrixIP  State");
  EXPECT_EQ(CutCaptions(*etat), std::vector<std::string>{});
  EXPECT_TRUE(etat->findChild<QTimer*>("Timer1")->isActive());
  auto box = [&](const char* name, int index = -1) { return etat->Control<QLineEdit>(name, index); };
  EXPECT_EQ(box("State", 0)->text(), "Text1");
  etat->Timer1_Timer();
  EXPECT_EQ(box("Tension_Batterie")->text(), "0.00");
  EXPECT_EQ(box("Turbine")->text(), "OFF");
  EXPECT_TRUE(box("Turbine")->styleSheet().contains("rgb(0, 255, 0)"));
  EXPECT_EQ(box("Relay")->text(), "OFF");
  EXPECT_EQ(box("State", 0)->text(), "Text1");  // code 0 has no text
  EXPECT_EQ(box("State", 3)->text(), "0");

  // A read by Read Parameters fills the block; the next refresh shows it.
  for (auto [i, v] :
       {std::pair{0, 12480}, {20, 4}, {24, 1}, {26, 0}, {18, 7}, {12, 40000}, {14, 3}, {16, 9}}) {
    Word(5, i, v);
  }
  window_->device().Choose(5);
  Click("Lire");
  const int reads = usb.readCalls;
  etat->Timer1_Timer();
  EXPECT_EQ(usb.readCalls, reads);
  EXPECT_EQ(box("Tension_Batterie")->text(), "12.48");
  EXPECT_EQ(box("State", 0)->text(), "Timed Forced Charge");
  EXPECT_EQ(box("Turbine")->text(), "ON");
  EXPECT_TRUE(box("Turbine")->styleSheet().contains("rgb(255, 0, 0)"));
  EXPECT_EQ(box("State", 1)->text(), "7");
  EXPECT_EQ(box("State", 2)->text(), "-25536");
  EXPECT_EQ(box("State", 3)->text(), "3");
  EXPECT_EQ(box("State", 4)->text(), "9");
  Word(5, 20, 9);  // an unknown code keeps the last text
  Click("Lire");
  etat->Timer1_Timer();
  EXPECT_EQ(box("State", 0)->text(), "Timed Forced Charge");

  Click("State");
  EXPECT_EQ(window_->Etat(), etat);
  EXPECT_EQ(window_->findChildren<frm_etat*>().size(), 1);
  QTest::mouseClick(etat->findChild<QPushButton*>("Sortir"), Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(window_->Etat(), nullptr);
}

}  // namespace
}  // namespace hx::test
