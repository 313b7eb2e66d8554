// The whole run against the simulated boot loader, in-process: what goes to
// the library, what the chip holds afterwards, what the operator sees.
#include <gtest/gtest.h>

#include <algorithm>

#include "flash_test_support.h"
#include "support/recording_dialog_service.h"

using namespace hx::flash;
using namespace hx::flash::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

// An application: GOTO at the reset vector 0x000200, code after it.
Bytes Firmware() {
  Bytes app = {0x40, 0xEF, 0x01, 0xF0};
  for (int i = 0; i < 92; ++i) app.push_back(static_cast<std::uint8_t>(0x10 + i));
  return app;
}

Bytes FlashAt(const FakeBootLibrary& lib, std::uint32_t address, std::size_t n) {
  const auto f = lib.model.Flash();
  return Bytes(f.begin() + address, f.begin() + address + n);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

int Count(const std::vector<std::string>& calls, const std::string& prefix) {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                        [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
}

}  // namespace

class Run : public ::testing::Test {
 protected:
  explicit Run(hx::sim::ChipModel chip = hx::sim::DefaultChip()) : lib(std::move(chip)) {
    // Records of 8 bytes: two records share each 16-byte row.
    folder.Write("fw.hex", MakeHex(0x200, Firmware(), 8));
  }
  RunEnd Start(const std::string& tail) {
    tool = std::make_unique<FlashTool>(
        FlashEnvironment{"flashtool", folder.path(), folder.path(), folder.path()}, lib, ui, dialogs, clock);
    loaded = tool->Form_Load(tail);
    if (!loaded) return RunEnd::Failed;
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
  bool loaded = false;
};

TEST_F(Run, ProgramsTheApplicationAndLeavesTheBootLoader) {
  const Bytes bootBlock = FlashAt(lib, 0, 0x200);
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Completed);

  EXPECT_EQ(ui.statuses, (std::vector<std::string>{
                             "Chargement du fichier en cours ...", "Starting boot loader ...",
                             "Waiting on connection ...", "Programming CONFIG bits ...", "Erasing FLASH ...",
                             "Programming ...", "Verifying ...", "Leaving boot loader"}));
  ASSERT_EQ(dialogs.Texts(), std::vector<std::string>{"Programming complete."});
  EXPECT_EQ(dialogs.messages[0].icon, hx::MsgIcon::Information);

  ASSERT_EQ(lib.rawSent.size(), 1u);
  EXPECT_EQ(lib.rawSent[0], (Bytes{23, 0x55, 0xAA, 0, 0, 0, 0, 0, 0}));
  EXPECT_GE(clock.idled, 1000);  // the wait for the boot loader: one to two seconds
  EXPECT_LE(clock.idled, 2000);

  EXPECT_EQ(lib.model.Config()[2], 0x03);
  EXPECT_EQ(lib.model.Config()[3], 0x0F);
  // Erase: every 64-byte block from 0x200 to 0x7FC0, five retries each.
  ASSERT_EQ(lib.erased.size(), (0x8000u - 0x200u) / 64);
  EXPECT_EQ(lib.erased.front(), 0x200u);
  EXPECT_EQ(lib.erased.back(), 0x7FC0u);
  EXPECT_TRUE(std::all_of(lib.eraseRetries.begin(), lib.eraseRetries.end(), [](int r) { return r == 5; }));

  EXPECT_EQ(FlashAt(lib, 0x200, Firmware().size()), Firmware());
  EXPECT_EQ(FlashAt(lib, 0x200 + Firmware().size(), 4), Bytes(4, 0xFF));
  EXPECT_EQ(FlashAt(lib, 0, 0x200), bootBlock);
  EXPECT_EQ(FlashAt(lib, 0x7FF0, 16), Bytes(16, 0x55));  // the flash marker
  EXPECT_EQ(lib.eeprom[0xFF], 0x00);
  EXPECT_EQ(Count(lib.calls, "WritePIC(5"), 2);  // 0xFF before erasing, 0x00 at the end
  EXPECT_FALSE(lib.inBootLoader);                // back in its application
  EXPECT_EQ(lib.writes.front(), (hx::boot::BootRequest{5, 1, 0xFF, 1, 1, 0}));
  EXPECT_TRUE(tool->ApplicationPresent());
  EXPECT_TRUE(ui.progressVisible);
  EXPECT_EQ(lib.openHandles(), 0);
  EXPECT_EQ(folder.Read("progmem.lst").substr(0, 55),
            "000200 40 EF 01 F0 10 11 12 13 FF FF FF FF FF FF FF FF ");
  // Rows go out as 16-byte writes with the chip's write block, and are read back.
  const auto& w = lib.writes[1];
  EXPECT_EQ(w.Command, 2);
  EXPECT_EQ(w.DataLength, 16);
  EXPECT_EQ(w.Address, 0x200);
  EXPECT_EQ(w.BlockSize, 32);
  EXPECT_EQ(w.BytesPerAddr, 1);
  EXPECT_EQ(Count(lib.calls, "ReadPIC(1,000200,16)"), 1);  // two list rows, one read
  EXPECT_EQ(Count(lib.calls, "ReadPIC(1,"), 1 + 6);        // the ID, then the six rows of 96 bytes
}

TEST_F(Run, NoProgWritesConfigurationAndTheFlagOnly) {
  ASSERT_EQ(Start("noprog;device=arvel;usbid=1"), RunEnd::Completed);
  EXPECT_TRUE(dialogs.fileDialogs.empty());
  EXPECT_TRUE(lib.erased.empty());
  EXPECT_EQ(Count(lib.calls, "WritePIC(2"), 0);
  EXPECT_EQ(lib.model.Config()[2], 0x03);
  EXPECT_EQ(lib.eeprom[0xFF], 0x55);
  EXPECT_FALSE(folder.Exists("progmem.lst"));
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Programming complete."});
}

TEST_F(Run, IdOnlyShowsTheChipAndWritesNoConfiguration) {
  ASSERT_EQ(Start("idonly;usbid=1"), RunEnd::Completed);
  EXPECT_EQ(lib.rawSent[0], (Bytes{23, 0x55, 0xAA, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Count(lib.calls, "SendGetPacket(7"), 0);
  EXPECT_EQ(lib.eeprom[0xFF], 0x55);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text,
            "Device = PIC18F2550 (Code = 92) REV 7\nCNF 1F:1F:85\nCode 146 in decimal, as in DEVICELIST");
  EXPECT_EQ(dialogs.messages[0].icon, hx::MsgIcon::None);
  EXPECT_EQ(tool->Info().eraseblock, 0);  // the chip section is not read
}

TEST_F(Run, BootModeSendsTheCommandUntilTheApplicationIsGone) {
  ASSERT_EQ(Start("boot;device=arvel;usbid=1"), RunEnd::Failed);
  EXPECT_EQ(lib.rawSent.size(), 1u);
  EXPECT_TRUE(lib.inBootLoader);
  EXPECT_EQ(clock.idled, 800);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Cannot connect. Please check the USB cable"});
  EXPECT_TRUE(lib.erased.empty());
  EXPECT_EQ(Count(lib.calls, "OpenPIC(1,0,150)"), 0);
}

TEST_F(Run, BootModeWithoutABootLoaderLoopsUntilTheOperatorStops) {
  lib.acceptsBootCommand = false;
  ui.onEvents = [this] { ui.stop = lib.rawSent.size() >= 3; };
  ASSERT_EQ(Start("boot;usbid=1"), RunEnd::Failed);
  EXPECT_EQ(lib.rawSent.size(), 3u);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Cannot connect. Please check the USB cable"});
}

class RunOn4455 : public Run {
 protected:
  RunOn4455() : Run(*hx::sim::FindChip("PIC18F4455", 2)) {}
};

TEST_F(RunOn4455, AChipOutsideTheProductsTargetIsRefused) {
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text,
            "PIC18F2550 PIC18F2553 PIC18F4550:PIC18F4455 not defined for this hardware" + kLeft);
  EXPECT_EQ(dialogs.messages[0].icon, hx::MsgIcon::None);
  EXPECT_TRUE(lib.erased.empty());
  EXPECT_EQ(Count(lib.calls, "SendGetPacket(7"), 0);
}

TEST_F(Run, AnUnlistedDeviceCodeIsShownInHex) {
  folder.Write("flashtool.INI", Replace(ShippedIni(), "144=PIC18F4550\n", ""));
  lib.deviceIdOverride = 0x1203;  // code 144, revision 3
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{
                                 "Device code 90 Rev 3 not defined!\nCode 144 in decimal, as DEVICELIST in " +
                                 (folder.path() / "flashtool.INI").string() + " lists codes" + kLeft});
}

