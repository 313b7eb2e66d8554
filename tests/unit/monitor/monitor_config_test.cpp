// monitor.conf: every key read, every bad line refused with its file, line
// and the accepted values, and the password only ever from its own file.
#include "hydrix/monitor/monitor_config.h"

#include <gtest/gtest.h>

#include <fstream>

namespace hx {
namespace {

TEST(MonitorConfig, ReadsEveryKeyAndKeepsTheDefaults) {
  MonitorConfig c;
  ParseMonitorConfig("\xEF\xBB\xBF# site 12\n"
                     "broker = mqtts://broker.example.org\n"
                     "  username = site12  \n"
                     "; a comment\n"
                     "password_file = /etc/hydrix/pw\n"
                     "ca_file=/etc/hydrix/ca.pem\n"
                     "client_id = site-12\n"
                     "topic_prefix = fleet/hydro\n"
                     "period_s = 1\n"
                     "controllers = 1001, 1002 1001\n"
                     "queue_max = 0\n",
                     "monitor.conf", c);
  EXPECT_TRUE(c.problems.empty()) << c.problems[0];
  EXPECT_TRUE(c.tls);
  EXPECT_EQ(c.host, "broker.example.org");
  EXPECT_EQ(c.port, 8883);
  EXPECT_EQ(c.BrokerText(), "mqtts://broker.example.org:8883");
  EXPECT_EQ(c.username, "site12");
  EXPECT_EQ(c.passwordFile, "/etc/hydrix/pw");
  EXPECT_EQ(c.caFile, "/etc/hydrix/ca.pem");
  EXPECT_EQ(c.clientId, "site-12");
  EXPECT_EQ(c.topicPrefix, "fleet/hydro");
  EXPECT_EQ(c.periodS, 1);
  EXPECT_EQ(c.controllers, (std::vector<std::int32_t>{1001, 1002}));
  EXPECT_EQ(c.queueMax, 0u);

  MonitorConfig d;
  ParseMonitorConfig("broker = mqtt://[::1]:1884\ncontrollers = all", "m", d);
  EXPECT_TRUE(d.problems.empty());
  EXPECT_EQ(d.BrokerText(), "mqtt://[::1]:1884");
  EXPECT_EQ(d.clientId, DefaultClientId());
  EXPECT_EQ(d.clientId.rfind("hydrix-monitor-", 0), 0u);
  EXPECT_EQ(d.topicPrefix, "hydrix");
  EXPECT_EQ(d.periodS, 10);
  EXPECT_TRUE(d.controllers.empty());
  EXPECT_EQ(d.queueMax, 8640u);
}

TEST(MonitorConfig, RefusesEachBadLineWithItsLineAndTheAcceptedValues) {
  MonitorConfig c;
  ParseMonitorConfig("broker = http://x\n"             // 1
                     "period_s = 0\n"                  // 2
                     "queue_max = lots\n"              // 3
                     "controllers = 5, -1\n"           // 4
                     "topic_prefix = a/#\n"            // 5
                     "password = hunter2\n"            // 6
                     "colour = blue\n"                 // 7
                     "just words\n"                    // 8
                     "period_s = 5\n"                  // 9
                     "ca_file = relative.pem\n"        // 10
                     "client_id = a/b\n",              // 11
                     "/etc/hydrix/monitor.conf", c);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {":1: ", "accepted: mqtt://host[:port] or mqtts://host[:port]"},
      {":2: ", "accepted: whole seconds from 1 to 86400"},
      {":3: ", "accepted: 0 to 1000000"},
      {":4: ", "\"-1\" is not a controller identifier (accepted: all, or identifiers"},
      {":5: ", "topic_prefix \"a/#\""},
      {":6: ", "a password is never written in this file (accepted: password_file"},
      {":7: ", "unknown key \"colour\" (accepted: broker, username, password_file"},
      {":8: ", "\"just words\" is not a key = value line"},
      {":9: ", "period_s is given a second time (first on line 2)"},
      {":10: ", "is not an absolute path"},
      {":11: ", "client_id \"a/b\" is not usable"},
  };
  ASSERT_EQ(c.problems.size(), expected.size()) << c.problems[0];
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(c.problems[i].rfind("/etc/hydrix/monitor.conf" + expected[i].first, 0), 0u) << c.problems[i];
    EXPECT_NE(c.problems[i].find(expected[i].second), std::string::npos) << c.problems[i];
  }
  MonitorConfig empty;
  ParseMonitorConfig("# nothing\n", "m", empty);
  EXPECT_EQ(empty.problems,
            std::vector<std::string>{"m: no broker line (accepted: broker = mqtt://host[:port] or mqtts://host[:port])"});

  // ca_file without mqtts, password_file without username.
  MonitorConfig d;
  ParseMonitorConfig("ca_file = /ca.pem\nbroker = mqtt://h\npassword_file = /pw\n", "m", d);
  ASSERT_EQ(d.problems.size(), 2u);
  EXPECT_EQ(d.problems[0], "m:1: ca_file is for an mqtts:// broker only (accepted: broker = mqtts://host[:port])");
  EXPECT_EQ(d.problems[1], "m:3: password_file needs a username line");
}

TEST(MonitorConfig, LoadsThePasswordFromItsFileAndRefusesAFileThatCannotBeRead) {
  const auto folder = std::filesystem::temp_directory_path() / ("monitor-conf-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const auto conf = folder / "monitor.conf";
  const auto pw = folder / "pw";
  std::ofstream(pw) << "s3cret\r\nignored\n";
  std::ofstream(conf) << "broker = mqtt://localhost\nusername = u\npassword_file = " << pw.string() << "\n";
  MonitorConfig c = LoadMonitorConfig(conf);
  EXPECT_TRUE(c.problems.empty());
  EXPECT_EQ(c.password, "s3cret");
  EXPECT_EQ(c.file, conf.string());

  std::filesystem::remove(pw);
  c = LoadMonitorConfig(conf);
  ASSERT_EQ(c.problems.size(), 1u);
  EXPECT_EQ(c.problems[0].rfind(conf.string() + ":3: password_file " + pw.string() + " cannot be read", 0), 0u)
      << c.problems[0];
  c = LoadMonitorConfig(folder / "absent.conf");
  ASSERT_EQ(c.problems.size(), 1u);
  EXPECT_NE(c.problems[0].find("cannot be read"), std::string::npos);

  const auto path = MonitorConfigSearchPath([](const char* n) -> const char* {
    return std::string(n) == "XDG_CONFIG_HOME" ? "/home/t/.cfg" : nullptr;
  });
  EXPECT_EQ(path, (std::vector<std::filesystem::path>{"/etc/hydrix/monitor.conf", "/home/t/.cfg/hydrix/monitor.conf"}));
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace hx
