// Controllers on the USB bus through libusb-1.0: finding the devices of one
// configured identity, opening one interface (a kernel driver bound to it is
// detached), and bulk transfers on its two endpoints. Failures come back as
// one message for the operator, naming the device and what to do.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/hxusb_config/usb_config.h"
#include "platform/hxusb_device/bulk_link.h"
#include "platform/hxusb_device/usb_ids.h"

struct libusb_context;
struct libusb_device_handle;

namespace hx::usb {

struct FoundDevice {
  std::int32_t id = 0;
  int bus = 0;
  int address = 0;
  std::string port;    // "BUS-PORT.PORT..."
  std::string serial;  // empty when the device has none
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  // "/dev/bus/usb/BBB/DDD"
  std::string Node() const;
};

enum class OpenStatus { Opened, NotFound, Access, Busy, Failed };

// An opened interface. Transfers on a device that left the bus fail, and
// Gone() then tells so. Closing releases the interface (the kernel driver
// detached at opening is attached again by libusb).
class DeviceLink final : public BulkLink {
 public:
  DeviceLink(libusb_device_handle* handle, FoundDevice device, usbconf::UsbIdentity identity);
  ~DeviceLink() override;
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;
  bool Out(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) override;
  std::optional<std::size_t> In(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override;
  bool Gone() const { return gone_; }
  const FoundDevice& Device() const { return device_; }

 private:
  libusb_device_handle* handle_;
  FoundDevice device_;
  usbconf::UsbIdentity identity_;
  bool gone_ = false;
};

class UsbBus {
 public:
  // `memory` names the port memory file (empty: this process only).
  explicit UsbBus(std::string portMemoryFile);
  ~UsbBus();
  UsbBus(const UsbBus&) = delete;
  UsbBus& operator=(const UsbBus&) = delete;

  // The attached devices of `identity`, in bus and port order, with their
  // identifiers; `bootLoader` as for AssignIdentifier. Empty when libusb
  // cannot start (Problem() says why). Every call looks the bus over again
  // and keeps what it found for Open.
  std::vector<FoundDevice> Find(const usbconf::UsbIdentity& identity, bool bootLoader);
  // How long Open waits for an interface that another program has claimed
  // (longer than a library keeps a controller after its last exchange).
  static constexpr std::chrono::milliseconds kBusyWait{500};

  // Opens the device of `identity` whose identifier is `id` and claims the
  // configured interface. On failure, `status` says why and `problem` holds
  // the message for the operator. The devices found last are used as they
  // are; the bus is looked over again (Find) only when `id` is not among
  // them, the device is no longer where it was found, or opening it fails.
  // An interface claimed elsewhere is tried again for up to kBusyWait.
  std::unique_ptr<DeviceLink> Open(std::int32_t id, const usbconf::UsbIdentity& identity, bool bootLoader,
                                   OpenStatus& status, std::string& problem);
  // Why libusb cannot start, else why the port memory was refused, or empty.
  std::string Problem() const { return initProblem_.empty() ? memory_.Problem() : initProblem_; }

 private:
  // Opens `device`; a libusb status (0 when opened and claimed).
  int OpenFound(const FoundDevice& device, const usbconf::UsbIdentity& identity, libusb_device_handle*& handle);

  libusb_context* context_ = nullptr;
  std::string initProblem_;
  PortMemory memory_;
  // What the last Find found, and for which identity.
  std::vector<FoundDevice> found_;
  usbconf::UsbIdentity foundIdentity_;
  bool foundBootLoader_ = false;
  bool foundValid_ = false;
};

// Whether `device` is still where it was found: the same bus address and
// serial number in its own sysfs entry (a few small reads, no scan of the bus).
bool StillThere(const FoundDevice& device);

// The operator's messages for a device that cannot be opened.
std::string AccessMessage(const FoundDevice& device);
std::string InUseMessage(const FoundDevice& device, int interfaceNumber);
// The operator's message while the application's identity is not configured.
std::string ApplicationNotConfiguredMessage();

}  // namespace hx::usb
