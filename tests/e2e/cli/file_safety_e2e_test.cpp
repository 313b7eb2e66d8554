// Files the programs are pointed at, end to end: hydrixctl and flashtool
// refuse devices, FIFOs and read-only files by name and never wait on them,
// and a bad hxusb.conf is named with its line and the accepted values. A
// program that blocked would be stopped by CTest's time-out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "support/file_size_limit.h"
#include "support/sim_daemon.h"

namespace {

namespace fs = std::filesystem;
using hx::test::CommandResult;
using hx::test::RunProgram;
using hx::test::SimDaemon;

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class FileSafetyEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon = std::make_unique<SimDaemon>(HYDRIX_SIM_EXE, std::vector<std::string>{"id=5"});
    ASSERT_TRUE(daemon->Start());
    fifo = daemon->folder() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  }
  CommandResult Ctl(std::vector<std::string> args, std::vector<std::string> env = {}) {
    args.insert(args.begin(), HYDRIXCTL_EXE);
    env.push_back("HYDRIX_SIM_SOCKET=" + daemon->socket());
    env.push_back("HYDRIX_USB_TIMEOUT_MS=200");
    return RunProgram(args, env);
  }
  static bool IsCharDevice(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISCHR(st.st_mode);
  }
  std::unique_ptr<SimDaemon> daemon;
  fs::path fifo;
};

TEST_F(FileSafetyEndToEnd, DevicesFifosAndReadOnlyFilesAreRefusedByName) {
  auto r = Ctl({"settings", "export", "/dev/null"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err),
            "hydrixctl: cannot save /dev/null: it is a character device, not a regular file");
  EXPECT_TRUE(IsCharDevice("/dev/null"));
  r = Ctl({"settings", "export", fifo.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err),
            "hydrixctl: cannot save " + fifo.string() + ": it is a FIFO, not a regular file");

  r = Ctl({"report", "--log", fifo.string(), "--order", "4711"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err), "hydrixctl: The production log " + fifo.string() +
                                  " cannot be opened: it is a FIFO, not a regular file.");
  r = Ctl({"measures", "--watch", "--count", "1", "--csv", fifo.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err), "hydrixctl: The measure log " + fifo.string() +
                                  " cannot be written: it is a FIFO, not a regular file.");
  EXPECT_TRUE(fs::is_fifo(fifo));

  // A read-only log is refused to root as to everybody.
  const fs::path log = daemon->folder() / "measures.csv";
  std::ofstream(log) << "kept\n";
  fs::permissions(log, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  r = Ctl({"measures", "--watch", "--count", "1", "--csv", log.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err),
            "hydrixctl: The measure log " + log.string() + " cannot be written: the file is read-only.");
  EXPECT_EQ(Read(log), "kept\n");
}

// A reader that goes away ends the watch with a message and status 1
// instead of a silent death by SIGPIPE.
TEST_F(FileSafetyEndToEnd, AWatchWhoseReaderGoesAwayStopsWithAMessage) {
  const fs::path status = daemon->folder() / "status", err = daemon->folder() / "err";
  const std::string cmd = "{ HYDRIX_SIM_SOCKET=" + daemon->socket() + " " + HYDRIXCTL_EXE +
                          " measures --watch --interval 0.1 2>" + err.string() + "; echo $? >" +
                          status.string() + "; } | head -n 2 >/dev/null";
  ASSERT_EQ(RunProgram({"/bin/sh", "-c", cmd}).status, 0);
  EXPECT_EQ(Read(status), "1\n");
  EXPECT_EQ(FirstLine(Read(err)),
            "hydrixctl: the measures cannot be written to the standard output; the watch stops");
}

// A bad hxusb.conf is named with its line and what is accepted, and no
// backend is used until it is corrected; a byte-order mark is accepted.
TEST_F(FileSafetyEndToEnd, ABadUsbConfigurationIsNamedByLine) {
  const fs::path xdg = daemon->folder() / "xdg";
  fs::create_directories(xdg / "hydrix");
  const fs::path conf = xdg / "hydrix" / "hxusb.conf";
  const std::string env = "XDG_CONFIG_HOME=" + xdg.string();

  std::ofstream(conf) << "[backend]\ntype=usbb\n";
  auto r = Ctl({"list"}, {env});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err),
            "hydrixctl: " + conf.string() + ":2: unknown backend type \"usbb\" (accepted: sim, usb)");
  EXPECT_NE(r.err.find("No controller is reached until the USB configuration is corrected."),
            std::string::npos);

  std::ofstream(conf) << "[application]\nvendor=0x12345\nproduct=0x0001\n";
  const std::string vendor =
      conf.string() +
      ":2: vendor=0x12345 is not a 16-bit number (accepted: 0 to 0xFFFF, decimal or 0x "
      "hexadecimal)";
  r = Ctl({"list"}, {env});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err), "hydrixctl: " + vendor);
  // A named controller with nothing attached: the backend's reason comes
  // first, before any exchange.
  r = Ctl({"--id", "5", "image"}, {env});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err), "hydrixctl: " + vendor) << r.err;

  std::ofstream(conf) << "\xEF\xBB\xBF[backend]\ntype=sim\n";
  r = Ctl({"list"}, {env});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Ctl({"list"}, {env, "HYDRIX_USB_BACKEND=usbb"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err), "hydrixctl: HYDRIX_USB_BACKEND=usbb: unknown backend (accepted: sim, usb)");

  // A key given twice, a line holding an escape sequence (shown escaped,
  // never sent to the terminal) and a link leading nowhere are named too.
  std::ofstream(conf) << "[backend]\ntype=sim\ntype=usb\n";
  r = Ctl({"list"}, {env});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err), "hydrixctl: " + conf.string() +
                                  ":3: type= is given a second time in [backend] (first on line 2)");
  std::ofstream(conf) << "[backend]\ntype=\x1b[2J\x1b[31musb\x07\n";
  r = Ctl({"list"}, {env});
  EXPECT_EQ(FirstLine(r.err),
            "hydrixctl: " + conf.string() +
                ":2: unknown backend type \"\\x1B[2J\\x1B[31musb\\x07\" (accepted: sim, usb)");
  fs::remove(conf);
  fs::create_symlink(xdg / "missing.conf", conf);
  r = Ctl({"list"}, {env});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FirstLine(r.err), "hydrixctl: " + conf.string() + ": is a symbolic link to " +
                                  (xdg / "missing.conf").string() + ", which does not exist");
  fs::remove(conf);

  // flashtool shows the same under its connection message.
  std::ofstream(conf) << "[backend]\ntype=usbb\n";
  r = RunProgram({FLASHTOOL_EXE, "--batch", "idonly;usbid=9105"},
                 {env, "HYDRIX_SIM_SOCKET=" + daemon->socket()});
  EXPECT_NE(r.status, 0);
  EXPECT_NE((r.out + r.err).find(conf.string() + ":2: unknown backend type \"usbb\" (accepted: sim, usb)"),
            std::string::npos)
      << r.out << r.err;
}

