// Both libraries' USB backends through the real libusb, against fake devices
// on umockdev's emulated bus: identifiers, shared handles, kernel driver
// detach, time-outs, late answers, a device leaving the bus, devices in use
// and devices the user may not open.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <utility>

#include "platform/hxboot/backend.h"
#include "platform/hxusb_device/usb_bus.h"
#include "platform/hxusb_device/usb_ids.h"
#include "platform/hxusbif/transport.h"
#include "support/boot_loader_device.h"
#include "support/usb_test_identity.h"
#include "support/usb_testbed.h"
#include "wire/boot_protocol.h"

namespace hx {
namespace {

using namespace std::chrono_literals;
using testing::AppSpec;
using testing::AppUsbConfig;
using testing::FakeUsbSpec;
using testing::kAppProduct;
using testing::kAppVendor;
using testing::UsbTestbed;
using Bytes = std::vector<std::uint8_t>;

FakeUsbSpec BootLoader(std::vector<int> ports, int address) {
  return {.vendor = 0x04D8, .product = 0x000B, .bus = 1, .ports = std::move(ports), .address = address};
}

// The application answers a request with its first byte and a count.
std::vector<Bytes> Echo(std::span<const std::uint8_t> request) {
  static std::atomic<int> answers{0};
  return {Bytes{request.empty() ? std::uint8_t(0) : request[0], static_cast<std::uint8_t>(++answers)}};
}

std::vector<Bytes> Silent(std::span<const std::uint8_t>) { return {}; }

class UsbBackends : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UsbTestbed::Preloaded()) << "run under umockdev-wrapper";
    cache_ = std::filesystem::temp_directory_path() / ("hx-usb-cache-" + std::to_string(::getpid()));
    std::filesystem::remove_all(cache_);
    ::setenv("XDG_STATE_HOME", cache_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(cache_); }

  // Built after the devices are added, dropped before the testbed goes.
  // Released as soon as its last handle closes, unless told otherwise.
  std::unique_ptr<usbif::Transport> Transport(std::chrono::milliseconds keep = 0ms) {
    return usbif::MakeUsbTransport(AppUsbConfig(), keep);
  }
  std::unique_ptr<boot::Backend> Boot() { return boot::MakeUsbBackend(AppUsbConfig()); }

  UsbTestbed bed;
  std::filesystem::path cache_;
};

