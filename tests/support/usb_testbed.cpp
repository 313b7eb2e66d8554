#include "support/usb_testbed.h"

#include <gtest/gtest.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <set>

namespace hx::testing {
namespace {

// Name GETDRIVER reports for the kernel driver bound to a fake interface.
constexpr char kKernelDriver[] = "fake_kdriver";

struct Urb {
  UMockdevIoctlData* data;      // our reference; data->data is the client's usbdevfs_urb
  UMockdevIoctlClient* client;  // our reference; only this fd may reap the URB
  bool ready = false;           // OUT and control URBs complete at once, IN ones on data
  bool toHost = false;          // IN or control-read: the reap copies `in` to the client
  int status = 0;
  std::vector<std::uint8_t> in{};  // bytes for the client buffer (after the setup packet)
};

struct Device {
  std::mutex* mutex;
  FakeUsbSpec spec;
  BulkHandler handler;
  std::string sysfs, node;
  std::vector<std::uint8_t> descriptors{};
  UMockdevIoctlBase* ioctl = nullptr;
  bool gone = false, heldElsewhere = false, driverBound = false;
  UMockdevIoctlClient* claimedBy = nullptr;  // our reference while claimed
  int detaches = 0;
  std::string bulkLog{};
  std::deque<std::vector<std::uint8_t>> inQueue{};
  std::list<Urb> flying{}, discarded{};
};

void Put16(std::vector<std::uint8_t>& v, unsigned x) {
  v.push_back(x & 0xff);
  v.push_back(x >> 8);
}

// Device descriptor followed by the configuration, as the sysfs "descriptors" file holds them.
std::vector<std::uint8_t> Descriptors(const FakeUsbSpec& s, bool hub) {
  std::vector<std::uint8_t> d{18, 1, 0x00, 0x02, std::uint8_t(hub ? 9 : 0), 0, 0, 64};
  Put16(d, s.vendor);
  Put16(d, s.product);
  Put16(d, 0x0100);
  d.insert(d.end(), {0, 0, std::uint8_t(s.serial.empty() ? 0 : 3), 1});
  const int total = hub ? 9 + 9 + 7 : 9 + 9 + 7 + 7;
  d.insert(d.end(), {9, 2, std::uint8_t(total), 0, 1, 1, 0, 0x80, 50});
  if (hub) {
    d.insert(d.end(), {9, 4, 0, 0, 1, 9, 0, 0, 0, 7, 5, 0x81, 3, 1, 0, 12});
  } else {
    d.insert(d.end(), {9, 4, s.interfaceNumber, 0, 2, 0xff, 0, 0, 0});
    d.insert(d.end(), {7, 5, s.endpointOut, 2, 64, 0, 0, 7, 5, s.endpointIn, 2, 64, 0, 0});
  }
  return d;
}

std::string Hex(const std::vector<std::uint8_t>& v) {
  std::string s;
  char b[3];
  for (auto x : v) {
    std::snprintf(b, sizeof b, "%02X", x);
    s += b;
  }
  return s;
}

// A umockdev-record style description of one USB device.
std::string Record(const std::string& devpath, const FakeUsbSpec& s, const std::string& node,
                   const std::vector<std::uint8_t>& desc, const std::string& portPath) {
  char ids[64];
  std::snprintf(ids, sizeof ids, "%04x/%04x/100", s.vendor, s.product);
  std::string r = "P: " + devpath + "\nN: " + node.substr(5) + "=" + Hex(desc) +
                  "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: DEVNAME=" + node +
                  "\nE: BUSNUM=" + node.substr(13, 3) + "\nE: DEVNUM=" + node.substr(17, 3) +
                  "\nE: PRODUCT=" + ids + "\nA: busnum=" + std::to_string(s.bus) +
                  "\\n\nA: devnum=" + std::to_string(s.address) + "\\n\nA: devpath=" + portPath +
                  "\\n\nA: idVendor=" + std::string(ids, 4) + "\\n\nA: idProduct=" + std::string(ids + 5, 4) +
                  "\\n\nA: speed=480\\n\nA: bConfigurationValue=1\\n\n";
  if (!s.serial.empty()) r += "A: serial=" + s.serial + "\\n\n";
  return r + "H: descriptors=" + Hex(desc) + "\n";
}

// Answers a GET_DESCRIPTOR control request; other requests stall.
int Control(const Device& d, const std::uint8_t* setup, std::vector<std::uint8_t>& out) {
  const unsigned type = setup[3], index = setup[2], length = setup[6] | setup[7] << 8;
  if (setup[0] != 0x80 || setup[1] != 6) return -EPIPE;
  if (type == 1) {
    out.assign(d.descriptors.begin(), d.descriptors.begin() + 18);
  } else if (type == 2 && index == 0) {
    out.assign(d.descriptors.begin() + 18, d.descriptors.end());
  } else if (type == 3 && index == 0) {
    out = {4, 3, 0x09, 0x04};  // language table: US English
  } else if (type == 3 && index == 3 && !d.spec.serial.empty()) {
    out = {std::uint8_t(2 + 2 * d.spec.serial.size()), 3};
    for (char c : d.spec.serial) Put16(out, std::uint8_t(c));
  } else {
    return -EPIPE;
  }
  if (out.size() > length) out.resize(length);
  return 0;
}

void Complete(UMockdevIoctlClient* c, int err) { umockdev_ioctl_client_complete(c, err ? -1 : 0, err); }

// Copies the `size` bytes the ioctl argument points to from the client into this process.
UMockdevIoctlData* Arg(UMockdevIoctlClient* c, std::size_t size) {
  return umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(c), 0, size, nullptr);
}

// Hands the finished URB to the client through REAPURB's pointer argument.
void Reap(UMockdevIoctlClient* client, Urb& urb) {
  auto* u = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
  const std::size_t skip = u->type == USBDEVFS_URB_TYPE_CONTROL ? 8 : 0;
  int actual = 0;
  if (urb.status == 0 && urb.toHost && !urb.in.empty()) {
    actual = int(std::min<std::size_t>(urb.in.size(), u->buffer_length - skip));
    if (urb.in.size() > std::size_t(actual)) urb.status = -EOVERFLOW;  // device sent too much
    UMockdevIoctlData* buf =
        umockdev_ioctl_data_resolve(urb.data, offsetof(usbdevfs_urb, buffer), u->buffer_length, nullptr);
    umockdev_ioctl_data_update(buf, skip, urb.in.data(), actual);
    umockdev_ioctl_data_unref(buf);
  } else if (urb.status == 0 && !urb.toHost) {
    actual = u->buffer_length - int(skip);
  }
  umockdev_ioctl_data_update(urb.data, offsetof(usbdevfs_urb, status), reinterpret_cast<guint8*>(&urb.status),
                             sizeof(int));
  umockdev_ioctl_data_update(urb.data, offsetof(usbdevfs_urb, actual_length),
                             reinterpret_cast<guint8*>(&actual), sizeof(int));
  UMockdevIoctlData* ptr = Arg(client, sizeof(void*));
  umockdev_ioctl_data_set_ptr(ptr, 0, urb.data);
  umockdev_ioctl_data_unref(ptr);
  umockdev_ioctl_data_unref(urb.data);
  g_object_unref(urb.client);
  Complete(client, 0);
}

void SubmitUrb(Device& d, UMockdevIoctlClient* client) {
  UMockdevIoctlData* data = Arg(client, sizeof(usbdevfs_urb));
  auto* u = reinterpret_cast<usbdevfs_urb*>(data->data);
  UMockdevIoctlData* buf =
      u->buffer_length > 0
          ? umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer), u->buffer_length, nullptr)
          : nullptr;
  Urb urb{data, client};
  int err = 0;
  if (u->type == USBDEVFS_URB_TYPE_CONTROL && u->buffer_length >= 8) {
    urb.ready = true;
    urb.toHost = static_cast<std::uint8_t*>(u->buffer)[0] & 0x80;
    urb.status = Control(d, static_cast<std::uint8_t*>(u->buffer), urb.in);
  } else if (u->type == USBDEVFS_URB_TYPE_BULK && u->endpoint == d.spec.endpointOut) {
    urb.ready = true;
    d.bulkLog += 'O';
    auto* bytes = static_cast<const std::uint8_t*>(u->buffer);
    for (auto& answer : d.handler(std::span(bytes, std::size_t(u->buffer_length))))
      d.inQueue.push_back(std::move(answer));
  } else if (u->type == USBDEVFS_URB_TYPE_BULK && u->endpoint == d.spec.endpointIn) {
    urb.toHost = true;
    d.bulkLog += 'I';
  } else {
    err = ENOENT;  // no such endpoint
  }
  if (buf) umockdev_ioctl_data_unref(buf);
  if (err) {
    umockdev_ioctl_data_unref(data);
  } else {
    g_object_ref(client);
    d.flying.push_back(std::move(urb));
  }
  Complete(client, err);
}

