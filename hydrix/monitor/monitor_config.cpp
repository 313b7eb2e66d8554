#include "hydrix/monitor/monitor_config.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>

#include "common/config_text.h"
#include "common/paths.h"
#include "common/safe_file.h"
#include "common/shown_text.h"

namespace hx {

namespace {

constexpr const char* kKeys =
    "broker, username, password_file, ca_file, client_id, topic_prefix, period_s, controllers, queue_max";
constexpr int kMaxPeriodS = 86400;
constexpr std::size_t kMaxQueue = 1000000;

template <class T>
std::optional<T> Whole(std::string_view s, T min, T max) {
  T v{};
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size() || v < min || v > max) return std::nullopt;
  return v;
}

// "mqtt://host[:port]" or "mqtts://host[:port]"; empty when done, else why.
std::string SetBroker(MonitorConfig& c, std::string_view value) {
  const std::string shown = "\"" + ShownText(value) + "\"";
  const std::string accepted = " (accepted: mqtt://host[:port] or mqtts://host[:port])";
  std::string_view rest;
  if (LowerAscii(value.substr(0, 7)) == "mqtt://") {
    c.tls = false;
    rest = value.substr(7);
  } else if (LowerAscii(value.substr(0, 8)) == "mqtts://") {
    c.tls = true;
    rest = value.substr(8);
  } else {
    return "broker " + shown + " is not a broker address" + accepted;
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  int port = c.tls ? 8883 : 1883;
  std::string_view host = rest;
  if (!rest.empty() && rest.front() == '[') {  // [::1]:1883
    const auto close = rest.find(']');
    if (close == std::string_view::npos) return "broker " + shown + " has an unclosed [" + accepted;
    host = rest.substr(1, close - 1);
    rest.remove_prefix(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return "broker " + shown + " has text after the host" + accepted;
      const auto p = Whole<int>(rest.substr(1), 1, 65535);
      if (!p) return "broker " + shown + " has a bad port (accepted: 1 to 65535)";
      port = *p;
    }
  } else if (const auto colon = rest.rfind(':'); colon != std::string_view::npos) {
    host = rest.substr(0, colon);
    const auto p = Whole<int>(rest.substr(colon + 1), 1, 65535);
    if (!p) return "broker " + shown + " has a bad port (accepted: 1 to 65535)";
    port = *p;
  }
  const bool hostOk = !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char ch) {
    return std::isalnum(ch) || ch == '.' || ch == '-' || ch == '_' || ch == ':';
  });
  if (!hostOk) return "broker " + shown + " names no host" + accepted;
  c.host = std::string(host);
  c.port = port;
  return {};
}

// A topic level or prefix: printable, no wildcards, no empty level.
bool TopicText(std::string_view s, bool levels) {
  if (s.empty() || s.size() > 200 || UnprintableInText(s)) return false;
  if (s.find_first_of("+#") != std::string_view::npos) return false;
  if (!levels) return s.find('/') == std::string_view::npos;
  return s.front() != '/' && s.back() != '/' && s.find("//") == std::string_view::npos;
}

}  // namespace

