#include "platform/hxusb_device/usb_ids.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "common/atomic_file.h"
#include "common/paths.h"
#include "common/safe_file.h"

namespace hx::usb {

std::uint32_t Fnv1a32(std::string_view text) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : text) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

std::int32_t IdentifierOf(std::string_view text) {
  const auto id = static_cast<std::int32_t>(Fnv1a32(text) & 0x7FFFFFFFu);
  return id == 0 ? 1 : id;
}

PortMemory::PortMemory(std::string file) : file_(std::move(file)) { Load(); }

void PortMemory::Load() {
  ports_.clear();
  if (file_.empty()) return;
  std::string text;
  const FileStatus status = ReadRegularFile(file_, kSmallFileLimit, text);
  problem_ = status.ok() || status.missing ? std::string() : PortMemoryProblem(status.reason);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string port;
    long long id = 0;
    if (fields >> port >> id && id > 0 && id <= 0x7FFFFFFF) ports_[port] = static_cast<std::int32_t>(id);
  }
}

void PortMemory::Save() {
  if (file_.empty()) return;
  namespace fs = std::filesystem;
  // What is not a regular file with write permission is never replaced.
  if (const FileStatus status = CheckWriteTarget(file_); !status.ok()) {
    problem_ = PortMemoryProblem(status.reason);
    return;
  }
  std::error_code ec;
  fs::create_directories(fs::path(file_).parent_path(), ec);
  // Replaced as one step, so that another process never reads half a file;
  // a save that fails only makes the memory forget.
  std::string text;
  for (const auto& [port, id] : ports_) text += port + ' ' + std::to_string(id) + '\n';
  (void)AtomicReplace(file_, text);
}

std::string PortMemory::PortMemoryProblem(const std::string& reason) const {
  return "The USB port memory " + file_ + " cannot be used: " + reason +
         ". A controller in its boot loader is named by its port.";
}

std::optional<std::int32_t> PortMemory::Lookup(const std::string& port) {
  Load();  // another process may have met the application since
  const auto it = ports_.find(port);
  if (it == ports_.end()) return std::nullopt;
  return it->second;
}

void PortMemory::Remember(const std::string& port, std::optional<std::int32_t> id) {
  Load();
  const auto it = ports_.find(port);
  if (id ? (it != ports_.end() && it->second == *id) : it == ports_.end()) return;
  if (id) {
    ports_[port] = *id;
  } else {
    ports_.erase(it);
  }
  Save();
}

std::string DefaultPortMemoryFile() {
  const auto folder = hx::UserStateFolder();
  return folder.empty() ? std::string() : (folder / "usb-ports").string();
}

std::int32_t AssignIdentifier(const std::string& port, const std::string& serial, bool bootLoader,
                              PortMemory& memory) {
  if (!serial.empty()) {
    const auto id = IdentifierOf(serial);
    if (!bootLoader) memory.Remember(port, id);
    return id;
  }
  if (bootLoader) {
    if (const auto remembered = memory.Lookup(port)) return *remembered;
  } else {
    memory.Remember(port, std::nullopt);
  }
  return IdentifierOf(port);
}

}  // namespace hx::usb