void ReapUrb(Device& d, UMockdevIoctlClient* client) {
  auto mine = [client](const Urb& u) { return u.client == client; };
  if (auto it = std::find_if(d.discarded.begin(), d.discarded.end(), mine); it != d.discarded.end()) {
    it->status = -ENOENT;
    it->in.clear();
    Reap(client, *it);
    d.discarded.erase(it);
    return;
  }
  for (auto it = d.flying.begin(); it != d.flying.end(); ++it) {
    if (!mine(*it)) continue;
    if (d.gone) {
      it->status = -ENODEV;
      it->in.clear();
    } else if (!it->ready) {
      if (d.inQueue.empty()) continue;  // IN URB waits for the device to answer
      it->in = std::move(d.inQueue.front());
      d.inQueue.pop_front();
    }
    Reap(client, *it);
    d.flying.erase(it);
    return;
  }
  Complete(client, d.gone ? ENODEV : EAGAIN);
}

void Claim(Device& d, UMockdevIoctlClient* client, int waits);

// Retries a claim once umockdev had time to notice that the owning fd closed.
struct PendingClaim {
  Device* d;
  UMockdevIoctlClient* client;
  int waits;
  static gboolean Retry(gpointer self) {
    auto* p = static_cast<PendingClaim*>(self);
    {
      std::lock_guard lock(*p->d->mutex);
      Claim(*p->d, p->client, p->waits);
    }
    g_object_unref(p->client);
    delete p;
    return G_SOURCE_REMOVE;
  }
};

