#include "common/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace hx {

namespace {

FileStatus Status(int error, const std::string& what) {
  FileStatus s;
  s.reason = what + ": " + std::strerror(error);
  s.error = error;
  return s;
}

// Whether `path` still names the file open on `fd`.
bool StillNamed(int fd, const std::filesystem::path& path) {
  struct stat held {
  }, named{};
  return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

// Opening a file the holder removed meanwhile is met again and again only
// when something keeps replacing the name.
constexpr int kAttempts = 100;

}  // namespace

LockFile::~LockFile() { Unlock(); }

LockFile::LockFile(LockFile&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      ownsFd_(other.ownsFd_),
      remove_(other.remove_) {}

LockFile& LockFile::operator=(LockFile&& other) noexcept {
  if (this != &other) {
    Unlock();
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
    ownsFd_ = other.ownsFd_;
    remove_ = other.remove_;
  }
  return *this;
}

FileStatus LockFile::TryLock(const std::filesystem::path& path, const LockOptions& options) {
  return Lock(path, std::chrono::milliseconds(0), options);
}

FileStatus LockFile::Lock(const std::filesystem::path& path, std::chrono::milliseconds wait,
                          const LockOptions& options) {
  Unlock();
  if (FileStatus s = CheckWriteTarget(path); !s.ok()) return s;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // Never through a link, never blocking on what is not a regular file.
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, options.mode);
    if (fd < 0) return Status(errno, "cannot create the lock file");
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      const FileStatus kind = CheckWriteTarget(path);
      return kind.ok() ? Status(EINVAL, "cannot use the lock file") : kind;
    }
    const auto left = std::max(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()),
        std::chrono::milliseconds(0));
    if (FileStatus s = LockExclusive(fd, left); !s.ok()) {
      ::close(fd);
      return s.error == EWOULDBLOCK ? s : Status(s.error, "cannot lock the lock file");
    }
    if (!StillNamed(fd, path)) {
      ::close(fd);  // the holder removed it meanwhile: take the new one
      continue;
    }
    path_ = path;
    fd_ = fd;
    ownsFd_ = true;
    remove_ = options.removeOnRelease;
    if (!options.identity.empty()) {
      const std::string text = options.identity + "\n";
      int err = ::ftruncate(fd, 0) == 0 ? 0 : errno;
      if (err == 0 && ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        err = errno ? errno : ENOSPC;
      }
      if (err != 0) {
        Unlock();
        return Status(err, "cannot write the lock file");
      }
    }
    return {};
  }
  FileStatus busy;
  busy.reason = "another program holds it locked";
  busy.error = EWOULDBLOCK;
  return busy;
}

FileStatus LockFile::LockDescriptor(int fd, std::chrono::milliseconds wait) {
  Unlock();
  FileStatus s = LockExclusive(fd, wait);
  if (s.ok()) {
    path_.clear();
    fd_ = fd;
    ownsFd_ = false;
    remove_ = false;
  }
  return s;
}

void LockFile::Unlock() {
  if (fd_ < 0) return;
  if (!ownsFd_) {
    ::flock(fd_, LOCK_UN);
  } else {
    // Removed while still held, and only when the name still means this
    // file: a program that opened it meanwhile sees it gone and starts over.
    if (remove_ && StillNamed(fd_, path_)) ::unlink(path_.c_str());
    ::close(fd_);
  }
  fd_ = -1;
}

std::string LockHolder(const std::filesystem::path& path) {
  std::string text;
  if (!ReadRegularFile(path, 4096, text).ok()) return {};
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace hx
