// libhxboot's entry points over the backend chosen by hxusb.conf and
// $HYDRIX_USB_BACKEND (the simulator when nothing is configured).
#include "platform/hxboot/hxboot.h"

#include <mutex>

#include "platform/hxboot/backend.h"
#include "platform/hxusb_config/usb_config.h"

namespace hx::boot {

namespace {

constexpr std::int16_t kWriteFailed = static_cast<std::int16_t>(0x8000 | 0x7F);

// Stands in for the backend while the configuration has problems: nothing
// opens, and the problems are the reason.
class UnconfiguredBackend final : public Backend {
 public:
  explicit UnconfiguredBackend(std::string problem) : problem_(std::move(problem)) {}
  std::int32_t Open(std::int32_t, std::int32_t) override { return -1; }
  void Close(std::int32_t) override {}
  std::int32_t SendRaw(std::int32_t, const std::uint8_t*, std::int32_t) override { return -1; }
  std::int32_t ReadRaw(std::int32_t, std::uint8_t*, std::int32_t) override { return -1; }
  std::int16_t SendGetPacket(std::int32_t, std::uint8_t*, std::int32_t, std::int32_t, std::int32_t) override {
    return -1;
  }
  std::int16_t ReadPIC(std::int32_t, const std::uint8_t*, std::uint8_t*) override { return -1; }
  std::int16_t WritePIC(std::int32_t, const std::uint8_t*, const std::uint8_t*) override {
    return kWriteFailed;
  }
  std::string Problem() override { return problem_; }

 private:
  std::string problem_;
};

Backend& Active() {
  static std::once_flag once;
  static std::unique_ptr<Backend> backend;
  std::call_once(once, [] {
    const auto config =
        usbconf::LoadUsbConfig(usbconf::LibraryDirOf(reinterpret_cast<const void*>(&OpenPIC)));
    if (!config.problems.empty()) {
      backend = std::make_unique<UnconfiguredBackend>(usbconf::ProblemText(config));
    } else {
      backend = config.backend == usbconf::Backend::Sim ? MakeSimBackend() : MakeUsbBackend(config);
    }
  });
  return *backend;
}

}  // namespace

}  // namespace hx::boot

using hx::boot::Active;

extern "C" {

int32_t OpenPIC(int32_t connection, int32_t /*reserved*/, int32_t interfaceSel) {
  return Active().Open(connection, interfaceSel);
}

void ClosePIC(int32_t handle) { Active().Close(handle); }

int32_t SendRawData(int32_t handle, const uint8_t* data, int32_t count) {
  if (!data || count < 0) return -1;
  return Active().SendRaw(handle, data, count);
}

int32_t ReadRawData(int32_t handle, uint8_t* buffer, int32_t* length) {
  const int32_t capacity = length ? *length : 0;
  if (length) *length = 0;
  if (!buffer || capacity <= 0) return -1;
  const int32_t n = Active().ReadRaw(handle, buffer, capacity);
  if (n > 0) *length = n;
  return n;
}

int16_t SendGetPacket(int32_t handle, uint8_t* packet, int32_t sendCount, int32_t capacity, int32_t retries) {
  return Active().SendGetPacket(handle, packet, sendCount, capacity, retries);
}

int16_t ReadPIC(int32_t handle, const uint8_t* request, uint8_t* data) {
  if (!request || !data) return -1;
  return Active().ReadPIC(handle, request, data);
}

int16_t WritePIC(int32_t handle, const uint8_t* request, const uint8_t* data) {
  if (!request || (!data && request[1] > 0)) return hx::boot::kWriteFailed;
  return Active().WritePIC(handle, request, data);
}

uint32_t GetPICProblem(char* text, uint32_t size) {
  return hx::usbconf::CopyProblemText(Active().Problem(), text, size);
}

int32_t GetPICList(int32_t* ids, int32_t capacity) {
  const auto found = Active().BootLoaders();
  for (int32_t i = 0; ids && i < capacity && i < static_cast<int32_t>(found.size()); ++i) ids[i] = found[i];
  return static_cast<int32_t>(found.size());
}

}  // extern "C"
