// libhxboot's USB backend: OpenPIC(id, 0, 150) opens the boot loader's
// interface and maps the library's calls onto its packets; OpenPIC(id, 0,
// 250) opens the running application's interface for raw data (the boot
// command, the spy). Identities and endpoints come from hxusb.conf.
#include <map>
#include <memory>

#include "platform/hxboot/backend.h"
#include "platform/hxboot/device_session.h"
#include "platform/hxusb_device/usb_bus.h"
#include "wire/boot_protocol.h"

namespace hx::boot {

namespace {

constexpr std::int16_t kWriteFailed = static_cast<std::int16_t>(0x8000 | 0x7F);
// How long ReadRawData waits for bytes from the application, and a raw send
// for the device to take them.
constexpr std::chrono::milliseconds kRawWait{100};
constexpr std::chrono::milliseconds kRawSend{1000};

struct Opened {
  std::unique_ptr<usb::DeviceLink> link;
  std::unique_ptr<BootLoaderSession> session;  // boot loader only
};

class UsbBackend final : public Backend {
 public:
  explicit UsbBackend(usbconf::UsbConfig config)
      : config_(std::move(config)), bus_(usb::DefaultPortMemoryFile()) {}

  std::vector<std::int32_t> BootLoaders() override {
    std::vector<std::int32_t> ids;
    if (!config_.bootLoader.known) return ids;
    for (const auto& device : bus_.Find(config_.bootLoader, true)) ids.push_back(device.id);
    return ids;
  }

  std::int32_t Open(std::int32_t connection, std::int32_t interfaceSel) override {
    const bool bootLoader = interfaceSel == kBootLoaderInterface;
    if (!bootLoader && interfaceSel != kApplicationInterface) {
      problem_ = "unknown interface " + std::to_string(interfaceSel);
      return -1;
    }
    const auto& identity = bootLoader ? config_.bootLoader : config_.application;
    if (!identity.known) {
      problem_ = usb::ApplicationNotConfiguredMessage();
      return -1;
    }
    usb::OpenStatus status{};
    auto link = bus_.Open(connection, identity, bootLoader, status, problem_);
    if (!link) {
      // A refused port memory may be why a boot loader was not found by its identifier.
      if (const std::string memory = bus_.Problem(); !memory.empty()) {
        problem_ += (problem_.empty() ? "" : "\n") + memory;
      }
      return status == usb::OpenStatus::Busy ? kOpenBusy : -1;
    }
    problem_.clear();
    Opened o;
    if (bootLoader) o.session = std::make_unique<BootLoaderSession>(*link);
    o.link = std::move(link);
    const std::int32_t handle = next_++;
    opened_[handle] = std::move(o);
    return handle;
  }

  void Close(std::int32_t handle) override {
    const auto it = opened_.find(handle);
    if (it == opened_.end()) return;
    // Once the boot flag is written the run is over: restart the controller
    // so that its application starts, as a power cycle would.
    if (it->second.session && it->second.session->BootFlagWritten()) it->second.session->Reset();
    opened_.erase(it);
  }

  std::int32_t SendRaw(std::int32_t handle, const std::uint8_t* data, std::int32_t count) override {
    auto* o = Find(handle, false);
    if (!o) return -1;
    return o->link->Out({data, static_cast<std::size_t>(count)}, kRawSend) ? count : -1;
  }

  std::int32_t ReadRaw(std::int32_t handle, std::uint8_t* buffer, std::int32_t capacity) override {
    auto* o = Find(handle, false);
    if (!o) return -1;
    const auto n = o->link->In({buffer, static_cast<std::size_t>(capacity)}, kRawWait);
    if (n) return static_cast<std::int32_t>(*n);
    return o->link->Gone() ? -1 : 0;
  }

  std::int16_t SendGetPacket(std::int32_t handle, std::uint8_t* packet, std::int32_t sendCount,
                             std::int32_t capacity, std::int32_t retries) override {
    auto* o = Find(handle, true);
    return o ? o->session->SendGetPacket(packet, sendCount, capacity, retries) : -1;
  }

  std::int16_t ReadPIC(std::int32_t handle, const std::uint8_t* request, std::uint8_t* data) override {
    auto* o = Find(handle, true);
    return o ? o->session->ReadPIC(request, data) : -1;
  }

  std::int16_t WritePIC(std::int32_t handle, const std::uint8_t* request, const std::uint8_t* data) override {
    auto* o = Find(handle, true);
    return o ? o->session->WritePIC(request, data) : kWriteFailed;
  }

  std::string Problem() override { return problem_; }

 private:
  Opened* Find(std::int32_t handle, bool bootLoader) {
    const auto it = opened_.find(handle);
    if (it == opened_.end() || (it->second.session != nullptr) != bootLoader) return nullptr;
    return &it->second;
  }

  usbconf::UsbConfig config_;
  usb::UsbBus bus_;
  std::map<std::int32_t, Opened> opened_;
  std::int32_t next_ = 1;
  std::string problem_;
};

}  // namespace

std::unique_ptr<Backend> MakeUsbBackend(usbconf::UsbConfig config) {
  return std::make_unique<UsbBackend>(std::move(config));
}

}  // namespace hx::boot
