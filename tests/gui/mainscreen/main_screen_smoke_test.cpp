#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "MainScreen.h"

TEST(MainScreenSmoke, OpensWithItsCaptionAndExitCloses) {
  MainScreen window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.windowTitle(), "Tessaro Hydrix");
  auto* exit = window.findChild<QPushButton*>("Sortir");
  ASSERT_NE(exit, nullptr);
  EXPECT_EQ(exit->text(), "Exit");
  QTest::mouseClick(exit, Qt::LeftButton);
  EXPECT_FALSE(window.isVisible());
}
