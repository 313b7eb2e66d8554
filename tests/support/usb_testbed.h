// Fake USB devices for tests that go through the real libusb-1.0 against
// umockdev's emulated sysfs, udev and usbfs. The test binary must run under
// umockdev's preload library (umockdev-wrapper); see UsbTestbed::Preloaded().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace hx::testing {

// A fake USB device: one configuration, one vendor-class interface with one
// bulk OUT and one bulk IN endpoint (64-byte packets).
struct FakeUsbSpec {
  std::uint16_t vendor = 0, product = 0;
  std::string serial{};       // empty: no serial number string descriptor (iSerialNumber = 0)
  int bus = 1;                // bus number
  std::vector<int> ports{1};  // port path, e.g. {4} or {1, 3}; hubs (vendor 0) on the way are created
  int address = 2;            // device address (devnum), unique per bus
  std::uint8_t interfaceNumber = 0, endpointOut = 0x01, endpointIn = 0x81;
  bool kernelDriverBound = false;  // a kernel driver holds the interface (must be detached on claim)
};

// What the device does with a bulk OUT transfer: the answers it queues for
// the IN endpoint (may be none). Runs on umockdev's worker thread with the
// testbed locked, so it must not call back into the UsbTestbed.
using BulkHandler = std::function<std::vector<std::vector<std::uint8_t>>(std::span<const std::uint8_t>)>;

// Owns a umockdev testbed ($UMOCKDEV_DIR) and emulates usbfs for each added
// device. Create it, add devices, then call libusb_init; libusb_exit before
// the testbed goes away.
class UsbTestbed {
 public:
  UsbTestbed();  // fails the current test when not run under the umockdev preload
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  // True when libumockdev-preload is loaded into this process.
  static bool Preloaded();

  // Adds the device (and any missing hubs on its port path), announces it
  // with an "add" uevent and returns its sysfs path.
  std::string Add(const FakeUsbSpec& spec, BulkHandler handler);
  // The device leaves the bus: pending and new transfers fail with ENODEV,
  // a "remove" uevent is sent and its sysfs entry disappears.
  void Remove(const std::string& sysfsPath);
  // The /dev/bus/usb node becomes unreadable for non-root.
  void DenyAccess(const std::string& sysfsPath);
  // Another program holds the interface: claims fail with EBUSY.
  void HoldInterface(const std::string& sysfsPath);
  // Queues data on the IN endpoint without a preceding OUT transfer.
  void QueueIn(const std::string& sysfsPath, std::vector<std::uint8_t> data);

  int DetachCount(const std::string& sysfsPath) const;      // kernel driver detaches so far
  bool Claimed(const std::string& sysfsPath) const;         // a program holds the interface
  // The bulk transfers submitted to the device so far, in order: 'O' for a
  // request (OUT), 'I' for a read (IN), whether or not it got data.
  std::string BulkLog(const std::string& sysfsPath) const;
  std::string DevNode(const std::string& sysfsPath) const;  // "/dev/bus/usb/BBB/DDD"

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hx::testing
