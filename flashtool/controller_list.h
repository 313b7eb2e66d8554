// The controllers the window offers: those running their application, found
// and probed with the identity command through the USB interface library
// (libhxusbif, loaded by name as hydrix loads it), then those waiting in
// their boot loader, as the boot-loader library lists them.
#pragma once

#include <cstdint>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/dynlib.h"
#include "flashtool/boot_library.h"

namespace hx::flash {

struct ListedController {
  std::int32_t UsbID = 0;
  std::string identity;  // "Hydrix (11) 1.05"; empty for a boot loader
  bool inBootLoader = false;
  // The line shown in the list: "Hydrix (11) 1.05 - connection 41", or
  // "In its boot loader - connection 41".
  std::string Text() const;
};

// The application side: every attached controller that answers the identity
// probe, in enumeration order, with its identity text.
class IdentityProbe {
 public:
  virtual ~IdentityProbe() = default;
  virtual std::vector<ListedController> Answering() = 0;
  // Why no controller can be found (the library missing), or empty.
  virtual std::string Problem() { return {}; }
  // The serial number the application of controller `UsbID` holds (EEPROM
  // 36 to 39, lowest byte first); nothing when it does not answer.
  virtual std::optional<std::int32_t> Serial(std::int32_t /*UsbID*/) { return std::nullopt; }
};

// IdentityProbe over libhxusbif: counts, then for each controller opens a
// write and a read handle, sends the probe, reads the 5-byte answer (a
// controller that does not answer in time is left out) and closes both.
class HxUsbIfProbe : public IdentityProbe {
 public:
  explicit HxUsbIfProbe(std::string libraryName = "libhxusbif.so") : name_(std::move(libraryName)) {}
  std::vector<ListedController> Answering() override;
  std::string Problem() override { return problem_; }
  // Four EEPROM reads (request 0xFE), each on its own pair of handles.
  std::optional<std::int32_t> Serial(std::int32_t UsbID) override;

 private:
  bool Bind();
  // One exchange: the 12-byte request, then up to `answer.size()` bytes;
  // the number of bytes answered (0 for none).
  std::uint32_t Exchange(std::int32_t UsbID, const std::array<std::uint8_t, 12>& request,
                         std::span<std::uint8_t> answer);
  std::string name_;
  bool tried_ = false, bound_ = false;
  std::string problem_;
  DynamicLibrary lib_;
  std::int32_t (*count_)() = nullptr;
  std::int32_t (*uniqueId_)(std::int32_t) = nullptr;
  std::int32_t (*open_)(std::int32_t) = nullptr;
  std::int32_t (*write_)(std::int32_t, const void*, std::uint32_t, std::uint32_t*) = nullptr;
  std::int32_t (*read_)(std::int32_t, void*, std::uint32_t, std::uint32_t*, std::uint32_t) = nullptr;
  std::int32_t (*close_)(std::int32_t) = nullptr;
};

// The answering controllers, then the boot loaders not already listed.
std::vector<ListedController> ListControllers(IdentityProbe& probe, BootLibrary& boot);

// The line to choose in a list read anew, given the connection chosen before:
// the line of that connection, whether it runs its application or waits in
// its boot loader (on USB the connection is the controller's serial number,
// or its port's, so it names one physical controller), or -1 (nothing) when
// nothing was chosen or it is no longer listed. Never another line: a
// controller is programmed only when the operator or the command line chose it.
int KeptChoice(const std::vector<ListedController>& list, std::optional<std::int32_t> chosen);

}  // namespace hx::flash
