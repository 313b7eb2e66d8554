// libhxusbif's simulator backend: one socket connection to the hydrix-sim
// daemon per open handle.
//
// A program opens a controller twice for every exchange (a handle to write,
// one to read) and closes both after it. A closed handle's connection is
// kept a moment (`kHold`), still bound to its controller, and an Open of the
// same controller on the same daemon takes it back: no new connection, no
// open request.
//
// A request's reply also brings the controller's answer when it is ready at
// once, and a Read on the same controller takes it without asking the daemon
// again. With both, an exchange is one round trip. An answer that takes time
// (a latency fault) is left to the Read as before.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/hxusbif/transport.h"
#include "wire/sim_protocol.h"

namespace hx::usbif {

namespace {

using hx::sim::Connection;
using hx::sim::Op;
using hx::sim::Reader;
using hx::sim::Status;
using hx::sim::Writer;
using Clock = std::chrono::steady_clock;

// Time the daemon's reply has to travel, on top of what a call waits for.
constexpr std::chrono::milliseconds kReplyMargin{200};
constexpr std::uint32_t kDefaultTimeoutMs = 500;
// How long a closed handle's connection stays bound to its controller, and
// how many such connections a program keeps at most.
constexpr std::chrono::milliseconds kHold{100};
constexpr std::size_t kMaxKept = 8;

// Set once the daemon missed a reply: every call would wait as long again.
std::atomic<bool> g_stalled{false};
std::mutex g_problemMutex;
std::string g_problem;

void SetProblem(std::string text) {
  std::lock_guard lock(g_problemMutex);
  g_problem = std::move(text);
}

// The read time-out the program uses, for calls that are given none.
std::chrono::milliseconds Bound() {
  if (const char* v = std::getenv("HYDRIX_USB_TIMEOUT_MS"); v && *v) {
    std::uint32_t ms = 0;
    auto [ptr, ec] = std::from_chars(v, v + std::strlen(v), ms);
    if (ec == std::errc() && *ptr == '\0' && ms > 0) return std::chrono::milliseconds(ms);
  }
  return std::chrono::milliseconds(kDefaultTimeoutMs);
}

std::unique_ptr<Connection> Connect() {
  auto c = std::make_unique<Connection>();
  std::string error;
  const auto started = Clock::now();
  if (!c->Connect(hx::sim::DefaultSocketPath(), error, Bound())) {
    // A queue that stayed full is a daemon that stopped serving.
    if (Clock::now() - started >= Bound()) g_stalled = true;
    SetProblem(error);
    return nullptr;
  }
  return c;
}

// One request and its reply, waiting at most `wait` plus the margin. A
// reply that does not come marks the daemon as stalled.
std::optional<std::vector<std::uint8_t>> Call(Connection& c, const std::vector<std::uint8_t>& body,
                                              std::chrono::milliseconds wait) {
  std::string error;
  const auto started = Clock::now();
  auto reply = c.Call(body, wait + kReplyMargin, error);
  if (!reply && Clock::now() - started >= wait) {
    g_stalled = true;
    SetProblem("the simulator at " + hx::sim::DefaultSocketPath() + " does not answer");
  }
  return reply;
}

std::vector<int32_t> ListIds() {
  // Counting the controllers is how a program re-establishes its link.
  g_stalled = false;
  auto c = Connect();
  if (!c) return {};
  Writer w;
  w.u8(static_cast<std::uint8_t>(Op::List));
  auto reply = Call(*c, w.body(), Bound());
  if (!reply) return {};
  SetProblem({});
  Reader in(*reply);
  std::uint8_t status = 0;
  std::uint32_t count = 0;
  if (!in.u8(status) || status != 0 || !in.u32(count)) return {};
  std::vector<int32_t> ids;
  for (std::uint32_t i = 0; i < count; ++i) {
    int32_t id = 0;
    if (!in.i32(id)) return {};
    ids.push_back(id);
  }
  return ids;
}

class SimTransport final : public Transport {
 public:
  std::vector<std::int32_t> Enumerate() override { return ListIds(); }

  std::int32_t Open(std::int32_t uniqueId) override {
    if (g_stalled) return -1;
    Binding binding{hx::sim::DefaultSocketPath(), uniqueId, false};
    auto c = TakeKept(binding);
    binding.kept = c != nullptr;
    if (!c) c = OpenNew(uniqueId);
    if (!c) return -1;
    const std::int32_t handle = handles_.Add(std::move(c));
    std::lock_guard lock(keptMutex_);
    bound_[handle] = binding;
    return handle;
  }

  bool Write(std::int32_t handle, std::span<const std::uint8_t> data) override {
    if (g_stalled) return false;
    auto c = handles_.Take(handle);
    if (!c) return false;
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::WriteTake)).bytes(data);
    auto reply = CallOnHandle(handle, c, w.body(), Bound());
    const bool ok = reply && (*reply)[0] == static_cast<std::uint8_t>(Status::Ok);
    handles_.Give(handle, std::move(c));
    // A new request replaces an answer not read, here as in the daemon.
    std::lock_guard lock(keptMutex_);
    if (auto b = bound_.find(handle); b != bound_.end()) {
      const Key key{b->second.socket, b->second.id};
      if (ok && reply->size() >= 2 && (*reply)[1] == 1) {
        answers_[key].assign(reply->begin() + 2, reply->end());
      } else {
        answers_.erase(key);
      }
    }
    return ok;
  }

