// The USB interface stand-in over the hydrix-sim daemon: one socket
// connection per handle.
#include "platform/hxusbif/hxusbif.h"

#include <cstring>
#include <memory>
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

hx::sim::HandleTable g_handles;

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
  return g_handles.Add(std::move(c));
}

int32_t USB_WriteFile(int32_t handle, const void* buffer, uint32_t length, uint32_t* written) {
  if (written) *written = 0;
  auto c = g_handles.Take(handle);
  if (!c) return 0;
  Writer w;
  w.u8(static_cast<std::uint8_t>(Op::Write)).bytes({static_cast<const std::uint8_t*>(buffer), length});
  std::string error;
  auto reply = c->Call(w.body(), kReplyMargin, error);
  const bool ok = reply && (*reply)[0] == static_cast<std::uint8_t>(Status::Ok);
  g_handles.Give(handle, std::move(c));
  if (ok && written) *written = length;
  return ok ? 1 : 0;
}

int32_t USB_ReadFile(int32_t handle, void* buffer, uint32_t length, uint32_t* read, uint32_t timeoutMs) {
  if (read) *read = 0;
  auto c = g_handles.Take(handle);
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
  g_handles.Give(handle, std::move(c));
  return ok ? 1 : 0;
}

int32_t USB_CancelIo(int32_t handle) {
  return g_handles.Contains(handle) ? 1 : 0;
}

int32_t USB_CloseHandle(int32_t handle) {
  return g_handles.Remove(handle) ? 1 : 0;
}

}  // extern "C"
