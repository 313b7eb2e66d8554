#include "flashtool/run_locks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace hx::flash {

// Two runs at once (two controllers on one bench) would otherwise write the
// same list files, and one could program the other's firmware. Once opened,
// a run's list stays its own even when another run renames a new list over
// the name.
ListFolderLock::ListFolderLock(const std::filesystem::path& folder)
    : fd_(::open((folder / "flashtool.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
  if (fd_ >= 0) {
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

ListFolderLock::~ListFolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool ControllerLock::Acquire(const std::filesystem::path& folder, std::int32_t usbId) {
  if (fd_ >= 0) return true;
  const auto path = folder / ("flashtool-" + std::to_string(usbId) + ".lock");
  for (int attempt = 0; attempt < 10; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return true;  // a folder that cannot be written is reported with the list files
    int r;
    while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (r != 0) {
      ::close(fd);
      return false;
    }
    // The run that held it may have removed it between our open and lock.
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      fd_ = fd;
      path_ = path;
      return true;
    }
    ::close(fd);
  }
  return false;
}

void ControllerLock::Release() {
  if (fd_ < 0) return;
  // Removed while still held, and only when the name still means this
  // file: a run that opened it meanwhile sees it gone and starts over.
  struct stat held {
  }, named{};
  if (::fstat(fd_, &held) == 0 && ::stat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
      held.st_ino == named.st_ino) {
    ::unlink(path_.c_str());
  }
  ::close(fd_);
  fd_ = -1;
}

}  // namespace hx::flash
