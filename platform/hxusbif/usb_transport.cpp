// libhxusbif's USB backend: the controllers of the configured application
// identity, each opened once and shared by the handles opened on it (the
// link opens one handle to write and one to read); a request and its answer
// are one bulk transfer each on the interface's two endpoints.
#include <array>
#include <map>

#include "platform/hxusb_device/usb_bus.h"
#include "platform/hxusbif/transport.h"

namespace hx::usbif {

namespace {

constexpr std::chrono::milliseconds kWriteTimeout{1000};
constexpr std::chrono::milliseconds kDefaultReadTimeout{500};
constexpr std::chrono::milliseconds kDrainWait{1};

class UsbTransport final : public Transport {
 public:
  explicit UsbTransport(usbconf::UsbConfig config)
      : config_(std::move(config)), bus_(usb::DefaultPortMemoryFile()) {}

  std::vector<std::int32_t> Enumerate() override {
    std::vector<std::int32_t> ids;
    if (!Configured()) return ids;
    for (const auto& f : bus_.Find(config_.application, false)) ids.push_back(f.id);
    problem_ = bus_.Problem();
    return ids;
  }

  std::int32_t Open(std::int32_t uniqueId) override {
    if (!Configured()) return -1;
    auto device = devices_.find(uniqueId);
    if (device == devices_.end() || device->second.link->Gone()) {
      usb::OpenStatus status{};
      auto link = bus_.Open(uniqueId, config_.application, false, status, problem_);
      if (!link) return -1;
      problem_.clear();
      devices_[uniqueId] = Device{std::move(link), 0};
      device = devices_.find(uniqueId);
    }
    ++device->second.handles;
    const std::int32_t handle = next_++;
    handles_[handle] = uniqueId;
    return handle;
  }

  bool Write(std::int32_t handle, std::span<const std::uint8_t> data) override {
    auto* link = LinkOf(handle);
    if (!link) return false;
    // An answer that came after its read gave up would be taken for the
    // answer to this request: drop whatever waits before sending.
    std::array<std::uint8_t, 64> stale{};
    for (int i = 0; i < 8 && link->In(stale, kDrainWait); ++i) {
    }
    return link->Out(data, kWriteTimeout);
  }

  std::optional<std::size_t> Read(std::int32_t handle, std::span<std::uint8_t> buffer,
                                  std::chrono::milliseconds timeout) override {
    auto* link = LinkOf(handle);
    if (!link) return std::nullopt;
    const auto n = link->In(buffer, timeout.count() > 0 ? timeout : kDefaultReadTimeout);
    if (n) return n;
    // No answer in time is an empty read; a device gone is a failure.
    return link->Gone() ? std::nullopt : std::optional<std::size_t>(0);
  }

  // Transfers are synchronous: nothing is left pending on a handle.
  bool Cancel(std::int32_t handle) override { return handles_.count(handle) != 0; }

  bool Close(std::int32_t handle) override {
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    const auto device = devices_.find(it->second);
    if (device != devices_.end() && --device->second.handles <= 0) devices_.erase(device);
    handles_.erase(it);
    return true;
  }

  std::string Problem() override { return problem_; }

 private:
  struct Device {
    std::unique_ptr<usb::DeviceLink> link;
    int handles = 0;
  };

  bool Configured() {
    if (config_.application.known) return true;
    problem_ = usb::ApplicationNotConfiguredMessage();
    return false;
  }

  usb::DeviceLink* LinkOf(std::int32_t handle) {
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return nullptr;
    const auto device = devices_.find(it->second);
    return device == devices_.end() ? nullptr : device->second.link.get();
  }

  usbconf::UsbConfig config_;
  usb::UsbBus bus_;
  std::map<std::int32_t, Device> devices_;
  std::map<std::int32_t, std::int32_t> handles_;  // handle -> controller identifier
  std::int32_t next_ = 1;
  std::string problem_;
};

}  // namespace

std::unique_ptr<Transport> MakeUsbTransport(usbconf::UsbConfig config) {
  return std::make_unique<UsbTransport>(std::move(config));
}

}  // namespace hx::usbif