  std::optional<std::size_t> Read(std::int32_t handle, std::span<std::uint8_t> buffer,
                                  std::chrono::milliseconds timeout) override {
    if (g_stalled) return std::nullopt;
    if (auto answer = TakeAnswer(handle)) {
      const std::size_t n = std::min(answer->size(), buffer.size());
      if (n > 0) std::memcpy(buffer.data(), answer->data(), n);
      return n;
    }
    auto c = handles_.Take(handle);
    if (!c) return std::nullopt;
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::Read))
        .u32(static_cast<std::uint32_t>(buffer.size()))
        .u32(static_cast<std::uint32_t>(timeout.count()));
    auto reply = CallOnHandle(handle, c, w.body(), timeout);
    std::optional<std::size_t> result;
    if (reply && (*reply)[0] == static_cast<std::uint8_t>(Status::Ok)) {
      const std::size_t n = std::min<std::size_t>(reply->size() - 1, buffer.size());
      if (n > 0) std::memcpy(buffer.data(), reply->data() + 1, n);
      result = n;
    }
    handles_.Give(handle, std::move(c));
    return result;
  }

  bool Cancel(std::int32_t handle) override { return handles_.Contains(handle); }

  bool Close(std::int32_t handle) override {
    auto c = handles_.Take(handle);
    if (!handles_.Remove(handle)) return false;
    std::lock_guard lock(keptMutex_);
    auto b = bound_.find(handle);
    if (b == bound_.end()) return true;
    // Only a connection whose last call ended well: one that failed or
    // timed out is closed already.
    if (c && c->IsOpen()) {
      kept_.push_back({b->second, std::move(c), Clock::now()});
      if (kept_.size() > kMaxKept) kept_.erase(kept_.begin());
    }
    // An answer not read is gone once the program has closed the controller.
    const Key key{b->second.socket, b->second.id};
    bound_.erase(b);
    if (std::none_of(bound_.begin(), bound_.end(), [&](const auto& other) {
          return Key{other.second.socket, other.second.id} == key;
        }))
      answers_.erase(key);
    return true;
  }

  std::string Problem() override {
    std::lock_guard lock(g_problemMutex);
    return g_problem;
  }

 private:
  struct Binding {
    std::string socket;
    std::int32_t id = 0;
    bool kept = false;  // taken back from the kept ones, not yet used
  };
  using Key = std::pair<std::string, std::int32_t>;  // the daemon's socket, the controller
  struct Kept {
    Binding binding;
    std::unique_ptr<Connection> connection;
    Clock::time_point since;
  };

  // A new connection opened on the controller's application interface.
  static std::unique_ptr<Connection> OpenNew(std::int32_t id) {
    auto c = Connect();
    if (!c) return nullptr;
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::Open))
        .i32(id)
        .u8(static_cast<std::uint8_t>(hx::sim::Interface::Application));
    auto reply = Call(*c, w.body(), Bound());
    if (!reply || (*reply)[0] != static_cast<std::uint8_t>(Status::Ok)) return nullptr;
    return c;
  }

  // A kept connection to the same controller on the same daemon; those kept
  // too long are closed on the way.
  std::unique_ptr<Connection> TakeKept(const Binding& wanted) {
    std::lock_guard lock(keptMutex_);
    const auto now = Clock::now();
    std::erase_if(kept_, [&](const Kept& k) { return now - k.since > kHold; });
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
      if (it->binding.id != wanted.id || it->binding.socket != wanted.socket) continue;
      auto c = std::move(it->connection);
      kept_.erase(it);
      return c;
    }
    return nullptr;
  }

  // The answer a Write took with it, for a Read on the same controller.
  std::optional<std::vector<std::uint8_t>> TakeAnswer(std::int32_t handle) {
    std::lock_guard lock(keptMutex_);
    auto b = bound_.find(handle);
    if (b == bound_.end()) return std::nullopt;
    auto a = answers_.find(Key{b->second.socket, b->second.id});
    if (a == answers_.end()) return std::nullopt;
    auto answer = std::move(a->second);
    answers_.erase(a);
    return answer;
  }

  // One call on a handle's connection. A kept connection may have been
  // closed by the daemon meanwhile (it stopped, or made room for others):
  // its first call then fails at once, not after a time-out, and is made
  // again on a new connection to the same controller.
  std::optional<std::vector<std::uint8_t>> CallOnHandle(std::int32_t handle, std::unique_ptr<Connection>& c,
                                                        const std::vector<std::uint8_t>& body,
                                                        std::chrono::milliseconds wait) {
    std::int32_t id = 0;
    bool kept = false;
    {
      std::lock_guard lock(keptMutex_);
      if (auto b = bound_.find(handle); b != bound_.end()) {
        id = b->second.id;
        kept = std::exchange(b->second.kept, false);
      }
    }
    auto reply = Call(*c, body, wait);
    if (reply || !kept || g_stalled) return reply;
    auto fresh = OpenNew(id);
    if (!fresh) return std::nullopt;
    c = std::move(fresh);
    return Call(*c, body, wait);
  }

  hx::sim::HandleTable handles_;
  std::mutex keptMutex_;
  std::map<std::int32_t, Binding> bound_;
  std::vector<Kept> kept_;
  // Answers handed over with their request and not read yet.
  std::map<Key, std::vector<std::uint8_t>> answers_;
};

}  // namespace

std::unique_ptr<Transport> MakeSimTransport() { return std::make_unique<SimTransport>(); }

}  // namespace hx::usbif
