// The programmer end to end: the flashtool program in batch mode, the real
// libhxboot and a running hydrix-sim; afterwards the simulator's flash,
// configuration bytes, boot flag and mode are checked.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "flash_test_support.h"
#include "flashtool/flash_history.h"
#include "flashtool/hxboot_binding.h"
#include "support/sim_daemon.h"

namespace hx {
namespace {

using flash::test::MakeHex;
using flash::test::ShippedIni;
using test::CommandResult;
using test::RunProgram;
using test::SimDaemon;
using Bytes = std::vector<std::uint8_t>;

Bytes Firmware() {
  Bytes app = {0x40, 0xEF, 0x01, 0xF0};
  for (int i = 0; i < 60; ++i) app.push_back(static_cast<std::uint8_t>(0x80 + i));
  return app;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// The first line of the run's last message, before the batch mode's
// "Result: ..." line: the lines a failure adds under it (its reason, the
// sentence about the boot loader) are checked by the unit tests.
std::string LastMessage(const CommandResult& r) {
  const auto lines = Lines(r.out);
  if (lines.size() < 2) return "(" + r.out + ")";
  std::size_t i = lines.size() - 2;
  if (lines[i] == flash::kLeftInBootLoader && i >= 2) i -= 2;  // the sentence and the blank line before it
  for (const char* added : {"Erase failed at", "Writing failed at", "Code ", "Line "}) {
    if (i >= 1 && lines[i].rfind(added, 0) == 0) --i;
  }
  return lines[i];
}

class FlashtoolEndToEnd : public ::testing::Test {
 protected:
  void StartWith(std::vector<std::string> controllers) {
    daemon = std::make_unique<SimDaemon>(HYDRIX_SIM_EXE, std::move(controllers));
    ASSERT_TRUE(daemon->Start());
    const std::string fw = flash::test::MakeHex(0x200, Firmware(), 8);  // two records a row
    firmware = daemon->folder() / "fw.hex";
    std::ofstream(firmware) << fw;
  }
  // flashtool --batch TAIL [--yes], run in `cwd` (default: the daemon's folder).
  CommandResult Flash(const std::string& tail, bool yes = false, const std::string& exe = FLASHTOOL_EXE) {
    const std::string cmd = "cd " + Quote(daemon->folder().string()) + " && " + shellLimits + "exec " +
                            Quote(exe) + " --batch " + Quote(tail) + (yes ? " --yes" : "");
    std::vector<std::string> env = extraEnv;
    env.push_back("HYDRIX_SIM_SOCKET=" + daemon->socket());
    return RunProgram({"/bin/sh", "-c", cmd}, env);
  }
  std::string Dump(int id, const std::string& what) {
    return RunProgram(
               {HYDRIX_SIM_EXE, "dump", "--socket", daemon->socket(), "--id", std::to_string(id), what})
        .out;
  }
  int Set(int id, const std::string& what, const std::string& value) {
    return RunProgram(
               {HYDRIX_SIM_EXE, "set", "--socket", daemon->socket(), "--id", std::to_string(id), what, value})
        .status;
  }
  // The dump line of the 16 bytes at `address` ("000200: 40 EF ...").
  std::string Row(int id, const std::string& what, const std::string& address) {
    for (const auto& line : Lines(Dump(id, what))) {
      if (line.rfind(address + ":", 0) == 0) return line;
    }
    return "(no row " + address + ")";
  }
  std::string BootFlag(int id) { return Row(id, "eeprom", "00F0").substr(51); }

  std::unique_ptr<SimDaemon> daemon;
  std::filesystem::path firmware;
  std::string shellLimits;  // shell commands run before flashtool ("ulimit -f 64 && ")
  std::vector<std::string> extraEnv;  // given to flashtool besides the daemon's socket
};

const std::string kFirmwareRow0 = "000200: 40 EF 01 F0 80 81 82 83 84 85 86 87 88 89 8A 8B";

TEST_F(FlashtoolEndToEnd, ProgramsAControllerThatReturnsToItsApplication) {
  StartWith({"id=3"});
  // A relative HEX path is taken from the caller's current folder.
  const auto r = Flash("device=arvel;usbid=3;prg=fw.hex");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // The statuses in order; between them the log lines with their figures.
  std::vector<std::string> statuses;
  for (const auto& l : Lines(r.out)) {
    if (l.ends_with("...") || l == "Leaving boot loader" || l.rfind("Programming complete", 0) == 0 ||
        l.rfind("Result:", 0) == 0)
      statuses.push_back(l);
  }
  EXPECT_EQ(statuses, (std::vector<std::string>{"Starting boot loader ...", "Waiting on connection ...",
                                                "Programming CONFIG bits ...", "Erasing FLASH ...",
                                                "Programming ...", "Verifying ...", "Leaving boot loader",
                                                "Programming complete.", "Result: completed (exit 0)"}));
  EXPECT_NE(r.out.find("\nProgramming: 100 % ("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" of the programmed image\nProgramming complete.\n"), std::string::npos) << r.out;
  EXPECT_EQ(Dump(3, "mode"), "application\n");
  EXPECT_EQ(Row(3, "flash", "000200"), kFirmwareRow0);
  EXPECT_EQ(Row(3, "flash", "000240"), "000240: FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF");
  EXPECT_EQ(Row(3, "flash", "007FF0"), "007FF0: 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55");
  EXPECT_EQ(Row(3, "config", "300000"), "300000: 00 05 03 0F 00 83 85 00 0F C0 0F E0 0F 40");
  EXPECT_EQ(BootFlag(3), "00");

  // Flash and configuration bytes survive a restart of the simulator.
  ASSERT_EQ(daemon->Stop(), 0);
  ASSERT_TRUE(daemon->Start());
  EXPECT_EQ(Row(3, "flash", "000200"), kFirmwareRow0);
  EXPECT_EQ(Row(3, "config", "300000").substr(0, 19), "300000: 00 05 03 0F");
  EXPECT_EQ(Dump(3, "mode"), "application\n");
}

TEST_F(FlashtoolEndToEnd, TwoRunsAtOnceEachProgramTheirOwnFirmware) {
  StartWith({"id=21", "id=22"});
  Bytes other = Firmware();
  for (std::size_t i = 4; i < other.size(); ++i) other[i] = static_cast<std::uint8_t>(0x20 + i);
  std::ofstream(daemon->folder() / "other.hex") << flash::test::MakeHex(0x200, other, 8);
  // Both runs share the program's folder and its list files.
  for (int round = 0; round < 3; ++round) {
    CommandResult a;
    CommandResult b;
    std::thread first([&] { a = Flash("device=arvel;usbid=21;prg=fw.hex"); });
    std::thread second([&] { b = Flash("device=arvel;usbid=22;prg=other.hex"); });
    first.join();
    second.join();
    ASSERT_EQ(a.status, 0) << a.out;
    ASSERT_EQ(b.status, 0) << b.out;
    EXPECT_EQ(Row(21, "flash", "000200"), kFirmwareRow0);
    EXPECT_EQ(Row(22, "flash", "000200"), "000200: 40 EF 01 F0 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F");
  }
}

TEST_F(FlashtoolEndToEnd, NoProgAndIdOnlyLeaveFlashAlone) {
  StartWith({"id=4,chip=PIC18F4550,rev=3"});
  const std::string factory = Row(4, "flash", "000200");
  auto r = Flash("noprog;device=hosper;usbid=4");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(LastMessage(r), "Programming complete.");
  EXPECT_EQ(Row(4, "config", "300000").substr(0, 19), "300000: 00 05 19 0F");
  EXPECT_EQ(Row(4, "flash", "000200"), factory);
  EXPECT_EQ(BootFlag(4), "55");
  EXPECT_EQ(Dump(4, "mode"), "application\n");

  r = Flash("idonly;usbid=4");
  EXPECT_EQ(r.status, 0);
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 4], "Device = PIC18F4550 (Code = 90) REV 3");
  EXPECT_EQ(lines[lines.size() - 3], "CNF 19:F:85");
  EXPECT_EQ(lines[lines.size() - 2], "Code 144 in decimal, as in DEVICELIST");
  EXPECT_EQ(lines.back(), "Result: completed (exit 0)");
  EXPECT_EQ(Dump(4, "mode"), "application\n");
}

TEST_F(FlashtoolEndToEnd, BootModeLeavesTheControllerInItsBootLoaderUntilAProgrammingRun) {
  // Each test has controller numbers of its own: a run locks its number in
  // flashtool's folder, which all tests share.
  StartWith({"id=15"});
  auto r = Flash("boot;usbid=15");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Cannot connect. Please check the USB cable",
                                                    "Result: failed (exit 1)"}));
  EXPECT_EQ(Dump(15, "mode"), "boot loader\n");
  // Already in its boot loader: no product, so the operator confirms the chip.
  r = Flash("usbid=15;prg=" + firmware.string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastMessage(r), "Continue with PIC18F2550?");
  r = Flash("usbid=15;prg=" + firmware.string(), true);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Row(15, "flash", "000200"), kFirmwareRow0);
  EXPECT_EQ(Row(15, "config", "300000").substr(0, 19), "300000: 00 05 1F 1F");  // no product: none written
  EXPECT_EQ(Dump(15, "mode"), "application\n");
}

