#include "hydrix/config/config_file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>

#include "common/safe_file.h"

namespace hx {
namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

std::int64_t ToNs(const timespec& t) { return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; }

// The file a path names: a link is followed, so that the file it names is
// replaced (and locked) and the link stays.
bool Target(const std::filesystem::path& path, std::filesystem::path& target, std::string& error) {
  std::error_code ec;
  target = path;
  if (std::filesystem::is_symlink(path, ec)) {
    target = std::filesystem::canonical(path, ec);
    if (ec) {
      error = ec.message();
      return false;
    }
  }
  return true;
}

// The lock file is removed by its holder before it lets go, so that none is
// left beside the file; a program that opened it before the removal finds,
// once it has the lock, that the name no longer leads to what it locked, and
// starts again.
class PosixFileLock : public FileLock {
 public:
  PosixFileLock(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixFileLock() override {
    ::unlink(path_.c_str());
    ::close(fd_);
  }
  PosixFileLock(const PosixFileLock&) = delete;
  PosixFileLock& operator=(const PosixFileLock&) = delete;

 private:
  std::filesystem::path path_;
  int fd_;
};

}  // namespace

std::unique_ptr<FileLock> PosixConfigFileSystem::Lock(const std::filesystem::path& path,
                                                      std::chrono::milliseconds wait, std::string& error) {
  std::filesystem::path target;
  if (!Target(path, target, error)) return nullptr;
  std::filesystem::path lockPath = target;
  lockPath += ".lock";
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      error = "cannot create the lock file " + lockPath.string() + ": " + ErrnoText(errno);
      return nullptr;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        error = "cannot lock " + lockPath.string() + ": " + ErrnoText(errno);
        ::close(fd);
        return nullptr;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        error = "another program holds the lock " + lockPath.string();
        ::close(fd);
        return nullptr;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && ::stat(lockPath.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev) {
      return std::make_unique<PosixFileLock>(lockPath, fd);
    }
    ::close(fd);  // the holder removed it meanwhile: take the new one
  }
}

bool PosixConfigFileSystem::Stat(const std::filesystem::path& path, FileStamp& stamp, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = ErrnoText(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return false;
  }
  stamp.size = static_cast<std::uintmax_t>(st.st_size);
  stamp.modifiedNs = ToNs(st.st_mtim);
  stamp.changedNs = ToNs(st.st_ctim);
  stamp.inode = st.st_ino;
  stamp.device = st.st_dev;
  return true;
}

bool PosixConfigFileSystem::ReadAll(const std::filesystem::path& path, std::string& bytes,
                                    std::string& error) {
  const FileStatus status = ReadRegularFile(path, kCatalogueFileLimit, bytes);
  if (!status.ok()) error = status.reason;
  return status.ok();
}

bool PosixConfigFileSystem::ReplaceFile(const std::filesystem::path& path, std::string_view bytes,
                                        std::string& error) {
  std::filesystem::path target;
  if (!Target(path, target, error)) return false;
  // Only an existing regular file with write permission is replaced: a
  // device or a FIFO renamed away would be lost to the whole system.
  if (const FileStatus status = CheckWriteTarget(target); !status.ok() || status.missing) {
    error = status.missing ? ErrnoText(ENOENT) : status.reason;
    return false;
  }
  struct stat old {};
  if (::stat(target.c_str(), &old) != 0) {
    error = ErrnoText(errno);
    return false;
  }

  static std::atomic<unsigned> counter{0};
  std::filesystem::path folder = target.parent_path();
  std::filesystem::path temp = folder / ("." + target.filename().string() + ".tmp-" +
                                         std::to_string(::getpid()) + "-" + std::to_string(counter++));
  auto fail = [&](int err, const char* what, int fd) {
    error = std::string(what) + ": " + ErrnoText(err);
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };

  int err = InjectedError(SaveStep::CreateTemporary);
  int fd = err ? -1 : ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot create a temporary file in " + folder.string() + ": " + ErrnoText(err ? err : errno);
    return false;
  }
  // The new file keeps the old one's permissions and, where allowed, owner.
  (void)::fchmod(fd, old.st_mode & 07777);
  if (::geteuid() == 0) (void)::fchown(fd, old.st_uid, old.st_gid);

  std::size_t done = 0;
  if ((err = InjectedError(SaveStep::Write)) != 0) {
    // Fail half-way, as a full disk would.
    done = bytes.size() / 2;
    if (done > 0 && ::write(fd, bytes.data(), done) < 0) err = errno;
    return fail(err, "cannot write the temporary file", fd);
  }
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(errno, "cannot write the temporary file", fd);
    done += static_cast<std::size_t>(n);
  }
  if ((err = InjectedError(SaveStep::Sync)) != 0 || ::fsync(fd) != 0) {
    return fail(err ? err : errno, "cannot flush the temporary file to disk", fd);
  }
  if (::close(fd) != 0) return fail(errno, "cannot close the temporary file", -1);
  if ((err = InjectedError(SaveStep::Rename)) != 0 || ::rename(temp.c_str(), target.c_str()) != 0) {
    return fail(err ? err : errno, "cannot put the new file in place", -1);
  }
  // Make the rename itself durable.
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return true;
}

std::int64_t PosixConfigFileSystem::NowNs() {
  timespec t{};
  ::clock_gettime(CLOCK_REALTIME, &t);
  return ToNs(t);
}

}  // namespace hx

namespace hx {

namespace {
bool Missing(const std::filesystem::path& path) {
  std::error_code ec;
  return !std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

bool MakeFolder(const std::filesystem::path& folder, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) error = "cannot create the folder " + folder.string() + ": " + ec.message();
  return !ec;
}
}  // namespace

UserCopyFileSystem::UserCopyFileSystem(std::shared_ptr<ConfigFileSystem> inner,
                                       std::filesystem::path defaults)
    : inner_(std::move(inner)), defaults_(std::move(defaults)) {}

const std::filesystem::path& UserCopyFileSystem::Source(const std::filesystem::path& path) const {
  return Missing(path) ? defaults_ : path;
}

bool UserCopyFileSystem::Stat(const std::filesystem::path& path, FileStamp& stamp, std::string& error) {
  return inner_->Stat(Source(path), stamp, error);
}

bool UserCopyFileSystem::ReadAll(const std::filesystem::path& path, std::string& bytes, std::string& error) {
  return inner_->ReadAll(Source(path), bytes, error);
}

bool UserCopyFileSystem::ReplaceFile(const std::filesystem::path& path, std::string_view bytes,
                                     std::string& error) {
  bool created = false;
  if (Missing(path)) {
    if (!MakeFolder(path.parent_path(), error)) return false;
    // An empty file for the save to replace, with the user's usual
    // permissions.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && errno != EEXIST) {
      error = "cannot create " + path.string() + ": " + ErrnoText(errno);
      return false;
    }
    if (fd >= 0) {
      ::close(fd);
      created = true;
    }
  }
  if (inner_->ReplaceFile(path, bytes, error)) return true;
  // An empty file left behind would hide the defaults from every later read.
  if (created) ::unlink(path.c_str());
  return false;
}

std::int64_t UserCopyFileSystem::NowNs() { return inner_->NowNs(); }

std::unique_ptr<FileLock> UserCopyFileSystem::Lock(const std::filesystem::path& path,
                                                   std::chrono::milliseconds wait, std::string& error) {
  if (!MakeFolder(path.parent_path(), error)) return nullptr;
  return inner_->Lock(path, wait, error);
}

}  // namespace hx
