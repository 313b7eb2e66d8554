// The locks a run holds in the list folder: the folder's own lock while a
// HEX file is converted and its list read, and one lock file per controller
// for the whole run, so that two runs never program one controller or each
// other's firmware.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>

#include "common/lock_file.h"

namespace hx::flash {

// How long a run waits for another run to finish converting its HEX file.
inline constexpr std::chrono::milliseconds kListFolderWait{30'000};

// An exclusive lock on the list folder (flashtool.lock), held from Lock()
// to destruction.
class ListFolderLock {
 public:
  // Waits at most `wait` for another run to let go of the folder. A folder
  // that cannot be written is not locked (the list files report it): the
  // status is then ok. EWOULDBLOCK when the wait ran out.
  FileStatus Lock(const std::filesystem::path& folder, std::chrono::milliseconds wait = kListFolderWait);

 private:
  LockFile lock_;
};

// The lock file flashtool-<UsbID>.lock of one controller's run, removed
// when the run lets go of it.
class ControllerLock {
 public:
  // Takes the lock of controller `usbId` in `folder`, without waiting. True
  // when held (already or now, or when the folder cannot be written: the
  // list files report that); false when another run holds it.
  bool Acquire(const std::filesystem::path& folder, std::int32_t usbId);
  // Removes the lock file while still holding it, then lets go.
  void Release() { lock_.Unlock(); }

 private:
  LockFile lock_;
};

}  // namespace hx::flash
