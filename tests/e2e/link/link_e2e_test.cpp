// The controller link end to end: the real libhxusbif, a running hydrix-sim
// daemon, the hydrix core and the hydrixctl program.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/sleeper.h"
#include "hydrix/commands/hydrix_device.h"
#include "hydrix/link/usb_library.h"
#include "hydrix/selection/device_selection.h"
#include "support/recording_dialog_service.h"
#include "support/sim_daemon.h"

namespace hx {
namespace {

using test::RunProgram;
using test::SimDaemon;

class NoSleep : public Sleeper {
 public:
  void Sleep(std::chrono::milliseconds) override {}
};

class LinkEndToEnd : public ::testing::Test {
 protected:
  void StartWith(std::vector<std::string> controllers) {
    daemon = std::make_unique<SimDaemon>(HYDRIX_SIM_EXE, std::move(controllers));
    ASSERT_TRUE(daemon->Start());
    daemon->Export();
  }
  std::string Dump(int id, const std::string& what) {
    return RunProgram(
               {HYDRIX_SIM_EXE, "dump", "--socket", daemon->socket(), "--id", std::to_string(id), what})
        .out;
  }
  test::CommandResult Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), HYDRIXCTL_EXE);
    return RunProgram(args, {"HYDRIX_SIM_SOCKET=" + daemon->socket(), "HYDRIX_USB_TIMEOUT_MS=200"});
  }

  std::unique_ptr<SimDaemon> daemon;
  UsbLibrary usb{HXUSBIF_LIB};
  CodeMessageSource messages;
  test::RecordingDialogService dialogs;
  NoSleep sleeper;
};

TEST_F(LinkEndToEnd, EnumeratesReadsAndWritesThroughTheLibraryAndTheDaemon) {
  StartWith({"id=5", "id=6,fault=silent", "id=9,type=2,version=2.13"});
  HydrixDevice device(usb, messages, dialogs, sleeper);
  DeviceSelection selection(usb, device.link(), device.state(), dialogs);
  const DeviceList list = selection.Load();
  EXPECT_EQ(list.ids, (std::vector<std::int32_t>{5, 9}));
  EXPECT_EQ(list.texts, (std::vector<std::string>{"Hydrix (11) 1.05", "Arvel L1 (2) 2.13"}));
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(usb.BackendName(), "sim");

  ASSERT_TRUE(selection.ListClick(list, 0));
  device.SetTimeOut(false);
  ASSERT_TRUE(device.LitImage());
  EXPECT_EQ(device.LitMotParams(0), 3600);
  EXPECT_EQ(device.LitVersion(), "Tessaro Hydrix  (11) V 1.05");
  device.ImageEcriture()[36] = 0x44;
  ASSERT_TRUE(device.EcritImage());
  EXPECT_NE(Dump(5, "eeprom").find("0020: 00 00 00 00 44"), std::string::npos) << Dump(5, "eeprom");
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(LinkEndToEnd, SettingsSurviveARestartOfTheDaemon) {
  StartWith({"id=5"});
  {
    HydrixDevice device(usb, messages, dialogs, sleeper);
    device.SetUsbID(5);
    device.EcritEEprom(100, 0xAB);
    ASSERT_FALSE(device.TimeOut());
  }
  ASSERT_EQ(daemon->Stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(daemon->socket()));
  ASSERT_TRUE(daemon->Start());
  HydrixDevice device(usb, messages, dialogs, sleeper);
  device.SetUsbID(5);
  EXPECT_EQ(device.LitEEprom(100), 0xAB);
  std::ifstream in(daemon->state() / "controller-5" / "eeprom.bin", std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 256u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[100]), 0xAB);
}

TEST_F(LinkEndToEnd, ALateAnswerTakesTheNoAnswerPathAndAnInTimeOneDoesNot) {
  StartWith({"id=5,latency=300"});
  HydrixDevice device(usb, messages, dialogs, sleeper);
  device.SetUsbID(5);
  device.link().SetReadTimeoutMs(100);
  device.LitDateEtHeure();
  EXPECT_TRUE(device.TimeOut());
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Missing Hydrix"});
  device.SetTimeOut(false);
  device.link().SetReadTimeoutMs(1000);
  EXPECT_NE(device.LitDateEtHeure(), "00/00/00 - 00:00:00");
  EXPECT_FALSE(device.TimeOut());
}

TEST_F(LinkEndToEnd, AControllerThatStopsAnsweringMidImageIsReportedOnce) {
  StartWith({"id=5"});
  ASSERT_EQ(
      RunProgram({HYDRIX_SIM_EXE, "set", "--socket", daemon->socket(), "--id", "5", "fault", "after:40"})
          .status,
      0);
  HydrixDevice device(usb, messages, dialogs, sleeper);
  device.SetUsbID(5);
  device.link().SetReadTimeoutMs(100);
  EXPECT_FALSE(device.LitImage());
  EXPECT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(device.ImageParams()[20], 0);
  EXPECT_FALSE(device.EcritImage());
}

