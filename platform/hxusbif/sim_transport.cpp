// libhxusbif's simulator backend: one socket connection to the hydrix-sim
// daemon per handle.
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>

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
    auto c = Connect();
    if (!c) return -1;
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::Open))
        .i32(uniqueId)
        .u8(static_cast<std::uint8_t>(hx::sim::Interface::Application));
    auto reply = Call(*c, w.body(), Bound());
    if (!reply || (*reply)[0] != static_cast<std::uint8_t>(Status::Ok)) return -1;
    return handles_.Add(std::move(c));
  }

  bool Write(std::int32_t handle, std::span<const std::uint8_t> data) override {
    if (g_stalled) return false;
    auto c = handles_.Take(handle);
    if (!c) return false;
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::Write)).bytes(data);
    auto reply = Call(*c, w.body(), Bound());
    const bool ok = reply && (*reply)[0] == static_cast<std::uint8_t>(Status::Ok);
    handles_.Give(handle, std::move(c));
    return ok;
  }

  std::optional<std::size_t> Read(std::int32_t handle, std::span<std::uint8_t> buffer,
                                  std::chrono::milliseconds timeout) override {
    if (g_stalled) return std::nullopt;
    auto c = handles_.Take(handle);
    if (!c) return std::nullopt;
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::Read))
        .u32(static_cast<std::uint32_t>(buffer.size()))
        .u32(static_cast<std::uint32_t>(timeout.count()));
    auto reply = Call(*c, w.body(), timeout);
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
  bool Close(std::int32_t handle) override { return handles_.Remove(handle); }

  std::string Problem() override {
    std::lock_guard lock(g_problemMutex);
    return g_problem;
  }

 private:
  hx::sim::HandleTable handles_;
};

}  // namespace

std::unique_ptr<Transport> MakeSimTransport() { return std::make_unique<SimTransport>(); }

}  // namespace hx::usbif