TEST_F(FlashtoolEndToEnd, WrongAndUnlistedChipsAreRefusedBeforeAnyChange) {
  StartWith({"id=6,chip=PIC18F4455,rev=2", "id=7"});
  const std::string factory = Row(6, "flash", "000200");
  auto r = Flash("device=arvel;usbid=6;prg=fw.hex");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastMessage(r), "PIC18F2550 PIC18F2553 PIC18F4550:PIC18F4455 not defined for this hardware");
  EXPECT_EQ(Row(6, "flash", "000200"), factory);
  EXPECT_EQ(Row(6, "config", "300000").substr(0, 19), "300000: 00 05 1F 1F");

  // A copy of the program beside a parameter file that does not list the chip.
  const auto copy = daemon->folder() / "copy";
  std::filesystem::create_directories(copy);
  std::filesystem::copy_file(FLASHTOOL_EXE, copy / "flashtool");
  std::filesystem::copy_file(HXBOOT_LIB, copy / "libhxboot.so");
  std::string ini = ShippedIni();
  ini.erase(ini.find("146=PIC18F2550\n"), 15);
  std::ofstream(copy / "flashtool.INI") << ini;
  r = Flash("device=arvel;usbid=7;prg=fw.hex", false, (copy / "flashtool").string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastMessage(r), "Device code 92 Rev 7 not defined!");
  EXPECT_EQ(Dump(7, "mode"), "boot loader\n");  // found by the next run, flash untouched
}

