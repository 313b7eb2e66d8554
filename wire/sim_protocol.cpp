#include "wire/sim_protocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace hx::sim {

namespace {

constexpr std::uint32_t kMaxBody = 1 << 20;

using Clock = std::chrono::steady_clock;

// Reads exactly n bytes before `deadline` (none: no limit). With `ready`,
// bytes already there are taken before any wait (a message's body comes
// with its length, so waiting for it first costs a call for nothing).
bool ReadExactly(int fd, std::uint8_t* out, std::size_t n, std::optional<Clock::time_point> deadline,
                 bool ready = false) {
  std::size_t done = 0;
  while (done < n) {
    if (ready) {
      ready = false;
      const ssize_t got = ::recv(fd, out + done, n - done, MSG_DONTWAIT);
      if (got == 0) return false;
      if (got > 0) {
        done += static_cast<std::size_t>(got);
        continue;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    }
    if (deadline) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{fd, POLLIN, 0};
      const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
    }
    const ssize_t got = ::recv(fd, out + done, n - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

bool SocketAddress(const std::string& socketPath, sockaddr_un& addr, std::string& error) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  if (socketPath.empty()) {
    error = "the simulator's socket path is empty";
    return false;
  }
  if (socketPath.size() >= sizeof addr.sun_path) {
    error = "the socket path " + socketPath + " is " + std::to_string(socketPath.size()) +
            " bytes long; a socket path holds at most " + std::to_string(sizeof addr.sun_path - 1);
    return false;
  }
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  return true;
}

std::string DefaultSocketPath() {
  if (const char* s = std::getenv("HYDRIX_SIM_SOCKET"); s && *s) return s;
  if (const char* r = std::getenv("XDG_RUNTIME_DIR"); r && *r) return std::string(r) + "/hydrix-sim.sock";
  return "/tmp/hydrix-sim-" + std::to_string(::getuid()) + ".sock";
}

Writer& Writer::u8(std::uint8_t v) {
  body_.push_back(v);
  return *this;
}

Writer& Writer::u32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) body_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return *this;
}

Writer& Writer::str(const std::string& s) {
  u32(static_cast<std::uint32_t>(s.size()));
  body_.insert(body_.end(), s.begin(), s.end());
  return *this;
}

Writer& Writer::bytes(std::span<const std::uint8_t> b) {
  body_.insert(body_.end(), b.begin(), b.end());
  return *this;
}

bool Reader::u8(std::uint8_t& v) {
  if (pos_ + 1 > body_.size()) return false;
  v = body_[pos_++];
  return true;
}

bool Reader::u32(std::uint32_t& v) {
  if (pos_ + 4 > body_.size()) return false;
  v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<std::uint32_t>(body_[pos_ + static_cast<std::size_t>(i)]) << (8 * i);
  pos_ += 4;
  return true;
}

bool Reader::i32(std::int32_t& v) {
  std::uint32_t u = 0;
  if (!u32(u)) return false;
  v = static_cast<std::int32_t>(u);
  return true;
}

bool Reader::str(std::string& s) {
  std::uint32_t n = 0;
  if (!u32(n) || pos_ + n > body_.size()) return false;
  s.assign(reinterpret_cast<const char*>(body_.data() + pos_), n);
  pos_ += n;
  return true;
}

std::span<const std::uint8_t> Reader::rest() {
  auto r = body_.subspan(pos_);
  pos_ = body_.size();
  return r;
}

bool SendMessage(int fd, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> out;
  out.reserve(body.size() + 4);
  const auto n = static_cast<std::uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  out.insert(out.end(), body.begin(), body.end());
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t w = ::send(fd, out.data() + done, out.size() - done, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<std::size_t>(w);
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> ReceiveMessage(int fd, std::chrono::milliseconds wait) {
  std::optional<Clock::time_point> deadline;
  if (wait.count() >= 0) deadline = Clock::now() + wait;
  std::uint8_t head[4];
  if (!ReadExactly(fd, head, 4, deadline)) return std::nullopt;
  const std::uint32_t n =
      head[0] | (head[1] << 8) | (head[2] << 16) | (static_cast<std::uint32_t>(head[3]) << 24);
  if (n > kMaxBody) return std::nullopt;
  std::vector<std::uint8_t> body(n);
  if (n > 0 && !ReadExactly(fd, body.data(), n, deadline, true)) return std::nullopt;
  return body;
}

Connection::~Connection() { Close(); }

Connection::Connection(Connection&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool Connection::Connect(const std::string& socketPath, std::string& error, std::chrono::milliseconds wait) {
  Close();
  sockaddr_un addr{};
  if (!SocketAddress(socketPath, addr, error)) return false;
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    error = std::strerror(errno);
    return false;
  }
  // A local connect blocks while the daemon's queue is full (a daemon that
  // stopped accepting) for as long as the send time-out lets it, then gives
  // EAGAIN.
  const auto ms = std::max<long long>(wait.count(), 1);
  timeval limit{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  const auto deadline = Clock::now() + wait;
  int failure = 0;
  while (::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    failure = errno;
    if (failure != EINTR || Clock::now() >= deadline) break;
    failure = 0;
  }
  if (failure != 0) {
    struct stat st {};
    std::string why = std::strerror(failure);
    if (failure == EAGAIN) {
      why = "it accepts no connection";
    } else if (::stat(socketPath.c_str(), &st) == 0 && !S_ISSOCK(st.st_mode)) {
      why = "it is not a socket";
    }
    error = "cannot reach the simulator at " + socketPath + ": " + why;
    Close();
    return false;
  }
  // Calls keep to deadlines of their own.
  const timeval none{};
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
  return true;
}

std::optional<std::vector<std::uint8_t>> Connection::Call(const std::vector<std::uint8_t>& body,
                                                          std::chrono::milliseconds wait,
                                                          std::string& error) {
  if (fd_ < 0) {
    error = "not connected";
    return std::nullopt;
  }
  if (!SendMessage(fd_, body)) {
    error = "the simulator closed the connection";
    Close();
    return std::nullopt;
  }
  auto reply = ReceiveMessage(fd_, wait);
  if (!reply || reply->empty()) {
    error = "no reply from the simulator";
    Close();
    return std::nullopt;
  }
  return reply;
}

void Connection::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void Connection::CloseAndWait(std::chrono::milliseconds wait) {
  if (fd_ < 0) return;
  ::shutdown(fd_, SHUT_WR);
  const auto deadline = Clock::now() + wait;
  std::uint8_t sink[64];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd_, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    const ssize_t n = ::recv(fd_, sink, sizeof sink, 0);
    if (n == 0 || (n < 0 && errno != EINTR)) break;
  }
  Close();
}

std::int32_t HandleTable::Add(std::unique_ptr<Connection> c) {
  std::lock_guard lock(mutex_);
  std::int32_t h = next_;
  while (h <= 0 || handles_.count(h)) h = (h <= 0 || h == INT32_MAX) ? 1 : h + 1;
  next_ = h == INT32_MAX ? 1 : h + 1;
  handles_[h] = std::move(c);
  return h;
}

std::unique_ptr<Connection> HandleTable::Take(std::int32_t handle) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end() || !it->second) return nullptr;
  return std::move(it->second);
}

void HandleTable::Give(std::int32_t handle, std::unique_ptr<Connection> c) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  if (it != handles_.end()) it->second = std::move(c);
}

bool HandleTable::Contains(std::int32_t handle) {
  std::lock_guard lock(mutex_);
  return handles_.count(handle) != 0;
}

bool HandleTable::Remove(std::int32_t handle) {
  std::unique_ptr<Connection> c;
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end()) return false;
  c = std::move(it->second);
  handles_.erase(it);
  return true;
}

}  // namespace hx::sim
