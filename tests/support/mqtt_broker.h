// A mosquitto broker started for one test on a free port of 127.0.0.1 with
// a configuration of its own (plain, or TLS with a password file), and a
// subscriber through libmosquitto that collects what it receives. Every
// wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace hx::test {

// A throwaway certificate authority and a server certificate for
// 127.0.0.1, made with openssl in `folder`: ca.pem, server.pem, server.key.
// False when openssl failed.
bool MakeTestCertificates(const std::filesystem::path& folder, const std::string& caName = "ca");

class MqttBroker {
 public:
  struct Tls {
    std::filesystem::path ca, cert, key;
    std::string user, password;  // written to a password file with mosquitto_passwd
  };
  explicit MqttBroker(std::filesystem::path folder);
  ~MqttBroker();
  MqttBroker(const MqttBroker&) = delete;
  MqttBroker& operator=(const MqttBroker&) = delete;

  // Starts it (on the same port after a Stop) and waits until it accepts
  // connections; false when it did not come up.
  bool Start(const Tls* tls = nullptr);
  // From the next Start on, the broker keeps its clients' sessions and
  // their queued messages across a Stop and a Start, as a broker with
  // persistence does.
  void KeepSessions() { keepSessions_ = true; }
  void Stop();
  int port() const { return port_; }
  std::string Log() const;

 private:
  std::filesystem::path folder_;
  int port_ = 0;
  pid_t pid_ = -1;
  const Tls* tls_ = nullptr;
  bool keepSessions_ = false;
};

class MqttSubscriber {
 public:
  struct Message {
    std::string topic;
    std::string payload;
    bool retain = false;
    std::chrono::system_clock::time_point at;
  };
  struct Options {
    std::string caFile, user, password;
    // With an identifier, a session the broker keeps while the subscriber
    // is away (what is published meanwhile waits for it).
    std::string clientId;
  };
  // Connects to 127.0.0.1:`port` and subscribes to `topics` (again after
  // each reconnection, tried every second).
  MqttSubscriber(int port, std::vector<std::string> topics, Options options = {});
  ~MqttSubscriber();

  std::vector<Message> Messages() const;
  // Waits until `done` holds for the messages received, at most `limit`.
  bool WaitFor(const std::function<bool(const std::vector<Message>&)>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

 private:
  static void OnConnect(struct mosquitto*, void* self, int rc);
  static void OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* m);
  struct mosquitto* mosq_ = nullptr;
  std::vector<std::string> topics_;
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
};

// The first "2026-03-07T14:05:09.250+01:00" in `text` (the monitor's
// reading times) as milliseconds since the epoch; -1 when there is none.
long long IsoTimeMs(const std::string& text);

// A started process's exit status, waiting at most `limit` (then it is
// killed and -1 returned).
int WaitExit(pid_t pid, std::chrono::milliseconds limit);

}  // namespace hx::test
