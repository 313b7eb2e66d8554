// The USB port memory file: whatever it holds, a look-up gives a positive
// identifier or nothing, a boot loader gets the identifier remembered for its
// port, and what is remembered survives a save and a fresh read alongside
// the entries already there.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/hxusb_device/usb_ids.h"

namespace {

const std::string& File() {
  static const std::string file = [] {
    // In memory where there is such a folder: the file is written on every input.
    char pattern[] = "/dev/shm/port-memory-fuzz-XXXXXX";
    char fallback[] = "/tmp/port-memory-fuzz-XXXXXX";
    const char* folder = ::mkdtemp(pattern);
    return std::string(folder ? folder : ::mkdtemp(fallback)) + "/usb-ports";
  }();
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(File(), std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::vector<std::string> ports;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line) && ports.size() < 8;) {
    std::istringstream fields(line);
    if (std::string port; fields >> port) ports.push_back(port);
  }
  hx::usb::PortMemory memory(File());
  std::vector<std::optional<std::int32_t>> before;
  for (const auto& port : ports) {
    const auto id = memory.Lookup(port);
    if (id && *id <= 0) std::abort();
    if (id && hx::usb::AssignIdentifier(port, "", true, memory) != *id) std::abort();
    before.push_back(id);
  }
  const std::string newPort = "9-9.9";
  memory.Remember(newPort, 77);
  if (!memory.Problem().empty()) return 0;
  hx::usb::PortMemory reread(File());
  if (reread.Lookup(newPort) != std::optional<std::int32_t>(77)) std::abort();
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (ports[i] != newPort && reread.Lookup(ports[i]) != before[i]) std::abort();
  }
  return 0;
}
