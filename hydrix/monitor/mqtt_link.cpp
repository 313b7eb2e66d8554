#include "hydrix/monitor/mqtt_link.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace hx {

namespace {

constexpr std::chrono::seconds kMaxWait{60};
// A connection that got no CONNACK in this time is given up and tried again.
constexpr std::chrono::seconds kConnectTimeout{10};

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string Seconds(std::chrono::seconds s) { return std::to_string(s.count()) + " s"; }

}  // namespace

std::chrono::seconds NextRetryWait(std::chrono::seconds previous) {
  if (previous.count() <= 0) return std::chrono::seconds(1);
  return std::min(previous * 2, kMaxWait);
}

MqttLink::MqttLink(MqttOptions options, std::function<void(const std::string&)> log)
    : options_(std::move(options)), log_(std::move(log)) {
  InitLibrary();
  mosq_ = mosquitto_new(options_.clientId.c_str(), true, this);
  if (!mosq_) {
    setupProblem_ = "the MQTT client cannot be created: " + std::string(std::strerror(errno));
    return;
  }
  mosquitto_connect_callback_set(mosq_, &MqttLink::OnConnect);
  mosquitto_disconnect_callback_set(mosq_, &MqttLink::OnDisconnect);
  mosquitto_publish_callback_set(mosq_, &MqttLink::OnPublish);
  mosquitto_log_callback_set(mosq_, &MqttLink::OnLog);
  if (!options_.username.empty() &&
      mosquitto_username_pw_set(mosq_, options_.username.c_str(),
                                options_.password.empty() ? nullptr : options_.password.c_str()) != MOSQ_ERR_SUCCESS) {
    setupProblem_ = "the user name cannot be used";
    return;
  }
  if (options_.tls) {
    const char* caFile = options_.caFile.empty() ? nullptr : options_.caFile.c_str();
    const char* caPath = caFile ? nullptr : "/etc/ssl/certs";
    if (const int rc = mosquitto_tls_set(mosq_, caFile, caPath, nullptr, nullptr, nullptr); rc != MOSQ_ERR_SUCCESS) {
      setupProblem_ = "TLS cannot be set up with " + std::string(caFile ? caFile : caPath) + ": " +
                      mosquitto_strerror(rc);
      return;
    }
  }
  const MqttMessage& will = options_.will;
  if (!will.topic.empty() &&
      mosquitto_will_set(mosq_, will.topic.c_str(), static_cast<int>(will.payload.size()), will.payload.data(), 1,
                         will.retain) != MOSQ_ERR_SUCCESS) {
    setupProblem_ = "the last will cannot be set on " + will.topic;
  }
}

MqttLink::~MqttLink() {
  if (mosq_) mosquitto_destroy(mosq_);
}

void MqttLink::Try() {
  lastLibraryError_.clear();
  errno = 0;
  // The first try names the broker; later ones reuse it, and the library
  // then sends again what it holds unacknowledged.
  int rc = everTried_ ? mosquitto_reconnect_async(mosq_) : MOSQ_ERR_INVAL;
  if (rc == MOSQ_ERR_INVAL)
    rc = mosquitto_connect_async(mosq_, options_.host.c_str(), options_.port, options_.keepaliveS);
  everTried_ = true;
  if (rc != MOSQ_ERR_SUCCESS) {
    Failed(rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
    return;
  }
  state_ = State::Connecting;
  connectDeadline_ = Clock::now() + kConnectTimeout;
}

void MqttLink::Failed(const std::string& what) {
  const bool wasConnected = state_ == State::Connected;
  wait_ = wasConnected ? std::chrono::seconds(1) : NextRetryWait(wait_);
  retryAt_ = Clock::now() + wait_;
  state_ = State::Waiting;
  // The library's sentences end with a full stop; the line goes on.
  auto clause = [](std::string s) {
    while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();
    return s;
  };
  std::string why = clause(what);
  if (!lastLibraryError_.empty() && why.find(lastLibraryError_) == std::string::npos) why += " (" + clause(lastLibraryError_) + ")";
  lastLibraryError_.clear();
  log_((wasConnected ? "lost the connection to " : "cannot connect to ") + options_.broker + ": " + why +
       "; next try in " + Seconds(wait_));
}

void MqttLink::Service(std::chrono::milliseconds timeout) {
  if (!mosq_ || !setupProblem_.empty() || state_ == State::Closed) {
    std::this_thread::sleep_for(timeout);
    return;
  }
  if (state_ == State::Waiting) {
    const auto now = Clock::now();
    if (now < retryAt_) {
      std::this_thread::sleep_for(std::min(timeout, std::chrono::ceil<std::chrono::milliseconds>(retryAt_ - now)));
      return;
    }
    Try();
    if (state_ == State::Waiting) return;
  }
  errno = 0;
  const int rc = mosquitto_loop(mosq_, static_cast<int>(timeout.count()), 1);
  if (state_ == State::Waiting) return;  // refused: told by OnConnect
  if (rc != MOSQ_ERR_SUCCESS) {
    const int err = errno;
    std::string what = mosquitto_strerror(rc);
    if (rc == MOSQ_ERR_ERRNO && err != 0) what = std::strerror(err);
    Failed(what);
    return;
  }
  if (mosquitto_socket(mosq_) < 0) {
    Failed("the connection was closed");
  } else if (state_ == State::Connecting && Clock::now() > connectDeadline_) {
    mosquitto_disconnect(mosq_);
    Failed("no answer from the broker in " + Seconds(kConnectTimeout));
  }
}

bool MqttLink::TakeFreshConnection() {
  const bool f = fresh_ && state_ == State::Connected;
  if (f) fresh_ = false;
  return f;
}

bool MqttLink::Publish(const MqttMessage& m) {
  if (state_ != State::Connected) return false;
  int mid = 0;
  const int rc = mosquitto_publish(mosq_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                                   m.payload.data(), 1, m.retain);
  switch (rc) {
    case MOSQ_ERR_SUCCESS:
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_ERRNO:
      // Queued by the library, which sends it again once connected.
      ++unacknowledged_;
      return true;
    default:
      log_("a message to " + m.topic + " cannot be published: " + mosquitto_strerror(rc));
      return true;  // it never will be: not kept
  }
}

void MqttLink::Disconnect() {
  if (!mosq_) return;
  if (state_ == State::Connected) {
    mosquitto_disconnect(mosq_);
    mosquitto_loop(mosq_, 50, 1);
  }
  state_ = State::Closed;
}

void MqttLink::OnConnect(struct mosquitto* mosq, void* self, int rc) {
  auto* link = static_cast<MqttLink*>(self);
  if (rc == 0) {
    link->state_ = State::Connected;
    link->fresh_ = true;
    link->wait_ = std::chrono::seconds(0);
    link->log_("connected to " + link->options_.broker);
    return;
  }
  link->state_ = State::Connecting;  // Failed tells it as a failed try
  link->lastLibraryError_.clear();
  link->Failed(mosquitto_connack_string(rc));
  mosquitto_disconnect(mosq);
}

void MqttLink::OnDisconnect(struct mosquitto*, void*, int) {
  // Told by Service, which sees the loop fail or the socket closed.
}

void MqttLink::OnPublish(struct mosquitto*, void* self, int) {
  auto* link = static_cast<MqttLink*>(self);
  if (link->unacknowledged_ > 0) --link->unacknowledged_;
}

void MqttLink::OnLog(struct mosquitto*, void* self, int level, const char* text) {
  // The library's own words on a TLS or socket failure complete the line.
  if ((level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) && text) static_cast<MqttLink*>(self)->lastLibraryError_ = text;
}

}  // namespace hx
