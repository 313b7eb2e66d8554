// hydrix-monitor end to end: a hydrix-sim daemon behind the real
// libhxusbif, a real mosquitto broker started by the test, and a subscriber.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "support/mqtt_broker.h"
#include "support/sim_daemon.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using hx::test::MqttBroker;
using hx::test::IsoTimeMs;
using hx::test::MqttSubscriber;
using hx::test::RunProgram;
using hx::test::SimDaemon;
using Messages = std::vector<MqttSubscriber::Message>;
using namespace std::chrono_literals;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A field of a flat JSON object, as its text ("" when absent; strings
// without their quotes).
std::string Field(const std::string& json, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(json, m, std::regex("\"" + key + "\":(\"([^\"]*)\"|[^,}]*)"))) return "";
  return m[2].matched ? m[2].str() : m[1].str();
}

std::vector<std::string> Payloads(const Messages& all, const std::string& topic) {
  std::vector<std::string> out;
  for (const auto& m : all)
    if (m.topic == topic) out.push_back(m.payload);
  return out;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class MonitorEndToEnd : public ::testing::Test {
 protected:
  void StartAll(std::vector<std::string> controllers) {
    daemon = std::make_unique<SimDaemon>(HYDRIX_SIM_EXE, std::move(controllers));
    ASSERT_TRUE(daemon->Start());
    broker = std::make_unique<MqttBroker>(daemon->folder() / "broker");
  }
  // Starts hydrix-monitor with `conf` as its configuration, its standard
  // error into <name>.err.
  pid_t StartMonitor(const std::string& name, const std::string& conf) {
    const fs::path file = daemon->folder() / (name + ".conf");
    std::ofstream(file) << conf;
    const std::string err = (daemon->folder() / (name + ".err")).string();
    std::vector<std::string> args{HYDRIX_MONITOR_EXE, "--config", file.string()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env{"HYDRIX_SIM_SOCKET=" + daemon->socket(), "HYDRIX_USB_TIMEOUT_MS=200"};
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    pids.push_back(pid);
    return pid;
  }
  std::string Log(const std::string& name) const { return ReadAll(daemon->folder() / (name + ".err")); }
  bool WaitLog(const std::string& name, const std::string& what, std::size_t times = 1,
               std::chrono::milliseconds limit = 20s) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Count(Log(name), what) < times) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(50ms);
    }
    return true;
  }
  // SIGTERM; the exit status, waiting at most 3 s.
  int Stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    const int status = hx::test::WaitExit(pid, 3s);
    std::erase(pids, pid);
    return status;
  }
  int Fault(const char* id, const char* mode) {
    return RunProgram({HYDRIX_SIM_EXE, "set", "--socket", daemon->socket(), "--id", id, "fault", mode}).status;
  }
  std::string Plain(const std::string& extra) const {
    return "broker = mqtt://127.0.0.1:" + std::to_string(broker->port()) + "\nperiod_s = 1\n" + extra;
  }
  void TearDown() override {
    for (pid_t p : pids) {
      ::kill(p, SIGKILL);
      hx::test::WaitExit(p, 3s);
    }
  }
  std::unique_ptr<SimDaemon> daemon;
  std::unique_ptr<MqttBroker> broker;
  std::vector<pid_t> pids;
};

