#include "common/safe_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace hx {

namespace {

FileStatus Failure(int error) {
  FileStatus s;
  s.reason = std::strerror(error);
  s.error = error;
  s.missing = error == ENOENT;
  return s;
}

FileStatus NotRegular(mode_t mode) {
  const char* kind = S_ISFIFO(mode)   ? "a FIFO"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                     : S_ISDIR(mode)  ? "a folder"
                     : S_ISSOCK(mode) ? "a socket"
                                      : "a special file";
  FileStatus s;
  s.reason = std::string("it is ") + kind + ", not a regular file";
  return s;
}

FileStatus TooLarge(std::size_t limit) {
  FileStatus s;
  s.reason = "it is larger than " + SizeText(limit) + ", the most such a file may hold";
  s.error = EFBIG;
  return s;
}

// Refuses a file whose mode lets nobody write it: the superuser may write
// anything, but a file marked read-only was meant to stay as it is.
FileStatus Writable(const std::filesystem::path& path, mode_t mode) {
  if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || (::access(path.c_str(), W_OK) != 0 && errno == EACCES)) {
    FileStatus s;
    s.reason = "the file is read-only";
    s.error = EACCES;
    return s;
  }
  return {};
}

}  // namespace

std::string SizeText(std::size_t bytes) {
  constexpr std::size_t kMiB = std::size_t{1} << 20, kKiB = std::size_t{1} << 10;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + " bytes";
}

FileStatus OpenRegularForRead(const std::filesystem::path& path, int& fd) {
  fd = -1;
  // The kind is checked before opening: opening a device may act on it, and
  // opening a FIFO would wait for a writer.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Failure(errno);
  if (!S_ISREG(st.st_mode)) return NotRegular(st.st_mode);
  const int f = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (f < 0) return Failure(errno);
  // Checked again on what was opened: the name may have been changed meanwhile.
  if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
    const FileStatus s = NotRegular(st.st_mode);
    ::close(f);
    return s;
  }
  ::fcntl(f, F_SETFL, ::fcntl(f, F_GETFL) & ~O_NONBLOCK);
  fd = f;
  return {};
}

FileStatus ReadRegularFile(const std::filesystem::path& path, std::size_t limit, std::string& bytes) {
  bytes.clear();
  int fd = -1;
  FileStatus s = OpenRegularForRead(path, fd);
  if (!s.ok()) return s;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && static_cast<std::uintmax_t>(st.st_size) > limit) {
    ::close(fd);
    return TooLarge(limit);
  }
  // One byte more than the size shows growth since it was taken; reading
  // stops one byte past the limit whatever the size said.
  std::string buffer(
      std::min<std::size_t>(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)), limit) + 1, '\0');
  std::size_t used = 0;
  for (;;) {
    if (used == buffer.size()) {
      if (used > limit) break;
      buffer.resize(std::min(buffer.size() * 2, limit + 1));
    }
    const ssize_t n = ::read(fd, buffer.data() + used, buffer.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      s = Failure(errno);
      ::close(fd);
      return s;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (used > limit) return TooLarge(limit);
  buffer.resize(used);
  bytes = std::move(buffer);
  return {};
}

FileStatus CheckWriteTarget(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return Failure(errno);
    FileStatus absent;
    absent.missing = true;
    return absent;
  }
  if (!S_ISREG(st.st_mode)) return NotRegular(st.st_mode);
  return Writable(path, st.st_mode);
}

FileStatus OpenForAppend(const std::filesystem::path& path, int& fd) {
  fd = -1;
  if (FileStatus s = CheckWriteTarget(path); !s.ok()) return s;
  const int f = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (f < 0) return Failure(errno);
  struct stat st {};
  if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
    const FileStatus s = NotRegular(st.st_mode);
    ::close(f);
    return s;
  }
  if (FileStatus s = Writable(path, st.st_mode); !s.ok()) {
    ::close(f);
    return s;
  }
  ::fcntl(f, F_SETFL, ::fcntl(f, F_GETFL) & ~O_NONBLOCK);
  fd = f;
  return {};
}

FileStatus LockExclusive(int fd, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return Failure(errno);
    if (std::chrono::steady_clock::now() >= deadline) {
      FileStatus busy;
      busy.reason = "another program holds it locked";
      busy.error = EWOULDBLOCK;
      return busy;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return {};
}

bool LockExclusive(int fd, std::chrono::milliseconds wait, std::string& reason) {
  const FileStatus status = LockExclusive(fd, wait);
  if (!status.ok()) reason = status.reason;
  return status.ok();
}

int WriteAll(int fd, const char* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace hx
