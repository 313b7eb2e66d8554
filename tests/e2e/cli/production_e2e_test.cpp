// The production line end to end: hydrixctl's maintenance commands and the
// firmware update launch, through the real stand-in libraries and a
// hydrix-sim daemon.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "hydrix/config/message_source.h"
#include "hydrix/mainscreen/firmware_launch.h"
#include "support/recording_dialog_service.h"
#include "support/sim_daemon.h"

namespace {

namespace fs = std::filesystem;
using hx::test::CommandResult;
using hx::test::RunProgram;
using hx::test::SimDaemon;

// One Intel HEX data record.
std::string Record(std::uint16_t address, std::uint8_t type, const std::vector<std::uint8_t>& data) {
  unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
  char buf[16];
  std::string line = ":";
  std::snprintf(buf, sizeof buf, "%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
  line += buf;
  for (auto b : data) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    line += buf;
    sum += b;
  }
  std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return line + buf + "\n";
}

class ProductionEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon = std::make_unique<SimDaemon>(HYDRIX_SIM_EXE, std::vector<std::string>{"id=5"});
    ASSERT_TRUE(daemon->Start());
  }
  CommandResult Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), HYDRIXCTL_EXE);
    // Serial numbers written are recorded in the daemon's folder.
    return RunProgram(args, {"HYDRIX_SIM_SOCKET=" + daemon->socket(), "HYDRIX_USB_TIMEOUT_MS=200",
                             "XDG_STATE_HOME=" + (daemon->folder() / "state").string()});
  }
  std::string Dump(const std::string& what) {
    return RunProgram({HYDRIX_SIM_EXE, "dump", "--socket", daemon->socket(), "--id", "5", what}).out;
  }
  std::unique_ptr<SimDaemon> daemon;
};

TEST_F(ProductionEndToEnd, CalibrateSerialAndReportFromTheCommandLine) {
  auto r = Ctl({"calibrate-voltage", "12.7"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("voltage_correction\t", 0), 0u) << r.out;
  EXPECT_EQ(Ctl({"calibrate-voltage", "70"}).status, 2);

  r = Ctl({"calibrate-clock", "16.001"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "clock_correction\t-16001\t16.0010\n");
  EXPECT_EQ(Ctl({"fast-clock", "on"}).status, 0);
  EXPECT_EQ(Ctl({"fast-clock", "maybe"}).status, 2);

  r = Ctl({"serial", "123456"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Dump("eeprom").find("0020: "), std::string::npos);
  EXPECT_NE(Dump("eeprom").find("40 E2 01 00"), std::string::npos) << Dump("eeprom");
  r = Ctl({"serial", "2147483648"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("trop grand"), std::string::npos);

  const fs::path log = daemon->folder() / "4711.log";
  ASSERT_EQ(Ctl({"report", "--log", log.string(), "--order", "4711", "--comments", "first"}).status, 0);
  ASSERT_EQ(Ctl({"report", "--log", log.string(), "--order", "4711", "--language", "Deutsch"}).status, 0);
  std::ifstream in(log);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 48u);
  EXPECT_EQ(lines[9], "Serial Number : 123456");
  EXPECT_EQ(lines[12], "Clock Calibration : -16001 / 16.0010");
  EXPECT_NE(lines[24 + 9], "Serial Number : 123456");  // German caption
  EXPECT_EQ(lines[24 + 9].substr(lines[24 + 9].size() - 8), ": 123456");
  EXPECT_EQ(Ctl({"report", "--log", (daemon->folder() / "no" / "x.log").string(), "--order", "1"}).status, 1);
  EXPECT_EQ(Ctl({"report", "--log", log.string()}).status, 2);
}

// The launch's program and command tail, handed to the real flashtool in
// batch mode: the tail arrives whole and the controller is programmed.
class BatchStarter : public hx::ProcessStarter {
 public:
  explicit BatchStarter(std::string socket) : socket_(std::move(socket)) {}
  bool Start(const fs::path& program, const std::vector<std::string>& args, std::string&) override {
    std::vector<std::string> argv = {program.string(), "--batch"};
    argv.insert(argv.end(), args.begin(), args.end());
    result = RunProgram(argv, {"HYDRIX_SIM_SOCKET=" + socket_});
    return true;
  }
  CommandResult result;

 private:
  std::string socket_;
};

TEST_F(ProductionEndToEnd, FirmwareUpdateLaunchProgramsThroughFlashtool) {
  const fs::path folder = daemon->folder() / "firmware files";
  fs::create_directories(folder);
  const fs::path hex = folder / "new  version.hex";
  std::vector<std::uint8_t> app = {0x40, 0xEF, 0x01, 0xF0};
  for (int i = 0; i < 12; ++i) app.push_back(static_cast<std::uint8_t>(0x80 + i));
  std::ofstream(hex) << Record(0, 0x04, {0, 0}) << Record(0x200, 0, app) << Record(0, 0x01, {});

  hx::test::RecordingDialogService dialogs;
  dialogs.answers = {hx::MsgAnswer::Yes};
  dialogs.files = {hex.string()};
  hx::CodeMessageSource messages;
  BatchStarter starter(daemon->socket());
  ASSERT_TRUE(hx::LanceMiseAJour(dialogs, messages, starter, fs::path(FLASHTOOL_EXE).parent_path(), 5));
  EXPECT_EQ(starter.result.status, 0) << starter.result.out << starter.result.err;
  EXPECT_NE(starter.result.out.find("Programming complete."), std::string::npos) << starter.result.out;
  EXPECT_NE(Dump("flash").find("000200: 40 EF 01 F0 80 81 82 83"), std::string::npos);
  EXPECT_EQ(Dump("mode"), "application\n");

  // No flashtool next to hydrix: a clear message, nothing started.
  dialogs.answers = {hx::MsgAnswer::Yes};
  dialogs.files = {hex.string()};
  EXPECT_FALSE(hx::LanceMiseAJour(dialogs, messages, starter, daemon->folder(), 5));
  EXPECT_NE(dialogs.Texts().back().find("Install flashtool next to hydrix"), std::string::npos);
}

}  // namespace
