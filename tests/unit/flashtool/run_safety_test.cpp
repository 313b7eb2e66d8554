// A run never leaves a controller worse than it was found and never calls a
// bad run a success: what is refused before the boot command, read-back
// verify, checked flag and marker writes, a controller found in its boot
// loader, one run per controller, and a link lost at every request of a run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "flash_test_support.h"
#include "flashtool/batch.h"
#include "support/recording_dialog_service.h"

using namespace hx::flash;
using namespace hx::flash::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Firmware(std::uint8_t seed = 0x10) {
  Bytes app = {0x40, 0xEF, 0x01, 0xF0};
  for (int i = 0; i < 60; ++i) app.push_back(static_cast<std::uint8_t>(seed + i));
  return app;
}

Bytes Flash(const FakeBootLibrary& lib) { return Bytes(lib.model.Flash().begin(), lib.model.Flash().end()); }

int Count(const std::vector<std::string>& calls, const std::string& prefix) {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                        [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
}

int BootLoaderRequests(const FakeBootLibrary& lib) {
  return Count(lib.calls, "SendGetPacket") + Count(lib.calls, "ReadPIC") + Count(lib.calls, "WritePIC");
}

std::string Replace(std::string text, const std::string& from, const std::string& to, std::size_t after = 0) {
  const auto at = text.find(from, after);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

}  // namespace

class Safety : public ::testing::Test {
 protected:
  Safety() {
    folder.Write("fw.hex", MakeHex(0x200, Firmware(0x10), 8));
    folder.Write("new.hex", MakeHex(0x200, Firmware(0x60), 8));
  }
  RunEnd Start(const std::string& tail, FakeBootLibrary& on) {
    ui = RecordingUi{};
    dialogs.messages.clear();
    FlashTool tool(FlashEnvironment{"flashtool", folder.path(), listFolder, folder.path()}, on, ui, dialogs,
                   clock);
    if (!tool.Form_Load(tail)) return RunEnd::Failed;
    const RunEnd end = tool.Form_Activate();
    tool.Form_Unload();
    return end;
  }
  RunEnd Start(const std::string& tail) { return Start(tail, lib); }
  int Batch(const std::string& tail, FakeBootLibrary& on) {
    out.str("");
    return RunBatch(tail, {"flashtool", folder.path(), listFolder, folder.path()}, on, clock, out, err,
                    false);
  }
  std::string LastLine() const {
    std::istringstream in(out.str());
    std::string line, last;
    while (std::getline(in, line)) last = line;
    return last;
  }

  TempFolder folder;
  std::filesystem::path listFolder = folder.path();
  FakeBootLibrary lib;
  RecordingUi ui;
  hx::test::RecordingDialogService dialogs;
  FakeClock clock;
  std::ostringstream out, err;
};

// Each of these is refused while the controller still runs its application:
// no boot command, flash and configuration bytes unchanged.
struct Refusal {
  const char* name;
  std::function<std::string(TempFolder&)> setUp;  // returns the HEX path
  const char* status;                             // the reason shown before the message
  const char* message;                            // "" : "Error loading file: " + path
};
void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class Refused : public Safety, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, BeforeTheBootCommand) {
  const std::string path = GetParam().setUp(folder);
  const Bytes flash = Flash(lib);
  const auto config = lib.model.Config();
  EXPECT_EQ(Start("device=arvel;usbid=1;prg=" + path), RunEnd::Failed);
  EXPECT_TRUE(lib.rawSent.empty());
  EXPECT_FALSE(lib.inBootLoader);
  EXPECT_EQ(BootLoaderRequests(lib), 0);
  EXPECT_EQ(Flash(lib), flash);
  EXPECT_TRUE(std::equal(config.begin(), config.end(), lib.model.Config().begin()));
  ASSERT_FALSE(ui.statuses.empty());
  EXPECT_EQ(ui.statuses.back(), GetParam().status);
  const std::string message =
      *GetParam().message ? GetParam().message : "Error loading file: " + path + "\n" + GetParam().status;
  EXPECT_EQ(dialogs.Texts().back(), message);
  EXPECT_EQ(dialogs.messages.back().icon, hx::MsgIcon::Critical);
  // The batch mode says the same, and that the run failed.
  EXPECT_EQ(Batch("device=arvel;usbid=1;prg=" + path, lib), kExitFailed);
  EXPECT_NE(out.str().find(std::string(GetParam().status) + "\n" + message + "\n"), std::string::npos)
      << out.str();
  EXPECT_EQ(LastLine(), "Result: failed (exit 1)");
}