TEST_F(Run, ADeviceIdOf8000OrMoreIsTakenUnsigned) {
  lib.deviceIdOverride = 0xFFE5;
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  EXPECT_EQ(tool->DeviceCode(), 2047u);
  EXPECT_EQ(
      dialogs.Texts(),
      std::vector<std::string>{"Device code 7FF Rev 5 not defined!\nCode 2047 in decimal, as DEVICELIST in " +
                               (folder.path() / "flashtool.INI").string() + " lists codes" + kLeft});
}

TEST_F(Run, AConfigurationWriteThatFailsTwiceSucceedsAfterTwoReconnects) {
  lib.model.FailConfigWrites(2);
  ASSERT_EQ(Start("noprog;device=arvel;usbid=1"), RunEnd::Completed);
  EXPECT_EQ(Count(lib.calls, "SendGetPacket(7,300002"), 3);
  EXPECT_EQ(Count(lib.calls, "OpenPIC(1,0,150)"), 3);  // identification and two reconnects
  EXPECT_GE(clock.idled, 1000 + 2 * 1000);
  EXPECT_EQ(lib.model.Config()[2], 0x03);
  EXPECT_EQ(lib.model.Config()[3], 0x0F);
}

TEST_F(Run, ConfigurationFailuresAfterThreeReconnectsStopBeforeErasing) {
  lib.model.FailConfigWrites(100);
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  // The first byte is tried four times; the second, with no reconnect left, once.
  EXPECT_EQ(Count(lib.calls, "SendGetPacket(7,300002"), 4);
  EXPECT_EQ(Count(lib.calls, "SendGetPacket(7,300003"), 1);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Error programming CONFIG bits, code 0/0" + kLeft});
  EXPECT_TRUE(lib.erased.empty());
  EXPECT_EQ(Count(lib.calls, "WritePIC"), 0);
  EXPECT_TRUE(lib.inBootLoader);  // flash untouched; the next run finds its boot loader
}

