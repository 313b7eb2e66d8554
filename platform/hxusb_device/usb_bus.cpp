#include "platform/hxusb_device/usb_bus.h"

#include <libusb.h>

#include <algorithm>
#include <thread>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace hx::usb {

namespace {

std::string Hex4(std::uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", v);
  return text;
}

std::string ReadAttribute(const std::filesystem::path& dir, const char* name) {
  std::ifstream in(dir / name);
  std::string value;
  std::getline(in, value);
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' '))
    value.pop_back();
  return value;
}

// The kernel's name of the device at bus/address ("1-4.2"), found in sysfs,
// which also gives its serial number without opening it. Empty when sysfs
// does not list it.
std::string SysfsName(int bus, int address, std::string& serial) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (fs::directory_iterator it("/sys/bus/usb/devices", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.find(':') != std::string::npos || name.rfind("usb", 0) == 0) continue;  // interfaces, root hubs
    if (ReadAttribute(it->path(), "busnum") != std::to_string(bus) ||
        ReadAttribute(it->path(), "devnum") != std::to_string(address)) {
      continue;
    }
    serial = ReadAttribute(it->path(), "serial");
    return name;
  }
  return {};
}

std::string PortPathFromLibusb(libusb_device* dev) {
  std::uint8_t ports[8];
  const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
  std::string path = std::to_string(libusb_get_bus_number(dev)) + "-";
  for (int i = 0; i < n; ++i) path += (i ? "." : "") + std::to_string(ports[i]);
  if (n <= 0) path += "0." + std::to_string(libusb_get_device_address(dev));
  return path;
}

std::string SerialFromDescriptor(libusb_device* dev, std::uint8_t index) {
  if (index == 0) return {};
  libusb_device_handle* h = nullptr;
  if (libusb_open(dev, &h) != 0) return {};
  unsigned char text[128] = {};
  const int n = libusb_get_string_descriptor_ascii(h, index, text, sizeof text);
  libusb_close(h);
  return n > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(n)) : std::string();
}

bool Matches(const libusb_device_descriptor& d, const usbconf::UsbIdentity& identity) {
  return identity.known && d.idVendor == identity.vendor && d.idProduct == identity.product;
}

}  // namespace

std::string FoundDevice::Node() const {
  char text[32];
  std::snprintf(text, sizeof text, "/dev/bus/usb/%03d/%03d", bus, address);
  return text;
}

std::string AccessMessage(const FoundDevice& device) {
  const std::string vendor = Hex4(device.vendor), product = Hex4(device.product);
  return "No permission to open the controller " + vendor + ":" + product + " at " + device.Node() +
         ". Install the udev rule 70-hydrix.rules (packaging/udev/ in the Hydrix sources; it needs the line "
         "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"" +
         vendor + "\", ATTR{idProduct}==\"" + product +
         "\", TAG+=\"uaccess\"): sudo cp 70-hydrix.rules /etc/udev/rules.d/ && sudo udevadm control "
         "--reload-rules && sudo udevadm trigger, then unplug the controller and plug it in again.";
}

std::string InUseMessage(const FoundDevice& device, int interfaceNumber) {
  return "The controller " + Hex4(device.vendor) + ":" + Hex4(device.product) + " at " + device.Node() +
         " is in use by another program (its interface " + std::to_string(interfaceNumber) +
         " is claimed). Close that program and try again.";
}

std::string ApplicationNotConfiguredMessage() {
  return "The USB identity of the controllers' application is not configured: write its vendor= and "
         "product= under [application] in hxusb.conf (beside the libraries or in ~/.config/hydrix/).";
}

DeviceLink::DeviceLink(libusb_device_handle* handle, FoundDevice device, usbconf::UsbIdentity identity)
    : handle_(handle), device_(std::move(device)), identity_(identity) {}

DeviceLink::~DeviceLink() {
  libusb_release_interface(handle_, identity_.interfaceNumber);
  libusb_close(handle_);
}

bool DeviceLink::Out(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) {
  if (gone_) return false;
  int sent = 0;
  const int rc =
      libusb_bulk_transfer(handle_, identity_.endpointOut, const_cast<std::uint8_t*>(bytes.data()),
                           static_cast<int>(bytes.size()), &sent, static_cast<unsigned>(timeout.count()));
  if (rc == LIBUSB_ERROR_NO_DEVICE) gone_ = true;
  return rc == 0 && sent == static_cast<int>(bytes.size());
}

std::optional<std::size_t> DeviceLink::In(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) {
  if (gone_) return std::nullopt;
  // A transfer is received in whole 64-byte packets, so the device never
  // overflows a smaller buffer; what does not fit is dropped.
  std::vector<std::uint8_t> packet(std::max<std::size_t>(64, (buffer.size() + 63) / 64 * 64));
  int got = 0;
  const int rc =
      libusb_bulk_transfer(handle_, identity_.endpointIn, packet.data(), static_cast<int>(packet.size()),
                           &got, static_cast<unsigned>(timeout.count()));
  if (rc == LIBUSB_ERROR_NO_DEVICE) gone_ = true;
  if (rc != 0) return std::nullopt;
  const auto n = std::min(buffer.size(), static_cast<std::size_t>(got));
  std::copy_n(packet.begin(), n, buffer.begin());
  return n;
}

UsbBus::UsbBus(std::string portMemoryFile) : memory_(std::move(portMemoryFile)) {
  const int rc = libusb_init(&context_);
  if (rc != 0) {
    context_ = nullptr;
    initProblem_ = std::string("libusb cannot start: ") + libusb_strerror(rc);
  }
}

UsbBus::~UsbBus() {
  if (context_) libusb_exit(context_);
}