std::string MonitorConfig::BrokerText() const {
  const bool v6 = host.find(':') != std::string::npos;
  return std::string(tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string DefaultClientId() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "hydrix-monitor";
  std::string host = name;
  // Only what a topic level may hold.
  std::replace_if(host.begin(), host.end(), [](char ch) { return ch == '/' || ch == '+' || ch == '#'; }, '-');
  return "hydrix-monitor-" + host;
}

void ParseMonitorConfig(std::string_view text, std::string_view name, MonitorConfig& config) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int lineNumber = 0;
  std::map<std::string, int> firstLine;
  auto problem = [&](int line, const std::string& what) {
    config.problems.push_back(std::string(name) + ":" + std::to_string(line) + ": " + what);
  };
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const auto end = std::min(text.find('\n', pos), text.size());
    std::string_view line = TrimBlanks(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNumber;
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) {
      problem(lineNumber, "\"" + ShownText(line) + "\" is not a key = value line (accepted keys: " + kKeys + ")");
      continue;
    }
    const std::string key = LowerAscii(TrimBlanks(line.substr(0, eq)));
    const std::string_view value = TrimBlanks(line.substr(eq + 1));
    if (const auto first = firstLine.find(key); first != firstLine.end()) {
      problem(lineNumber, ShownText(key) + " is given a second time (first on line " +
                              std::to_string(first->second) + ")");
      continue;
    }
    firstLine.emplace(key, lineNumber);
    const std::string shown = "\"" + ShownText(value) + "\"";
    std::string wrong;
    if (key == "broker") {
      wrong = SetBroker(config, value);
    } else if (key == "username") {
      if (value.empty() || UnprintableInText(value)) wrong = "username " + shown + " is empty or not printable";
      else config.username = value;
    } else if (key == "password_file" || key == "ca_file") {
      if (value.empty() || value.front() != '/')
        wrong = key + " " + shown + " is not an absolute path (accepted: a file such as /etc/hydrix/...)";
      else (key == "ca_file" ? config.caFile : config.passwordFile) = value;
    } else if (key == "password") {
      wrong = "a password is never written in this file (accepted: password_file = a file holding it)";
    } else if (key == "client_id") {
      if (!TopicText(value, false) || value.size() > 128)
        wrong = "client_id " + shown + " is not usable (accepted: 1 to 128 printable characters without / + #)";
      else config.clientId = value;
    } else if (key == "topic_prefix") {
      if (!TopicText(value, true))
        wrong = "topic_prefix " + shown +
                " is not usable (accepted: topic levels without + or #, no empty level, no leading or "
                "trailing /)";
      else config.topicPrefix = value;
    } else if (key == "period_s") {
      if (const auto v = Whole<int>(value, 1, kMaxPeriodS)) config.periodS = *v;
      else wrong = "period_s " + shown + " is not a period (accepted: whole seconds from 1 to 86400)";
    } else if (key == "queue_max") {
      if (const auto v = Whole<std::size_t>(value, 0, kMaxQueue)) config.queueMax = *v;
      else wrong = "queue_max " + shown + " is not a count of readings (accepted: 0 to 1000000)";
    } else if (key == "controllers") {
      config.controllers.clear();
      if (LowerAscii(value) != "all") {
        std::string list(value);
        std::replace(list.begin(), list.end(), ',', ' ');
        std::string_view rest = list;
        while (wrong.empty() && !(rest = TrimBlanks(rest)).empty()) {
          const auto word = rest.substr(0, std::min(rest.find(' '), rest.size()));
          rest.remove_prefix(word.size());
          const auto id = Whole<std::int32_t>(word, INT32_MIN, INT32_MAX);
          if (!id || *id == 0 || *id == -1)
            wrong = "controllers: \"" + ShownText(word) +
                    "\" is not a controller identifier (accepted: all, or identifiers such as 1001, 1002 "
                    "as hydrixctl list shows them)";
          else if (std::find(config.controllers.begin(), config.controllers.end(), *id) == config.controllers.end())
            config.controllers.push_back(*id);
        }
        if (wrong.empty() && config.controllers.empty())
          wrong = "controllers is empty (accepted: all, or identifiers such as 1001, 1002)";
      }
    } else {
      wrong = "unknown key \"" + ShownText(key) + "\" (accepted: " + kKeys + ")";
    }
    if (!wrong.empty()) problem(lineNumber, wrong);
  }
  auto lineOf = [&](const char* key) { return firstLine.count(key) ? firstLine[key] : lineNumber; };
  if (!firstLine.count("broker")) {
    config.problems.push_back(std::string(name) +
                              ": no broker line (accepted: broker = mqtt://host[:port] or mqtts://host[:port])");
  }
  if (!config.caFile.empty() && firstLine.count("broker") && !config.tls && !config.host.empty())
    problem(lineOf("ca_file"), "ca_file is for an mqtts:// broker only (accepted: broker = mqtts://host[:port])");
  if (!config.passwordFile.empty() && config.username.empty())
    problem(lineOf("password_file"), "password_file needs a username line");
  if (config.clientId.empty()) config.clientId = DefaultClientId();
  config.lines = firstLine;
}

std::vector<std::filesystem::path> MonitorConfigSearchPath(const std::function<const char*(const char*)>& getenv) {
  return {"/etc/hydrix/monitor.conf", UserConfigFolder(getenv) / "monitor.conf"};
}

MonitorConfig LoadMonitorConfig(const std::filesystem::path& path) {
  MonitorConfig config;
  std::filesystem::path file = path;
  if (file.empty()) {
    const auto search = MonitorConfigSearchPath();
    for (const auto& candidate : search) {
      std::error_code ec;
      if (std::filesystem::exists(candidate, ec)) {
        file = candidate;
        break;
      }
    }
    if (file.empty()) {
      config.problems.push_back("no configuration file: none of " + search[0].string() + " and " +
                                search[1].string() + " exists (or name one with --config FILE)");
      return config;
    }
  }
  config.file = file.string();
  std::string text;
  if (const FileStatus status = ReadRegularFile(file, kSmallFileLimit, text); !status.ok()) {
    config.problems.push_back(file.string() + ": cannot be read: " + status.reason);
    return config;
  }
  ParseMonitorConfig(text, file.string(), config);
  auto at = [&](const char* key) { return file.string() + ":" + std::to_string(config.lines[key]) + ": "; };
  if (!config.passwordFile.empty()) {
    std::string secret;
    if (const FileStatus status = ReadRegularFile(config.passwordFile, 4096, secret); !status.ok()) {
      config.problems.push_back(at("password_file") + "password_file " + config.passwordFile +
                                " cannot be read: " + status.reason);
    } else {
      config.password = secret.substr(0, secret.find_first_of("\r\n"));
      if (config.password.empty())
        config.problems.push_back(at("password_file") + "password_file " + config.passwordFile +
                                  " holds no password on its first line");
    }
  }
  if (!config.caFile.empty()) {
    std::string ca;
    if (const FileStatus status = ReadRegularFile(config.caFile, kSmallFileLimit, ca); !status.ok())
      config.problems.push_back(at("ca_file") + "ca_file " + config.caFile + " cannot be read: " + status.reason);
  }
  return config;
}

}  // namespace hx
