// The programmer's window end to end: frmMain with the real libhxboot and a
// running hydrix-sim (message boxes answered by the test).
#include <gtest/gtest.h>

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
  test::RecordingDialogService dialogs;
  flash::SteadyFlashClock clock;
  frmMain window("LANGUE=English ;device=arvel;USBID=41;prg=" + (folder.path() / "fw.hex").string(),
                 {"flashtool", folder.path(), folder.path(), folder.path()}, library, dialogs, clock);
  window.show();
  for (int i = 0; i < 1000 && window.isVisible(); ++i) QTest::qWait(10);
  ASSERT_FALSE(window.isVisible());
  EXPECT_EQ(window.Result(), flash::RunEnd::Completed);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Programming complete."});

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

}  // namespace
}  // namespace hx