// CLAIMINTERFACE, or DISCONNECT_CLAIM which first detaches a kernel driver.
void Claim(Device& d, UMockdevIoctlClient* client, int waits) {
  const bool plain = umockdev_ioctl_client_get_request(client) == USBDEVFS_CLAIMINTERFACE;
  UMockdevIoctlData* a = Arg(client, plain ? sizeof(unsigned) : sizeof(usbdevfs_disconnect_claim));
  auto* dc = reinterpret_cast<usbdevfs_disconnect_claim*>(a->data);
  // umockdev learns about a closed fd asynchronously, while the kernel frees
  // its interfaces at once: give a seemingly live owner a moment to go away.
  const bool otherFd =
      d.claimedBy && d.claimedBy != client && umockdev_ioctl_client_get_connected(d.claimedBy);
  int err = 0;
  if (dc->interface != d.spec.interfaceNumber) {
    err = plain ? ENOENT : EINVAL;
  } else if (otherFd && waits > 0) {
    umockdev_ioctl_data_unref(a);
    GSource* later = g_timeout_source_new(10);  // on umockdev's worker loop, which runs us
    g_source_set_callback(
        later, PendingClaim::Retry,
        new PendingClaim{&d, static_cast<UMockdevIoctlClient*>(g_object_ref(client)), waits - 1}, nullptr);
    g_source_attach(later, g_main_context_get_thread_default());
    g_source_unref(later);
    return;
  } else if (otherFd || d.heldElsewhere) {
    err = EBUSY;
  } else if (d.driverBound && !plain) {
    const bool same = std::strcmp(dc->driver, kKernelDriver) == 0;
    const bool detach = (dc->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER)       ? same
                        : (dc->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) ? !same
                                                                                : true;
    if (detach) d.driverBound = false, ++d.detaches;
    err = detach ? 0 : EBUSY;
  } else if (d.driverBound) {
    err = EBUSY;
  }
  if (!err && d.claimedBy != client) {
    if (d.claimedBy) g_object_unref(d.claimedBy);
    d.claimedBy = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
  }
  umockdev_ioctl_data_unref(a);
  Complete(client, err);
}

gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, Device* dev) {
  Device& d = *dev;
  std::lock_guard lock(*d.mutex);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
    ReapUrb(d, client);
    return TRUE;
  }
  if (request == USBDEVFS_DISCARDURB) {
    const auto addr = *reinterpret_cast<gulong*>(umockdev_ioctl_client_get_arg(client)->data);
    // Only unfinished URBs can be cancelled; finished ones are reaped as they are.
    auto it = std::find_if(d.flying.begin(), d.flying.end(),
                           [&](const Urb& u) { return u.data->client_addr == addr && !u.ready && !d.gone; });
    if (it != d.flying.end()) d.discarded.splice(d.discarded.end(), d.flying, it);
    Complete(client, it != d.flying.end() ? 0 : EINVAL);
    return TRUE;
  }
  if (d.gone) {
    Complete(client, ENODEV);
    return TRUE;
  }
  int err = 0;
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      guint32 caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                     USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
      UMockdevIoctlData* a = Arg(client, sizeof caps);
      umockdev_ioctl_data_update(a, 0, reinterpret_cast<guint8*>(&caps), sizeof caps);
      umockdev_ioctl_data_unref(a);
      break;
    }
    case USBDEVFS_SUBMITURB:
      SubmitUrb(d, client);
      return TRUE;
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:
      Claim(d, client, 5);  // up to 50 ms
      return TRUE;
    case USBDEVFS_RELEASEINTERFACE:
      if (d.claimedBy == client) {
        g_object_unref(d.claimedBy);
        d.claimedBy = nullptr;
      } else {
        err = EINVAL;
      }
      break;
    case USBDEVFS_GETDRIVER: {
      UMockdevIoctlData* a = Arg(client, sizeof(usbdevfs_getdriver));
      usbdevfs_getdriver g{};
      std::memcpy(&g, a->data, sizeof g);
      const char* name = d.driverBound ? kKernelDriver : (d.claimedBy || d.heldElsewhere) ? "usbfs" : nullptr;
      if (g.interface != d.spec.interfaceNumber || !name) {
        err = ENODATA;
      } else {
        std::snprintf(g.driver, sizeof g.driver, "%s", name);
        umockdev_ioctl_data_update(a, 0, reinterpret_cast<guint8*>(&g), sizeof g);
      }
      umockdev_ioctl_data_unref(a);
      break;
    }
    case USBDEVFS_IOCTL: {  // driver (dis)connect on behalf of libusb_detach/attach_kernel_driver
      UMockdevIoctlData* a = Arg(client, sizeof(usbdevfs_ioctl));
      auto* io = reinterpret_cast<usbdevfs_ioctl*>(a->data);
      if (io->ifno != d.spec.interfaceNumber) {
        err = EINVAL;
      } else if (io->ioctl_code == int(USBDEVFS_DISCONNECT)) {
        if (d.driverBound)
          d.driverBound = false, ++d.detaches;
        else
          err = ENODATA;
      } else if (io->ioctl_code == int(USBDEVFS_CONNECT)) {
        if (d.claimedBy || d.heldElsewhere)
          err = EBUSY;
        else
          d.driverBound = d.spec.kernelDriverBound;
      } else {
        err = ENOTTY;
      }
      umockdev_ioctl_data_unref(a);
      break;
    }
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
      break;
    default:
      err = ENOTTY;
  }
  Complete(client, err);
  return TRUE;
}

}  // namespace

struct UsbTestbed::Impl {
  UMockdevTestbed* bed = umockdev_testbed_new();
  std::string root = [this] {
    gchar* dir = umockdev_testbed_get_root_dir(bed);
    std::string s = dir;
    g_free(dir);
    return s;
  }();
  mutable std::mutex mutex;
  std::list<Device> devices;
  std::set<std::string> hubs;
  std::map<int, int> nextHubAddress;

  Device& Find(const std::string& sysfs) {
    for (auto& d : devices)
      if (d.sysfs == sysfs) return d;
    ADD_FAILURE() << "no fake USB device at " << sysfs;
    static Device none{};
    return none;
  }

  void AddRecord(const std::string& record) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(bed, record.c_str(), &error)) {
      ADD_FAILURE() << "umockdev rejected the device: " << error->message;
      g_error_free(error);
    }
  }
};

UsbTestbed::UsbTestbed() : impl_(std::make_unique<Impl>()) {
  if (!Preloaded()) ADD_FAILURE() << "USB device tests must run under umockdev-wrapper (libumockdev-preload)";
}

