// What the operator learns from a run: the log of its steps with their
// figures, the reason inside every failure's message, the sentence about a
// controller left in its boot loader, Cancel before and after the boot
// command, and the transient files (list files, run locks).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>

#include "common/paths.h"
#include "flash_test_support.h"
#include "flashtool/batch.h"
#include "support/recording_dialog_service.h"

using namespace hx::flash;
using namespace hx::flash::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

// An application of `n` bytes at 0x000200: its reset GOTO, then code.
Bytes Firmware(std::size_t n) {
  Bytes app = {0x40, 0xEF, 0x01, 0xF0};
  while (app.size() < n) app.push_back(static_cast<std::uint8_t>(app.size()));
  return app;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

class Report : public ::testing::Test {
 protected:
  Report() { folder.Write("fw.hex", MakeHex(0x200, Firmware(320))); }
  RunEnd Start(const std::string& tail) {
    ui.logs.clear();
    ui.statuses.clear();
    dialogs.messages.clear();
    tool = std::make_unique<FlashTool>(
        FlashEnvironment{"flashtool", folder.path(), folder.path(), folder.path()}, lib, ui, dialogs, clock);
    if (!tool->Form_Load(tail)) return RunEnd::Failed;
    const RunEnd end = tool->Form_Activate();
    tool->Form_Unload();
    return end;
  }
  TempFolder folder;
  FakeBootLibrary lib;
  RecordingUi ui;
  hx::test::RecordingDialogService dialogs;
  FakeClock clock;
  std::unique_ptr<FlashTool> tool;
};

TEST_F(Report, ARunLogsEveryStepWithItsFiguresAndTheImageCrc) {
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Completed);
  const auto size = std::filesystem::file_size(folder.path() / "fw.hex");
  const auto& log = ui.logs;
  const int word = lib.model.Chip().deviceId;
  EXPECT_EQ(log.at(0), "File fw.hex checked: " + std::to_string(size) +
                           " bytes, 20 program rows, program memory 000200-00033F");
  EXPECT_EQ(log.at(1), "Boot command sent (9 bytes, value 23)");
  EXPECT_EQ(log.at(2), "Chip PIC18F2550 identified: code 92 hex, 146 in DEVICELIST, revision " +
                           std::to_string(word % 32));
  EXPECT_EQ(log.at(3), "Configuration written: 300002=03 300003=0F");
  EXPECT_EQ(log.at(4), "Erased 000200-007FFF");
  // One line per tenth: 20 rows of 16 bytes.
  EXPECT_EQ(log.at(5), "Programming: 10 % (32 of 320 bytes)");
  EXPECT_EQ(log.at(14), "Programming: 100 % (320 of 320 bytes)");
  EXPECT_EQ(log.at(15), "Verified 320 bytes: all equal");
  EXPECT_EQ(log.at(16), "Application check: application present (EF at 000201)");
  EXPECT_EQ(log.at(17), "Boot flag 00 written at EEPROM address FF");
  // The CRC-32 of the image as programmed (the rows, in address order).
  const Bytes image(lib.model.Flash().begin() + 0x200, lib.model.Flash().begin() + 0x340);
  EXPECT_EQ(log.at(18), "Written 320 bytes, verified 320 bytes, CRC-32 " + HexPad(Crc32(image), 8) +
                            " of the programmed image");
  const std::string check = "123456789";
  EXPECT_EQ(Crc32({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}), 0xCBF43926u);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Programming complete."});
}

TEST_F(Report, BatchLinesAreEnglishWithProgressAndEndWithTheTotals) {
  std::ostringstream out, err;
  ASSERT_EQ(RunBatch("device=arvel;usbid=1;prg=fw.hex",
                     {"flashtool", folder.path(), folder.path(), folder.path()}, lib, clock, out, err, false),
            kExitCompleted);
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("File fw.hex checked: ", 0), 0u) << text;
  EXPECT_EQ(text.find("Chargement"), std::string::npos);
  EXPECT_NE(text.find("\nProgramming: 50 % (160 of 320 bytes)\n"), std::string::npos);
  const auto written = text.find("\nWritten 320 bytes, verified 320 bytes, CRC-32 ");
  const auto complete = text.find("\nProgramming complete.\nResult: completed (exit 0)\n");
  ASSERT_NE(written, std::string::npos);
  EXPECT_LT(written, complete);
}

// Programming that leaves no application is a failure: "Programming
// complete." never follows it, in the window or in batch mode.
TEST_F(Report, NoApplicationAfterProgrammingIsNeverCalledComplete) {
  folder.Write("data.hex", MakeHex(0x400, {1, 2}));
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=data.hex"), RunEnd::Completed);
  EXPECT_EQ(dialogs.Texts(),
            std::vector<std::string>{
                "FLASH empty or corrupt: the controller holds no application after programming." + kLeft});
  EXPECT_EQ(dialogs.messages[0].icon, hx::MsgIcon::Critical);
  EXPECT_EQ(lib.eeprom[0xFF], 0xFF);

  std::ostringstream out, err;
  EXPECT_EQ(RunBatch("device=arvel;usbid=1;prg=data.hex",
                     {"flashtool", folder.path(), folder.path(), folder.path()}, lib, clock, out, err, false),
            kExitFlashEmpty);
  EXPECT_EQ(out.str().find("Programming complete."), std::string::npos) << out.str();
}

