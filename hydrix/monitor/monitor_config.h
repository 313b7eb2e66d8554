// monitor.conf, the configuration of hydrix-monitor: "key = value" lines,
// blank lines and comment lines (starting with "#" or ";"):
//
//   broker = mqtts://broker.example.org:8883   (mqtt://host[:port] or mqtts://host[:port])
//   username = site12
//   password_file = /etc/hydrix/monitor.password   (its first line is the password)
//   ca_file = /etc/hydrix/broker-ca.pem            (mqtts only; the system's CAs without it)
//   client_id = hydrix-monitor-site12              (default hydrix-monitor-<hostname>)
//   topic_prefix = hydrix                          (default hydrix)
//   period_s = 10                                  (whole seconds, at least 1)
//   controllers = all                              (or identifiers: 1001, 1002)
//   queue_max = 8640                               (readings kept while the broker is away)
//
// A password never stands in the file itself: only in the file that
// password_file names, readable by the service alone.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hx {

struct MonitorConfig {
  bool tls = false;  // mqtts
  std::string host;
  int port = 1883;
  std::string username;
  std::string passwordFile;
  std::string password;  // the first line of passwordFile, read by LoadMonitorConfig
  std::string caFile;
  std::string clientId;
  std::string topicPrefix = "hydrix";
  int periodS = 10;
  // Empty: every Hydrix that answers; otherwise these identifiers only.
  std::vector<std::int32_t> controllers;
  std::size_t queueMax = 8640;

  std::string file;                   // the file read
  std::map<std::string, int> lines;   // the line of each key given
  std::vector<std::string> problems;  // "file:line: what is wrong (accepted: ...)", one each

  // "mqtts://host:port", as the log names the broker.
  std::string BrokerText() const;
};

// The client identifier used when the file names none: "hydrix-monitor-"
// and the host name.
std::string DefaultClientId();

// Reads the text of monitor.conf into `config`; each line that cannot be
// used is listed in config.problems, prefixed with `name` and its line
// number, with the values the key accepts. A missing broker is a problem
// too. Files named by the text are not opened here.
void ParseMonitorConfig(std::string_view text, std::string_view name, MonitorConfig& config);

// Where monitor.conf is looked for when --config does not name it:
// /etc/hydrix/monitor.conf, else $XDG_CONFIG_HOME/hydrix/monitor.conf
// (~/.config/hydrix without the variable).
std::vector<std::filesystem::path> MonitorConfigSearchPath(
    const std::function<const char*(const char*)>& getenv = std::getenv);

// Reads `path` (or, when empty, the first file of the search path that
// exists), parses it and reads its password file. Problems, including a
// file that cannot be read, are in the result's problems.
MonitorConfig LoadMonitorConfig(const std::filesystem::path& path);

}  // namespace hx