TEST_F(FlashtoolEndToEnd, ConfigurationWritesAreRetriedWithReconnects) {
  StartWith({"id=8,cfgfail=2", "id=9,cfgfail=100"});
  auto r = Flash("device=arvel;usbid=8;prg=fw.hex");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Row(8, "config", "300000").substr(0, 19), "300000: 00 05 03 0F");
  EXPECT_EQ(Row(8, "flash", "000200"), kFirmwareRow0);

  const std::string factory = Row(9, "flash", "000200");
  r = Flash("device=arvel;usbid=9;prg=fw.hex");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastMessage(r), "Error programming CONFIG bits, code 0/0");
  EXPECT_EQ(Row(9, "flash", "000200"), factory);  // nothing erased
  EXPECT_EQ(BootFlag(9), "00");                   // the factory flag: not written
}

TEST_F(FlashtoolEndToEnd, EraseAndWriteFailuresStopTheRunAndTheOperatorRecovers) {
  StartWith({"id=10,erasefail=0x1000", "id=11,writefail=0x210"});
  auto r = Flash("device=arvel;usbid=10;prg=fw.hex");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastMessage(r), "Erreur effacement");
  EXPECT_EQ(Row(10, "flash", "000200"), "000200: FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF");
  EXPECT_EQ(Dump(10, "mode"), "boot loader\n");  // no application any more

  r = Flash("device=arvel;usbid=11;prg=fw.hex");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastMessage(r), "Write error!");
  EXPECT_EQ(Row(11, "flash", "000200"), "000200: 40 EF 01 F0 80 81 82 83 84 85 86 87 88 89 8A 8B");
  EXPECT_EQ(Row(11, "flash", "000210"), "000210: FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF");
  EXPECT_EQ(Dump(11, "mode"), "boot loader\n");

  // The fault cleared, a run without a product programs it again.
  ASSERT_EQ(Set(10, "erasefail", "none"), 0);
  r = Flash("usbid=10;prg=fw.hex", true);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Row(10, "flash", "000200"), kFirmwareRow0);
  EXPECT_EQ(Dump(10, "mode"), "application\n");
}