class RunOn2455 : public Run {
 protected:
  RunOn2455() : Run(*hx::sim::FindChip("PIC18F2455", 1)) {
    lib.expectedCommandLength = 17, lib.expectedCommandValue = 31;
  }
};

TEST_F(RunOn2455, DunixStopsAtItsFirstFailedByteWithCodeAndStage) {
  lib.model.FailConfigWrites(100);
  ASSERT_EQ(Start("device=dunix;usbid=1;prg=fw.hex"), RunEnd::Failed);
  EXPECT_EQ(Count(lib.calls, "SendGetPacket(7,300003"), 0);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Error programming CONFIG bits, code -4/1" + kLeft});
}

TEST_F(RunOn2455, DunixProgramsAndMarksTheTopOf24KB) {
  folder.Write("fw.hex", MakeHex(0x200, Firmware()));
  lib.model.FailConfigWrites(0);
  ASSERT_EQ(Start("device=dunix;usbid=1;prg=fw.hex"), RunEnd::Completed);
  EXPECT_EQ(lib.model.Config()[2], 0x1F);
  EXPECT_EQ(FlashAt(lib, 0x5FF0, 16), Bytes(16, 0x55));  // marker at the top of 24 KB
}

TEST_F(Run, AnEraseFailureStopsTheRun) {
  lib.model.FailEraseAt(0x1000);
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(),
            std::vector<std::string>{
                "Erreur effacement\nErase failed at address 001000 (erasing 000200-007FFF)" + kLeft});
  EXPECT_EQ(lib.erased.back(), 0x1000u);
  EXPECT_EQ(Count(lib.calls, "WritePIC"), 1);  // only the boot flag 0xFF before erasing
  EXPECT_TRUE(lib.inBootLoader);               // where the next run finds it
}

