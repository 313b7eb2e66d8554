// The monitor's connection to its MQTT broker, through libmosquitto, driven
// from the program's one thread: Service() moves the network on for a short
// while and never blocks longer. The connection carries a last will (the
// monitor's availability "offline", retained); a refused or lost connection
// is told once and tried again after a wait that grows from 1 s to 60 s.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "hydrix/monitor/monitor_payloads.h"

struct mosquitto;
struct mosquitto_message;

namespace hx {

struct MqttOptions {
  std::string host;
  int port = 1883;
  bool tls = false;
  std::string caFile;  // empty: the system's certificate authorities
  std::string username;
  std::string password;
  std::string clientId;
  std::string broker;     // as the log names it: "mqtts://host:port"
  MqttMessage will;       // sent by the broker when the connection dies
  int keepaliveS = 30;
};

// The wait before the next try after `previous` (0 at first): 1, 2, 4, ...
// seconds, never above 60.
std::chrono::seconds NextRetryWait(std::chrono::seconds previous);

class MqttLink {
 public:
  using Clock = std::chrono::steady_clock;
  // `log` receives one line per event (connected, refused, lost, retried).
  MqttLink(MqttOptions options, std::function<void(const std::string&)> log);
  ~MqttLink();
  MqttLink(const MqttLink&) = delete;
  MqttLink& operator=(const MqttLink&) = delete;

  // Empty when the client could be set up (the library, the CA file);
  // otherwise why not.
  const std::string& SetupProblem() const { return setupProblem_; }

  // Moves the connection on for at most `timeout`: connects when a try is
  // due, sends, receives acknowledgements and keeps the connection alive.
  void Service(std::chrono::milliseconds timeout);
  bool Connected() const { return state_ == State::Connected; }
  // True once after each new connection: the caller publishes its retained
  // messages again (a restarted broker may have lost them).
  bool TakeFreshConnection();

  // Hands a QoS 1 message to the library while connected; false (nothing
  // handed) otherwise. The library keeps a handed message until the broker
  // acknowledges it, across reconnections.
  bool Publish(const MqttMessage& message);
  // Messages handed and not yet acknowledged.
  std::size_t Unacknowledged() const { return unacknowledged_; }
  // Disconnects cleanly (no last will); nothing more is tried.
  void Disconnect();

 private:
  enum class State { Waiting, Connecting, Connected, Closed };
  void Try();
  void Failed(const std::string& what);
  static void OnConnect(struct mosquitto*, void* self, int rc);
  static void OnDisconnect(struct mosquitto*, void* self, int rc);
  static void OnPublish(struct mosquitto*, void* self, int mid);
  static void OnLog(struct mosquitto*, void* self, int level, const char* text);

  MqttOptions options_;
  std::function<void(const std::string&)> log_;
  struct mosquitto* mosq_ = nullptr;
  std::string setupProblem_;
  State state_ = State::Waiting;
  bool everTried_ = false;
  bool fresh_ = false;
  Clock::time_point retryAt_{};
  Clock::time_point connectDeadline_{};
  std::chrono::seconds wait_{0};
  std::size_t unacknowledged_ = 0;
  std::string lastLibraryError_;
};

}  // namespace hx
