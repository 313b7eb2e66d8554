#include "platform/hxusb_config/usb_config.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "common/config_text.h"
#include "common/paths.h"
#include "common/safe_file.h"
#include "common/shown_text.h"

namespace hx::usbconf {

namespace {

constexpr const char* kSections = "[backend], [bootloader], [application]";

// A decimal or 0x-prefixed hexadecimal number no larger than `max`.
std::optional<std::uint32_t> ParseNumber(std::string_view s, std::uint32_t max) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  std::uint32_t v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size() || v > max) return std::nullopt;
  return v;
}

constexpr const char* kIdentityKeys = "vendor, product, interface, out, in";

// Sets one key of an identity section; empty when done, else what is wrong
// with the line and the values it accepts.
std::string SetIdentityKey(UsbIdentity& id, const std::string& key, std::string_view value, bool& vendorSet,
                           bool& productSet) {
  const std::string line = ShownText(key + "=" + std::string(value));
  if (key == "vendor" || key == "product") {
    const auto n = ParseNumber(value, 0xFFFF);
    if (!n) return line + " is not a 16-bit number (accepted: 0 to 0xFFFF, decimal or 0x hexadecimal)";
    (key == "vendor" ? id.vendor : id.product) = static_cast<std::uint16_t>(*n);
    (key == "vendor" ? vendorSet : productSet) = true;
  } else if (key == "interface") {
    const auto n = ParseNumber(value, 0xFF);
    if (!n) return line + " is not an interface number (accepted: 0 to 255)";
    id.interfaceNumber = static_cast<std::uint8_t>(*n);
  } else if (key == "out" || key == "in") {
    // Bulk endpoints: bit 7 tells the direction, so an "in" without it is a typing error.
    const bool in = key == "in";
    const auto n = ParseNumber(value, 0xFF);
    if (!n || ((*n & 0x80) != 0) != in || (*n & 0x70) != 0 || (*n & 0x0F) == 0) {
      return line + " is not an " +
             (in ? "IN endpoint (accepted: 0x81 to 0x8F)" : "OUT endpoint (accepted: 0x01 to 0x0F)");
    }
    (in ? id.endpointIn : id.endpointOut) = static_cast<std::uint8_t>(*n);
  } else {
    return "unknown key \"" + ShownText(key) + "\" (accepted: " + kIdentityKeys + ")";
  }
  return {};
}

}  // namespace

std::optional<Backend> ParseBackend(std::string_view text) {
  const auto t = LowerAscii(TrimBlanks(text));
  if (t == "sim") return Backend::Sim;
  if (t == "usb") return Backend::Usb;
  return std::nullopt;
}

