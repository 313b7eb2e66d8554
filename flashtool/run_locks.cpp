#include "flashtool/run_locks.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace hx::flash {

namespace {
LockOptions Holder(unsigned mode, bool removeOnRelease) {
  return {mode, removeOnRelease, "flashtool " + std::to_string(::getpid())};
}
}  // namespace

// Two runs at once (two controllers on one bench) would otherwise write the
// same list files, and one could program the other's firmware. Once read,
// a run's list stays its own even when another run replaces the file.
FileStatus ListFolderLock::Lock(const std::filesystem::path& folder, std::chrono::milliseconds wait) {
  FileStatus status = lock_.Lock(folder / "flashtool.lock", wait, Holder(0644, false));
  if (status.error == EWOULDBLOCK) return status;
  return {};
}

bool ControllerLock::Acquire(const std::filesystem::path& folder, std::int32_t usbId) {
  if (lock_.Held()) return true;
  const FileStatus status =
      lock_.TryLock(folder / ("flashtool-" + std::to_string(usbId) + ".lock"), Holder(0600, true));
  return status.error != EWOULDBLOCK;
}

}  // namespace hx::flash
