// Locks that keep two programs (or two runs of one) off the same files: an
// exclusive flock on a lock file beside what it guards, created when
// missing, held while the object lives. A lock file may carry its holder's
// identity (a process id, a controller id), written once the lock is held,
// so that a program refused can say who holds it. A lock that removes its
// file on release does so while still holding it; a program that opened the
// file just before finds, once it has the lock, that the name leads
// elsewhere, and starts again with the new file. The append logs lock their
// own descriptor the same way.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "common/safe_file.h"

namespace hx {

struct LockOptions {
  unsigned mode = 0644;          // of a lock file made new (the umask applies)
  bool removeOnRelease = false;  // the file goes when the lock goes
  std::string identity;          // written into the file once held; empty: left as it is
};

class LockFile {
 public:
  LockFile() = default;
  ~LockFile();
  LockFile(LockFile&& other) noexcept;
  LockFile& operator=(LockFile&& other) noexcept;

  // Takes the lock on `path` without waiting; a status whose `error` is
  // EWOULDBLOCK when another holder has it.
  FileStatus TryLock(const std::filesystem::path& path, const LockOptions& options = {});
  // Takes the lock on `path`, waiting at most `wait` for another holder;
  // EWOULDBLOCK when the wait ran out.
  FileStatus Lock(const std::filesystem::path& path, std::chrono::milliseconds wait,
                  const LockOptions& options = {});
  // Takes the lock on a descriptor the caller opened and keeps (a log that
  // locks itself while it appends); Unlock() lets go without closing it.
  FileStatus LockDescriptor(int fd, std::chrono::milliseconds wait);
  // Lets go (removing the file first where asked); nothing when not held.
  void Unlock();

  bool Held() const { return fd_ >= 0; }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  bool ownsFd_ = false;
  bool remove_ = false;
};

// The identity a holder wrote into the lock file at `path`, without its
// line end; empty when there is none or the file cannot be read.
std::string LockHolder(const std::filesystem::path& path);

}  // namespace hx
