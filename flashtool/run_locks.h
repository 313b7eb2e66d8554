// The locks a run holds in the list folder: the folder's own lock while a
// HEX file is converted and its list read, and one lock file per controller
// for the whole run, so that two runs never program one controller or each
// other's firmware.
#pragma once

#include <cstdint>
#include <filesystem>

namespace hx::flash {

// Holds an exclusive lock on the list folder (flashtool.lock) from
// construction to destruction, waiting for another run to let go of it. A
// folder that cannot be written is not locked.
class ListFolderLock {
 public:
  explicit ListFolderLock(const std::filesystem::path& folder);
  ~ListFolderLock();
  ListFolderLock(const ListFolderLock&) = delete;
  ListFolderLock& operator=(const ListFolderLock&) = delete;

 private:
  int fd_;
};

// The lock file flashtool-<UsbID>.lock of one controller's run.
class ControllerLock {
 public:
  ControllerLock() = default;
  ~ControllerLock() { Release(); }
  ControllerLock(const ControllerLock&) = delete;
  ControllerLock& operator=(const ControllerLock&) = delete;

  // Takes the lock of controller `usbId` in `folder`, without waiting. True
  // when held (already or now, or when the folder cannot be written: the
  // list files report that); false when another run holds it.
  bool Acquire(const std::filesystem::path& folder, std::int32_t usbId);
  // Removes the lock file while still holding it, then lets go.
  void Release();

 private:
  int fd_ = -1;
  std::filesystem::path path_;
};

}  // namespace hx::flash
