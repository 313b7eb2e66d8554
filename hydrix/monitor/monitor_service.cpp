#include "hydrix/monitor/monitor_service.h"

#include <algorithm>
#include <chrono>
#include <ostream>

#include "hydrix/monitor/monitor_config.h"
#include "hydrix/monitor/monitor_payloads.h"
#include "hydrix/monitor/monitor_reader.h"
#include "hydrix/monitor/mqtt_link.h"
#include "hydrix/monitor/publish_queue.h"

namespace hx {

const char* const kMonitorUsage =
    "usage: hydrix-monitor [--config FILE] [--verbose]\n"
    "       hydrix-monitor --help | --version\n"
    "Reads the measures of the controllers every period_s seconds and publishes them over MQTT.\n"
    "The configuration is /etc/hydrix/monitor.conf, else $XDG_CONFIG_HOME/hydrix/monitor.conf,\n"
    "or FILE; see man hydrix-monitor. --verbose logs every reading too.\n"
    "Exit status: 0 stopped by SIGTERM or SIGINT; 1 the MQTT client cannot be set up;\n"
    "2 bad usage or a bad configuration.\n";

namespace {

using Clock = std::chrono::steady_clock;
// Messages handed to the library and not yet acknowledged, at most: the
// rest wait in the bounded queue.
constexpr std::size_t kWindow = 100;
// How long the network is served at a time: a stop is seen this soon.
constexpr std::chrono::milliseconds kSlice{100};
// After a stop, how long the offline messages may take to be acknowledged.
constexpr std::chrono::milliseconds kGoodbye{1200};

class Monitor {
 public:
  Monitor(const MonitorConfig& config, UsbInterface& usb, std::ostream& err, bool verbose,
          const std::atomic<bool>& stop)
      : config_(config),
        usb_(usb),
        err_(err),
        verbose_(verbose),
        stop_(stop),
        reader_(usb, config.controllers),
        queue_(config.queueMax),
        link_(Options(), [this](const std::string& line) { Log(line); }) {}

  int Run() {
    if (!link_.SetupProblem().empty()) {
      Log(link_.SetupProblem());
      return 1;
    }
    std::string wanted = "every Hydrix that answers";
    if (!config_.controllers.empty()) {
      wanted = "controllers";
      for (auto id : config_.controllers) wanted += " " + std::to_string(id);
    }
    Log("started: " + wanted + ", every " + std::to_string(config_.periodS) + " s, to " + config_.BrokerText() +
        " as " + config_.clientId + " (" + config_.file + ")");
    if (const std::string problem = usb_.BackendProblem(); !problem.empty()) Log(problem);
    SetRetained({MonitorAvailabilityTopic(config_.topicPrefix, config_.clientId), "online", true});

    const std::chrono::seconds step(config_.periodS);
    const auto start = Clock::now();
    long long slot = 0;
    auto due = start;
    while (!stop_) {
      if (Clock::now() >= due) {
        Read();
        // Reading n is due at start + n x period, whatever the readings
        // took; a period overrun gives up the slots it covered.
        slot = std::max(slot + 1, static_cast<long long>((Clock::now() - start) / step) + 1);
        due = start + slot * step;
      }
      Pump();
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
      link_.Service(std::clamp(left, std::chrono::milliseconds(1), kSlice));
    }
    Stop();
    return 0;
  }

 private:
  MqttOptions Options() const {
    MqttOptions o;
    o.host = config_.host;
    o.port = config_.port;
    o.tls = config_.tls;
    o.caFile = config_.caFile;
    o.username = config_.username;
    o.password = config_.password;
    o.clientId = config_.clientId;
    o.broker = config_.BrokerText();
    o.will = {MonitorAvailabilityTopic(config_.topicPrefix, config_.clientId), "offline", true};
    return o;
  }

  void Log(const std::string& line) { err_ << "hydrix-monitor: " << line << std::endl; }

  // Keeps `m` as the latest retained message of its topic and publishes it
  // when connected (otherwise at the next connection).
  void SetRetained(const MqttMessage& m) {
    auto it = std::find_if(retained_.begin(), retained_.end(), [&](auto& r) { return r.topic == m.topic; });
    if (it != retained_.end()) *it = m;
    else retained_.push_back(m);
    link_.Publish(m);
  }

  // One period: each event and reading is published (or queued) as soon as
  // the reader has it, so a reading waits for no other controller.
  void Read() {
    std::size_t events = 0, readings = 0, notes = 0;
    reader_.Period([this] { return stop_.load(); },
                   [&](const PeriodResult& sofar) {
                     for (; notes < sofar.notes.size(); ++notes) Log(sofar.notes[notes]);
                     for (; events < sofar.events.size(); ++events) Event(sofar.events[events]);
                     for (; readings < sofar.readings.size(); ++readings) Publish(sofar.readings[readings]);
                     Pump();
                     // Acknowledgements in, without waiting: the window stays open.
                     link_.Service(std::chrono::milliseconds(0));
                   });
  }

