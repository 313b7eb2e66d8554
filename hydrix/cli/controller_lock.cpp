#include "hydrix/cli/controller_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/paths.h"
#include "common/safe_file.h"

namespace hx {

ControllerLock::~ControllerLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool ControllerLock::Take(std::int32_t id, std::chrono::milliseconds wait, std::string& why) {
  const std::filesystem::path folder = TransientFolder();
  if (folder.empty()) return true;
  const std::filesystem::path file = folder / ("hydrixctl-" + std::to_string(id) + ".lock");
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "cannot open the lock file " + file.string() + ": " +
          (fd < 0 ? std::strerror(errno) : "not a regular file");
    if (fd >= 0) ::close(fd);
    return false;
  }
  std::string reason;
  if (!LockExclusive(fd, wait, reason)) {
    ::close(fd);
    why = "controller " + std::to_string(id) + " is in use by another program (" + file.string() + ": " +
          reason + ")";
    return false;
  }
  fd_ = fd;
  return true;
}

}  // namespace hx
