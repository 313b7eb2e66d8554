// libhxboot's simulator backend: one socket connection to the hydrix-sim
// daemon per handle, opened on the application's interface (250) or the boot
// loader's (150).
#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/hxboot/backend.h"
#include "wire/boot_protocol.h"
#include "wire/sim_protocol.h"

namespace hx::boot {

namespace {

using hx::sim::Connection;
using hx::sim::Op;
using hx::sim::Reader;
using hx::sim::Status;
using hx::sim::Writer;

constexpr std::chrono::milliseconds kReplyMargin{3000};
// How long ReadRawData waits for bytes from the application.
constexpr std::uint32_t kRawWaitMs = 100;
constexpr int16_t kWriteFailed = static_cast<int16_t>(0x8000 | 0x7F);

hx::sim::HandleTable g_handles;

// One request on a handle; the reply after its status byte, or nothing.
std::optional<std::vector<std::uint8_t>> Call(int32_t handle, const Writer& w,
                                              std::chrono::milliseconds wait) {
  auto c = g_handles.Take(handle);
  if (!c) return std::nullopt;
  std::string error;
  auto reply = c->Call(w.body(), wait, error);
  g_handles.Give(handle, std::move(c));
  if (!reply || reply->empty() || (*reply)[0] != static_cast<std::uint8_t>(Status::Ok)) return std::nullopt;
  reply->erase(reply->begin());
  return reply;
}

// A boot-loader reply: the i32 result, then bytes.
bool BootReply(const std::vector<std::uint8_t>& reply, int32_t& result,
               std::span<const std::uint8_t>& bytes) {
  Reader in(reply);
  if (!in.i32(result)) return false;
  bytes = in.rest();
  return true;
}

class SimBackend final : public Backend {
 public:
  std::vector<std::int32_t> BootLoaders() override {
    Connection c;
    std::string error;
    if (!c.Connect(hx::sim::DefaultSocketPath(), error)) return {};
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::ListBootLoaders));
    auto reply = c.Call(w.body(), kReplyMargin, error);
    std::vector<std::int32_t> ids;
    if (!reply || reply->empty() || (*reply)[0] != static_cast<std::uint8_t>(Status::Ok)) return ids;
    Reader in(std::span<const std::uint8_t>(*reply).subspan(1));
    std::uint32_t count = 0;
    if (!in.u32(count)) return ids;
    for (std::uint32_t i = 0; i < count && i < 256; ++i) {
      std::int32_t id = 0;
      if (!in.i32(id)) break;
      ids.push_back(id);
    }
    return ids;
  }

  std::int32_t Open(std::int32_t connection, std::int32_t interfaceSel) override {
    hx::sim::Interface iface;
    if (interfaceSel == hx::boot::kApplicationInterface) {
      iface = hx::sim::Interface::Application;
    } else if (interfaceSel == hx::boot::kBootLoaderInterface) {
      iface = hx::sim::Interface::BootLoader;
    } else {
      return -1;
    }
    auto c = std::make_unique<Connection>();
    std::string error;
    if (!c->Connect(hx::sim::DefaultSocketPath(), error)) return -1;
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::Open)).i32(connection).u8(static_cast<std::uint8_t>(iface));
    auto reply = c->Call(w.body(), kReplyMargin, error);
    if (reply && !reply->empty() && (*reply)[0] == static_cast<std::uint8_t>(Status::Busy)) {
      return hx::boot::kOpenBusy;
    }
    if (!reply || reply->empty() || (*reply)[0] != static_cast<std::uint8_t>(Status::Ok)) return -1;
    return g_handles.Add(std::move(c));
  }

  void Close(std::int32_t handle) override {
    // Closing the connection tells the daemon the handle is gone; waiting for
    // it to let go means a boot loader closed here can be opened again at once.
    if (auto c = g_handles.Take(handle)) c->CloseAndWait(kReplyMargin);
    g_handles.Remove(handle);
  }

  std::int32_t SendRaw(std::int32_t handle, const std::uint8_t* data, std::int32_t count) override {
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::Write)).bytes({data, static_cast<std::size_t>(count)});
    return Call(handle, w, kReplyMargin) ? count : -1;
  }

  std::int32_t ReadRaw(std::int32_t handle, std::uint8_t* buffer, std::int32_t capacity) override {
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::Read)).u32(static_cast<std::uint32_t>(capacity)).u32(kRawWaitMs);
    auto reply = Call(handle, w, std::chrono::milliseconds(kRawWaitMs) + kReplyMargin);
    if (!reply) return -1;
    const auto n =
        static_cast<int32_t>(std::min<std::size_t>(reply->size(), static_cast<std::size_t>(capacity)));
    if (n > 0) std::memcpy(buffer, reply->data(), static_cast<std::size_t>(n));
    return n;
  }

  std::int16_t SendGetPacket(std::int32_t handle, std::uint8_t* packet, std::int32_t sendCount,
                             std::int32_t capacity, std::int32_t retries) override {
    if (!packet || sendCount < 1 || sendCount > static_cast<int32_t>(hx::boot::kPacketCapacity) ||
        capacity < 1) {
      return -1;
    }
    int32_t result = -1;
    // The request is tried up to `retries` times while it fails.
    for (int32_t attempt = 0; attempt < std::max<int32_t>(1, retries); ++attempt) {
      Writer w;
      w.u8(static_cast<std::uint8_t>(Op::BootPacket))
          .u32(static_cast<std::uint32_t>(sendCount))
          .bytes({packet, static_cast<std::size_t>(sendCount)});
      auto reply = Call(handle, w, kReplyMargin);
      std::span<const std::uint8_t> answer;
      if (!reply || !BootReply(*reply, result, answer)) {
        result = -1;
        continue;
      }
      if (result >= 0) {
        std::memcpy(packet, answer.data(),
                    std::min<std::size_t>(answer.size(), static_cast<std::size_t>(capacity)));
        break;
      }
    }
    return static_cast<int16_t>(std::clamp<int32_t>(result, INT16_MIN, INT16_MAX));
  }

  std::int16_t ReadPIC(std::int32_t handle, const std::uint8_t* request, std::uint8_t* data) override {
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::BootRead)).bytes({request, 12});
    auto reply = Call(handle, w, kReplyMargin);
    int32_t result = -1;
    std::span<const std::uint8_t> bytes;
    if (!reply || !BootReply(*reply, result, bytes)) return -1;
    if (result > 0) std::memcpy(data, bytes.data(), std::min<std::size_t>(bytes.size(), request[1]));
    return static_cast<int16_t>(std::clamp<int32_t>(result, INT16_MIN, INT16_MAX));
  }

  std::int16_t WritePIC(std::int32_t handle, const std::uint8_t* request, const std::uint8_t* data) override {
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::BootWrite)).bytes({request, 12}).bytes({data, request[1]});
    auto reply = Call(handle, w, kReplyMargin);
    int32_t result = 0;
    std::span<const std::uint8_t> bytes;
    if (!reply || !BootReply(*reply, result, bytes)) return kWriteFailed;
    return static_cast<int16_t>(result);
  }
};

}  // namespace

std::unique_ptr<Backend> MakeSimBackend() { return std::make_unique<SimBackend>(); }

}  // namespace hx::boot