// Two controllers appear with their discovery configurations and
// availability, retained; states carry the simulator's measures; a
// controller made silent goes offline and comes back; SIGTERM publishes
// offline and ends the monitor with 0.
TEST_F(MonitorEndToEnd, PublishesStatesDiscoveryAndAvailability) {
  StartAll({"id=5", "id=6"});
  ASSERT_TRUE(broker->Start()) << broker->Log();
  MqttSubscriber live(broker->port(), {"hydrix/#"});
  const pid_t pid = StartMonitor("m", Plain("client_id = site1\n"));
  auto states = [](const std::string& serial, std::size_t n) {
    return [=](const Messages& all) { return Payloads(all, "hydrix/" + serial + "/state").size() >= n; };
  };
  ASSERT_TRUE(live.WaitFor(states("24000005", 2)) && live.WaitFor(states("24000006", 2))) << Log("m");

  const std::string state = Payloads(live.Messages(), "hydrix/24000005/state").back();
  EXPECT_TRUE(std::regex_match(Field(state, "time"),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
      << state;
  EXPECT_EQ(Field(state, "id"), "5");
  EXPECT_EQ(Field(state, "type"), "Hydrix");
  EXPECT_EQ(Field(state, "firmware"), "1.05");
  // The voltage with its three decimals (the millivolts), the power balance
  // worked out from it and the currents to two.
  const std::string volts = Field(state, "battery_voltage_V");
  ASSERT_TRUE(std::regex_match(volts, std::regex(R"(1\d\.\d{3})"))) << state;
  const double u = std::stod(volts), ic = std::stod(Field(state, "charging_current_mA")),
               id = std::stod(Field(state, "discharging_current_mA"));
  const double power = ic != 0 ? ic * u / 1000 : -id * u / 1000;
  EXPECT_NEAR(std::stod(Field(state, "power_W")), power, 0.0051) << state;
  EXPECT_TRUE(std::regex_match(Field(state, "power_W"), std::regex(R"(-?\d+\.\d\d)"))) << state;
  for (const char* flag : {"charging", "charge_fault", "turbine_running", "relay"})
    EXPECT_TRUE(Field(state, flag) == "true" || Field(state, flag) == "false") << flag << " in " << state;
  // The simulator's own words agree (its voltage moves slowly).
  const auto dump = RunProgram({HYDRIX_SIM_EXE, "dump", "--socket", daemon->socket(), "--id", "5", "variables"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  std::map<int, int> v;
  std::istringstream lines(dump.out);
  for (int index, value; lines >> index >> value;) v[index] = value;
  EXPECT_NEAR(u * 1000, v[0] + 256 * v[1], 300) << state;
  EXPECT_NEAR(std::stod(Field(state, "temperature_C")), v[2] + 256 * v[3], 2) << state;

  // A subscriber that comes later gets the retained messages.
  MqttSubscriber later(broker->port(), {"hydrix/+/availability", "hydrix/monitor/#", "homeassistant/#"});
  ASSERT_TRUE(later.WaitFor([](const Messages& all) { return all.size() >= 21; })) << later.Messages().size();
  std::map<std::string, std::string> retained;
  for (const auto& m : later.Messages()) {
    EXPECT_TRUE(m.retain) << m.topic;
    retained[m.topic] = m.payload;
  }
  EXPECT_EQ(retained["hydrix/monitor/site1/availability"], "online");
  EXPECT_EQ(retained["hydrix/24000005/availability"], "online");
  EXPECT_EQ(retained["hydrix/24000006/availability"], "online");
  const std::string voltage = retained["homeassistant/sensor/hydrix_24000006/battery_voltage_V/config"];
  EXPECT_NE(voltage.find("\"device_class\":\"voltage\""), std::string::npos) << voltage;
  EXPECT_NE(voltage.find("\"identifiers\":[\"hydrix_24000006\"]"), std::string::npos) << voltage;
  EXPECT_NE(retained["homeassistant/binary_sensor/hydrix_24000005/relay/config"].find("\"state_topic\":\"hydrix/24000005/state\""),
            std::string::npos);

  // Silent, then answering again.
  ASSERT_EQ(Fault("5", "silent"), 0);
  ASSERT_TRUE(live.WaitFor([](const Messages& all) {
    const auto a = Payloads(all, "hydrix/24000005/availability");
    return !a.empty() && a.back() == "offline";
  })) << Log("m");
  EXPECT_TRUE(WaitLog("m", "controller 24000005 (id 5) offline: controller 5 did not answer"));
  const std::size_t before = Payloads(live.Messages(), "hydrix/24000005/state").size();
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(Payloads(live.Messages(), "hydrix/24000005/state").size(), before);
  ASSERT_EQ(Fault("5", "none"), 0);
  ASSERT_TRUE(live.WaitFor([](const Messages& all) {
    const auto a = Payloads(all, "hydrix/24000005/availability");
    return !a.empty() && a.back() == "online";
  })) << Log("m");
  EXPECT_TRUE(live.WaitFor(states("24000005", before + 1)));
  EXPECT_TRUE(WaitLog("m", "controller 24000005 (id 5) online again"));

  EXPECT_EQ(Stop(pid), 0) << Log("m");
  EXPECT_TRUE(live.WaitFor([](const Messages& all) {
    const auto a = Payloads(all, "hydrix/monitor/site1/availability"),
               b = Payloads(all, "hydrix/24000006/availability");
    return !a.empty() && a.back() == "offline" && !b.empty() && b.back() == "offline";
  }, 5s));
  const std::string log = Log("m");
  EXPECT_EQ(Count(log, "connected to mqtt://127.0.0.1:"), 1u) << log;
  EXPECT_EQ(Count(log, "\n"), 7u) << log;  // started, connected, two online, offline, online again, stopped
  EXPECT_NE(log.find("hydrix-monitor: stopped\n"), std::string::npos) << log;

  // A monitor that dies without a word: the broker sends its last will.
  const pid_t crash = StartMonitor("crash", Plain("topic_prefix = crash\nclient_id = crash\n"));
  auto monitorIs = [](const char* what) {
    return [=](const Messages& all) {
      const auto a = Payloads(all, "crash/monitor/crash/availability");
      return !a.empty() && a.back() == what;
    };
  };
  MqttSubscriber crashes(broker->port(), {"crash/monitor/#"});
  ASSERT_TRUE(crashes.WaitFor(monitorIs("online"))) << Log("crash");
  ::kill(crash, SIGKILL);
  EXPECT_TRUE(crashes.WaitFor(monitorIs("offline")));
}

// The broker stops for a while: every reading of the gap arrives afterwards,
// in order, with its own time; a monitor with a small queue drops the
// oldest and says how many.
TEST_F(MonitorEndToEnd, ReadingsOfABrokerGapArriveAfterwardsInOrder) {
  StartAll({"id=5"});
  broker->KeepSessions();
  ASSERT_TRUE(broker->Start()) << broker->Log();
  MqttSubscriber::Options keptSession;
  keptSession.clientId = "gap-subscriber";
  MqttSubscriber sub(broker->port(), {"gap/+/state", "small/+/state"}, keptSession);
  const pid_t whole = StartMonitor("gap", Plain("topic_prefix = gap\nclient_id = gap\n"));
  const pid_t small = StartMonitor("small", Plain("topic_prefix = small\nclient_id = small\nqueue_max = 3\n"));
  ASSERT_TRUE(sub.WaitFor([](const Messages& all) {
    return Payloads(all, "gap/24000005/state").size() >= 2 && Payloads(all, "small/24000005/state").size() >= 2;
  }));
  broker->Stop();
  const auto stopped = std::chrono::system_clock::now();
  // Away 30 s: the monitors try again after 1, 2, 4, 8 and 16 s, so they
  // are back about a second after the broker, as the subscriber (trying
  // every second) is; whichever comes first, the broker keeps the
  // subscriber's session and what is published for it meanwhile.
  std::this_thread::sleep_for(30s);
  ASSERT_TRUE(broker->Start()) << broker->Log();
  const auto restarted = std::chrono::system_clock::now();
  ASSERT_TRUE(WaitLog("gap", "connected to", 2, 30s)) << Log("gap");
  ASSERT_TRUE(WaitLog("small", "connected to", 2, 30s)) << Log("small");
  auto after = [&](const std::string& topic) {
    return [=](const Messages& all) {
      const auto p = Payloads(all, topic);
      return !p.empty() && IsoTimeMs(Field(p.back(), "time")) >
                               std::chrono::duration_cast<std::chrono::milliseconds>(restarted.time_since_epoch()).count() + 2000;
    };
  };
  ASSERT_TRUE(sub.WaitFor(after("gap/24000005/state"))) << Log("gap");
  ASSERT_TRUE(sub.WaitFor(after("small/24000005/state"))) << Log("small");
  const long long stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(stopped.time_since_epoch()).count();
  const long long restartMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(restarted.time_since_epoch()).count();

  // Every reading, in order: one a second, no hole, none twice out of turn.
  std::vector<long long> times;
  for (const auto& p : Payloads(sub.Messages(), "gap/24000005/state")) times.push_back(IsoTimeMs(Field(p, "time")));
  std::vector<long long> distinct;
  for (long long t : times) {
    if (!distinct.empty() && t == distinct.back()) continue;  // a QoS 1 repeat
    EXPECT_TRUE(distinct.empty() || t > distinct.back()) << "out of order at " << t;
    distinct.push_back(t);
  }
  for (std::size_t i = 1; i < distinct.size(); ++i) EXPECT_LT(distinct[i] - distinct[i - 1], 1600) << i;
  const auto inGap = std::count_if(distinct.begin(), distinct.end(),
                                   [&](long long t) { return t > stopMs + 1000 && t < restartMs - 1000; });
  EXPECT_GE(inGap, 26) << Log("gap");

  // The small queue kept the 3 newest of the gap and said how many went.
  std::smatch m;
  const std::string smallLog = Log("small");
  ASSERT_TRUE(std::regex_search(smallLog, m, std::regex(R"((\d+) readings were dropped while the broker was away \(queue_max 3\))")))
      << smallLog;
  EXPECT_GE(std::stoi(m[1]), 25);
  EXPECT_NE(smallLog.find("the queue is full (queue_max 3)"), std::string::npos);
  // Its readings have one hole, of the readings it dropped: the oldest of
  // the outage went, the newest came afterwards.
  std::set<long long> kept;
  for (const auto& p : Payloads(sub.Messages(), "small/24000005/state")) kept.insert(IsoTimeMs(Field(p, "time")));
  std::vector<long long> holes;
  for (auto it = std::next(kept.begin()); it != kept.end(); ++it)
    if (*it - *std::prev(it) > 1600) holes.push_back(*it - *std::prev(it));
  ASSERT_EQ(holes.size(), 1u);
  EXPECT_NEAR(static_cast<double>(holes[0]) / 1000, std::stoi(m[1]) + 1, 1.6);
  EXPECT_EQ(Count(Log("gap"), "dropped"), 0u);

  EXPECT_EQ(Stop(whole), 0);
  EXPECT_EQ(Stop(small), 0);
}

// mqtts with a throwaway CA and a password file: the right password and CA
// connect; a wrong password or another CA is an error line and a retry,
// not a crash.
TEST_F(MonitorEndToEnd, MqttsWithAPasswordFileAndRetriesWhenRefused) {
  StartAll({"id=5"});
  const fs::path certs = daemon->folder() / "certs", other = daemon->folder() / "other";
  ASSERT_TRUE(hx::test::MakeTestCertificates(certs) && hx::test::MakeTestCertificates(other, "other"));
  MqttBroker::Tls tls{certs / "ca.pem", certs / "server.pem", certs / "server.key", "site", "right-one"};
  ASSERT_TRUE(broker->Start(&tls)) << broker->Log();
  std::ofstream(daemon->folder() / "good.pw") << "right-one\n";
  std::ofstream(daemon->folder() / "bad.pw") << "wrong-one\n";
  auto conf = [&](const std::string& pw, const fs::path& ca, const std::string& id) {
    return "broker = mqtts://127.0.0.1:" + std::to_string(broker->port()) + "\nusername = site\npassword_file = " +
           (daemon->folder() / pw).string() + "\nca_file = " + ca.string() + "\nclient_id = " + id +
           "\nperiod_s = 1\n";
  };
  MqttSubscriber sub(broker->port(), {"hydrix/#"}, {(certs / "ca.pem").string(), "site", "right-one", {}});
  const pid_t good = StartMonitor("good", conf("good.pw", certs / "ca.pem", "good"));
  const pid_t badPassword = StartMonitor("badpw", conf("bad.pw", certs / "ca.pem", "badpw"));
  const pid_t badCa = StartMonitor("badca", conf("good.pw", other / "ca.pem", "badca"));
  EXPECT_TRUE(sub.WaitFor([](const Messages& all) {
    return !Payloads(all, "hydrix/monitor/good/availability").empty() && !Payloads(all, "hydrix/24000005/state").empty();
  })) << Log("good");
  EXPECT_TRUE(WaitLog("badpw", "cannot connect to mqtts://127.0.0.1:" + std::to_string(broker->port()) + ": Connection Refused: not authorised; next try in", 2)) << Log("badpw");
  EXPECT_TRUE(WaitLog("badca", "certificate verify failed", 2)) << Log("badca");
  EXPECT_EQ(Count(Log("badpw"), "connected to"), 0u);
  EXPECT_EQ(Count(Log("badca"), "connected to"), 0u);
  EXPECT_TRUE(Payloads(sub.Messages(), "hydrix/monitor/badpw/availability").empty());
  EXPECT_EQ(Stop(good), 0);
  EXPECT_EQ(Stop(badPassword), 0);
  EXPECT_EQ(Stop(badCa), 0);
}

TEST_F(MonitorEndToEnd, ABadConfigurationExitsWith2AndItsLines) {
  StartAll({"id=5"});
  const fs::path file = daemon->folder() / "monitor.conf";
  std::ofstream(file) << "broker = mqtt://127.0.0.1\nperiod_s = 0.5\npassword = x\n";
  const auto r = RunProgram({HYDRIX_MONITOR_EXE, "--config", file.string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("hydrix-monitor: " + file.string() + ":2: period_s \"0.5\" is not a period (accepted: whole seconds from 1 to 86400)\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(file.string() + ":3: a password is never written in this file"), std::string::npos);
  EXPECT_NE(r.err.find("the configuration is refused; nothing was started"), std::string::npos);
  EXPECT_EQ(RunProgram({HYDRIX_MONITOR_EXE, "--config", (daemon->folder() / "none.conf").string()}).status, 2);
  EXPECT_EQ(RunProgram({HYDRIX_MONITOR_EXE, "--bogus"}).status, 2);
}

}  // namespace
