// Batch mode: lines on standard output, answers to questions, exit status;
// the program's arguments; the list-file folder.
#include "flashtool/batch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <map>
#include <sstream>

#include "flash_test_support.h"
#include "flashtool/hxboot_binding.h"

using namespace hx::flash;
using namespace hx::flash::test;

class Batch : public ::testing::Test {
 protected:
  Batch() { folder.Write("fw.hex", MakeHex(0x200, {0x40, 0xEF, 0x01, 0xF0, 1, 2, 3, 4})); }
  int Run(const std::string& tail, bool yes = false) {
    out.str("");
    err.str("");
    return RunBatch(tail, {"flashtool", folder.path(), folder.path(), folder.path()}, lib, clock, out, err,
                    yes);
  }
  TempFolder folder;
  FakeBootLibrary lib;
  FakeClock clock;
  std::ostringstream out, err;
};

TEST_F(Batch, ANormalEndPrintsEveryStatusAndExitsZero) {
  EXPECT_EQ(Run("device=arvel;usbid=1;prg=fw.hex"), kExitCompleted);
  const auto lines = Lines(out.str());
  // The statuses in order, among the log lines (run_report_test.cpp).
  std::vector<std::string> statuses;
  for (const auto& l : lines) {
    if (l.ends_with("...") || l == "Leaving boot loader" || l.rfind("Programming complete", 0) == 0 ||
        l.rfind("Result:", 0) == 0)
      statuses.push_back(l);
  }
  EXPECT_EQ(statuses, (std::vector<std::string>{"Starting boot loader ...", "Waiting on connection ...",
                                                "Programming CONFIG bits ...", "Erasing FLASH ...",
                                                "Programming ...", "Verifying ...", "Leaving boot loader",
                                                "Programming complete.", "Result: completed (exit 0)"}));
  EXPECT_EQ(err.str(), "");
}

TEST_F(Batch, FailuresExitNonZeroAfterTheirMessage) {
  lib.model.FailWriteAt(0x200);
  EXPECT_EQ(Run("device=arvel;usbid=1;prg=fw.hex"), kExitFailed);
  EXPECT_EQ(Lines(out.str()).back(), "Result: failed (exit 1)");
  EXPECT_EQ(Lines(out.str()).end()[-5], "Write error!");
  EXPECT_EQ(Run("device=arvel"), kExitFailed);
  EXPECT_EQ(Lines(out.str()),
            (std::vector<std::string>{"USB device ID not supplied", "Result: failed (exit 1)"}));
}

TEST_F(Batch, QuestionsAreAnsweredNoUnlessYes) {
  lib.inBootLoader = true;
  EXPECT_EQ(Run("usbid=1;prg=fw.hex"), kExitFailed);
  EXPECT_EQ(Lines(out.str()).end()[-2], "Continue with PIC18F2550?");
  EXPECT_EQ(Lines(out.str()).back(), "Result: failed (exit 1)");
  EXPECT_EQ(Run("usbid=1;prg=fw.hex", true), kExitCompleted);
  EXPECT_EQ(Lines(out.str()).end()[-2], "Programming complete.");
}

TEST_F(Batch, NoFileDialogWithoutAHexPath) {
  EXPECT_EQ(Run("device=arvel;usbid=1"), kExitFailed);
  EXPECT_NE(err.str().find("prg="), std::string::npos);
  EXPECT_FALSE(lib.inBootLoader);
}

TEST_F(Batch, ProgrammingThatLeavesNoApplicationIsNotSuccess) {
  folder.Write("data.hex", MakeHex(0x400, {1, 2}));
  EXPECT_EQ(Run("device=arvel;usbid=1;prg=data.hex"), kExitFlashEmpty);
  const auto lines = Lines(out.str());
  EXPECT_NE(out.str().find("\nFLASH empty or corrupt\n"), std::string::npos);
  EXPECT_EQ(lines.back(), "Result: no application after programming (exit 2)");
}

TEST(ProgramArguments, AreJoinedWithBlanksAroundTheBatchOptions) {
  const char* argv[] = {"flashtool", "--batch", "device=arvel;usbid=1;prg=/fw/My", "File.hex", "--yes"};
  const auto a = ParseProgramArguments(5, argv);
  EXPECT_TRUE(a.batch);
  EXPECT_TRUE(a.yes);
  EXPECT_EQ(a.tail, "device=arvel;usbid=1;prg=/fw/My File.hex");
  const char* plain[] = {"flashtool", "LANGUE=English", ";device=arvel;USBID=2;prg=x.hex"};
  const auto b = ParseProgramArguments(3, plain);
  EXPECT_FALSE(b.batch);
  EXPECT_EQ(b.tail, "LANGUE=English ;device=arvel;USBID=2;prg=x.hex");
}

