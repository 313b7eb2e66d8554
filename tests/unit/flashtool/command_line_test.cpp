// The parameter file reader, GetToken, the command line parser and Form_Load.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "flash_test_support.h"
#include "support/recording_dialog_service.h"

using namespace hx::flash;
using namespace hx::flash::test;

TEST(ParameterFile, SectionsAndKeysIgnoreCaseAndMissingGivesEmpty) {
  ParameterFile ini;
  ini.Parse("; comment\n[Arvel]\r\nTarget = PIC18F2550 \r\nquoted=\"a b\"\n[arvel]\ntarget=second\n");
  EXPECT_EQ(ini.ReadIni("ARVEL", "TARGET"), "PIC18F2550");
  EXPECT_EQ(ini.ReadIni("arvel", "target"), "PIC18F2550");
  EXPECT_EQ(ini.ReadIni("ARVEL", "quoted"), "a b");
  EXPECT_EQ(ini.ReadIni("ARVEL", "CMDLEN"), "");
  EXPECT_EQ(ini.ReadIni("NOPE", "TARGET"), "");
}

TEST(ParameterFile, ValuesAreCutAt49Characters) {
  ParameterFile ini;
  const std::string sixty(60, 'x');
  ini.Parse("[S]\nk=" + sixty + "\n");
  EXPECT_EQ(ini.ReadIni("S", "k"), std::string(49, 'x'));
}

TEST(GetToken, SplitsAtTheFirstDelimiterAndTrimsOnlyTheRest) {
  std::string s = "  device=arvel ; usbid=1  ";
  EXPECT_EQ(GetToken(s, ";"), "device=arvel ");
  EXPECT_EQ(s, " usbid=1");
  EXPECT_EQ(GetToken(s, ";"), "usbid=1");
  EXPECT_EQ(s, "");
  EXPECT_EQ(GetToken(s, ";"), "");
  std::string blank = "   ";
  EXPECT_EQ(GetToken(blank, "="), "");
  EXPECT_EQ(blank, "");
}

// The command tail alone: each row is a tail and what it parses to, or its error.
TEST(ParseCommandLine, ReadsEveryAcceptedFormAndReportsAMissingUsbId) {
  struct Row {
    std::string tail;
    std::int32_t usbId;
    std::string device, hexPath, flags, error;
  };
  const std::string noId = "USB device ID not supplied";
  const Row rows[] = {
      {"device=arvel;usbid=1;prg=/fw/a.hex", 1, "ARVEL", "/fw/a.hex", "", ""},
      {" DEVICE = ARVEL ; USBID=1 ; PRG = /fw/a.hex", 1, "ARVEL", "/fw/a.hex", "", ""},
      {"LANGUE=English ;device=arvel;USBID=2;prg=x.hex", 2, "ARVEL", "x.hex", "", ""},
      {"idonly;usbid=1", 1, "", "", "noprog idonly", ""},
      {"device=mervo;usbid=1", 1, "MERVO", "", "old_mode", ""},
      {"device=dunix;usbid=1;boot;spy", 1, "DUNIX", "", "noprog boot spy", ""},
      {"noverify;OLD_MODE;noprog=;usbid= 7 ", 7, "", "", "noprog old_mode noverify", ""},
      {"device=arvel;usbid=1;prg=/home/op/My Firmware/v2.hex", 1, "ARVEL", "/home/op/My Firmware/v2.hex", "",
       ""},
      {"device=arvel;usbid=1;prg=/fw/a;b.hex", 1, "ARVEL", "/fw/a", "", ""},
      {"usbid=1;;idonly;idonly;", 1, "", "", "noprog idonly", ""},
      // What could mean two things is refused, naming the option.
      {"usbid=1;USBID = 3;idonly", 1, "", "", "", "usbid is given twice (usbid=1;USBID = 3): give it once"},
      {"device=arvel;usbid=1;device=dunix", 1, "ARVEL", "", "",
       "device is given twice (device=arvel;device=dunix): give it once"},
      {"noprog=0;usbid=1", -1, "", "", "",
       "noprog takes no value (noprog=0): give noprog alone, or leave it out"},
      {"usbid=1;noverify=\x1b[2J", 1, "", "", "",
       "noverify takes no value (noverify=\\x1B[2J): give noverify alone, or leave it out"},
      {"device=arvel;usbid=0", -1, "ARVEL", "", "", "usbid=0 names no controller (0 and -1 never do)"},
      {"usbid=2.5", 2, "", "", "", ""},
      {"usbid=abc;device=arvel", -1, "ARVEL", "", "", noId},
      {"usbid=-1", -1, "", "", "", "usbid=-1 names no controller (0 and -1 never do)"},
      {"   ", -1, "", "", "", noId},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.tail);
    const ParsedCommandLine parsed = ParseCommandLine(row.tail);
    const CommandLine& c = parsed.command;
    std::string flags;
    for (const auto& [on, name] : {std::pair{c.noprog, "noprog"},
                                   {c.idonly, "idonly"},
                                   {c.boot, "boot"},
                                   {c.spy, "spy"},
                                   {c.old_mode, "old_mode"},
                                   {c.noverify, "noverify"}}) {
      if (on) flags += (flags.empty() ? "" : " ") + std::string(name);
    }
    EXPECT_EQ(c.UsbID, row.usbId);
    EXPECT_EQ(c.device, row.device);
    EXPECT_EQ(c.hexPath, row.hexPath);
    EXPECT_EQ(flags, row.flags);
    EXPECT_EQ(parsed.error, row.error);
    EXPECT_EQ(parsed.usage, row.tail == "   ");
    EXPECT_EQ(parsed.deviceNamed, !row.device.empty());
  }
}

