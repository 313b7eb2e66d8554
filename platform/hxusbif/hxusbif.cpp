// libhxusbif's entry points over the transport chosen by hxusb.conf and
// $HYDRIX_USB_BACKEND (the simulator when nothing is configured).
#include "platform/hxusbif/hxusbif.h"

#include <mutex>

#include "platform/hxusb_config/usb_config.h"
#include "platform/hxusbif/transport.h"

namespace hx::usbif {

namespace {

// Stands in for the backend while the configuration has problems: no
// controller, and the problems as the reason.
class UnconfiguredTransport final : public Transport {
 public:
  explicit UnconfiguredTransport(std::string problem) : problem_(std::move(problem)) {}
  std::vector<std::int32_t> Enumerate() override { return {}; }
  std::int32_t Open(std::int32_t) override { return -1; }
  bool Write(std::int32_t, std::span<const std::uint8_t>) override { return false; }
  std::optional<std::size_t> Read(std::int32_t, std::span<std::uint8_t>, std::chrono::milliseconds) override {
    return std::nullopt;
  }
  bool Cancel(std::int32_t) override { return false; }
  bool Close(std::int32_t) override { return false; }
  std::string Problem() override { return problem_; }

 private:
  std::string problem_;
};

// The backend in force and its name, as hxusb.conf's type names it ("none"
// while the configuration has problems).
struct Configured {
  std::unique_ptr<Transport> transport;
  const char* name = "none";
};

Configured MakeConfiguredTransport() {
  const auto config =
      usbconf::LoadUsbConfig(usbconf::LibraryDirOf(reinterpret_cast<const void*>(&USB_GetDeviceCount)));
  if (!config.problems.empty()) {
    return {std::make_unique<UnconfiguredTransport>(usbconf::ProblemText(config)), "none"};
  }
  if (config.backend == usbconf::Backend::Sim) return {MakeSimTransport(), "sim"};
  return {MakeUsbTransport(config), "usb"};
}

Configured& InForce() {
  static std::once_flag once;
  static Configured configured;
  std::call_once(once, [] { configured = MakeConfiguredTransport(); });
  return configured;
}

Transport& Active() { return *InForce().transport; }

}  // namespace

}  // namespace hx::usbif

using hx::usbif::Active;
using hx::usbif::InForce;

extern "C" {

int32_t USB_GetDeviceCount(void) { return static_cast<int32_t>(Active().Enumerate().size()); }

int32_t USB_GetDeviceUniqueID(int32_t index) {
  const auto ids = Active().Enumerate();
  if (index < 0 || static_cast<std::size_t>(index) >= ids.size()) return -1;
  return ids[static_cast<std::size_t>(index)];
}

int32_t USB_OpenDevice(int32_t uniqueId) { return Active().Open(uniqueId); }

int32_t USB_WriteFile(int32_t handle, const void* buffer, uint32_t length, uint32_t* written) {
  if (written) *written = 0;
  if (!buffer && length > 0) return 0;
  const bool ok = Active().Write(handle, {static_cast<const std::uint8_t*>(buffer), length});
  if (ok && written) *written = length;
  return ok ? 1 : 0;
}

int32_t USB_ReadFile(int32_t handle, void* buffer, uint32_t length, uint32_t* read, uint32_t timeoutMs) {
  if (read) *read = 0;
  if (!buffer && length > 0) return 0;
  const auto n = Active().Read(handle, {static_cast<std::uint8_t*>(buffer), length},
                               std::chrono::milliseconds(timeoutMs));
  if (n && read) *read = static_cast<uint32_t>(*n);
  return n ? 1 : 0;
}

int32_t USB_CancelIo(int32_t handle) { return Active().Cancel(handle) ? 1 : 0; }

int32_t USB_CloseHandle(int32_t handle) { return Active().Close(handle) ? 1 : 0; }

uint32_t USB_GetBackendProblem(char* text, uint32_t size) {
  return hx::usbconf::CopyProblemText(Active().Problem(), text, size);
}

const char* USB_GetBackendName(void) { return InForce().name; }

}  // extern "C"
