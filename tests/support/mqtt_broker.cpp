#include "support/mqtt_broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "support/sim_daemon.h"

extern char** environ;

namespace hx::test {

namespace {

int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

bool Accepts(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

bool MakeTestCertificates(const std::filesystem::path& folder, const std::string& caName) {
  std::filesystem::create_directories(folder);
  const std::string f = folder.string();
  std::ofstream(folder / "ext.cnf") << "subjectAltName=IP:127.0.0.1\n";
  const std::string script =
      "set -e; cd '" + f + "';"
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem "
      "-days 2 -subj /CN=" + caName + " 2>/dev/null;"
      "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr "
      "-subj /CN=127.0.0.1 2>/dev/null;"
      "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
      "-extfile ext.cnf 2>/dev/null;"
      "chmod 644 server.key";
  return RunProgram({"/bin/sh", "-c", script}).status == 0;
}

MqttBroker::MqttBroker(std::filesystem::path folder) : folder_(std::move(folder)), port_(FreePort()) {
  std::filesystem::create_directories(folder_);
}

MqttBroker::~MqttBroker() { Stop(); }

bool MqttBroker::Start(const Tls* tls) {
  if (tls) tls_ = tls;
  const auto conf = folder_ / "mosquitto.conf";
  {
    std::ofstream c(conf);
    const passwd* me = ::getpwuid(::geteuid());
    c << "user " << (me ? me->pw_name : "root") << "\n"
      << (keepSessions_ ? "persistence true\npersistence_location " + (folder_ / "").string() + "\n"
                        : std::string("persistence false\n"))
      << "log_dest stderr\n"
      << "log_type error\nlog_type warning\nlog_type notice\n"
      << "listener " << port_ << " 127.0.0.1\n";
    if (tls_) {
      const auto pw = folder_ / "passwords";
      if (!std::filesystem::exists(pw) &&
          RunProgram({"/usr/bin/mosquitto_passwd", "-b", "-c", pw.string(), tls_->user, tls_->password}).status != 0)
        return false;
      c << "cafile " << tls_->ca.string() << "\ncertfile " << tls_->cert.string() << "\nkeyfile "
        << tls_->key.string() << "\npassword_file " << pw.string() << "\nallow_anonymous false\n";
    } else {
      c << "allow_anonymous true\n";
    }
  }
  std::string exe = "/usr/sbin/mosquitto";
  std::vector<std::string> args{exe, "-c", conf.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string log = (folder_ / "mosquitto.log").string();
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    return false;
  }
  for (int i = 0; i < 500; ++i) {
    if (Accepts(port_)) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void MqttBroker::Stop() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGTERM);
  WaitExit(pid_, std::chrono::seconds(5));
  pid_ = -1;
}

std::string MqttBroker::Log() const { return ReadAll(folder_ / "mosquitto.log"); }

MqttSubscriber::MqttSubscriber(int port, std::vector<std::string> topics, Options options)
    : topics_(std::move(topics)) {
  InitLibrary();
  mosq_ = mosquitto_new(options.clientId.empty() ? nullptr : options.clientId.c_str(), options.clientId.empty(),
                        this);
  mosquitto_connect_callback_set(mosq_, &MqttSubscriber::OnConnect);
  mosquitto_message_callback_set(mosq_, &MqttSubscriber::OnMessage);
  if (!options.user.empty()) mosquitto_username_pw_set(mosq_, options.user.c_str(), options.password.c_str());
  if (!options.caFile.empty()) mosquitto_tls_set(mosq_, options.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
  mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
  mosquitto_connect_async(mosq_, "127.0.0.1", port, 10);
  mosquitto_loop_start(mosq_);
}

MqttSubscriber::~MqttSubscriber() {
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, true);
  mosquitto_destroy(mosq_);
}

void MqttSubscriber::OnConnect(struct mosquitto* mosq, void* self, int rc) {
  if (rc != 0) return;
  for (const auto& t : static_cast<MqttSubscriber*>(self)->topics_) mosquitto_subscribe(mosq, nullptr, t.c_str(), 1);
}

void MqttSubscriber::OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* m) {
  auto* s = static_cast<MqttSubscriber*>(self);
  Message message{m->topic, std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
                  m->retain, std::chrono::system_clock::now()};
  std::lock_guard lock(s->mutex_);
  s->messages_.push_back(std::move(message));
}

std::vector<MqttSubscriber::Message> MqttSubscriber::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

bool MqttSubscriber::WaitFor(const std::function<bool(const std::vector<Message>&)>& done,
                             std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done(Messages())) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

long long IsoTimeMs(const std::string& text) {
  std::smatch m;
  if (!std::regex_search(text, m,
                         std::regex(R"((\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)\.(\d{3})([+-])(\d\d):(\d\d))")))
    return -1;
  std::tm tm{};
  tm.tm_year = std::stoi(m[1]) - 1900;
  tm.tm_mon = std::stoi(m[2]) - 1;
  tm.tm_mday = std::stoi(m[3]);
  tm.tm_hour = std::stoi(m[4]);
  tm.tm_min = std::stoi(m[5]);
  tm.tm_sec = std::stoi(m[6]);
  const long long offset = (std::stoi(m[9]) * 60 + std::stoi(m[10])) * (m[8] == "+" ? 1 : -1);
  return (static_cast<long long>(timegm(&tm)) - offset * 60) * 1000 + std::stoi(m[7]);
}

}  // namespace hx::test