TEST_F(FlashtoolEndToEnd, AnEmptyFlashStaysInItsBootLoader) {
  StartWith({"id=12,flash=empty"});
  EXPECT_EQ(Dump(12, "mode"), "boot loader\n");
  std::ofstream(daemon->folder() / "data.hex") << MakeHex(0x400, {1, 2, 3, 4});
  auto r = Flash("usbid=12;prg=data.hex", true);
  EXPECT_EQ(r.status, 2);
  const auto lines = Lines(r.out);
  EXPECT_NE(r.out.find("\nFLASH empty or corrupt\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Programming complete."), std::string::npos) << r.out;
  EXPECT_EQ(BootFlag(12), "FF");
  EXPECT_EQ(Dump(12, "mode"), "boot loader\n");

  r = Flash("usbid=12;prg=fw.hex", true);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(BootFlag(12), "00");
  EXPECT_EQ(Dump(12, "mode"), "application\n");
}

TEST_F(FlashtoolEndToEnd, AControllerWithoutBootLoaderIsReported) {
  StartWith({"id=13,fault=noboot"});
  auto r = Flash("device=arvel;usbid=13;prg=fw.hex");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastMessage(r), "USB connection impossible");
  EXPECT_EQ(Dump(13, "mode"), "application\n");
  r = Flash("device=arvel;usbid=99;prg=fw.hex");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LastMessage(r), "Cannot connect. Please check the USB cable");
  // Never seen in its boot loader, so never said to be left there; nor with
  // an empty product, where no boot command is sent.
  for (const std::string tail : {"device=arvel;usbid=13;prg=fw.hex", "device=;usbid=13;prg=fw.hex"}) {
    r = Flash(tail, true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find(flash::kLeftInBootLoader), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nUSB connection impossible\nResult: failed (exit 1)\n"), std::string::npos)
        << r.out;
  }
}

// Refused before the controller leaves its application: ambiguous command
// lines, a file with data where the flash marker goes, a list file beyond
// the file-size limit (the run is not killed by SIGXFSZ). The refusal is the
// first line of output; flash, configuration and boot flag are unchanged.
TEST_F(FlashtoolEndToEnd, WhatCannotBeDoneRightIsRefusedBeforeTheBootCommand) {
  StartWith({"id=14"});
  std::string top = MakeHex(0x200, Firmware());  // line 1 upper address, 2-5 data, then the end
  top.resize(top.size() - std::string(":00000001FF\n").size());
  std::ofstream(daemon->folder() / "top.hex")
      << top + flash::test::HexRecord(0, 0x7FF8, {1, 2}) + "\n:00000001FF\n";
  std::vector<std::uint8_t> big(30000, 0x12);  // a list of 105 KB
  big[1] = 0xEF;
  std::ofstream(daemon->folder() / "big.hex") << MakeHex(0x200, big);
  const std::string flashBefore = Dump(14, "flash"), configBefore = Dump(14, "config");
  const std::string eepromBefore = Dump(14, "eeprom");
  struct Case {
    std::string tail, limits, first, also;
  };
  const Case cases[] = {
      {"device=arvel;usbid=14;USBID=15;prg=fw.hex", "",
       "usbid is given twice (usbid=14;USBID=15): give it once",
       "Command line parameters: <opt1>;<opt2>;<opt3> ..."},
      {"device=arvel;usbid=14;prg=fw.hex;noverify=0", "",
       "noverify takes no value (noverify=0): give noverify alone, or leave it out", ""},
      {"device=arvel;usbid=0;prg=fw.hex", "", "usbid=0 names no controller (0 and -1 never do)", ""},
      {"device=arvel;usbid=14;prg=top.hex", "",
       "Line 6: address 007FF8 is in the row 007FF0-007FFF that the flash marker is written over",
       "Error loading file: top.hex"},
      {"device=arvel;usbid=14;prg=big.hex", "ulimit -f 64 && ", "ERR 27/8 (File too large)",
       "progmem.lst: File too large\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    shellLimits = c.limits;
    const auto r = Flash(c.tail);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(Lines(r.out).at(0), c.first) << r.out;
    EXPECT_NE(r.out.find(c.also), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nResult: failed (exit 1)\n")) << r.out;
    EXPECT_EQ(Dump(14, "mode"), "application\n");
  }
  EXPECT_EQ(Dump(14, "flash"), flashBefore);
  EXPECT_EQ(Dump(14, "config"), configBefore);
  EXPECT_EQ(Dump(14, "eeprom"), eepromBefore);
}

TEST_F(FlashtoolEndToEnd, AStuckRowIsCaughtAndTheFirmwareUpdateOfHydrixRecoversTheController) {
  StartWith({"id=30"});
  ASSERT_EQ(Set(30, "fault", "stuck=0x210"), 0);
  auto r = Flash("device=arvel;usbid=30;prg=fw.hex");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(LastMessage(r), "Verify error at address 000210");
  EXPECT_EQ(BootFlag(30), "FF");
  EXPECT_EQ(Dump(30, "mode"), "boot loader\n");

  // The cable is plugged back; hydrix starts the programmer as it always does.
  ASSERT_EQ(Set(30, "fault", "none"), 0);
  r = Flash("LANGUE=English ;device=arvel;USBID=30;prg=fw.hex");
  EXPECT_EQ(r.status, 0) << r.out;
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2], "No answer from the application: the controller is in its boot loader already");
  EXPECT_EQ(lines[3],
            "Controller found in its boot loader (an update was interrupted): this run finishes it");
  EXPECT_EQ(lines[4], "Waiting on connection ...");
  EXPECT_EQ(Row(30, "flash", "000200"), kFirmwareRow0);
  EXPECT_EQ(BootFlag(30), "00");
  EXPECT_EQ(Dump(30, "mode"), "application\n");
}