// The real program, without a display and without a simulator to talk to.
TEST(BatchProgram, RunsWithoutADisplayAndReportsNoConnection) {
  const std::string cmd =
      std::string("env -u DISPLAY QT_QPA_PLATFORM=none HYDRIX_SIM_SOCKET=/nonexistent/sim.sock ") +
      FLASHTOOL_EXE + " --batch 'noprog;device=arvel;usbid=1' 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string text;
  std::array<char, 512> buf;
  while (std::fgets(buf.data(), buf.size(), p)) text += buf.data();
  const int status = ::pclose(p);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 3u) << text;
  EXPECT_EQ(lines[0], "Starting boot loader ...");
  EXPECT_EQ(lines[1], "Cannot connect. Please check the USB cable");
  EXPECT_EQ(lines[2], "Result: failed (exit 1)");
}

TEST(HxBootBinding, AMissingLibraryIsReportedOnceAndEveryCallFails) {
  HxBootBinding binding("libhxboot-not-there.so");
  std::string error;
  EXPECT_FALSE(binding.Ready(error));
  EXPECT_NE(error.find("libhxboot-not-there.so cannot be loaded"), std::string::npos) << error;
  EXPECT_EQ(binding.OpenPIC(1, 0, 250), -1);
  hx::boot::Packet p = hx::boot::MakeReadBytePacket(0x201);
  EXPECT_LT(binding.SendGetPacket(1, p, 5, 255, 1), 0);
  EXPECT_TRUE(
      binding.WritePIC(1, hx::boot::EncodeBootRequest({5, 1, 0xFF, 1, 1, 0}), std::vector<std::uint8_t>{0}) &
      0x8000);
}

namespace {
struct Output {
  int status = -1;
  std::string out;  // standard output and error
};
Output RunFlashtool(const std::string& args, const std::string& env) {
  Output r;
  const std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + env + " " +
                          FLASHTOOL_EXE + " " + args + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 512> buf;
  while (std::fgets(buf.data(), buf.size(), p)) r.out += buf.data();
  r.status = WEXITSTATUS(::pclose(p));
  return r;
}
}  // namespace

// Help, version and the window without a display: one line, never a Qt
// plugin error.
TEST(BatchProgram, HelpVersionAndNoDisplayNeedNoWindow) {
  auto r = RunFlashtool("--help", "");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--batch TAIL"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("    noverify             Do not read back what was programmed\n"), std::string::npos);
  r = RunFlashtool("--version", "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("flashtool ", 0), 0u) << r.out;
  EXPECT_EQ(Lines(r.out).size(), 1u);

  r = RunFlashtool("'device=arvel;usbid=1'", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "flashtool: no display (DISPLAY is not set); use --batch to run without a window\n");
  r = RunFlashtool("'device=arvel;usbid=1'", "QT_QPA_PLATFORM=none");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.out,
      "flashtool: no window platform \"none\" (QT_QPA_PLATFORM); use --batch to run without a window\n");
}

TEST(NoDisplayReason, FollowsThePlatformQtWouldUse) {
  TempFolder plugins;
  plugins.Write("libqoffscreen.so", "");
  std::map<std::string, std::string> env;
  auto get = [&](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
  const std::vector<std::string> folders = {plugins.path().string()};
  EXPECT_NE(NoDisplayReason(get, folders), "");
  env["DISPLAY"] = ":0";
  EXPECT_EQ(NoDisplayReason(get, folders), "");
  env = {{"WAYLAND_DISPLAY", "wayland-0"}};
  EXPECT_EQ(NoDisplayReason(get, folders), "");
  env = {{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-0"}};
  EXPECT_NE(NoDisplayReason(get, folders), "");
  env = {{"QT_QPA_PLATFORM", "offscreen"}};
  EXPECT_EQ(NoDisplayReason(get, folders), "");
  env = {{"QT_QPA_PLATFORM", "vnc:size=800x600"}};
  EXPECT_NE(NoDisplayReason(get, folders).find("\"vnc\""), std::string::npos);
}