  void Event(const ControllerEvent& e) {
    const std::string& prefix = config_.topicPrefix;
    const auto& c = e.controller;
    const std::string who = "controller " + c.serial + " (id " + std::to_string(c.id) + ")";
    switch (e.kind) {
      case ControllerEvent::Kind::Found:
        Log(who + " online: " + c.type + " " + c.firmware);
        for (const auto& m : DiscoveryMessages(prefix, config_.clientId, c)) SetRetained(m);
        SetRetained({AvailabilityTopic(prefix, c.serial), "online", true});
        break;
      case ControllerEvent::Kind::Online:
        Log(who + " online again");
        SetRetained({AvailabilityTopic(prefix, c.serial), "online", true});
        break;
      case ControllerEvent::Kind::Offline:
        Log(who + " offline: " + e.detail + "; looked for again each period");
        SetRetained({AvailabilityTopic(prefix, c.serial), "offline", true});
        break;
    }
  }

  void Publish(const Reading& r) {
    const auto c = std::find_if(reader_.controllers().begin(), reader_.controllers().end(),
                                [&](auto& w) { return w.serial == r.serial; });
    if (c == reader_.controllers().end()) return;
    MqttMessage m{StateTopic(config_.topicPrefix, r.serial), StateJson(*c, r), false};
    if (verbose_) Log(m.topic + " " + m.payload);
    if (!queue_.Push(std::move(m)) && !dropping_) {
      dropping_ = true;
      Log("the queue is full (queue_max " + std::to_string(queue_.Max()) +
          "): the oldest readings are dropped until the broker is back");
    }
  }

  void Reconnected() {
    for (const auto& m : retained_) link_.Publish(m);
    TellDropped();
  }

  void TellDropped() {
    dropping_ = false;
    if (const std::size_t dropped = queue_.TakeDropped(); dropped > 0)
      Log(std::to_string(dropped) + " readings were dropped while the broker was away (queue_max " +
          std::to_string(queue_.Max()) + "); " + std::to_string(queue_.Size()) + " kept are published");
  }

  // A new connection first gets the retained messages again, then what
  // waits in the queue.
  void Pump() {
    if (link_.TakeFreshConnection()) Reconnected();
    Flush();
  }

  void Flush() {
    while (link_.Connected() && !queue_.Empty() && link_.Unacknowledged() < kWindow) {
      if (!link_.Publish(queue_.Front())) break;
      queue_.Pop();
    }
  }

  // The monitor and every controller it publishes go offline, retained, and
  // the connection closes cleanly once the broker has them (or the time is
  // up).
  void Stop() {
    const std::string& prefix = config_.topicPrefix;
    if (link_.Connected()) {
      for (const auto& c : reader_.controllers())
        if (c.online) link_.Publish({AvailabilityTopic(prefix, c.serial), "offline", true});
      link_.Publish({MonitorAvailabilityTopic(prefix, config_.clientId), "offline", true});
      const auto deadline = Clock::now() + kGoodbye;
      while (link_.Connected() && link_.Unacknowledged() > 0 && Clock::now() < deadline)
        link_.Service(std::chrono::milliseconds(20));
    }
    const std::size_t left = queue_.Size() + link_.Unacknowledged();
    link_.Disconnect();
    if (queue_.TakeDropped() > 0 || left > 0)
      Log("stopped with " + std::to_string(left) + " readings not delivered");
    else
      Log("stopped");
  }

  const MonitorConfig& config_;
  UsbInterface& usb_;
  std::ostream& err_;
  bool verbose_;
  const std::atomic<bool>& stop_;
  MonitorReader reader_;
  PublishQueue queue_;
  MqttLink link_;
  std::vector<MqttMessage> retained_;
  bool dropping_ = false;
};

}  // namespace

int RunMonitor(const std::vector<std::string>& args, UsbInterface& usb, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& stop) {
  std::string file;
  bool verbose = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      out << kMonitorUsage;
      return 0;
    }
    if (args[i] == "--verbose") {
      verbose = true;
    } else if (args[i] == "--config" && i + 1 < args.size()) {
      file = args[++i];
    } else {
      err << "hydrix-monitor: " << (args[i] == "--config" ? "--config needs a file" : "unexpected '" + args[i] + "'")
          << "\n"
          << kMonitorUsage;
      return 2;
    }
  }
  const MonitorConfig config = LoadMonitorConfig(file);
  if (!config.problems.empty()) {
    for (const auto& p : config.problems) err << "hydrix-monitor: " << p << "\n";
    err << "hydrix-monitor: the configuration is refused; nothing was started\n";
    return 2;
  }
  Monitor monitor(config, usb, err, verbose, stop);
  return monitor.Run();
}

}  // namespace hx
