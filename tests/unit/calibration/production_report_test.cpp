// The production report's lines and its log file.
#include "hydrix/calibration/production_report.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/file_size_limit.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

ReportInput English() {
  ReportInput in;
  in.date = "07/03/24";
  in.orderCaption = "N° de Commande";
  in.order = "4711";
  in.versionCaption = "Firmware Version", in.version = "1.05";
  in.serialCaption = "Serial Number", in.serial = "24000005";
  in.dateCaption = "Last Programming Date", in.programmingDate = "01/15/24 10:00:00";
  in.clockCorrection = "-1000", in.clockValue = "16.0160";
  in.startLowCaption = "Start @ Low Battery Level (V)", in.startLow = "12.00";
  in.startHighCaption = "Start Tempo @ High Battery Level (V)", in.startHigh = "13.80";
  in.alarmCaption = "Alarm Battery Level (V)", in.alarm = "11.50";
  in.pulseCaption = "Solenoid Pulse (ms)", in.pulse = "320";
  in.forced1Caption = "Forced charge 1 (h)", in.forced1 = "none";
  in.forced2Caption = "Forced charge 2 (h)", in.forced2 = "6";
  in.capacityCaption = "Battery Capacity (Ah)\u00a0: Tempo (Hr) ", in.capacity = "> 25 Ah \t\t: 6 Hrs";
  in.voltageCorrection = "0.420";
  return in;
}

TEST(ProductionReport, TwentyFourLinesInTheirOrder) {
  const std::vector<std::string> expected = {
      " ",
      "------------------------------------------",
      "07/03/24",
      " ",
      "N° de Commande 4711",
      " ",
      "",
      " ",
      "Firmware Version : 1.05",
      "Serial Number : 24000005",
      "Last Programming Date : 01/15/24 10:00:00",
      " ",
      "Clock Calibration : -1000 / 16.0160",
      " ",
      "Start @ Low Battery Level (V) : 12.00",
      "Start Tempo @ High Battery Level (V) : 13.80",
      "Alarm Battery Level (V) : 11.50",
      "Solenoid Pulse (ms) : 320",
      "Forced charge 1 (h) : none",
      "Forced charge 2 (h) : 6",
      "Battery Capacity (Ah)\u00a0: Tempo (Hr)  : > 25 Ah \t\t: 6 Hrs",
      "Clock calibration : -1000 (16.0160)",
      "Voltage calibration : 0.420",
      " ",
  };
  EXPECT_EQ(ReportLines(English()), expected);
}

TEST(ProductionReport, FileNameProposal) {
  EXPECT_EQ(ProposedLogName("4711"), "4711.log");
  EXPECT_EQ(ProposedLogName("4711.LOG"), "4711.LOG");
  EXPECT_EQ(ProposedLogName("4711.log"), "4711.log");
  EXPECT_EQ(ProposedLogName(""), "");
}

TEST(ProductionReport, AppendsWholeReportsAndReportsWhatCannotBeWritten) {
  const fs::path folder = fs::temp_directory_path() / ("hydrix-report-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const fs::path log = folder / "4711.log";
  auto in = English();
  in.comments = "line one\nline two";
  ASSERT_EQ(AppendReport(log, ReportLines(in)), "");
  ASSERT_EQ(AppendReport(log, ReportLines(English())), "");
  const std::string text = Read(log);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 49);  // 48 lines, one comment holding a line break
  EXPECT_EQ(text.find(" \n------------------------------------------\n", 10),
            text.find("Voltage calibration : 0.420\n \n") + 30);

  EXPECT_NE(AppendReport(folder / "missing" / "a.log", ReportLines(in)), "");
  EXPECT_NE(AppendReport(folder, ReportLines(in)), "");  // a folder
  // A read-only log is refused untouched, also to root.
  fs::permissions(log, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(AppendReport(log, ReportLines(in)),
            "The production log " + log.string() + " cannot be opened: the file is read-only.");
  EXPECT_EQ(Read(log), text);
  fs::remove_all(folder);
}

// Station A's append fails on a full disk (a file-size limit) while station B
// appended its report just before, holding the log's lock: A cuts the log back
// to B's end, not to the end it found, and says why it failed.
TEST(ProductionReport, AFailedAppendKeepsAnotherStationsReport) {
  const fs::path folder = fs::temp_directory_path() / ("hydrix-report-lock-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const fs::path log = folder / "shared.log";
  ASSERT_EQ(AppendReport(log, ReportLines(English())), "");
  const std::string first = Read(log);

  // Station B holds the lock while it appends.
  const int b = ::open(log.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(b, 0);
  ASSERT_EQ(::flock(b, LOCK_EX), 0);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t a = ::fork();
  ASSERT_GE(a, 0);
  if (a == 0) {
    // Station A: room for B's report and half of its own. B's descriptor is
    // no part of it (a copy would keep B's lock alive).
    ::close(b);
    ::close(pipeFds[0]);
    test::FileSizeLimit full(first.size() * 2 + first.size() / 2);
    auto in = English();
    in.order = "A";
    const std::string message = AppendReport(log, ReportLines(in));
    (void)!::write(pipeFds[1], message.data(), message.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  // Give A time to reach the lock; the outcome is the same if it comes later.
  ::usleep(100000);
  auto in = English();
  in.order = "B";
  std::string report;
  for (const auto& l : ReportLines(in)) report += l + "\n";
  ASSERT_EQ(::write(b, report.data(), report.size()), static_cast<ssize_t>(report.size()));
  ::close(b);  // releases the lock

  std::string message;
  char buf[512];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
    message.append(buf, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(a, &status, 0);
  EXPECT_EQ(message, "The report could not be written to " + log.string() +
                         ": File too large. The log is as it was before.");
  EXPECT_EQ(Read(log), first + report);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace hx