void ParseUsbConfig(std::string_view text, std::string_view name, UsbConfig& config) {
  // A byte-order mark left by an editor is no part of the first line.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::string section;
  bool bootVendor = false, bootProduct = false, appVendor = false, appProduct = false;
  int lineNumber = 0;
  std::map<std::string, int> firstLine;  // "section/key" -> the line that set it
  auto problem = [&](const std::string& what) {
    config.problems.push_back(std::string(name) + ":" + std::to_string(lineNumber) + ": " + what);
  };
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const auto end = std::min(text.find('\n', pos), text.size());
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (const auto c = line.find_first_of(";#"); c != std::string_view::npos) line = line.substr(0, c);
    line = TrimBlanks(line);
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.back() != ']') {
        problem("unclosed section name \"" + ShownText(line) + "\"");
        section = "?";
        continue;
      }
      section = LowerAscii(TrimBlanks(line.substr(1, line.size() - 2)));
      if (section != "backend" && section != "bootloader" && section != "application") {
        problem("unknown section [" + ShownText(section) + "] (accepted: " + kSections + ")");
        section = "?";
      }
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) {
      problem("\"" + ShownText(line) + "\" is not a key=value line");
      continue;
    }
    const auto key = LowerAscii(TrimBlanks(line.substr(0, eq)));
    const auto value = TrimBlanks(line.substr(eq + 1));
    std::string wrong;
    // A key given twice is a mistake either way: the first was meant, or
    // the second; taking one silently could reach the wrong device.
    const std::string sectionKey = section + "/" + key;
    if (section != "?" && !section.empty()) {
      if (const auto first = firstLine.find(sectionKey); first != firstLine.end()) {
        problem(ShownText(key) + "= is given a second time in [" + section + "] (first on line " +
                std::to_string(first->second) + ")");
        continue;
      }
      firstLine.emplace(sectionKey, lineNumber);
    }
    if (section.empty()) {
      wrong = "\"" + ShownText(line) + "\" stands before any section (accepted: " + kSections + ")";
    } else if (section == "?") {
      continue;  // the section itself was reported
    } else if (section == "backend") {
      if (key != "type") {
        wrong = "unknown key \"" + ShownText(key) + "\" (accepted: type)";
      } else if (auto b = ParseBackend(value)) {
        config.backend = *b;
      } else {
        wrong = "unknown backend type \"" + ShownText(value) + "\" (accepted: sim, usb)";
      }
    } else if (section == "bootloader") {
      wrong = SetIdentityKey(config.bootLoader, key, value, bootVendor, bootProduct);
    } else {
      wrong = SetIdentityKey(config.application, key, value, appVendor, appProduct);
    }
    if (!wrong.empty()) problem(wrong);
  }
  if (appVendor && appProduct) config.application.known = true;
  if (bootVendor != bootProduct) {
    config.problems.push_back(std::string(name) + ": [bootloader] sets only one of vendor and product");
  }
}

std::vector<std::string> ConfigSearchPath(const std::string& libraryDir) {
  std::vector<std::string> path;
  for (const auto& p : hx::UsbConfigSearchPath(libraryDir)) path.push_back(p.string());
  return path;
}

UsbConfig LoadUsbConfig(const std::string& libraryDir) {
  UsbConfig config;
  for (const auto& candidate : ConfigSearchPath(libraryDir)) {
    std::string text;
    const FileStatus status = ReadRegularFile(candidate, kSmallFileLimit, text);
    std::error_code ec;
    if (status.missing && std::filesystem::is_symlink(std::filesystem::symlink_status(candidate, ec))) {
      // A link left pointing nowhere was meant to configure: falling back
      // to the next file would silently use another backend.
      config.file = candidate;
      config.problems.push_back(candidate + ": is a symbolic link to " +
                                std::filesystem::read_symlink(candidate, ec).string() +
                                ", which does not exist");
      break;
    }
    if (status.missing) continue;
    config.file = candidate;
    // A file that is there but cannot be read is not skipped for the next
    // one: its settings were meant to apply.
    if (!status.ok()) {
      config.problems.push_back(candidate + ": cannot be read: " + status.reason);
      break;
    }
    ParseUsbConfig(text, candidate, config);
    break;
  }
  if (const char* env = std::getenv("HYDRIX_USB_BACKEND"); env && *env) {
    if (auto b = ParseBackend(env)) {
      config.backend = *b;
    } else {
      config.problems.push_back("HYDRIX_USB_BACKEND=" + ShownText(env) +
                                ": unknown backend (accepted: sim, usb)");
    }
  }
  return config;
}

std::string ProblemText(const UsbConfig& config) {
  if (config.problems.empty()) return {};
  std::string text;
  for (const auto& p : config.problems) text += p + "\n";
  return text + "No controller is reached until the USB configuration is corrected.";
}

std::uint32_t CopyProblemText(const std::string& text, char* buffer, std::uint32_t size) {
  if (buffer && size > 0) {
    const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = '\0';
  }
  return static_cast<std::uint32_t>(text.size());
}

std::string LibraryDirOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || !info.dli_fname) return {};
  std::error_code ec;
  auto p = std::filesystem::canonical(info.dli_fname, ec);
  if (ec) return {};
  return p.parent_path().string();
}

}  // namespace hx::usbconf