std::vector<FoundDevice> UsbBus::Find(const usbconf::UsbIdentity& identity, bool bootLoader) {
  std::vector<FoundDevice> found;
  if (!context_) return found;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(list[i], &d) != 0 || !Matches(d, identity)) continue;
    FoundDevice f;
    f.bus = libusb_get_bus_number(list[i]);
    f.address = libusb_get_device_address(list[i]);
    f.vendor = d.idVendor;
    f.product = d.idProduct;
    f.port = SysfsName(f.bus, f.address, f.serial);
    if (f.port.empty()) f.port = PortPathFromLibusb(list[i]);
    if (f.serial.empty()) f.serial = SerialFromDescriptor(list[i], d.iSerialNumber);
    found.push_back(std::move(f));
  }
  if (count >= 0) libusb_free_device_list(list, 1);
  std::sort(found.begin(), found.end(), [](const FoundDevice& a, const FoundDevice& b) {
    return std::tie(a.bus, a.port) < std::tie(b.bus, b.port);
  });
  for (auto& f : found) f.id = AssignIdentifier(f.port, f.serial, bootLoader, memory_);
  found_ = found;
  foundIdentity_ = identity;
  foundBootLoader_ = bootLoader;
  foundValid_ = true;
  return found;
}

bool StillThere(const FoundDevice& device) {
  const std::filesystem::path dir = std::filesystem::path("/sys/bus/usb/devices") / device.port;
  std::error_code ec;
  if (device.port.empty() || !std::filesystem::is_directory(dir, ec)) return false;
  return ReadAttribute(dir, "busnum") == std::to_string(device.bus) &&
         ReadAttribute(dir, "devnum") == std::to_string(device.address) &&
         ReadAttribute(dir, "serial") == device.serial;
}

int UsbBus::OpenFound(const FoundDevice& device, const usbconf::UsbIdentity& identity,
                      libusb_device_handle*& handle) {
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  libusb_device* dev = nullptr;
  for (ssize_t i = 0; i < count && !dev; ++i) {
    libusb_device_descriptor d{};
    if (libusb_get_bus_number(list[i]) == device.bus && libusb_get_device_address(list[i]) == device.address &&
        libusb_get_device_descriptor(list[i], &d) == 0 && Matches(d, identity))
      dev = list[i];
  }
  handle = nullptr;
  int rc = dev ? libusb_open(dev, &handle) : LIBUSB_ERROR_NO_DEVICE;
  if (count >= 0) libusb_free_device_list(list, 1);
  if (rc == 0) {
    libusb_set_auto_detach_kernel_driver(handle, 1);  // unsupported on some systems: the claim then says so
    int configuration = 0;
    if (libusb_get_configuration(handle, &configuration) == 0 && configuration == 0)
      libusb_set_configuration(handle, 1);
    rc = libusb_claim_interface(handle, identity.interfaceNumber);
    if (rc != 0) {
      libusb_close(handle);
      handle = nullptr;
    }
  }
  return rc;
}

std::unique_ptr<DeviceLink> UsbBus::Open(std::int32_t id, const usbconf::UsbIdentity& identity,
                                         bool bootLoader, OpenStatus& status, std::string& problem) {
  status = OpenStatus::NotFound;
  problem.clear();
  if (!context_) {
    problem = initProblem_;
    status = OpenStatus::Failed;
    return nullptr;
  }
  auto lookup = [&]() -> const FoundDevice* {
    const auto it = std::find_if(found_.begin(), found_.end(), [id](const FoundDevice& f) { return f.id == id; });
    return it == found_.end() ? nullptr : &*it;
  };
  const bool sameQuestion = foundValid_ && foundBootLoader_ == bootLoader && foundIdentity_.known &&
                            foundIdentity_.vendor == identity.vendor && foundIdentity_.product == identity.product;
  const FoundDevice* wanted = sameQuestion ? lookup() : nullptr;
  if (wanted && !StillThere(*wanted)) wanted = nullptr;
  libusb_device_handle* handle = nullptr;
  int rc = LIBUSB_ERROR_NO_DEVICE;
  if (wanted) rc = OpenFound(*wanted, identity, handle);
  // Not known, gone, or not opened: look the bus over again, once.
  if (!wanted || rc != 0) {
    Find(identity, bootLoader);
    wanted = lookup();
    if (!wanted) {
      problem = "no controller with identifier " + std::to_string(id) + " (" + Hex4(identity.vendor) + ":" +
                Hex4(identity.product) + ") is attached";
      return nullptr;
    }
    rc = OpenFound(*wanted, identity, handle);
  }
  // Another program's exchange, or the moment it keeps the controller
  // claimed after one: wait for it a little before saying it is in use.
  for (const auto until = std::chrono::steady_clock::now() + kBusyWait;
       rc == LIBUSB_ERROR_BUSY && std::chrono::steady_clock::now() < until;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    rc = OpenFound(*wanted, identity, handle);
  }
  if (rc == 0) {
    status = OpenStatus::Opened;
    return std::make_unique<DeviceLink>(handle, *wanted, identity);
  }
  if (rc == LIBUSB_ERROR_ACCESS) {
    status = OpenStatus::Access;
    problem = AccessMessage(*wanted);
  } else if (rc == LIBUSB_ERROR_BUSY) {
    status = OpenStatus::Busy;
    problem = InUseMessage(*wanted, identity.interfaceNumber);
  } else {
    status = OpenStatus::Failed;
    problem = "cannot open the controller " + Hex4(wanted->vendor) + ":" + Hex4(wanted->product) + " at " +
              wanted->Node() + ": " + libusb_strerror(rc);
  }
  return nullptr;
}

}  // namespace hx::usb