TEST_F(FlashtoolEndToEnd, ALinkCutAtEachStageNeverSucceedsAndTheNextRunRecovers) {
  StartWith({"id=31"});
  // The requests of a run: 1 device ID, 3 configuration reads, 2 configuration
  // writes, 1 boot flag 0xFF, 504 erase blocks, 8 rows, 4 read-backs, the
  // application check, the marker, the boot flag: 526.
  for (const auto& [cut, message] :
       std::vector<std::pair<int, std::string>>{{1, "Communication error"},
                                                {5, "Error programming CONFIG bits, code 0/0"},
                                                {7, "Error writing the boot flag"},
                                                {300, "Erreur effacement"},
                                                {515, "Write error!"},
                                                {521, "Verify error at address 000210 (no answer)"},
                                                {524, "Communication error"},
                                                {525, "Error writing the flash marker"},
                                                {526, "Error writing the boot flag"}}) {
    SCOPED_TRACE("cut=" + std::to_string(cut));
    ASSERT_EQ(Set(31, "fault", "cut=" + std::to_string(cut)), 0);
    auto r = Flash("device=arvel;usbid=31;prg=fw.hex");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(LastMessage(r), message);
    ASSERT_EQ(Set(31, "fault", "none"), 0);
    r = Flash("device=arvel;usbid=31;prg=fw.hex");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Row(31, "flash", "000200"), kFirmwareRow0);
    EXPECT_EQ(Dump(31, "mode"), "application\n");
  }
}

TEST_F(FlashtoolEndToEnd, TwoRunsOnOneControllerNeverBothSucceed) {
  StartWith({"id=32"});
  Bytes other = Firmware();
  for (std::size_t i = 4; i < other.size(); ++i) other[i] = static_cast<std::uint8_t>(0x20 + i);
  std::ofstream(daemon->folder() / "other.hex") << flash::test::MakeHex(0x200, other, 8);
  const std::string otherRow0 = "000200: 40 EF 01 F0 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F";
  for (int round = 0; round < 3; ++round) {
    CommandResult a;
    CommandResult b;
    std::thread first([&] { a = Flash("device=arvel;usbid=32;prg=fw.hex"); });
    std::thread second([&] { b = Flash("device=arvel;usbid=32;prg=other.hex"); });
    first.join();
    second.join();
    ASSERT_EQ(a.status + b.status, 1) << a.out << "\n--\n" << b.out;
    const CommandResult& loser = a.status ? a : b;
    EXPECT_EQ(LastMessage(loser), "Controller 32 is being programmed by another run");
    EXPECT_EQ(Row(32, "flash", "000200"), a.status == 0 ? kFirmwareRow0 : otherRow0);
    EXPECT_EQ(Dump(32, "mode"), "application\n");
  }
}