TEST_F(LinkEndToEnd, HydrixctlListsReadsAndSetsTheClock) {
  StartWith({"id=5", "id=6,fault=silent", "id=8,fault=zeros"});
  auto list = Ctl({"list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "5\tHydrix (11) 1.05\n8\tGeneric Ostrel (0) 0.00\n");

  auto image = Ctl({"--id", "5", "image"});
  EXPECT_EQ(image.status, 0) << image.err;
  EXPECT_EQ(image.out.rfind("0000: 10 0E 00 00", 0), 0u) << image.out;
  EXPECT_NE(image.out.find("\n0080: 00\n"), std::string::npos);
  EXPECT_EQ(std::count(image.out.begin(), image.out.end(), '\n'), 9);

  ASSERT_EQ(
      RunProgram({HYDRIX_SIM_EXE, "set", "--socket", daemon->socket(), "--id", "5", "var", "20=6", "21=0"})
          .status,
      0);
  auto measures = Ctl({"--id", "5", "measures"});
  EXPECT_EQ(measures.status, 0);
  EXPECT_NE(measures.out.find("battery_voltage_mV\t"), std::string::npos);
  EXPECT_NE(measures.out.find("\nstate\t6\tNormal state\n"), std::string::npos) << measures.out;

  auto set = Ctl({"--id", "5", "clock", "--set"});
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out.rfind("hydrixctl: Time Set\nclock set to ", 0), 0u) << set.out;
  // The controller clock runs on from the time set.
  const auto seconds = [](const std::string& text) {
    std::tm tm{};
    EXPECT_NE(strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm), nullptr) << text;
    return timegm(&tm);
  };
  const auto sent = seconds(set.out.substr(set.out.find("clock set to ") + 13, 19));
  const auto now = seconds(Dump(5, "clock").substr(0, 19));
  EXPECT_GE(now, sent);
  EXPECT_LE(now, sent + 5);
  auto clock = Ctl({"--id", "5", "clock"});
  EXPECT_EQ(clock.status, 0);
  EXPECT_EQ(clock.out.size(), std::string("07/03/24 - 14:05:09\n").size());
}

TEST_F(LinkEndToEnd, HydrixctlFailsLoudlyWhenTheControllerDoesNotAnswer) {
  StartWith({"id=6,fault=silent"});
  auto list = Ctl({"list"});
  EXPECT_EQ(list.status, 1);
  EXPECT_EQ(list.out, "");
  EXPECT_NE(list.err.find("no controller answered"), std::string::npos);
  auto clock = Ctl({"--id", "6", "clock"});
  EXPECT_EQ(clock.status, 1);
  EXPECT_NE(clock.err.find("Missing Hydrix"), std::string::npos);
  EXPECT_NE(clock.err.find("controller 6 did not answer"), std::string::npos);
  auto bad = Ctl({"--id", "x", "clock"});
  EXPECT_EQ(bad.status, 2);
  auto none = RunProgram({HYDRIXCTL_EXE, "list"},
                         {"HYDRIX_SIM_SOCKET=" + (daemon->folder() / "nothing.sock").string()});
  EXPECT_EQ(none.status, 1);
}

TEST_F(LinkEndToEnd, HydrixctlTakesItsFailureTextsAndCatalogueCommandsFromTheConfiguration) {
  StartWith({"id=6,fault=silent"});
  const auto config = daemon->folder() / "config.xml";
  std::ofstream(config) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration>\n<MESSAGES>\n"
                           "<L NOM=\"English\"><E><C>Missing Hydrix</C><T>Controller not found</T></E></L>\n"
                           "<L NOM=\"Deutsch\"><E><C>Missing Hydrix</C><T>Regler fehlt</T></E></L>\n"
                           "</MESSAGES>\n<Maintenance>False</Maintenance>\n</Configuration>\n";
  auto clock = Ctl({"--config", config.string(), "--id", "6", "clock"});
  EXPECT_EQ(clock.status, 1);
  EXPECT_NE(clock.err.find("hydrixctl: Controller not found\n"), std::string::npos) << clock.err;

  auto languages = Ctl({"languages", "--config", config.string()});
  EXPECT_EQ(languages.status, 0);
  EXPECT_EQ(languages.out, "* English\nDeutsch\n");
  auto message = Ctl({"--config", config.string(), "message", "--add", "Deutsch", "Lire", "Lesen"});
  EXPECT_EQ(message.status, 0);
  EXPECT_EQ(message.out, "Lesen\n");
  std::ifstream in(config);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Lesen"), std::string::npos);  // the catalogue completed itself

  auto missing = Ctl({"--config", (daemon->folder() / "none.xml").string(), "message", "English", "Lire"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_FALSE(std::filesystem::exists(daemon->folder() / "none.xml"));
}

TEST_F(LinkEndToEnd, DaemonStopsCleanlyOnSigtermAndKeepsItsState) {
  StartWith({"id=5"});
  ASSERT_EQ(
      RunProgram({HYDRIX_SIM_EXE, "set", "--socket", daemon->socket(), "--id", "5", "eeprom", "120=0x5A"})
          .status,
      0);
  EXPECT_EQ(daemon->Stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(daemon->socket()));
  ASSERT_TRUE(daemon->Start());
  EXPECT_NE(Dump(5, "eeprom").find("0070: 00 00 00 00 00 00 00 00 5A"), std::string::npos);
}

}  // namespace
}  // namespace hx
