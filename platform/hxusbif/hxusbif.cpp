// The USB interface stand-in over the hydrix-sim daemon: one socket
// connection per handle.
#include "platform/hxusbif/hxusbif.h"

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/sim_protocol.h"

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

hx::sim::HandleTable g_handles;

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

}  // namespace

extern "C" {

int32_t USB_GetDeviceCount(void) { return static_cast<int32_t>(ListIds().size()); }

int32_t USB_GetDeviceUniqueID(int32_t index) {
  const auto ids = ListIds();
  if (index < 0 || static_cast<std::size_t>(index) >= ids.size()) return -1;
  return ids[static_cast<std::size_t>(index)];
}

int32_t USB_OpenDevice(int32_t uniqueId) {
  if (g_stalled) return -1;
  auto c = Connect();
  if (!c) return -1;
  Writer w;
  w.u8(static_cast<std::uint8_t>(Op::Open)).i32(uniqueId).u8(static_cast<std::uint8_t>(hx::sim::Interface::Application));
  auto reply = Call(*c, w.body(), Bound());
  if (!reply || (*reply)[0] != static_cast<std::uint8_t>(Status::Ok)) return -1;
  return g_handles.Add(std::move(c));
}

int32_t USB_WriteFile(int32_t handle, const void* buffer, uint32_t length, uint32_t* written) {
  if (written) *written = 0;
  if (g_stalled) return 0;
  auto c = g_handles.Take(handle);
  if (!c) return 0;
  Writer w;
  w.u8(static_cast<std::uint8_t>(Op::Write)).bytes({static_cast<const std::uint8_t*>(buffer), length});
  auto reply = Call(*c, w.body(), Bound());
  const bool ok = reply && (*reply)[0] == static_cast<std::uint8_t>(Status::Ok);
  g_handles.Give(handle, std::move(c));
  if (ok && written) *written = length;
  return ok ? 1 : 0;
}

int32_t USB_ReadFile(int32_t handle, void* buffer, uint32_t length, uint32_t* read, uint32_t timeoutMs) {
  if (read) *read = 0;
  if (g_stalled) return 0;
  auto c = g_handles.Take(handle);
  if (!c) return 0;
  Writer w;
  w.u8(static_cast<std::uint8_t>(Op::Read)).u32(length).u32(timeoutMs);
  auto reply = Call(*c, w.body(), std::chrono::milliseconds(timeoutMs));
  bool ok = false;
  if (reply && (*reply)[0] == static_cast<std::uint8_t>(Status::Ok)) {
    const std::size_t n = std::min<std::size_t>(reply->size() - 1, length);
    if (n > 0) std::memcpy(buffer, reply->data() + 1, n);
    if (read) *read = static_cast<uint32_t>(n);
    ok = true;
  }
  g_handles.Give(handle, std::move(c));
  return ok ? 1 : 0;
}

int32_t USB_CancelIo(int32_t handle) {
  return g_handles.Contains(handle) ? 1 : 0;
}

int32_t USB_CloseHandle(int32_t handle) {
  return g_handles.Remove(handle) ? 1 : 0;
}

uint32_t USB_GetBackendProblem(char* text, uint32_t size) {
  std::lock_guard lock(g_problemMutex);
  if (text && size > 0) {
    const std::size_t n = std::min<std::size_t>(g_problem.size(), size - 1);
    std::memcpy(text, g_problem.data(), n);
    text[n] = '\0';
  }
  return static_cast<uint32_t>(g_problem.size());
}

}  // extern "C"