TEST_F(Run, AWriteFailureStopsTheRun) {
  lib.model.FailWriteAt(0x210);
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{
                                 "Write error!\nWriting failed at address 000210 after 32 bytes" + kLeft});
  EXPECT_EQ(Count(lib.calls, "WritePIC(5"), 1);  // 0xFF before erasing, nothing after
  EXPECT_EQ(lib.eeprom[0xFF], 0xFF);
}

TEST_F(Run, FirmwareWithoutAResetVectorLeavesFlashEmpty) {
  folder.Write("fw.hex", MakeHex(0x400, {1, 2, 3, 4}));
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Completed);
  EXPECT_EQ(ui.statuses.back(), "FLASH empty or corrupt");
  EXPECT_EQ(lib.eeprom[0xFF], 0xFF);
  EXPECT_FALSE(tool->ApplicationPresent());
  EXPECT_EQ(FlashAt(lib, 0x7FF0, 16), Bytes(16, 0xFF));  // no marker
  // A failure, never "Programming complete." (run_report_test.cpp).
  EXPECT_EQ(dialogs.messages.at(0).icon, hx::MsgIcon::Critical);
}

TEST_F(Run, AFailedReadOfTheApplicationCheckFailsTheRunAndLeavesTheFlag) {
  lib.readByteResultAt201 = -3;
  ASSERT_EQ(Start("noprog;device=arvel;usbid=1"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Communication error" + kLeft});
  EXPECT_EQ(lib.eeprom[0xFF], 0x00);
  EXPECT_EQ(Count(lib.calls, "WritePIC(5"), 0);
  EXPECT_TRUE(lib.inBootLoader);  // no flag written: the next run finds its boot loader
}

TEST_F(Run, AChipSectionWithEraseBlockZeroIsRefusedBeforeErasing) {
  std::string ini = ShippedIni();
  const auto at = ini.find("[PIC18F2550]");
  ini.replace(ini.find("eraseblock=64", at), 13, "eraseblock=0");
  folder.Write("flashtool.INI", ini);
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].text.find("eraseblock"), std::string::npos);
  EXPECT_TRUE(lib.erased.empty());
  EXPECT_EQ(Count(lib.calls, "SendGetPacket(7"), 0);
}

TEST_F(Run, TwoBytesPerAddressHalveTheDeviceAddress) {
  std::string ini = ShippedIni();
  const auto at = ini.find("[PIC18F2550]");
  ini.replace(ini.find("bytesperaddr=1", at), 14, "bytesperaddr=2");
  folder.Write("flashtool.INI", ini);
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Completed);
  EXPECT_EQ(lib.writes[1].Address, 0x100);
  EXPECT_EQ(lib.writes[1].BytesPerAddr, 2);
  EXPECT_EQ(Count(lib.calls, "ReadPIC(1,000100,16)"), 1);
  EXPECT_EQ(FlashAt(lib, 0x200, Firmware().size()), Firmware());
}

TEST_F(Run, MervoGetsItsThreeBytesButNoMarker) {
  FakeBootLibrary mervo(*hx::sim::FindChip("PIC18F4550", 4));
  mervo.expectedCommandLength = 5;
  mervo.expectedCommandValue = 90;
  FlashTool t(FlashEnvironment{"flashtool", folder.path(), folder.path(), folder.path()}, mervo, ui, dialogs,
              clock);
  ASSERT_TRUE(t.Form_Load("device=mervo;usbid=1;prg=fw.hex"));
  ASSERT_EQ(t.Form_Activate(), RunEnd::Completed);
  EXPECT_EQ(mervo.rawSent[0], (Bytes{90, 0x55, 0xAA, 0, 0}));
  EXPECT_EQ(mervo.model.Config()[2], 0x1F);
  EXPECT_EQ(mervo.model.Config()[3], 0x0F);
  EXPECT_EQ(mervo.model.Config()[5], 0x83);
  EXPECT_EQ(FlashAt(mervo, 0x7FF0, 16), Bytes(16, 0xFF));
  EXPECT_EQ(mervo.eeprom[0xFF], 0x00);
}

