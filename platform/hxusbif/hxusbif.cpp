// The USB interface stand-in over the hydrix-sim daemon: one socket
// connection per handle.
#include "platform/hxusbif/hxusbif.h"

#include <cstring>
#include <map>
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

// Time the daemon has to reply to a request, on top of a read's own wait.
constexpr std::chrono::milliseconds kReplyMargin{3000};

std::mutex g_mutex;
std::map<int32_t, std::unique_ptr<Connection>> g_handles;
int32_t g_nextHandle = 1;

std::vector<int32_t> ListIds() {
  Connection c;
  std::string error;
  if (!c.Connect(hx::sim::DefaultSocketPath(), error)) return {};
  Writer w;
  w.u8(static_cast<std::uint8_t>(Op::List));
  auto reply = c.Call(w.body(), kReplyMargin, error);
  if (!reply) return {};
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

// The connection of a handle, taken out of the table while it is used so a
// slow read does not block the other handles.
std::unique_ptr<Connection> Take(int32_t handle) {
  std::lock_guard lock(g_mutex);
  auto it = g_handles.find(handle);
  if (it == g_handles.end() || !it->second) return nullptr;
  return std::move(it->second);
}

void Give(int32_t handle, std::unique_ptr<Connection> c) {
  std::lock_guard lock(g_mutex);
  auto it = g_handles.find(handle);
  if (it != g_handles.end()) it->second = std::move(c);
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
  auto c = std::make_unique<Connection>();
  std::string error;
  if (!c->Connect(hx::sim::DefaultSocketPath(), error)) return -1;
  Writer w;
  w.u8(static_cast<std::uint8_t>(Op::Open)).i32(uniqueId).u8(static_cast<std::uint8_t>(hx::sim::Interface::Application));
  auto reply = c->Call(w.body(), kReplyMargin, error);
  if (!reply || (*reply)[0] != static_cast<std::uint8_t>(Status::Ok)) return -1;
  std::lock_guard lock(g_mutex);
  // Handles are positive and never 0 or -1, which callers use as "closed"
  // and "invalid".
  int32_t h = g_nextHandle;
  while (g_handles.count(h) || h <= 0) h = (h <= 0 || h == INT32_MAX) ? 1 : h + 1;
  g_nextHandle = h == INT32_MAX ? 1 : h + 1;
  g_handles[h] = std::move(c);
  return h;
}

int32_t USB_WriteFile(int32_t handle, const void* buffer, uint32_t length, uint32_t* written) {
  if (written) *written = 0;
  auto c = Take(handle);
  if (!c) return 0;
  Writer w;
  w.u8(static_cast<std::uint8_t>(Op::Write)).bytes({static_cast<const std::uint8_t*>(buffer), length});
  std::string error;
  auto reply = c->Call(w.body(), kReplyMargin, error);
  const bool ok = reply && (*reply)[0] == static_cast<std::uint8_t>(Status::Ok);
  Give(handle, std::move(c));
  if (ok && written) *written = length;
  return ok ? 1 : 0;
}

int32_t USB_ReadFile(int32_t handle, void* buffer, uint32_t length, uint32_t* read, uint32_t timeoutMs) {
  if (read) *read = 0;
  auto c = Take(handle);
  if (!c) return 0;
  Writer w;
  w.u8(static_cast<std::uint8_t>(Op::Read)).u32(length).u32(timeoutMs);
  std::string error;
  auto reply = c->Call(w.body(), std::chrono::milliseconds(timeoutMs) + kReplyMargin, error);
  bool ok = false;
  if (reply && (*reply)[0] == static_cast<std::uint8_t>(Status::Ok)) {
    const std::size_t n = std::min<std::size_t>(reply->size() - 1, length);
    if (n > 0) std::memcpy(buffer, reply->data() + 1, n);
    if (read) *read = static_cast<uint32_t>(n);
    ok = true;
  }
  Give(handle, std::move(c));
  return ok ? 1 : 0;
}

int32_t USB_CancelIo(int32_t handle) {
  std::lock_guard lock(g_mutex);
  return g_handles.count(handle) ? 1 : 0;
}

int32_t USB_CloseHandle(int32_t handle) {
  std::lock_guard lock(g_mutex);
  return g_handles.erase(handle) ? 1 : 0;
}

}  // extern "C"