TEST_F(UsbBackends, ListsTheApplicationsByTheirStableIdentifiersAndSharesOneDeviceBetweenTwoHandles) {
  const auto withSerial = bed.Add(
      [] {
        auto s = AppSpec({4}, 5, "HX-000123");
        s.kernelDriverBound = true;
        return s;
      }(),
      Echo);
  bed.Add(AppSpec({1, 3}, 6), Echo);
  bed.Add(BootLoader({2}, 7), Silent);  // not an application: not listed
  auto usb = Transport();

  const auto ids = usb->Enumerate();
  EXPECT_EQ(ids, (std::vector<std::int32_t>{usb::IdentifierOf("1-1.3"), usb::IdentifierOf("HX-000123")}));
  EXPECT_EQ(usb->Enumerate(), ids);  // the same on every call

  // The link writes on one handle and reads the answer on the other.
  const auto id = usb::IdentifierOf("HX-000123");
  const auto write = usb->Open(id), read = usb->Open(id);
  ASSERT_GT(write, 0);
  ASSERT_GT(read, 0);
  EXPECT_EQ(bed.DetachCount(withSerial), 1);  // the kernel driver, once
  const Bytes request{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  ASSERT_TRUE(usb->Write(write, request));
  std::array<std::uint8_t, 8> answer{};
  const auto n = usb->Read(read, answer, 200ms);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(answer[0], 0xF0);

  // The device stays claimed while a handle is open; the kernel driver gets
  // it back once the last one closes (and is detached again at the next open).
  EXPECT_TRUE(usb->Close(write));
  const auto again = usb->Open(id);
  EXPECT_EQ(bed.DetachCount(withSerial), 1);
  EXPECT_TRUE(usb->Close(again));
  EXPECT_TRUE(usb->Close(read));
  const auto later = usb->Open(id);
  EXPECT_EQ(bed.DetachCount(withSerial), 2);
  EXPECT_TRUE(usb->Close(later));
  EXPECT_FALSE(usb->Close(read));
}

// The link's exchange: a handle to write, one to read, both closed after.
// The first answer byte, or -1 when no answer came.
int Exchange(usbif::Transport& usb, std::int32_t id, std::uint8_t command) {
  const auto write = usb.Open(id), read = usb.Open(id);
  std::array<std::uint8_t, 2> answer{};
  const bool answered = usb.Write(write, Bytes{command, 0x10}) && usb.Read(read, answer, 50ms) == 2u;
  usb.Close(read);
  usb.Close(write);
  return answered ? answer[0] : -1;
}

TEST_F(UsbBackends, ALateAnswerIsDroppedAfterAnExchangeThatGaveUpOrAnOpeningAndNeverWaitedForOtherwise) {
  // 0xFC gets no answer in time; everything else is answered at once.
  const auto app = bed.Add(AppSpec({4}, 5), [](std::span<const std::uint8_t> request) {
    return request[0] == 0xFC ? std::vector<Bytes>{} : std::vector<Bytes>{Bytes{request[0], 1}};
  });
  auto usb = Transport(1s);
  const auto id = usb::IdentifierOf("1-4");
  auto newReads = [&, seen = std::size_t{0}]() mutable {
    const auto log = bed.BulkLog(app);
    return log.substr(std::exchange(seen, log.size()));
  };

  // Just opened: whatever waits is read first.
  EXPECT_EQ(Exchange(*usb, id, 0xF0), 0xF0);
  EXPECT_EQ(newReads(), "IOI");
  // Exchanges in a row keep the controller claimed and make no other read.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Exchange(*usb, id, 0xFE), 0xFE);
  EXPECT_EQ(newReads(), "OIOIOI");
  EXPECT_TRUE(bed.Claimed(app));

  // The answer comes after the read gave up: it is dropped before the next
  // request, and the exchange after that reads nothing more.
  EXPECT_EQ(Exchange(*usb, id, 0xFC), -1);
  bed.QueueIn(app, {0xFC, 0x99});
  EXPECT_EQ(Exchange(*usb, id, 0xFE), 0xFE);
  EXPECT_EQ(Exchange(*usb, id, 0xF0), 0xF0);
  EXPECT_EQ(newReads(), "OI" "IIOI" "OI");

  // Released once idle; what another program left meanwhile is dropped.
  for (int i = 0; i < 500 && bed.Claimed(app); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_FALSE(bed.Claimed(app));
  bed.QueueIn(app, {0x55, 0x55});
  EXPECT_EQ(Exchange(*usb, id, 0xFE), 0xFE);
  EXPECT_EQ(newReads(), "IIOI");
}

TEST_F(UsbBackends, NoAnswerInTimeIsAnEmptyReadAndADeviceGoneIsAFailure) {
  const auto app = bed.Add(AppSpec({2}, 3), Silent);
  auto usb = Transport();
  const auto id = usb::IdentifierOf("1-2");
  const auto h = usb->Open(id);
  ASSERT_GT(h, 0);
  ASSERT_TRUE(usb->Write(h, Bytes{0xFC}));
  std::array<std::uint8_t, 8> answer{};
  EXPECT_EQ(usb->Read(h, answer, 50ms), 0u);

  bed.Remove(app);
  EXPECT_EQ(usb->Read(h, answer, 50ms), std::nullopt);
  EXPECT_FALSE(usb->Write(h, Bytes{0xFC}));
  EXPECT_TRUE(usb->Enumerate().empty());
  EXPECT_TRUE(usb->Close(h));
}

TEST_F(UsbBackends, ABootLoaderThatDoesNotAnswerIsAskedAsOftenAsTheRetriesSay) {
  std::atomic<int> packets{0};
  bed.Add(BootLoader({3}, 4), [&](std::span<const std::uint8_t>) {
    ++packets;
    return std::vector<Bytes>{};
  });
  auto lib = Boot();
  const auto h = lib->Open(usb::IdentifierOf("1-3"), boot::kBootLoaderInterface);
  ASSERT_GT(h, 0);
  const auto request = boot::EncodeBootRequest({boot::kReadProgram, 16, 0x0200, 1, 1, 3});
  std::array<std::uint8_t, 16> data{};
  EXPECT_LT(lib->ReadPIC(h, request.data(), data.data()), 0);
  EXPECT_EQ(packets, 3);
  lib->Close(h);
}

TEST_F(UsbBackends, AnInterfaceHeldByAnotherProgramIsBusyAndSaysSo) {
  const auto loader = bed.Add(BootLoader({3}, 9), Silent);
  bed.HoldInterface(loader);
  auto lib = Boot();
  EXPECT_EQ(lib->Open(usb::IdentifierOf("1-3"), boot::kBootLoaderInterface), boot::kOpenBusy);
  EXPECT_EQ(lib->Problem(),
            "The controller 04d8:000b at /dev/bus/usb/001/009 is in use by another program (its interface 0 "
            "is claimed). Close that program and try again.");
}

TEST_F(UsbBackends, AnUnconfiguredApplicationOrAnAbsentControllerIsNamed) {
  bed.Add(AppSpec({2}, 3), Silent);
  auto config = AppUsbConfig();
  config.application.known = false;
  auto usb = usbif::MakeUsbTransport(config);
  EXPECT_TRUE(usb->Enumerate().empty());
  EXPECT_EQ(usb->Problem(), usb::ApplicationNotConfiguredMessage());
  auto lib = Boot();
  EXPECT_EQ(lib->Open(12345, boot::kBootLoaderInterface), -1);
  EXPECT_EQ(lib->Problem(), "no controller with identifier 12345 (04d8:000b) is attached");
}

// File modes mean nothing to root: run again as an unprivileged user.
TEST_F(UsbBackends, ADeviceTheUserMayNotOpenNamesItselfTheRuleAndTheCommandsAsNobody) {
  if (::geteuid() == 0) GTEST_SKIP() << "root opens every device; this case runs as uid 65534";
  const auto app = bed.Add(AppSpec({4}, 12), Silent);
  bed.DenyAccess(app);
  auto usb = Transport();
  ASSERT_EQ(usb->Enumerate().size(), 1u);  // listed: sysfs is readable by all
  EXPECT_EQ(usb->Open(usb::IdentifierOf("1-4")), -1);
  const auto problem = usb->Problem();
  EXPECT_EQ(problem.rfind("No permission to open the controller 1209:7a01 at /dev/bus/usb/001/012.", 0), 0u)
      << problem;
  EXPECT_NE(problem.find(
                "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"1209\", ATTR{idProduct}==\"7a01\", TAG+=\"uaccess\""),
            std::string::npos);
  EXPECT_NE(problem.find("70-hydrix.rules"), std::string::npos);
  EXPECT_NE(problem.find("sudo udevadm control --reload-rules && sudo udevadm trigger"), std::string::npos);
}

}  // namespace
}  // namespace hx
