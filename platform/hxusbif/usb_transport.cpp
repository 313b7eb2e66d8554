// libhxusbif's USB backend: the controllers of the configured application
// identity, each opened once and shared by the handles opened on it (the
// link opens one handle to write and one to read); a request and its answer
// are one bulk transfer each on the interface's two endpoints.
//
// The link opens and closes its handles for every exchange. A controller is
// kept claimed a moment (`keep`) after its last handle closed, so that
// exchanges in a row reuse it; a thread releases it once that moment has
// passed without a new handle, and another program may then claim it.
//
// An answer that comes after its read gave up stays in the device and would
// be taken for the answer to the next request. It can only be there after a
// request whose answer was not read (the read timed out, or none was made),
// or when the device was just opened (another program may have left one):
// only then is whatever waits read and dropped before the next request.
#include <algorithm>
#include <array>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/hxusb_device/usb_bus.h"
#include "platform/hxusbif/transport.h"

namespace hx::usbif {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kWriteTimeout{1000};
constexpr std::chrono::milliseconds kDefaultReadTimeout{500};
constexpr std::chrono::milliseconds kDrainWait{1};

class UsbTransport final : public Transport {
 public:
  UsbTransport(usbconf::UsbConfig config, std::chrono::milliseconds keep)
      : config_(std::move(config)), keep_(keep), bus_(usb::DefaultPortMemoryFile()) {}

  ~UsbTransport() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (releaser_.joinable()) releaser_.join();
  }

  std::vector<std::int32_t> Enumerate() override {
    std::lock_guard lock(mutex_);
    std::vector<std::int32_t> ids;
    if (!Configured()) return ids;
    for (const auto& f : bus_.Find(config_.application, false)) ids.push_back(f.id);
    problem_ = bus_.Problem();
    return ids;
  }

  std::int32_t Open(std::int32_t uniqueId) override {
    std::lock_guard lock(mutex_);
    if (!Configured()) return -1;
    auto device = devices_.find(uniqueId);
    // A kept controller may have left the bus, or another one taken its place.
    if (device != devices_.end() &&
        (device->second.link->Gone() ||
         (device->second.handles == 0 && !usb::StillThere(device->second.link->Device())))) {
      devices_.erase(device);
      device = devices_.end();
    }
    if (device == devices_.end()) {
      usb::OpenStatus status{};
      auto link = bus_.Open(uniqueId, config_.application, false, status, problem_);
      if (!link) return -1;
      problem_.clear();
      device = devices_.insert_or_assign(uniqueId, Device{std::move(link)}).first;
    }
    ++device->second.handles;
    const std::int32_t handle = next_++;
    handles_[handle] = uniqueId;
    return handle;
  }

  bool Write(std::int32_t handle, std::span<const std::uint8_t> data) override {
    std::lock_guard lock(mutex_);
    auto* device = DeviceOf(handle);
    if (!device) return false;
    if (device->mayHoldAnswer) {
      std::array<std::uint8_t, 64> stale{};
      for (int i = 0; i < 8 && device->link->In(stale, kDrainWait); ++i) {
      }
    }
    // Until its answer is read, this request may leave one behind.
    device->mayHoldAnswer = true;
    return device->link->Out(data, kWriteTimeout);
  }

  std::optional<std::size_t> Read(std::int32_t handle, std::span<std::uint8_t> buffer,
                                  std::chrono::milliseconds timeout) override {
    std::lock_guard lock(mutex_);
    auto* device = DeviceOf(handle);
    if (!device) return std::nullopt;
    const auto n = device->link->In(buffer, timeout.count() > 0 ? timeout : kDefaultReadTimeout);
    if (n && *n > 0) device->mayHoldAnswer = false;
    if (n) return n;
    // No answer in time is an empty read; a device gone is a failure.
    return device->link->Gone() ? std::nullopt : std::optional<std::size_t>(0);
  }

  // Transfers are synchronous: nothing is left pending on a handle.
  bool Cancel(std::int32_t handle) override {
    std::lock_guard lock(mutex_);
    return handles_.count(handle) != 0;
  }

  bool Close(std::int32_t handle) override {
    std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    const auto device = devices_.find(it->second);
    handles_.erase(it);
    if (device == devices_.end() || --device->second.handles > 0) return true;
    if (keep_.count() <= 0 || device->second.link->Gone()) {
      devices_.erase(device);
      return true;
    }
    device->second.idleSince = Clock::now();
    if (!releaser_.joinable()) releaser_ = std::thread([this] { ReleaseIdle(); });
    wake_.notify_all();
    return true;
  }

  std::string Problem() override {
    std::lock_guard lock(mutex_);
    return problem_;
  }

 private:
  struct Device {
    std::unique_ptr<usb::DeviceLink> link;
    int handles = 0;
    // Whatever waits in the device is to be dropped before the next request.
    bool mayHoldAnswer = true;
    Clock::time_point idleSince{};  // when its last handle closed
  };

  // The releasing thread: closes each controller `keep_` after its last
  // handle, unless a handle was opened on it meanwhile.
  void ReleaseIdle() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      auto next = Clock::time_point::max();
      for (auto it = devices_.begin(); it != devices_.end();) {
        if (it->second.handles > 0) {
          ++it;
        } else if (const auto due = it->second.idleSince + keep_; due <= Clock::now()) {
          it = devices_.erase(it);
        } else {
          next = std::min(next, due);
          ++it;
        }
      }
      if (next == Clock::time_point::max())
        wake_.wait(lock);
      else
        wake_.wait_until(lock, next);
    }
  }

  bool Configured() {
    if (config_.application.known) return true;
    problem_ = usb::ApplicationNotConfiguredMessage();
    return false;
  }

  Device* DeviceOf(std::int32_t handle) {
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return nullptr;
    const auto device = devices_.find(it->second);
    return device == devices_.end() ? nullptr : &device->second;
  }

  usbconf::UsbConfig config_;
  const std::chrono::milliseconds keep_;
  usb::UsbBus bus_;
  // Guards everything below and bus_: the releasing thread shares them.
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::map<std::int32_t, Device> devices_;
  std::map<std::int32_t, std::int32_t> handles_;  // handle -> controller identifier
  std::int32_t next_ = 1;
  std::string problem_;
  std::thread releaser_;  // started at the first controller kept
};

}  // namespace

std::unique_ptr<Transport> MakeUsbTransport(usbconf::UsbConfig config, std::chrono::milliseconds keep) {
  return std::make_unique<UsbTransport>(std::move(config), keep);
}

}  // namespace hx::usbif
