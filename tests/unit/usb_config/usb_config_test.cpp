#include "platform/hxusb_config/usb_config.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace hx::usbconf {
namespace {

TEST(UsbConfig, NothingConfiguredMeansTheSimulatorAndTheBootLoaderDefaults) {
  UsbConfig c;
  ParseUsbConfig("", "hxusb.conf", c);
  EXPECT_EQ(c.backend, Backend::Sim);
  EXPECT_TRUE(c.bootLoader.known);
  EXPECT_EQ(c.bootLoader.vendor, 0x04D8);
  EXPECT_EQ(c.bootLoader.product, 0x000B);
  EXPECT_EQ(c.bootLoader.interfaceNumber, 0);
  EXPECT_EQ(c.bootLoader.endpointOut, 0x01);
  EXPECT_EQ(c.bootLoader.endpointIn, 0x81);
  EXPECT_FALSE(c.application.known);
  EXPECT_TRUE(c.problems.empty());
}

TEST(UsbConfig, ReadsBackendAndIdentities) {
  UsbConfig c;
  ParseUsbConfig(
      "; installed for the workshop\n"
      "[Backend]\r\n type = USB \r\n"
      "[application]\nvendor=0x1234\nproduct=4660\ninterface=1\nout=0x02 # bulk\nin=0x82\n"
      "[bootloader]\nproduct=0x003C\nvendor=0x04d8\n",
      "hxusb.conf", c);
  EXPECT_TRUE(c.problems.empty()) << c.problems.front();
  EXPECT_EQ(c.backend, Backend::Usb);
  EXPECT_TRUE(c.application.known);
  EXPECT_EQ(c.application.vendor, 0x1234);
  EXPECT_EQ(c.application.product, 0x1234);
  EXPECT_EQ(c.application.interfaceNumber, 1);
  EXPECT_EQ(c.application.endpointOut, 0x02);
  EXPECT_EQ(c.application.endpointIn, 0x82);
  EXPECT_EQ(c.bootLoader.product, 0x003C);
}

// Each bad line is named with its file, its line and the values it accepts.
TEST(UsbConfig, BadLinesAreNamedWithWhatIsAccepted) {
  UsbConfig c;
  ParseUsbConfig(
      "[backend]\ntype=serial\n[application]\nvendor=0x10000\nproduct=0x1\nin=0x02\nout=0x81\n"
      "colour=blue\njunk\n[boot\n[bootloader]\nvendor=0x1111\n",
      "/etc/x/hxusb.conf", c);
  EXPECT_EQ(c.backend, Backend::Sim);
  EXPECT_FALSE(c.application.known);  // the vendor was out of range
  EXPECT_EQ(c.application.endpointIn, 0x81);
  EXPECT_EQ(c.application.endpointOut, 0x01);
  const std::vector<std::string> expected = {
      "/etc/x/hxusb.conf:2: unknown backend type \"serial\" (accepted: sim, usb)",
      "/etc/x/hxusb.conf:4: vendor=0x10000 is not a 16-bit number (accepted: 0 to 0xFFFF, decimal or 0x "
      "hexadecimal)",
      "/etc/x/hxusb.conf:6: in=0x02 is not an IN endpoint (accepted: 0x81 to 0x8F)",
      "/etc/x/hxusb.conf:7: out=0x81 is not an OUT endpoint (accepted: 0x01 to 0x0F)",
      "/etc/x/hxusb.conf:8: unknown key \"colour\" (accepted: vendor, product, interface, out, in)",
      "/etc/x/hxusb.conf:9: \"junk\" is not a key=value line",
      "/etc/x/hxusb.conf:10: unclosed section name \"[boot\"",
      "/etc/x/hxusb.conf: [bootloader] sets only one of vendor and product",
  };
  EXPECT_EQ(c.problems, expected);

  EXPECT_EQ(ProblemText(c).substr(ProblemText(c).rfind('\n') + 1),
            "No controller is reached until the USB configuration is corrected.");
  EXPECT_EQ(ProblemText(UsbConfig{}), "");

  // An editor's byte-order mark is no part of the first line.
  UsbConfig bom;
  ParseUsbConfig("\xEF\xBB\xBF[backend]\ntype=usb\n", "hxusb.conf", bom);
  EXPECT_TRUE(bom.problems.empty()) << bom.problems.front();
  EXPECT_EQ(bom.backend, Backend::Usb);
}

// The file next to the library wins over the user's; the environment wins over both.
TEST(UsbConfig, LookupOrderAndEnvironmentOverride) {
  const auto root =
      std::filesystem::temp_directory_path() / ("hxusb_conf_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(root / "lib");
  std::filesystem::create_directories(root / "xdg" / "hydrix");
  std::ofstream(root / "xdg" / "hydrix" / "hxusb.conf") << "[backend]\ntype=usb\n";
  ::setenv("XDG_CONFIG_HOME", (root / "xdg").c_str(), 1);
  ::unsetenv("HYDRIX_USB_BACKEND");

  auto c = LoadUsbConfig((root / "lib").string());
  EXPECT_EQ(c.backend, Backend::Usb);
  EXPECT_EQ(c.file, (root / "xdg" / "hydrix" / "hxusb.conf").string());

  std::ofstream(root / "lib" / "hxusb.conf") << "[backend]\ntype=sim\n";
  c = LoadUsbConfig((root / "lib").string());
  EXPECT_EQ(c.backend, Backend::Sim);
  EXPECT_EQ(c.file, (root / "lib" / "hxusb.conf").string());

  ::setenv("HYDRIX_USB_BACKEND", "usb", 1);
  EXPECT_EQ(LoadUsbConfig((root / "lib").string()).backend, Backend::Usb);
  ::setenv("HYDRIX_USB_BACKEND", "bluetooth", 1);
  c = LoadUsbConfig((root / "lib").string());
  EXPECT_EQ(c.backend, Backend::Sim);
  ASSERT_EQ(c.problems.size(), 1u);
  EXPECT_EQ(c.problems[0], "HYDRIX_USB_BACKEND=bluetooth: unknown backend (accepted: sim, usb)");
  ::unsetenv("HYDRIX_USB_BACKEND");

  // A FIFO is named, not read (nor skipped for the next file): nothing waits.
  const auto conf = root / "lib" / "hxusb.conf";
  std::filesystem::remove(conf);
  ASSERT_EQ(::mkfifo(conf.c_str(), 0600), 0);
  c = LoadUsbConfig((root / "lib").string());
  EXPECT_EQ(c.problems,
            std::vector<std::string>{conf.string() + ": cannot be read: it is a FIFO, not a regular file"});
  EXPECT_TRUE(std::filesystem::is_fifo(conf));
  ::unsetenv("XDG_CONFIG_HOME");
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace hx::usbconf