TEST_F(FlashtoolEndToEnd, TheDaemonRefusesRequestsOutsideTheChipAndASecondBootLoaderConnection) {
  StartWith({"id=33,flash=empty"});
  daemon->Export();
  flash::HxBootBinding lib(HXBOOT_LIB);
  const std::int32_t h = lib.OpenPIC(33, 0, 150);
  ASSERT_GE(h, 1);
  EXPECT_EQ(lib.OpenPIC(33, 0, 150), boot::kOpenBusy);
  std::vector<std::uint8_t> data(16, 0);
  for (std::int32_t address : {-1, -16, INT32_MIN, 0x7FFFFFF0}) {
    EXPECT_TRUE(lib.WritePIC(h, boot::EncodeBootRequest({2, 16, address, 32, 2, 0}), data) & 0x8000);
    EXPECT_TRUE(lib.WritePIC(h, boot::EncodeBootRequest({5, 16, address, 1, 1, 0}), data) & 0x8000);
    EXPECT_LE(lib.ReadPIC(h, boot::EncodeBootRequest({1, 16, address, 1, 1, 0}), data), 0);
  }
  EXPECT_EQ(Dump(33, "mode"), "boot loader\n");  // still serving
  lib.ClosePIC(h);
  const std::int32_t again = lib.OpenPIC(33, 0, 150);  // free again at once
  EXPECT_GE(again, 1);
  // A cut boot loader answers nothing, and is not found, until the fault is cleared.
  ASSERT_EQ(Set(33, "fault", "cut=1"), 0);
  EXPECT_LE(lib.ReadPIC(again, boot::EncodeBootRequest({1, 2, 0x3FFFFE, 1, 1, 0}), data), 0);
  lib.ClosePIC(again);
  EXPECT_LT(lib.OpenPIC(33, 0, 150), 0);
  ASSERT_EQ(Set(33, "fault", "none"), 0);
  EXPECT_GE(lib.OpenPIC(33, 0, 150), 1);
}

TEST_F(FlashtoolEndToEnd, EveryRunLeavesItsHistoryLineWithTheSerialAndHistoryShowsThem) {
  StartWith({"id=34"});
  const auto state = daemon->folder() / "state";
  extraEnv = {"XDG_STATE_HOME=" + state.string()};
  auto history = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {FLASHTOOL_EXE, "--history"});
    return RunProgram(args, extraEnv);
  };
  auto r = history({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "No firmware history yet: " + (state / "hydrix" / "flash-history.csv").string() +
                       " does not exist (each run of flashtool adds a line).\n");

  // The serial number comes from the application through libhxusbif.
  ASSERT_EQ(Flash("device=arvel;usbid=34;prg=fw.hex").status, 0);
  ASSERT_EQ(Flash("device=arvel;usbid=34;prg=nothere.hex").status, 1);
  std::ifstream in(state / "hydrix" / "flash-history.csv");
  std::stringstream text;
  text << in.rdbuf();
  const auto lines = Lines(text.str());
  ASSERT_EQ(lines.size(), 3u) << text.str();
  const auto done = flash::SplitCsvLine(lines[1]);
  ASSERT_EQ(done.size(), 14u);
  EXPECT_EQ(std::vector<std::string>(done.begin() + 3, done.begin() + 8),
            (std::vector<std::string>{"34", "24000034", "ARVEL", "PIC18F2550", firmware.string()}));
  // Two records a row: each row is written twice, read back once.
  EXPECT_EQ(std::vector<std::string>(done.end() - 4, done.end()),
            (std::vector<std::string>{"128", "64", "completed", "0"}));

  r = history({"1"});
  EXPECT_EQ(r.status, 0) << r.err;
  const auto table = Lines(r.out);
  ASSERT_EQ(table.size(), 2u) << r.out;
  // Each field stands under its column's name.
  auto column = [&](const std::string& name) {
    const std::size_t at = table[0].find(name + " ");
    const std::size_t next = table[0].find_first_not_of(' ', table[0].find(' ', at));
    std::string field = table[1].substr(at, next == std::string::npos ? std::string::npos : next - at);
    while (!field.empty() && field.back() == ' ') field.pop_back();
    return field;
  };
  EXPECT_EQ(table[0].rfind("time  ", 0), 0u);
  EXPECT_EQ(column("connection"), "34") << r.out;
  EXPECT_EQ(column("serial"), "");  // refused before the boot command: not read
  EXPECT_EQ(column("product"), "ARVEL");
  EXPECT_EQ(column("hex_file"), (daemon->folder() / "nothere.hex").string());
  EXPECT_EQ(column("result"), "failed");
  EXPECT_TRUE(table[1].ends_with(" 1"));
  EXPECT_EQ(Lines(history({}).out).size(), 3u);

  r = history({"many"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("flashtool: --history takes a number of lines from 0 to 1000000, not \"many\"\n", 0), 0u)
      << r.err;
}

}  // namespace
}  // namespace hx
