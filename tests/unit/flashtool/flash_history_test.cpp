// The firmware history: the line each run leaves (completed, refused before
// the boot command), quoting, a history that cannot be written, and
// `flashtool --history`.
#include "flashtool/flash_history.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>

#include "flash_test_support.h"
#include "flashtool/batch.h"

using namespace hx::flash;
using namespace hx::flash::test;

namespace {

// The application answers with its serial number until the boot command.
class SerialProbe : public IdentityProbe {
 public:
  explicit SerialProbe(FakeBootLibrary& lib) : lib_(lib) {}
  std::vector<ListedController> Answering() override { return {}; }
  std::optional<std::int32_t> Serial(std::int32_t UsbID) override {
    asked.push_back(UsbID);
    if (lib_.inBootLoader) return std::nullopt;
    return 24000001;
  }
  std::vector<std::int32_t> asked;

 private:
  FakeBootLibrary& lib_;
};

}  // namespace

class History : public ::testing::Test {
 protected:
  History() {
    folder.Write(hexName, MakeHex(0x200, {0x40, 0xEF, 0x01, 0xF0, 1, 2, 3, 4}));
    env = {"flashtool", folder.path(), folder.path(), folder.path()};
    env.keepHistory = true;
    env.historyFile = folder.path() / "state" / "hydrix" / kHistoryFileName;
  }
  int Run(const std::string& tail) {
    out.str("");
    err.str("");
    return RunBatch(tail, env, lib, clock, out, err, false, &probe);
  }
  std::vector<std::string> HistoryLines() { return Lines(folder.Read("state/hydrix/flash-history.csv")); }

  // A name a CSV line must quote: a comma, quotes, a blank.
  const std::string hexName = "fw, \"v2\".hex";
  TempFolder folder;
  FakeBootLibrary lib;
  FakeClock clock;
  SerialProbe probe{lib};
  FlashEnvironment env;
  std::ostringstream out, err;
};

TEST_F(History, EachRunLeavesOneLineCompletedOrRefused) {
  ASSERT_EQ(Run("device=arvel;usbid=1;prg=" + hexName), kExitCompleted) << out.str();
  // The serial was read before the boot command, once the file was checked.
  EXPECT_EQ(probe.asked, std::vector<std::int32_t>{1});
  std::string hex = folder.Read(hexName);
  const std::uint32_t crc = Crc32({reinterpret_cast<const std::uint8_t*>(hex.data()), hex.size()});

  // A file that is not HEX: refused before the boot command, so no serial.
  folder.Write("bad.hex", ":10020000GG\n");
  ASSERT_EQ(Run("device=arvel;usbid=1;prg=bad.hex"), kExitFailed);
  EXPECT_EQ(probe.asked.size(), 1u);

  const auto lines = HistoryLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], kHistoryHeader);
  const auto done = SplitCsvLine(lines[1]);
  ASSERT_EQ(done.size(), 14u) << lines[1];
  EXPECT_TRUE(std::regex_match(done[0], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)"))) << done[0];
  EXPECT_EQ(done[1], UserName());
  EXPECT_FALSE(done[2].empty());
  char crcText[9];
  std::snprintf(crcText, sizeof crcText, "%08X", crc);
  EXPECT_EQ(std::vector<std::string>(done.begin() + 3, done.end()),
            (std::vector<std::string>{"1", "24000001", "ARVEL", "PIC18F2550", (folder.path() / hexName).string(),
                                      std::to_string(hex.size()), crcText, "16", "16", "completed", "0"}));
  // The quoted path stays one field.
  EXPECT_NE(lines[1].find(",\"" + folder.path().string() + R"(/fw, ""v2"".hex",56,)"), std::string::npos)
      << lines[1];

  const auto refused = SplitCsvLine(lines[2]);
  ASSERT_EQ(refused.size(), 14u);
  EXPECT_EQ(std::vector<std::string>(refused.begin() + 3, refused.end()),
            (std::vector<std::string>{"1", "", "ARVEL", "", (folder.path() / "bad.hex").string(), "12",
                                      refused[9], "0", "0", "failed", "1"}));
  EXPECT_EQ(refused[9].size(), 8u);
  EXPECT_EQ(err.str(), "");
}

TEST_F(History, AHistoryThatCannotBeWrittenIsSaidAndTheRunCompletes) {
  // The state folder is taken by a file: nothing can be made under it.
  folder.Write("state", "not a folder\n");
  EXPECT_EQ(Run("device=arvel;usbid=1;prg=" + hexName), kExitCompleted);
  const std::string why = "The firmware history " + env.historyFile.string() + " could not be written: ";
  EXPECT_EQ(err.str().rfind("flashtool: " + why, 0), 0u) << err.str();
  const auto lines = Lines(out.str());
  EXPECT_EQ(lines.end()[-2].rfind(why, 0), 0u) << out.str();
  EXPECT_EQ(lines.back(), "Result: completed (exit 0)");
  EXPECT_EQ(lib.eeprom[0xFF], 0x00);  // programmed all the same
}

TEST_F(History, PrintsTheLastLinesAlignedUnderTheHeader) {
  std::ostringstream shown, problems;
  // None yet: one line, and no failure.
  EXPECT_EQ(PrintHistory(env.historyFile, 20, shown, problems), 0);
  EXPECT_EQ(shown.str(), "No firmware history yet: " + env.historyFile.string() +
                             " does not exist (each run of flashtool adds a line).\n");
  ASSERT_EQ(Run("device=arvel;usbid=1;prg=" + hexName), kExitCompleted);
  ASSERT_EQ(Run("device=arvel;usbid=1;prg=missing.hex"), kExitFailed);
  ASSERT_EQ(Run("idonly;usbid=1"), kExitCompleted);
  shown.str("");
  EXPECT_EQ(PrintHistory(env.historyFile, 2, shown, problems), 0);
  const auto rows = Lines(shown.str());
  ASSERT_EQ(rows.size(), 3u) << shown.str();
  // Every column starts where its name does.
  const std::size_t result = rows[0].find("result");
  const std::size_t exit = rows[0].find("exit");
  EXPECT_EQ(rows[1].substr(result, 7), "failed ");
  EXPECT_EQ(rows[2].substr(result, 10), "completed ");
  EXPECT_EQ(rows[1].substr(exit), "1");
  EXPECT_EQ(rows[2].substr(exit), "0");
  EXPECT_EQ(rows[2].substr(rows[0].find("chip"), 10), "PIC18F2550");
  EXPECT_EQ(problems.str(), "");

  // The number of lines: a number, or a usage error.
  auto parse = [](std::vector<const char*> argv) {
    argv.insert(argv.begin(), "flashtool");
    return ParseProgramArguments(static_cast<int>(argv.size()), argv.data());
  };
  EXPECT_EQ(parse({"--history"}).historyCount, 20);
  EXPECT_EQ(parse({"--history", "5"}).historyCount, 5);
  EXPECT_EQ(parse({"--history", "-1"}).error, "--history takes a number of lines from 0 to 1000000, not \"-1\"");
  EXPECT_FALSE(parse({"--history", "x"}).error.empty());
}