class FormLoad : public ::testing::Test {
 protected:
  bool Load(const std::string& tail) {
    tool = std::make_unique<FlashTool>(
        FlashEnvironment{"flashtool", folder.path(), folder.path(), folder.path()}, lib, ui, dialogs, clock);
    return tool->Form_Load(tail);
  }
  TempFolder folder;
  FakeBootLibrary lib;
  RecordingUi ui;
  hx::test::RecordingDialogService dialogs;
  FakeClock clock;
  std::unique_ptr<FlashTool> tool;
};

TEST_F(FormLoad, SpacingAndCaseOfOptionsDoNotMatter) {
  ASSERT_TRUE(Load("device=arvel;usbid=1;prg=/fw/a.hex"));
  const CommandLine a = tool->Options();
  ASSERT_TRUE(Load(" DEVICE = ARVEL ; USBID=1 ; PRG = /fw/a.hex"));
  const CommandLine& b = tool->Options();
  EXPECT_EQ(a.device, "ARVEL");
  EXPECT_EQ(b.device, "ARVEL");
  EXPECT_EQ(a.hexPath, "/fw/a.hex");  // the path keeps its case
  EXPECT_EQ(b.hexPath, "/fw/a.hex");
  EXPECT_EQ(a.UsbID, 1);
  EXPECT_EQ(b.UsbID, 1);
  EXPECT_EQ(b.target, "PIC18F2550 PIC18F2553 PIC18F4550");
  EXPECT_EQ(b.cmdLen, 9);
  EXPECT_EQ(b.cmdVal, 23);
  EXPECT_EQ(b.config, "HS-PLL 48MHz");
  EXPECT_EQ(tool->Settings().progmem, "progmem.lst");
  EXPECT_EQ(tool->Settings().config, "config.lst");
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(ui.printed.empty());
}

TEST_F(FormLoad, TheTailOfTheManagementProgramIgnoresLangue) {
  ASSERT_TRUE(Load("LANGUE=English ;device=arvel;USBID=2;prg=x.hex"));
  EXPECT_EQ(tool->Options().device, "ARVEL");
  EXPECT_EQ(tool->Options().UsbID, 2);
  EXPECT_EQ(tool->Options().hexPath, "x.hex");
}

TEST_F(FormLoad, MissingOrNonNumericUsbIdEndsTheProgram) {
  EXPECT_FALSE(Load("usbid=abc;device=arvel"));
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"USB device ID not supplied"});
  EXPECT_EQ(dialogs.messages[0].icon, hx::MsgIcon::Critical);
  EXPECT_EQ(dialogs.messages[0].title, "flashtool");
}

TEST_F(FormLoad, EmptyTailPrintsTheUsageThenAsksForTheUsbId) {
  EXPECT_FALSE(Load(""));
  ASSERT_EQ(ui.printed.size(), 14u);
  EXPECT_EQ(ui.printed[13], "    flashtool --choose   choose the controller, product and file in the window");
  EXPECT_EQ(ui.printed[0], "Command line parameters: <opt1>;<opt2>;<opt3> ...");
  EXPECT_EQ(ui.printed[6], "    boot                 Loop trying to force bootload");
  EXPECT_EQ(ui.printed[7], "    noverify             Do not read back what was programmed");
  EXPECT_EQ(ui.printed[8], "");
  EXPECT_EQ(ui.printed[11], "    <cxn> USB connection to use (typically 1)");
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"USB device ID not supplied"});
}

TEST_F(FormLoad, IdOnlyWithoutProductUsesTheDefaultBootCommand) {
  ASSERT_TRUE(Load("idonly;usbid=1"));
  EXPECT_TRUE(tool->Options().idonly);
  EXPECT_TRUE(tool->Options().noprog);
  EXPECT_EQ(tool->Options().cmdLen, 9);
  EXPECT_EQ(tool->Options().cmdVal, 23);
  EXPECT_EQ(tool->Options().target, "");
}

TEST_F(FormLoad, PaxterTakesTargetFromArvelAndTheRestFromItsOwnSection) {
  ASSERT_TRUE(Load("device=paxter;usbid=1"));
  EXPECT_EQ(tool->Options().target, "PIC18F2550 PIC18F2553 PIC18F4550");
  EXPECT_EQ(tool->Options().config, "HS-PLL 48MHz, no PLL divider");
}