UsbTestbed::~UsbTestbed() {
  for (auto& d : impl_->devices) {
    umockdev_testbed_detach_ioctl(impl_->bed, d.node.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(d.ioctl, &d);
    g_object_unref(d.ioctl);
    for (auto* list : {&d.flying, &d.discarded})
      for (auto& u : *list) umockdev_ioctl_data_unref(u.data), g_object_unref(u.client);
    if (d.claimedBy) g_object_unref(d.claimedBy);
  }
  g_object_unref(impl_->bed);
}

bool UsbTestbed::Preloaded() { return umockdev_in_mock_environment(); }

std::string UsbTestbed::Add(const FakeUsbSpec& spec, BulkHandler handler) {
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", spec.bus, spec.address);
  // Kernel naming: "<bus>-<port>[.<port>...]" below the root hub "usb<bus>".
  std::string devpath = "/devices/usb" + std::to_string(spec.bus), name, portPath;
  for (std::size_t i = 0; i < spec.ports.size(); ++i) {
    portPath += (i ? "." : "") + std::to_string(spec.ports[i]);
    name = std::to_string(spec.bus) + "-" + portPath;
    devpath += "/" + name;
    if (i + 1 < spec.ports.size() && impl_->hubs.insert(devpath).second) {
      // libusb derives the port path from the parents, so every hub must exist.
      FakeUsbSpec hub{.bus = spec.bus};  // vendor and product 0
      int& next = impl_->nextHubAddress.try_emplace(spec.bus, 100).first->second;
      hub.address = next++;
      char hubNode[32];
      std::snprintf(hubNode, sizeof hubNode, "/dev/bus/usb/%03d/%03d", spec.bus, hub.address);
      impl_->AddRecord(Record(devpath, hub, hubNode, Descriptors(hub, true), portPath));
    }
  }
  Device* d;
  {
    std::lock_guard lock(impl_->mutex);
    d = &impl_->devices.emplace_back(Device{&impl_->mutex, spec, std::move(handler), "/sys" + devpath, node});
    d->descriptors = Descriptors(spec, false);
    d->driverBound = spec.kernelDriverBound;
  }
  d->ioctl = umockdev_ioctl_base_new();
  g_signal_connect_after(d->ioctl, "handle-ioctl", G_CALLBACK(HandleIoctl), d);
  // The ioctl socket must exist before the node appears, or an early open misses it.
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(impl_->bed, node, d->ioctl, &error)) {
    ADD_FAILURE() << "cannot emulate " << node << ": " << error->message;
    g_error_free(error);
  }
  impl_->AddRecord(Record(devpath, spec, node, d->descriptors, portPath));
  umockdev_testbed_uevent(impl_->bed, d->sysfs.c_str(), "add");
  return d->sysfs;
}

void UsbTestbed::Remove(const std::string& sysfsPath) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->Find(sysfsPath).gone = true;
  }
  // The uevent carries the properties, so send it while the device is still in sysfs.
  umockdev_testbed_uevent(impl_->bed, sysfsPath.c_str(), "remove");
  umockdev_testbed_remove_device(impl_->bed, sysfsPath.c_str());
}

void UsbTestbed::DenyAccess(const std::string& sysfsPath) {
  std::string path = impl_->root + DevNode(sysfsPath);
  if (chmod(path.c_str(), 0) != 0) ADD_FAILURE() << "chmod " << path << ": " << std::strerror(errno);
}

void UsbTestbed::HoldInterface(const std::string& sysfsPath) {
  std::lock_guard lock(impl_->mutex);
  impl_->Find(sysfsPath).heldElsewhere = true;
}

void UsbTestbed::QueueIn(const std::string& sysfsPath, std::vector<std::uint8_t> data) {
  std::lock_guard lock(impl_->mutex);
  impl_->Find(sysfsPath).inQueue.push_back(std::move(data));
}

int UsbTestbed::DetachCount(const std::string& sysfsPath) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->Find(sysfsPath).detaches;
}

bool UsbTestbed::Claimed(const std::string& sysfsPath) const {
  std::lock_guard lock(impl_->mutex);
  auto& d = impl_->Find(sysfsPath);
  return d.claimedBy && umockdev_ioctl_client_get_connected(d.claimedBy);
}

std::string UsbTestbed::BulkLog(const std::string& sysfsPath) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->Find(sysfsPath).bulkLog;
}

std::string UsbTestbed::DevNode(const std::string& sysfsPath) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->Find(sysfsPath).node;
}

}  // namespace hx::testing
