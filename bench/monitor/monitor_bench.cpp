// hydrix-monitor under load: N simulated controllers (hydrix-sim) read every
// second for a while, published to a mosquitto broker started here, and a
// subscriber. Measures the monitor's CPU time per reading and share of one
// core, its memory, and the delay from a reading's time to its arrival.
// Usage: monitor_bench [--controllers N] [--seconds S]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <sys/resource.h>

#include "hydrix/monitor/monitor_payloads.h"
#include "hydrix/monitor/monitor_reader.h"
#include "support/inprocess_usb.h"
#include "support/mqtt_broker.h"
#include "support/sim_daemon.h"

extern char** environ;

namespace {

using namespace std::chrono;

// The monitor's user + system CPU time so far, in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A line of /proc/<pid>/status in kB ("VmHWM", "VmRSS").
long StatusKb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  return -1;
}

// This process's CPU time so far, in seconds.
double OwnCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The monitor's own share of a reading: the same reader and JSON over
// controllers simulated in this process, without a transport.
double OwnShareMicroseconds(int controllers) {
  hx::sim::InProcessUsb usb;
  for (int i = 1; i <= controllers; ++i) usb.Add(1000 + i);
  hx::MonitorReader reader(usb, {});
  std::size_t readings = 0, bytes = 0;
  const double cpu0 = OwnCpuSeconds();
  for (int period = 0; period < 200; ++period) {
    const auto result = reader.Period();
    for (const auto& r : result.readings) bytes += hx::StateJson(reader.controllers()[0], r).size();
    readings += result.readings.size();
  }
  return bytes > 0 ? 1e6 * (OwnCpuSeconds() - cpu0) / static_cast<double>(readings) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  int controllers = 50, span = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--controllers") controllers = std::stoi(argv[i + 1]);
    else if (a == "--seconds") span = std::stoi(argv[i + 1]);
  }
  std::vector<std::string> specs;
  for (int i = 1; i <= controllers; ++i)
    specs.push_back("id=" + std::to_string(1000 + i) + ",seed=" + std::to_string(i));
  hx::test::SimDaemon daemon(HYDRIX_SIM_EXE, specs);
  if (!daemon.Start()) {
    std::cerr << "monitor_bench: hydrix-sim did not start\n";
    return 1;
  }
  hx::test::MqttBroker broker(daemon.folder() / "broker");
  if (!broker.Start()) {
    std::cerr << "monitor_bench: mosquitto did not start\n" << broker.Log();
    return 1;
  }
  hx::test::MqttSubscriber sub(broker.port(), {"bench/+/state"});
  const auto conf = daemon.folder() / "monitor.conf";
  std::ofstream(conf) << "broker = mqtt://127.0.0.1:" << broker.port()
                      << "\ntopic_prefix = bench\nclient_id = bench\nperiod_s = 1\n";
  std::vector<std::string> args{HYDRIX_MONITOR_EXE, "--config", conf.string()};
  std::vector<char*> argvv;
  for (auto& a : args) argvv.push_back(a.data());
  argvv.push_back(nullptr);
  std::vector<std::string> env{"HYDRIX_SIM_SOCKET=" + daemon.socket()};
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string log = (daemon.folder() / "monitor.err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, argvv[0], &actions, nullptr, argvv.data(), envp.data()) != 0) return 1;
  posix_spawn_file_actions_destroy(&actions);

  // Every controller found and read once, then the measured window.
  const bool warm = sub.WaitFor(
      [&](const auto& all) {
        std::set<std::string> topics;
        for (const auto& m : all) topics.insert(m.topic);
        return static_cast<int>(topics.size()) >= controllers;
      },
      seconds(60));
  if (!warm) {
    std::cerr << "monitor_bench: not every controller was published\n";
    kill(pid, SIGTERM);
    hx::test::WaitExit(pid, seconds(3));
    return 1;
  }
  std::this_thread::sleep_for(seconds(2));
  const auto from = system_clock::now();
  const double cpu0 = CpuSeconds(pid);
  std::this_thread::sleep_for(seconds(span));
  const double cpu1 = CpuSeconds(pid);
  const auto to = system_clock::now();
  const long hwm = StatusKb(pid, "VmHWM"), rss = StatusKb(pid, "VmRSS");
  kill(pid, SIGTERM);
  const int status = hx::test::WaitExit(pid, seconds(3));

  const long long fromMs = duration_cast<milliseconds>(from.time_since_epoch()).count();
  const long long toMs = duration_cast<milliseconds>(to.time_since_epoch()).count();
  std::vector<double> delays;
  for (const auto& m : sub.Messages()) {
    const long long t = hx::test::IsoTimeMs(m.payload);
    if (t < fromMs || t >= toMs) continue;
    delays.push_back(static_cast<double>(duration_cast<microseconds>(m.at.time_since_epoch()).count()) / 1000.0 -
                     static_cast<double>(t));
  }
  std::sort(delays.begin(), delays.end());
  const double wall = duration<double>(to - from).count();
  const double cpu = cpu1 - cpu0;
  const auto at = [&](double q) { return delays.empty() ? 0.0 : delays[static_cast<std::size_t>(q * (delays.size() - 1))]; };
  std::printf("| controllers | period | seconds | readings | per second | CPU (%% of one core) | CPU per reading | peak RSS | RSS | delay median | delay p95 | delay max |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  std::printf("| %d | 1 s | %.0f | %zu | %.1f | %.2f %% | %.0f µs | %.1f MB | %.1f MB | %.1f ms | %.1f ms | %.1f ms |\n",
              controllers, wall, delays.size(), static_cast<double>(delays.size()) / wall, 100.0 * cpu / wall,
              delays.empty() ? 0.0 : 1e6 * cpu / static_cast<double>(delays.size()), hwm / 1024.0, rss / 1024.0,
              at(0.5), at(0.95), delays.empty() ? 0.0 : delays.back());
  std::printf("\nthe monitor's own share of a reading (in-process controllers, no transport): %.1f µs\n",
              OwnShareMicroseconds(controllers));
  if (status != 0) std::cerr << "monitor_bench: the monitor ended with " << status << "\n";
  return status == 0 ? 0 : 1;
}
