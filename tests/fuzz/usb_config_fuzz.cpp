// hxusb.conf: every refused line is named with the file and its line; a
// configuration read without problems, written out again, reads back the
// same; the problem text fits any caller's buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/hxusb_config/usb_config.h"

namespace {

using namespace hx::usbconf;

std::string Section(const char* name, const UsbIdentity& id) {
  char text[200];
  std::snprintf(text, sizeof text, "[%s]\nvendor=0x%04X\nproduct=0x%04X\ninterface=%u\nout=0x%02X\nin=0x%02X\n", name,
                id.vendor, id.product, id.interfaceNumber, id.endpointOut, id.endpointIn);
  return text;
}

bool Same(const UsbIdentity& a, const UsbIdentity& b) {
  return a.vendor == b.vendor && a.product == b.product && a.interfaceNumber == b.interfaceNumber &&
         a.endpointOut == b.endpointOut && a.endpointIn == b.endpointIn && a.known == b.known;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  UsbConfig config;
  ParseUsbConfig(text, "hxusb.conf", config);
  for (const auto& p : config.problems) {
    if (p.rfind("hxusb.conf:", 0) != 0 || p.find('\n') != std::string::npos) std::abort();
  }
  const std::string problems = ProblemText(config);
  if (problems.empty() != config.problems.empty()) std::abort();
  char small[8];
  std::memset(small, 'x', sizeof small);
  const auto length = CopyProblemText(problems, small, sizeof small);
  if (length != problems.size() || std::strlen(small) != std::min<std::size_t>(problems.size(), 7)) std::abort();
  ParseBackend(text);

  if (!config.problems.empty()) return 0;
  std::string again = std::string("[backend]\ntype=") + (config.backend == Backend::Usb ? "usb" : "sim") + "\n" +
                      Section("bootloader", config.bootLoader);
  if (config.application.known) again += Section("application", config.application);
  UsbConfig reread;
  ParseUsbConfig(again, "again", reread);
  if (!reread.problems.empty() || reread.backend != config.backend || !Same(reread.bootLoader, config.bootLoader) ||
      (config.application.known && !Same(reread.application, config.application)))
    std::abort();
  return 0;
}
