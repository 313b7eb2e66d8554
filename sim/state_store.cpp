#include "sim/state_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/safe_file.h"

namespace hx::sim {

namespace {
constexpr std::size_t kStateFileLimit = std::size_t{16} << 20;

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
  const std::filesystem::path temp = path.string() + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = temp.string() + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = temp.string() + ": " + std::strerror(errno);
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    error = temp.string() + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  // Only a regular file is replaced: a link or a FIFO there was put there
  // by someone, and a folder cannot be.
  if (const std::string kind = WrongKind(path, S_IFREG); !kind.empty()) {
    error = path.string() + " is " + kind + ", not a regular file; it was left as it is";
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = path.string() + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk with its folder.
  const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

LockFile::~LockFile() { Unlock(); }

bool LockFile::TryLock(const std::filesystem::path& path, bool& busy, std::string& error) {
  Unlock();
  busy = false;
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      error = "cannot create " + path.string() + ": " + std::strerror(errno);
      return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      busy = errno == EWOULDBLOCK;
      error = busy ? path.string() + " is held by another process"
                   : "cannot lock " + path.string() + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev) {
      path_ = path;
      fd_ = fd;
      return true;
    }
    ::close(fd);
  }
}

void LockFile::Unlock() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

bool LockStateFolder(const std::filesystem::path& folder, LockFile& lock, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder, ec)) {
    error = "the state folder " + folder.string() + " cannot be created" + (ec ? ": " + ec.message() : "");
    return false;
  }
  bool busy = false;
  std::string reason;
  if (!lock.TryLock(folder / "hydrix-sim.lock", busy, reason)) {
    error = busy ? "another simulator uses the state folder " + folder.string()
                 : "the state folder " + folder.string() + " cannot be written (" + reason + ")";
    return false;
  }
  // The lock file alone is no proof: a full disk still takes an empty file.
  if (!SaveFileAtomically(folder / "hydrix-sim.probe", std::vector<std::uint8_t>(256, 0), reason)) {
    lock.Unlock();
    error = "the state folder " + folder.string() + " cannot be written (" + reason + ")";
    return false;
  }
  std::filesystem::remove(folder / "hydrix-sim.probe", ec);
  return true;
}

}  // namespace hx::sim