std::string WriteHex(TempFolder& f, const std::string& text) {
  f.Write("x.hex", text);
  return "x.hex";
}

std::string WithChipKey(const std::string& chip, const std::string& key, const std::string& value) {
  std::string ini = ShippedIni();
  const auto section = ini.find("[" + chip + "]");
  const auto at = ini.find(key + "=", section);
  return ini.replace(at, ini.find('\n', at) - at, key + "=" + value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refused,
    ::testing::Values(
        Refusal{"MissingFile", [](TempFolder&) { return std::string("nowhere.hex"); },
                "No such file or directory", ""},
        Refusal{"BadChecksum", [](TempFolder& f) { return WriteHex(f, ":0102000001FF\n:00000001FF\n"); },
                "Line 1: bad checksum", ""},
        Refusal{"NoLineEnds", [](TempFolder& f) { return WriteHex(f, std::string(100000, '0')); },
                "Line 1: longer than the longest record (521 characters)", ""},
        Refusal{"Fifo",
                [](TempFolder& f) {
                  ::mkfifo((f.path() / "fifo.hex").c_str(), 0600);
                  return std::string("fifo.hex");
                },
                "it is a FIFO, not a regular file", ""},
        Refusal{"BootBlock", [](TempFolder& f) { return WriteHex(f, MakeHex(0x1F0, Firmware())); },
                "Line 2: address 0001F0 is outside the memory to program", ""},
        Refusal{"PastTheChip", [](TempFolder& f) { return WriteHex(f, MakeHex(0x7FF8, Bytes(16, 0))); },
                "Line 2: address 008000 is outside the memory to program", ""},
        // Programmed, then overwritten by the flash marker: the flash would hold neither.
        Refusal{"FlashMarkerRow", [](TempFolder& f) { return WriteHex(f, MakeHex(0x7FF8, Bytes(8, 0))); },
                "Line 2: address 007FF8 is in the row 007FF0-007FFF that the flash marker is written over",
                ""},
        Refusal{"SegmentRecord",
                [](TempFolder& f) {
                  return WriteHex(f, HexRecord(2, 0, {0x10, 0}) + "\n" + MakeHex(0x200, {1}).substr(16));
                },
                "Line 2: address 010200 is outside the memory to program", ""},
        Refusal{"Overlap",
                [](TempFolder& f) {
                  return WriteHex(f, HexRecord(0, 0x200, {0x40, 0xEF}) + "\n" + HexRecord(0, 0x201, {0xEF}) +
                                         "\n" + ":00000001FF\n");
                },
                "Line 2: address 000201 is given data twice", ""},
        Refusal{"NoProgramData",
                [](TempFolder& f) {
                  return WriteHex(
                      f, HexRecord(4, 0, {0, 0xF0}) + "\n" + HexRecord(0, 0, {1}) + "\n:00000001FF\n");
                },
                "The file holds no program memory data", ""},
        Refusal{"PmRangeHighNotHex",
                [](TempFolder& f) {
                  f.Write("flashtool.INI", WithChipKey("PIC18F2553", "pmrangehigh", "7FFG"));
                  return std::string("fw.hex");
                },
                "[PIC18F2553] pmrangehigh=7FFG is not a hex number",
                "Chip PIC18F2553 in PROGRAMMER.INI: [PIC18F2553] pmrangehigh=7FFG is not a hex number"},
        Refusal{"MissingChipSection",
                [](TempFolder& f) {
                  f.Write("flashtool.INI", Replace(ShippedIni(), "[PIC18F2553]", "[PIC18F2553-OLD]"));
                  return std::string("fw.hex");
                },
                "[PIC18F2553] pmrangelow is missing",
                "Chip PIC18F2553 in PROGRAMMER.INI: [PIC18F2553] pmrangelow is missing"},
        Refusal{"PmRangeHighBelowLow",
                [](TempFolder& f) {
                  f.Write("flashtool.INI", WithChipKey("PIC18F2550", "pmrangehigh", "0001FF"));
                  return std::string("fw.hex");
                },
                "[PIC18F2550] pmrangehigh is below pmrangelow",
                "Chip PIC18F2550 in PROGRAMMER.INI: [PIC18F2550] pmrangehigh is below pmrangelow"},
        Refusal{"ZeroWriteBlock",
                [](TempFolder& f) {
                  f.Write("flashtool.INI", WithChipKey("PIC18F4550", "writeblock", "0"));
                  return std::string("fw.hex");
                },
                "[PIC18F4550] writeblock=0 is not a number from 1 to 255",
                "Chip PIC18F4550 in PROGRAMMER.INI: [PIC18F4550] writeblock=0 is not a number from 1 to 255"},
        Refusal{"TargetNamesNoListedChip",
                [](TempFolder& f) {
                  f.Write("flashtool.INI", Replace(ShippedIni(), "TARGET=PIC18F2550 PIC18F2553 PIC18F4550",
                                                   "TARGET=PIC18F9999"));
                  return std::string("fw.hex");
                },
                "TARGET of ARVEL names no chip of DEVICELIST", "Device ARVEL not found in PROGRAMMER.INI"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Safety, AListFolderThatCannotBeWrittenIsFoundBeforeTheBootCommand) {
  listFolder = folder.path() / "gone";
  EXPECT_EQ(Start("device=arvel;usbid=1;prg=fw.hex"), RunEnd::Failed);
  EXPECT_TRUE(lib.rawSent.empty());
  EXPECT_FALSE(lib.inBootLoader);
  ASSERT_EQ(dialogs.Texts().size(), 2u);
  EXPECT_EQ(dialogs.Texts()[0].rfind("ERR ", 0), 0u);
  EXPECT_EQ(dialogs.Texts()[1], "Error loading file: fw.hex");
}

TEST_F(Safety, WithoutAProductTheFileIsCheckedAgainstTheChipFoundBeforeAnythingChanges) {
  lib.inBootLoader = true;
  folder.Write("big.hex", MakeHex(0x5FF0, Bytes(32, 0)));  // fits a 2550 (32 KB), not a 2455 (24 KB)
  FakeBootLibrary small(*hx::sim::FindChip("PIC18F2455", 1));
  small.inBootLoader = true;
  const Bytes flash = Flash(small);
  dialogs.answers = {hx::MsgAnswer::Yes};
  EXPECT_EQ(Start("usbid=1;prg=big.hex", small), RunEnd::Failed);
  EXPECT_EQ(ui.statuses.back(), "Line 3: address 006000 is outside the memory to program");
  EXPECT_EQ(dialogs.Texts().back(),
            "Error loading file: big.hex\nLine 3: address 006000 is outside the memory to program" + kLeft);
  EXPECT_EQ(Flash(small), flash);
  EXPECT_EQ(Count(small.calls, "WritePIC"), 0);
  dialogs.answers = {hx::MsgAnswer::Yes};
  EXPECT_EQ(Start("usbid=1;prg=big.hex"), RunEnd::Completed);
  // A syntax fault is found before the question.
  folder.Write("bad.hex", "#\n");
  lib.inBootLoader = true;
  EXPECT_EQ(Start("usbid=1;prg=bad.hex"), RunEnd::Failed);
  EXPECT_EQ(dialogs.Texts(),
            std::vector<std::string>{"Error loading file: bad.hex\nLine 1: " + ui.statuses.back().substr(8)});
}

TEST_F(Safety, AStuckRowIsCaughtByVerifyAndTheControllerStaysInItsBootLoader) {
  lib.model.StickRowAt(0x213);
  EXPECT_EQ(Batch("device=arvel;usbid=1;prg=fw.hex", lib), kExitFailed);
  EXPECT_NE(out.str().find("Verifying ...\nVerify error at address 000210\n" + kLeft.substr(1) +
                           "\nResult: failed (exit 1)\n"),
            std::string::npos)
      << out.str();
  EXPECT_EQ(lib.eeprom[0xFF], 0xFF);
  EXPECT_TRUE(lib.inBootLoader);
  EXPECT_EQ(Count(lib.calls, "SendGetPacket(6,000201"), 0);  // no application check after a bad verify

  // noverify skips the read-back (and so misses the stuck row).
  FakeBootLibrary other;
  other.model.StickRowAt(0x213);
  EXPECT_EQ(Batch("device=arvel;usbid=1;prg=fw.hex;noverify", other), kExitCompleted);
  EXPECT_EQ(Count(other.calls, "ReadPIC(1,000"), 0);
}

TEST_F(Safety, AFailedMarkerWriteFailsTheRun) {
  lib.model.FailWriteAt(0x7FF0);  // the flash marker's row
  EXPECT_EQ(Batch("device=arvel;usbid=1;prg=fw.hex", lib), kExitFailed);
  EXPECT_NE(out.str().find("Leaving boot loader\nError writing the flash marker\n" + kLeft.substr(1) +
                           "\nResult: failed (exit 1)\n"),
            std::string::npos)
      << out.str();
  EXPECT_EQ(lib.eeprom[0xFF], 0xFF);
  EXPECT_TRUE(lib.inBootLoader);
}

TEST_F(Safety, AControllerLeftInItsBootLoaderIsFoundAndProgrammed) {
  lib.inBootLoader = true;
  ASSERT_EQ(Start("device=arvel;usbid=1;prg=new.hex"), RunEnd::Completed);
  EXPECT_TRUE(lib.rawSent.empty());
  ASSERT_GE(ui.statuses.size(), 4u);
  EXPECT_EQ(ui.statuses[1], "Starting boot loader ...");
  EXPECT_EQ(ui.statuses[2], "No answer from the application: the controller is in its boot loader already");
  EXPECT_EQ(ui.statuses[3], "Waiting on connection ...");
  EXPECT_EQ(clock.idled, 0);  // no wait for a boot command that was not sent
  EXPECT_EQ(Bytes(lib.model.Flash().begin() + 0x200, lib.model.Flash().begin() + 0x200 + 64), Firmware(0x60));
  EXPECT_FALSE(lib.inBootLoader);
}

TEST_F(Safety, ABootLoaderHeldByAnotherRunIsRefusedAtOnce) {
  lib.inBootLoader = true;
  lib.busy = true;
  const Bytes flash = Flash(lib);
  EXPECT_EQ(Batch("device=arvel;usbid=1;prg=fw.hex", lib), kExitFailed);
  EXPECT_NE(out.str().find("Controller 1 is being programmed by another run\nResult: failed (exit 1)\n"),
            std::string::npos)
      << out.str();
  EXPECT_EQ(Batch("usbid=1;prg=fw.hex", lib), kExitFailed);  // no product: at identification
  EXPECT_NE(out.str().find("Controller 1 is being programmed by another run\n"), std::string::npos);
  EXPECT_EQ(BootLoaderRequests(lib), 0);
  EXPECT_EQ(Flash(lib), flash);
}

TEST_F(Safety, ASecondRunBesideThisProgramIsRefusedBeforeItSendsAnything) {
  const int held = ::open((folder.path() / "flashtool-1.lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(Batch("device=arvel;usbid=1;prg=fw.hex", lib), kExitFailed);
  EXPECT_NE(out.str().find("Controller 1 is being programmed by another run\nResult: failed (exit 1)\n"),
            std::string::npos)
      << out.str();
  EXPECT_TRUE(lib.calls.empty());
  EXPECT_EQ(Batch("device=arvel;usbid=2;prg=fw.hex", lib), kExitFailed);  // another controller: not held
  EXPECT_NE(out.str().find("Cannot connect"), std::string::npos);
  ::close(held);
  EXPECT_EQ(Batch("device=arvel;usbid=1;prg=fw.hex", lib), kExitCompleted);
}

// The link lost at every request of a programming run: never a success, and
// the next run (the fault cleared, as by plugging the cable back) programs
// the controller whatever state the lost run left it in.
TEST_F(Safety, ALinkLostAtAnyRequestIsNeverASuccessAndTheNextRunRecovers) {
  int requests = 0;
  {
    FakeBootLibrary good;
    ASSERT_EQ(Batch("device=arvel;usbid=1;prg=new.hex", good), kExitCompleted);
    requests = BootLoaderRequests(good);
  }
  ASSERT_GT(requests, 500);  // 504 erase blocks alone
  const Bytes oldApp(Firmware(0x10));
  for (int n = 1; n <= requests + 1; ++n) {
    SCOPED_TRACE("cut at request " + std::to_string(n));
    FakeBootLibrary c;
    c.model.Program(0x200, oldApp);
    c.model.CutAt(n);
    const int status = Batch("device=arvel;usbid=1;prg=new.hex", c);
    if (n <= requests) {
      ASSERT_EQ(status, kExitFailed) << out.str();
      ASSERT_EQ(LastLine(), "Result: failed (exit 1)");
      if (n == requests) {
        ASSERT_NE(out.str().find("\nError writing the boot flag\n"), std::string::npos);
      }
    } else {
      ASSERT_EQ(status, kExitCompleted);
      continue;
    }
    // Either untouched and back in its application, or held in its boot loader.
    if (!c.inBootLoader) {
      ASSERT_EQ(c.eeprom[0xFF], 0x00);
      ASSERT_TRUE(c.model.ApplicationPresent());
    }
    c.model.CutAt(std::nullopt);
    ASSERT_EQ(Batch("device=arvel;usbid=1;prg=new.hex", c), kExitCompleted) << out.str();
    ASSERT_EQ(Bytes(c.model.Flash().begin() + 0x200, c.model.Flash().begin() + 0x200 + 64), Firmware(0x60));
    ASSERT_FALSE(c.inBootLoader);
    ASSERT_EQ(c.eeprom[0xFF], 0x00);
  }
}
