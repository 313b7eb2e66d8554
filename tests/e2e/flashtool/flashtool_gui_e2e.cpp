// The programmer's window end to end: frmMain with the real libhxboot and a
// running hydrix-sim (message boxes answered by the test); as a form, with
// the real libhxusbif listing the controllers.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "flash_test_support.h"
#include "flashtool/hxboot_binding.h"
#include "frmMain.h"
#include "support/recording_dialog_service.h"
#include "support/sim_daemon.h"

namespace hx {
namespace {

TEST(FlashtoolWindowEndToEnd, ProgramsThroughTheLibraryAndTheDaemon) {
  test::SimDaemon daemon(HYDRIX_SIM_EXE, {"id=41,chip=PIC18F2553"});
  ASSERT_TRUE(daemon.Start());
  daemon.Export();
  flash::test::TempFolder folder;
  const std::vector<std::uint8_t> app = {0x12, 0xEF, 0x01, 0xF0, 0xAA, 0xBB};
  folder.Write("fw.hex", flash::test::MakeHex(0x200, app));

  flash::HxBootBinding library(HXBOOT_LIB);
  flash::HxUsbIfProbe probe(HXUSBIF_LIB);
  test::RecordingDialogService dialogs;
  flash::SteadyFlashClock clock;
  // The command line hydrix's Firmware Update passes.
  frmMain window("LANGUE=English ;device=arvel;USBID=41;prg=" + (folder.path() / "fw.hex").string(),
                 {"flashtool", folder.path(), folder.path(), folder.path()}, library, dialogs, clock);
  window.SetSerialProbe(probe);
  window.show();
  for (int i = 0; i < 1000 && !window.Result(); ++i) QTest::qWait(10);
  EXPECT_EQ(window.Result(), flash::RunEnd::Completed);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Programming complete."});
  // Started from hydrix, the window stays open with its log, which opens
  // with the serial number the application gave before the boot command.
  QTest::qWait(50);
  EXPECT_TRUE(window.isVisible());
  const QString log = window.findChild<QPlainTextEdit*>("lstLog")->toPlainText();
  EXPECT_TRUE(log.startsWith("Run of ")) << log.toStdString();
  EXPECT_TRUE(log.section('\n', 0, 0).contains(", connection 41, serial 24000041, product ARVEL, HEX file "))
      << log.toStdString();
  EXPECT_TRUE(log.endsWith("Result: completed (exit 0)"));
  window.close();
  EXPECT_FALSE(window.isVisible());

  const auto flash =
      test::RunProgram({HYDRIX_SIM_EXE, "dump", "--socket", daemon.socket(), "--id", "41", "flash"}).out;
  EXPECT_NE(flash.find("000200: 12 EF 01 F0 AA BB FF"), std::string::npos);
  EXPECT_NE(flash.find("007FF0: 55 55 55 55"), std::string::npos);
  const auto eeprom =
      test::RunProgram({HYDRIX_SIM_EXE, "dump", "--socket", daemon.socket(), "--id", "41", "eeprom"}).out;
  EXPECT_NE(eeprom.find("00F0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"), std::string::npos)
      << eeprom;
  EXPECT_EQ(test::RunProgram({HYDRIX_SIM_EXE, "dump", "--socket", daemon.socket(), "--id", "41", "mode"}).out,
            "application\n");
}

// Three controllers: two Hydrix, one of them left in its boot loader, and one
// of another type. Refresh keeps the operator's choice or, when it has gone,
// chooses none; Program reaches the chosen controller and only that one.
TEST(FlashtoolWindowEndToEnd, ProgramReachesTheControllerChosenInTheForm) {
  test::SimDaemon daemon(HYDRIX_SIM_EXE, {"id=41", "id=42,type=20", "id=43,flash=empty"});
  ASSERT_TRUE(daemon.Start());
  daemon.Export();
  auto sim = [&](const char* verb, const char* id, const char* what, const char* value = nullptr) {
    std::vector<std::string> argv{HYDRIX_SIM_EXE, verb, "--socket", daemon.socket(), "--id", id, what};
    if (value) argv.push_back(value);
    return test::RunProgram(argv).out;
  };
  const std::string flash41 = sim("dump", "41", "flash");
  flash::test::TempFolder folder;
  folder.Write("fw.hex", flash::test::MakeHex(0x200, {0x34, 0xEF, 0x01, 0xF0, 0xC3}));
  flash::HxBootBinding library(HXBOOT_LIB);
  flash::HxUsbIfProbe probe(HXUSBIF_LIB);
  test::RecordingDialogService dialogs;
  flash::SteadyFlashClock clock;
  frmMain window("device=arvel;prg=" + (folder.path() / "fw.hex").string(),
                 {"flashtool", folder.path(), folder.path(), folder.path()}, library, dialogs, clock);
  window.SetChooser(probe);
  window.show();
  auto* controller = window.findChild<QComboBox*>("cboController");
  auto* program = window.findChild<QPushButton*>("cmdProgram");
  auto refresh = [&] { QTest::mouseClick(window.findChild<QPushButton*>("cmdRefresh"), Qt::LeftButton); };
  for (int i = 0; i < 500 && controller->count() == 0; ++i) QTest::qWait(10);
  ASSERT_EQ(controller->count(), 3);
  EXPECT_EQ(controller->currentIndex(), -1);  // the first line is nobody's choice
  EXPECT_FALSE(program->isEnabled());

  controller->setCurrentIndex(1);  // 42, which then stops answering
  sim("set", "42", "fault", "silent");
  refresh();
  EXPECT_EQ(controller->currentIndex(), -1);
  EXPECT_FALSE(program->isEnabled());
  EXPECT_EQ(window.findChild<QLabel*>("txtOpStatus")->text().toStdString(),
            "2 controllers found\nConnection 42 is not listed: choose the controller again");

  controller->setCurrentIndex(controller->findData(43));
  refresh();
  ASSERT_EQ(controller->currentText(), "In its boot loader - connection 43");
  QTest::mouseClick(program, Qt::LeftButton);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Programming complete."});
  EXPECT_NE(sim("dump", "43", "flash").find("000200: 34 EF 01 F0 C3 FF"), std::string::npos);
  EXPECT_EQ(sim("dump", "41", "flash"), flash41);
  EXPECT_EQ(controller->currentData().toInt(), 43);  // back in its application, still chosen
}

}  // namespace
}  // namespace hx
