#include "sim/state_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "common/atomic_file.h"
#include "common/safe_file.h"

namespace hx::sim {

namespace {
constexpr std::size_t kStateFileLimit = std::size_t{16} << 20;

// The daemon holding a lock, as a message adds it: " (process 1234)".
std::string Holder(const std::filesystem::path& lock) {
  const std::string pid = LockHolder(lock);
  return pid.empty() ? std::string() : " (process " + pid + ")";
}

// What stands at `path` when it is not what is wanted there ("a FIFO", "a
// symbolic link", ...); empty when nothing is there or it is of `wanted`.
std::string WrongKind(const std::filesystem::path& path, mode_t wanted) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || (st.st_mode & S_IFMT) == wanted) return {};
  const mode_t m = st.st_mode;
  return S_ISLNK(m)                 ? "a symbolic link"
         : S_ISFIFO(m)              ? "a FIFO"
         : S_ISDIR(m)               ? "a folder"
         : S_ISREG(m)               ? "a regular file"
         : S_ISSOCK(m)              ? "a socket"
         : S_ISCHR(m) || S_ISBLK(m) ? "a device"
                                    : "a special file";
}
}  // namespace

bool CheckStatePaths(const std::filesystem::path& folder, const std::vector<std::int32_t>& ids,
                     std::string& error) {
  for (const std::int32_t id : ids) {
    const std::filesystem::path controller = folder / ("controller-" + std::to_string(id));
    if (const std::string kind = WrongKind(controller, S_IFDIR); !kind.empty()) {
      error = controller.string() + " is " + kind + ", not a folder; the state of controller " +
              std::to_string(id) + " cannot be kept there";
      return false;
    }
    for (const char* name : {"eeprom.bin", "flash.bin", "config.bin"}) {
      const std::filesystem::path file = controller / name;
      if (const std::string kind = WrongKind(file, S_IFREG); !kind.empty()) {
        error = file.string() + " is " + kind + ", not a regular file; it is never replaced";
        return false;
      }
    }
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> LoadFile(const std::filesystem::path& path) {
  // State files are small images: anything but a regular file of at most
  // 16 MiB counts as damaged, and nothing waits on a FIFO.
  std::string text;
  if (!ReadRegularFile(path, kStateFileLimit, text).ok()) return std::nullopt;
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

bool SaveFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                        std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  // Only a regular file is replaced: a link or a FIFO there was put there
  // by someone, and a folder cannot be.
  if (const std::string kind = WrongKind(path, S_IFREG); !kind.empty()) {
    error = path.string() + " is " + kind + ", not a regular file; it was left as it is";
    return false;
  }
  // One daemon holds the state folder, so the temporary file has a fixed name.
  ReplaceOptions options;
  options.temporaryName = path.filename().string() + ".tmp";
  const FileStatus status = AtomicReplace(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), options);
  if (status.ok()) return true;
  // A failure on the way names the temporary file, a refusal the file itself.
  const bool aside = status.reason.find("temporary file") != std::string::npos;
  error = (aside ? path.parent_path() / options.temporaryName : path).string() + ": " + status.reason;
  return false;
}

bool LockStateFolder(const std::filesystem::path& folder, LockFile& lock, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder, ec)) {
    error = "the state folder " + folder.string() + " cannot be created" + (ec ? ": " + ec.message() : "");
    return false;
  }
  LockOptions options;
  options.removeOnRelease = true;
  options.identity = std::to_string(::getpid());
  if (const FileStatus status = lock.TryLock(folder / "hydrix-sim.lock", options); !status.ok()) {
    error = status.error == EWOULDBLOCK
                ? "another simulator uses the state folder " + folder.string() +
                      Holder(folder / "hydrix-sim.lock")
                : "the state folder " + folder.string() + " cannot be written (" + status.reason + ")";
    return false;
  }
  // The lock file alone is no proof: a full disk still takes an empty file.
  std::string reason;
  if (!SaveFileAtomically(folder / "hydrix-sim.probe", std::vector<std::uint8_t>(256, 0), reason)) {
    lock.Unlock();
    error = "the state folder " + folder.string() + " cannot be written (" + reason + ")";
    return false;
  }
  std::filesystem::remove(folder / "hydrix-sim.probe", ec);
  return true;
}

}  // namespace hx::sim