// Under a file-size limit (a quota, ulimit -f) hydrixctl is not killed by
// SIGXFSZ: each failed write is told with the file's name and leaves the
// file as a full disk would: the report log as it was, the measure log with
// whole lines, a profile as it was and no temporary file beside it.
TEST_F(FileSafetyEndToEnd, AFileSizeLimitFailsTheWriteNotTheProgram) {
  const fs::path folder = daemon->folder() / "limited";
  fs::create_directories(folder);
  const fs::path log = folder / "4711.log", csv = folder / "measures.csv", profile = folder / "profile.txt";
  ASSERT_EQ(Ctl({"report", "--log", log.string(), "--order", "4711"}).status, 0);
  ASSERT_EQ(Ctl({"measures", "--watch", "--count", "1", "--interval", "0.1", "--csv", csv.string()}).status,
            0);
  std::ofstream(profile) << "kept\n";
  const std::string logBefore = Read(log), csvBefore = Read(csv);
  const auto namesBefore = Names(folder);

  // Each limit leaves room for part of one more report, row or profile (and
  // for the message on the standard error, a file too).
  auto limited = [&](std::size_t bytes, std::vector<std::string> args) {
    hx::test::FileSizeLimit full(bytes);
    return Ctl(std::move(args));
  };
  const CommandResult report =
      limited(logBefore.size() + 100, {"report", "--log", log.string(), "--order", "4712"});
  const CommandResult watch = limited(csvBefore.size() + 40, {"measures", "--watch", "--count", "3",
                                                              "--interval", "0.1", "--csv", csv.string()});
  const CommandResult save = limited(250, {"settings", "export", profile.string()});
  EXPECT_EQ(report.status, 1) << report.err;
  EXPECT_EQ(FirstLine(report.err), "hydrixctl: The report could not be written to " + log.string() +
                                       ": File too large. The log is as it was before.");
  EXPECT_EQ(Read(log), logBefore);

  EXPECT_EQ(watch.status, 1) << watch.err;
  EXPECT_EQ(FirstLine(watch.err), "hydrixctl: The measure log " + csv.string() +
                                      " could not be written (File too large); logging stopped.");
  const std::string rows = Read(csv);
  EXPECT_EQ(rows.substr(0, csvBefore.size()), csvBefore);
  EXPECT_EQ(rows.back(), '\n');

  EXPECT_EQ(save.status, 1) << save.err;
  EXPECT_EQ(FirstLine(save.err), "hydrixctl: cannot save " + profile.string() +
                                     ": cannot write the temporary file: File too large");
  EXPECT_EQ(Read(profile), "kept\n");
  EXPECT_EQ(Names(folder), namesBefore);  // no temporary file left
}

// The log is UTF-8 text read by people: an order number or comments with a
// control character or bytes that are not UTF-8 are refused, by field,
// before anything is written.
TEST_F(FileSafetyEndToEnd, AReportWithControlCharactersOrNonUtf8IsRefusedByField) {
  const fs::path log = daemon->folder() / "4711.log";
  auto r = Ctl({"report", "--log", log.string(), "--order", "47\x1b[2J11"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(FirstLine(r.err),
            "hydrixctl: The order number holds the control character 0x1B; nothing was written.");
  r = Ctl({"report", "--log", log.string(), "--order", "4711", "--comments", "ok\tline\nnext \xFF"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(FirstLine(r.err),
            "hydrixctl: The comments hold the byte 0xFF, which is not UTF-8; nothing was written.");
  EXPECT_FALSE(fs::exists(log));
  r = Ctl({"report", "--log", log.string(), "--order", "4711", "--comments", "ok\tline\nnext \xC2\xB0"});
  EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
