// The USB configuration shared by libhxusbif and libhxboot: a small INI file,
// "hxusb.conf", looked up next to the libraries, then in
// $XDG_CONFIG_HOME/hydrix/ (else ~/.config/hydrix/). It names the backend
// ("sim", the default, or "usb") and the USB identities:
//
//   [backend]
//   type=usb                      ; $HYDRIX_USB_BACKEND overrides it
//   [bootloader]
//   vendor=0x04D8  product=0x000B  interface=0  out=0x01  in=0x81
//   [application]
//   vendor=...  product=...  interface=...  out=...  in=...
//
// (one key a line). The boot loader's identity has the defaults above; the
// application's has none and must be filled in by the installer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hx::usbconf {

enum class Backend { Sim, Usb };

struct UsbIdentity {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::uint8_t interfaceNumber = 0;
  std::uint8_t endpointOut = 0x01;
  std::uint8_t endpointIn = 0x81;
  // False while vendor and product are not both configured.
  bool known = false;
};

struct UsbConfig {
  Backend backend = Backend::Sim;
  UsbIdentity bootLoader{0x04D8, 0x000B, 0, 0x01, 0x81, true};
  UsbIdentity application;
  std::string file;                   // the file read, empty when none was found
  std::vector<std::string> problems;  // "file:line: what is wrong (accepted: ...)", one each
};

// Reads the text of a configuration file into `config`; lines it cannot use
// are listed in config.problems and change nothing. `name` prefixes them.
void ParseUsbConfig(std::string_view text, std::string_view name, UsbConfig& config);

// The backend named by `text` ("sim" or "usb", any case), or nothing.
std::optional<Backend> ParseBackend(std::string_view text);

// Where hxusb.conf is looked for, in order (see hx::UsbConfigSearchPath):
// in a build tree `libraryDir` (the folder of the library asking; skipped
// when empty), then the user's configuration folder; installed the user's
// configuration folder, /etc/hydrix, then the shipped defaults.
std::vector<std::string> ConfigSearchPath(const std::string& libraryDir);

// The configuration in force: the first file of ConfigSearchPath that
// exists, then $HYDRIX_USB_BACKEND. A file that is not a regular file or is
// larger than 1 MiB is not read, and an unknown $HYDRIX_USB_BACKEND is not
// used; both are listed in problems. A leading UTF-8 byte-order mark is
// skipped.
UsbConfig LoadUsbConfig(const std::string& libraryDir);

// What the libraries tell through their problem entry points when the
// configuration has problems: one line each, then a last line saying that
// no controller is reached until it is corrected. Empty without problems.
// A configuration with problems is never used, not even in part: it might
// name another backend or device than the one meant.
std::string ProblemText(const UsbConfig& config);

// Copies `text` into a caller's buffer as the libraries' problem entry points
// do: at most size-1 bytes and a NUL (nothing when `buffer` is null or size
// is 0). Returns the whole length of `text`.
std::uint32_t CopyProblemText(const std::string& text, char* buffer, std::uint32_t size);

// The folder of the shared object that holds `address` (a function of the
// library asking), or empty.
std::string LibraryDirOf(const void* address);

}  // namespace hx::usbconf