TEST_F(FormLoad, MervoForcesOldModeAndDunixReadsItsBootCommand) {
  ASSERT_TRUE(Load("device=mervo;usbid=1"));
  EXPECT_TRUE(tool->Options().old_mode);
  EXPECT_EQ(tool->Options().cmdLen, 5);
  EXPECT_EQ(tool->Options().cmdVal, 90);
  ASSERT_TRUE(Load("device=dunix;usbid=1;boot;spy"));
  EXPECT_FALSE(tool->Options().old_mode);
  EXPECT_TRUE(tool->Options().boot);
  EXPECT_TRUE(tool->Options().noprog);
  EXPECT_TRUE(tool->Options().spy);
  EXPECT_EQ(tool->Options().cmdLen, 17);
}

TEST_F(FormLoad, ProductWithoutSectionOrTargetIsNotFound) {
  folder.Write("flashtool.INI", "[PIC18FBOOT]\nprogmem=p.lst\n[ARVEL]\nCMDLEN=9\nCMDVAL=23\n");
  EXPECT_FALSE(Load("device=arvel;usbid=1"));
  EXPECT_EQ(dialogs.Texts(),
            std::vector<std::string>{"Device ARVEL not found in PROGRAMMER.INI\nParameter file: " +
                                     (folder.path() / "flashtool.INI").string() + "\nProducts: none"});
}

TEST_F(FormLoad, MissingOrNonNumericBootCommandIsNotFound) {
  for (const std::string section :
       {"[ARVEL]\nTARGET=PIC18F2550\nCMDVAL=23\n", "[ARVEL]\nTARGET=PIC18F2550\nCMDLEN=nine\nCMDVAL=23\n",
        "[ARVEL]\nTARGET=PIC18F2550\nCMDLEN=9\nCMDVAL=\n",
        "[ARVEL]\nTARGET=PIC18F2550\nCMDLEN=52\nCMDVAL=23\n"}) {
    dialogs.messages.clear();
    folder.Write("flashtool.INI", section);
    EXPECT_FALSE(Load("device=arvel;usbid=1")) << section;
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text.rfind("Device ARVEL not found in PROGRAMMER.INI\n", 0), 0u) << section;
    EXPECT_TRUE(dialogs.messages[0].text.ends_with("\nProducts: none")) << section;
  }
  // The value is the boot command's first byte: one that does not fit is named, never cut.
  dialogs.messages.clear();
  folder.Write("flashtool.INI", "[ARVEL]\nTARGET=PIC18F2550\nCMDLEN=9\nCMDVAL=279\n");
  EXPECT_FALSE(Load("device=arvel;usbid=1"));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(
      dialogs.messages[0].text.rfind(
          "Device ARVEL not found in PROGRAMMER.INI\n[ARVEL] CMDVAL=279 is not a number from 0 to 255\n", 0),
      0u)
      << dialogs.messages[0].text;
}

TEST_F(FormLoad, MissingParameterFileEndsTheProgram) {
  const auto ini = folder.path() / "flashtool.INI";
  std::filesystem::remove(ini);
  EXPECT_FALSE(Load("device=arvel;usbid=1"));
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Parameter file flashtool.INI missing"});

  // One that is there but refused (never waited on) says why.
  ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
  dialogs.messages.clear();
  EXPECT_FALSE(Load("device=arvel;usbid=1"));
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Parameter file flashtool.INI missing\n" +
                                                      ini.string() + ": it is a FIFO, not a regular file"});
  EXPECT_TRUE(std::filesystem::is_fifo(ini));
}

TEST_F(FormLoad, PathsKeepSpacesAndAreCutAtSemicolons) {
  ASSERT_TRUE(Load("device=arvel;usbid=1;prg=/home/op/My Firmware/v2.hex"));
  EXPECT_EQ(tool->Options().hexPath, "/home/op/My Firmware/v2.hex");
  ASSERT_TRUE(Load("device=arvel;usbid=1;prg=/fw/a;b.hex"));
  EXPECT_EQ(tool->Options().hexPath, "/fw/a");
}

TEST_F(FormLoad, ARefusedOptionIsNamedBeforeTheUsageAndFlagsAreClearedOnEveryLoad) {
  EXPECT_FALSE(Load("usbid=1;usbid=3;idonly"));
  EXPECT_EQ(dialogs.Texts(),
            std::vector<std::string>{"usbid is given twice (usbid=1;usbid=3): give it once"});
  EXPECT_EQ(ui.printed, UsageLines());
  ASSERT_TRUE(Load("usbid=3;idonly"));
  EXPECT_EQ(tool->Options().UsbID, 3);
  ASSERT_TRUE(Load("usbid=1"));
  EXPECT_FALSE(tool->Options().idonly);
  EXPECT_FALSE(tool->Options().noprog);
}
