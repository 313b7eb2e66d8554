// The USB backends keep the devices they found between exchanges and look
// the bus over again only when a controller is not among them, has left,
// or cannot be opened: a controller unplugged and plugged back, a new one,
// and a port memory file another program changed are all found at the next
// exchange, without listing the controllers first.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "platform/hxboot/backend.h"
#include "platform/hxusb_device/usb_ids.h"
#include "platform/hxusbif/transport.h"
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

// Answers a request with its first byte and a mark of the device.
testing::BulkHandler Answering(std::uint8_t mark) {
  return [mark](std::span<const std::uint8_t> request) {
    return std::vector<Bytes>{Bytes{request.empty() ? std::uint8_t(0) : request[0], mark}};
  };
}

class UsbEnumeration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UsbTestbed::Preloaded()) << "run under umockdev-wrapper";
    cache_ = std::filesystem::temp_directory_path() / ("hx-usb-enum-" + std::to_string(::getpid()));
    std::filesystem::remove_all(cache_);
    ::setenv("XDG_STATE_HOME", cache_.c_str(), 1);  // the port memory lives in the state folder
  }
  void TearDown() override { std::filesystem::remove_all(cache_); }

  // One exchange as the link runs it: open a handle to write and one to
  // read, send a request, read the answer, close both. The answer's mark,
  // or -1 when the controller could not be opened or did not answer.
  int Exchange(usbif::Transport& usb, std::int32_t id) {
    const auto write = usb.Open(id), read = usb.Open(id);
    int mark = -1;
    if (write > 0 && read > 0 && usb.Write(write, Bytes{0xFE, 0x10})) {
      std::array<std::uint8_t, 8> answer{};
      if (usb.Read(read, answer, 200ms) == 2u && answer[0] == 0xFE) mark = answer[1];
    }
    if (read > 0) usb.Close(read);
    if (write > 0) usb.Close(write);
    return mark;
  }

  UsbTestbed bed;
  std::filesystem::path cache_;
};

TEST_F(UsbEnumeration, AControllerUnpluggedAndPluggedBackIsFoundAtTheNextExchange) {
  const auto first = bed.Add(AppSpec({4}, 5, "HX-1"), Answering(1));
  auto usb = usbif::MakeUsbTransport(AppUsbConfig());
  const auto id = usb::IdentifierOf("HX-1");
  ASSERT_EQ(usb->Enumerate(), std::vector<std::int32_t>{id});
  EXPECT_EQ(Exchange(*usb, id), 1);
  EXPECT_EQ(Exchange(*usb, id), 1);

  bed.Remove(first);
  EXPECT_EQ(Exchange(*usb, id), -1);
  EXPECT_NE(usb->Problem().find("no controller with identifier"), std::string::npos) << usb->Problem();

  // Back on another port, with a new bus address.
  bed.Add(AppSpec({2}, 9, "HX-1"), Answering(2));
  EXPECT_EQ(Exchange(*usb, id), 2);
  EXPECT_EQ(Exchange(*usb, id), 2);
}

TEST_F(UsbEnumeration, AnotherControllerInTheSamePlaceIsNeverTakenForTheOneFoundThere) {
  const auto first = bed.Add(AppSpec({4}, 5, "HX-1"), Answering(1));
  auto usb = usbif::MakeUsbTransport(AppUsbConfig());
  ASSERT_EQ(Exchange(*usb, usb::IdentifierOf("HX-1")), 1);
  bed.Remove(first);
  bed.Add(AppSpec({4}, 8, "HX-2"), Answering(2));  // the same port
  EXPECT_EQ(Exchange(*usb, usb::IdentifierOf("HX-1")), -1);
  EXPECT_EQ(Exchange(*usb, usb::IdentifierOf("HX-2")), 2);
}

TEST_F(UsbEnumeration, ANewControllerIsReachedWithoutListingTheControllersFirst) {
  bed.Add(AppSpec({4}, 5, "HX-1"), Answering(1));
  auto usb = usbif::MakeUsbTransport(AppUsbConfig());
  ASSERT_EQ(Exchange(*usb, usb::IdentifierOf("HX-1")), 1);
  bed.Add(AppSpec({1, 2}, 7), Answering(3));
  EXPECT_EQ(Exchange(*usb, usb::IdentifierOf("1-1.2")), 3);
  EXPECT_EQ(Exchange(*usb, usb::IdentifierOf("HX-1")), 1);
  EXPECT_EQ(usb->Enumerate().size(), 2u);
}

TEST_F(UsbEnumeration, ABootLoaderIsFoundByTheIdentifierAnotherProgramRemembersForItsPort) {
  std::atomic<int> packets{0};
  bed.Add({.vendor = 0x04D8, .product = 0x000B, .ports = {3}, .address = 4},
          [&](std::span<const std::uint8_t> p) {
            if (p[0] == 0xFF) return std::vector<Bytes>{};  // the reset after the flag: no answer
            ++packets;
            return std::vector<Bytes>{Bytes(p.begin(), p.begin() + 1)};
          });
  const std::filesystem::path memory = cache_ / "hydrix" / "usb-ports";
  std::filesystem::create_directories(memory.parent_path());
  std::ofstream(memory) << "1-3 1111\n";
  auto boot = boot::MakeUsbBackend(AppUsbConfig());
  auto writeFlag = [&](std::int32_t h) {
    const auto request = boot::EncodeBootRequest({boot::kWriteEeprom, 1, 0xFF, 1, 1, 1});
    const std::uint8_t flag = 0xFF;
    return boot->WritePIC(h, request.data(), &flag);
  };
  auto h = boot->Open(1111, boot::kBootLoaderInterface);
  ASSERT_GT(h, 0);
  EXPECT_EQ(writeFlag(h), 1);
  boot->Close(h);

  // Another program met another controller's application on that port.
  std::ofstream(memory) << "1-3 2222\n";
  h = boot->Open(2222, boot::kBootLoaderInterface);
  ASSERT_GT(h, 0);
  EXPECT_EQ(writeFlag(h), 1);
  boot->Close(h);
  EXPECT_EQ(boot->Open(1111, boot::kBootLoaderInterface), -1);
  EXPECT_EQ(packets, 2);
}

}  // namespace
}  // namespace hx