TEST_F(Report, FailureMessagesSayWhyAndWhereTheControllerWasLeft) {
  // A file with an address the chip does not have: refused before the boot command.
  folder.Write("far.hex",
               HexRecord(0x04, 0, {0x00, 0x01}) + "\n" + HexRecord(0x00, 0xF000, {1, 2}) + "\n:00000001FF\n");
  EXPECT_EQ(Start("device=arvel;usbid=1;prg=far.hex"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(),
            std::vector<std::string>{"Error loading file: far.hex\nLine 2: address 01F000 is "
                                     "outside the memory to program"});
  EXPECT_TRUE(lib.rawSent.empty());

  // The link cut during the erase: the stage, the address and the way back.
  lib.model.CutAt(40);
  EXPECT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text.rfind("Erreur effacement\nErase failed at address 0", 0), 0u)
      << dialogs.messages[0].text;
  EXPECT_NE(dialogs.messages[0].text.find(" (erasing 000200-007FFF)" + kLeft), std::string::npos);
  EXPECT_TRUE(lib.inBootLoader);

  // The next run finds it there and finishes it.
  lib.model.CutAt(std::nullopt);
  EXPECT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Completed);
  EXPECT_TRUE(
      Has(ui.logs, "Controller found in its boot loader (an update was interrupted): this run finishes it"));
  EXPECT_FALSE(lib.inBootLoader);
}

TEST_F(Report, AnUnknownProductListsTheFileAndItsProducts) {
  EXPECT_EQ(Start("device=foo;usbid=1"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(),
            std::vector<std::string>{"Device FOO not found in PROGRAMMER.INI\nParameter file: " +
                                     (folder.path() / "flashtool.INI").string() +
                                     "\nProducts: ARVEL PAXTER ARVEL5-12 ARVEL12-24 MERVO HOSPER DUNIX"});
}

TEST_F(Report, ChipCodesAreShownInHexAndInTheDecimalOfTheParameterFile) {
  ASSERT_EQ(Start("idonly;usbid=1"), RunEnd::Completed);
  const std::string& text = dialogs.messages.at(0).text;
  EXPECT_EQ(text.rfind("Device = PIC18F2550 (Code = 92) REV ", 0), 0u) << text;
  EXPECT_NE(text.find("\nCode 146 in decimal, as in DEVICELIST"), std::string::npos) << text;

  lib.deviceIdOverride = 144 * 32 + 0;  // listed nowhere once DEVICELIST lacks it
  folder.Write("flashtool.INI", ShippedIni().replace(ShippedIni().find("144=PIC18F4550"), 14, ""));
  EXPECT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  EXPECT_EQ(dialogs.messages.at(0).text.rfind("Device code 90 Rev 0 not defined!\nCode 144 in decimal", 0),
            0u)
      << dialogs.messages.at(0).text;
}

TEST_F(Report, CancelBeforeTheBootCommandSendsNothing) {
  ui.stop = true;
  lib.calls.clear();
  EXPECT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  EXPECT_TRUE(tool->WasCancelled());
  EXPECT_TRUE(lib.calls.empty());
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(ui.logs.back(), "Cancelled: nothing was sent to the controller");
  EXPECT_FALSE(lib.inBootLoader);
}

TEST_F(Report, CancelAfterTheBootCommandAsksAndLeavesTheBootLoaderInCharge) {
  // Cancel pressed once the erase has started.
  bool pressed = false;
  ui.onStopAsked = [&] {
    if (!pressed && !ui.statuses.empty() && ui.statuses.back() == "Erasing FLASH ...") {
      pressed = true;
      ui.stop = true;
    }
  };
  // Declined: the run goes on to its end.
  dialogs.answers = {hx::MsgAnswer::No};
  EXPECT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Completed);
  EXPECT_EQ(dialogs.messages.at(0).buttons, hx::MsgButtons::YesNo);
  EXPECT_EQ(dialogs.Texts().back(), "Programming complete.");

  // Confirmed: the controller stays in its boot loader, with its boot flag at 0xFF.
  pressed = false;
  dialogs.answers = {hx::MsgAnswer::Yes};
  EXPECT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text, "Update cancelled.\n" + kLeft.substr(2));
  EXPECT_TRUE(tool->WasCancelled());
  EXPECT_TRUE(lib.inBootLoader);
  EXPECT_EQ(lib.eeprom[0xFF], 0xFF);

  // The next run finishes it.
  pressed = true;
  ui.stop = false;
  EXPECT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Completed);
  EXPECT_FALSE(lib.inBootLoader);
  EXPECT_EQ(lib.eeprom[0xFF], 0x00);
}

TEST_F(Report, TheRunLockIsRemovedWhenTheRunEnds) {
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Completed);
  EXPECT_FALSE(folder.Exists("flashtool-1.lock"));
}

TEST(TransientFolder, IsTheRuntimeFolderElseTheStateFolderMadePrivate) {
  TempFolder runtime, state;
  auto env = [&](bool withRuntime) {
    return [&, withRuntime](const char* name) -> const char* {
      const std::string n = name;
      if (n == "XDG_RUNTIME_DIR") return withRuntime ? runtime.path().c_str() : "relative/ignored";
      if (n == "XDG_STATE_HOME") return state.path().c_str();
      return nullptr;
    };
  };
  EXPECT_EQ(hx::TransientFolder(nullptr, env(true)), runtime.path() / "hydrix");
  EXPECT_EQ(hx::TransientFolder(nullptr, env(false)), state.path() / "hydrix");
  struct stat st {};
  ASSERT_EQ(::stat((state.path() / "hydrix").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A name that is not a folder is refused, with the reason.
  std::filesystem::remove(runtime.path() / "hydrix");
  runtime.Write("hydrix", "not a folder");
  std::string why;
  EXPECT_TRUE(hx::TransientFolder(&why, env(true)).empty());
  EXPECT_NE(why.find("is not a folder"), std::string::npos);
  EXPECT_TRUE(hx::TransientFolder(&why, [](const char*) -> const char* { return nullptr; }).empty());
}
