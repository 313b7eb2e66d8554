// hydrixctl and flashtool, unchanged, on controllers reached over USB: the
// real libraries and libusb against fake devices on umockdev's emulated bus,
// shared with the programs this test starts. Checked afterwards: the
// controller's EEPROM, its flash and boot flag, and what the programs said.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "flash_test_support.h"
#include "platform/hxusb_device/usb_ids.h"
#include "sim/controller_model.h"
#include "support/boot_loader_device.h"
#include "support/sim_daemon.h"
#include "support/usb_testbed.h"

namespace hx {
namespace {

using namespace std::chrono_literals;
using testing::FakeUsbSpec;
using testing::UsbTestbed;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

constexpr std::uint16_t kAppVendor = 0x1209, kAppProduct = 0x7A01;

FakeUsbSpec App(std::string serial, int address) {
  return {.vendor = kAppVendor,
          .product = kAppProduct,
          .serial = std::move(serial),
          .bus = 1,
          .ports = {4},
          .address = address,
          .kernelDriverBound = true};
}

class UsbEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UsbTestbed::Preloaded()) << "run under umockdev-wrapper";
    folder = fs::temp_directory_path() / ("hx-usb-e2e-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "config" / "hydrix");
    std::ofstream(folder / "config" / "hydrix" / "hxusb.conf")
        << "[backend]\ntype=usb\n[application]\nvendor=0x1209\nproduct=0x7A01\ninterface=0\nout=0x01\nin="
           "0x81\n";
  }
  void TearDown() override { fs::remove_all(folder); }

  test::CommandResult Run(const std::vector<std::string>& argv) {
    const std::string cmd = "cd '" + folder.string() + "' && exec \"$@\"";
    std::vector<std::string> full{"/bin/sh", "-c", cmd, "sh"};
    full.insert(full.end(), argv.begin(), argv.end());
    return test::RunProgram(full, {"XDG_CONFIG_HOME=" + (folder / "config").string(),
                                   "XDG_STATE_HOME=" + (folder / "state").string()});
  }

  UsbTestbed bed;
  fs::path folder;
};

TEST_F(UsbEndToEnd, HydrixctlListsAControllerByItsSerialNumberAndWritesItsSettings) {
  std::mutex mutex;
  sim::ControllerModel model({.id = 1, .typeCode = 11, .major = 1, .minor = 5});
  bed.Add(App("HX-000777", 5), [&](std::span<const std::uint8_t> request) {
    std::lock_guard lock(mutex);
    const auto answer = model.Exchange(request);
    return answer ? std::vector<Bytes>{*answer} : std::vector<Bytes>{};
  });
  const std::string id = std::to_string(usb::IdentifierOf("HX-000777"));

  auto r = Run({HYDRIXCTL_EXE, "list"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind(id + "\tHydrix", 0), 0u) << r.out;

  r = Run({HYDRIXCTL_EXE, "--id", id, "settings", "set", "start_level_low_battery_V=12.5",
           "forced_charge_1_h=6", "battery_capacity_index=2"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Parameters Writed"), std::string::npos);
  std::lock_guard lock(mutex);
  const auto& eeprom = model.eeprom();
  EXPECT_EQ(eeprom[0], 0x60);  // 21600 s, the third capacity
  EXPECT_EQ(eeprom[1], 0x54);
  EXPECT_EQ(eeprom[13], 0xD4);  // 12500 mV
  EXPECT_EQ(eeprom[14], 0x30);
  EXPECT_EQ(eeprom[26], 6);
}

TEST_F(UsbEndToEnd, FlashtoolProgramsAControllerAcrossTheSwitchIntoItsBootLoader) {
  // The application takes the boot command and leaves the bus; its boot
  // loader comes on the same port, without a serial number. The reset that
  // ends the run brings the application back.
  std::atomic<bool> bootAsked{false}, resetSeen{false};
  testing::BootLoaderDevice loader;
  const auto app = bed.Add(App("HX-000888", 5), [&](std::span<const std::uint8_t> data) {
    if (data.size() >= 3 && data[1] == 0x55 && data[2] == 0xAA) bootAsked = true;
    return std::vector<Bytes>{};
  });
  const int detachesBefore = bed.DetachCount(app);
  std::atomic<bool> stop{false};
  std::atomic<int> detaches{0};
  std::thread controller([&] {
    std::string loaderPath;
    bool back = false;
    while (!stop && !back) {
      if (bootAsked && loaderPath.empty()) {
        detaches = bed.DetachCount(app);
        bed.Remove(app);
        FakeUsbSpec spec{.vendor = 0x04D8, .product = 0x000B, .bus = 1, .ports = {4}, .address = 6};
        loaderPath = bed.Add(spec, [&](std::span<const std::uint8_t> packet) {
          auto answer = loader.Answer(packet);
          if (loader.reset) resetSeen = true;
          return answer ? std::vector<Bytes>{*answer} : std::vector<Bytes>{};
        });
      }
      if (resetSeen && !loaderPath.empty()) {
        bed.Remove(loaderPath);
        bed.Add(App("HX-000888", 7), [](std::span<const std::uint8_t>) { return std::vector<Bytes>{}; });
        back = true;
      }
      std::this_thread::sleep_for(5ms);
    }
  });

  Bytes firmware = {0x40, 0xEF, 0x01, 0xF0};
  for (int i = 0; i < 60; ++i) firmware.push_back(static_cast<std::uint8_t>(0x80 + i));
  std::ofstream(folder / "fw.hex") << flash::test::MakeHex(0x200, firmware, 8);
  const std::string id = std::to_string(usb::IdentifierOf("HX-000888"));
  const auto r = Run({FLASHTOOL_EXE, "--batch", "device=arvel;usbid=" + id + ";prg=fw.hex"});
  stop = true;
  controller.join();

  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Programming complete."), std::string::npos) << r.out;
  EXPECT_GT(detaches, detachesBefore);  // the boot command went through the claimed interface
  for (std::size_t i = 0; i < firmware.size(); ++i) {
    ASSERT_EQ(loader.model.ReadByte(0x200 + static_cast<std::uint32_t>(i)), firmware[i])
        << "at " << 0x200 + i;
  }
  EXPECT_EQ(loader.model.ReadByte(0x200 + 64), 0xFF);
  EXPECT_EQ(loader.eeprom[0xFF], 0x00);  // the boot flag: start the application
  EXPECT_TRUE(resetSeen);
}

}  // namespace
}  // namespace hx