TEST_F(Run, WithoutAProductTheOperatorConfirmsTheChip) {
  lib.inBootLoader = true;  // already in its boot loader: no boot command
  ASSERT_EQ(Start("usbid=1;prg=fw.hex"), RunEnd::Failed);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Continue with PIC18F2550?");
  EXPECT_EQ(dialogs.messages[0].buttons, hx::MsgButtons::YesNo);
  EXPECT_EQ(dialogs.messages[0].icon, hx::MsgIcon::Question);
  EXPECT_TRUE(lib.rawSent.empty());

  dialogs.messages.clear();
  dialogs.answers = {hx::MsgAnswer::Yes};
  ASSERT_EQ(Start("usbid=1;prg=fw.hex"), RunEnd::Completed);
  EXPECT_EQ(FlashAt(lib, 0x200, 4), (Bytes{0x40, 0xEF, 0x01, 0xF0}));
  EXPECT_EQ(lib.model.Config()[2], 0x1F);  // no product: no configuration byte
}

TEST_F(Run, HexFileProblemsStopBeforeAnythingIsChanged) {
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=missing.hex"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(),
            std::vector<std::string>{"Error loading file: missing.hex\nNo such file or directory"});
  folder.Write("end.hex", ":00000001FF\n");
  dialogs.messages.clear();
  lib.inBootLoader = false;
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=end.hex"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(),
            std::vector<std::string>{"Error loading file: end.hex\nThe file holds no program memory data"});
  EXPECT_TRUE(lib.erased.empty());
  EXPECT_EQ(Count(lib.calls, "SendGetPacket(7"), 0);
}

TEST_F(Run, WithoutAHexPathTheFileDialogAsks) {
  ASSERT_EQ(Start("device=arvel;usbid=1"), RunEnd::Failed);
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].title, "Open HEX File");
  EXPECT_EQ(dialogs.fileDialogs[0].filter, "INHEX32 Files (*.HEX)|*.HEX|All Files (*.*)|*.*");
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(lib.calls.empty());

  dialogs.files = {(folder.path() / "fw.hex").string()};
  ASSERT_EQ(Start("device=arvel;usbid=1"), RunEnd::Completed);
  EXPECT_EQ(FlashAt(lib, 0x200, 4), (Bytes{0x40, 0xEF, 0x01, 0xF0}));
}

TEST_F(Run, SpyShowsTheBytesTheApplicationSends) {
  lib.rawIncoming = {{0x01, 0xAB}, {0xFF}};
  ui.onEvents = [this] { ui.stop = ui.raw.size() >= 2; };
  ASSERT_EQ(Start("spy;usbid=1"), RunEnd::Failed);
  EXPECT_EQ(ui.raw, (std::vector<std::string>{"01AB", "FF"}));
  EXPECT_EQ(lib.openHandles(), 0);
}

TEST_F(Run, ConnectionFailuresEachGiveTheirMessage) {
  ASSERT_EQ(Start("device=arvel;usbid=5;prg=fw.hex"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Cannot connect. Please check the USB cable"});

  lib.inBootLoader = true;
  dialogs.messages.clear();
  ASSERT_EQ(Start("usbid=5;prg=fw.hex"), RunEnd::Failed);
  // Without a product no boot command is sent; the boot loader never answered.
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"USB connection impossible"});

  // The library's reason goes under the message: the operator learns what to do.
  lib.problem = "No permission to open the controller 04d8:000b at /dev/bus/usb/001/004. Install ...";
  dialogs.messages.clear();
  ASSERT_EQ(Start("usbid=5;prg=fw.hex"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"USB connection impossible\n" + lib.problem});
  lib.problem.clear();

  dialogs.messages.clear();
  lib.failDeviceIdRead = true;
  ASSERT_EQ(Start("usbid=1;prg=fw.hex"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Communication error" + kLeft});
  EXPECT_EQ(dialogs.messages[0].icon, hx::MsgIcon::Critical);
}

TEST_F(Run, AMissingLibraryGivesOneClearMessage) {
  lib.ready = false;
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text,
            "Boot-loader library not available: libhxboot.so cannot be loaded: not found");
}
