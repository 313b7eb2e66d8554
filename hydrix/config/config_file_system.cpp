#include "hydrix/config/config_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>
#include <utility>

#include "common/atomic_file.h"
#include "common/lock_file.h"
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

// The lock file goes with the lock, so that none is left beside the file.
class PosixFileLock : public FileLock {
 public:
  explicit PosixFileLock(LockFile lock) : lock_(std::move(lock)) {}

 private:
  LockFile lock_;
};

}  // namespace

std::unique_ptr<FileLock> PosixConfigFileSystem::Lock(const std::filesystem::path& path,
                                                      std::chrono::milliseconds wait, std::string& error) {
  std::filesystem::path target;
  if (!Target(path, target, error)) return nullptr;
  std::filesystem::path lockPath = target;
  lockPath += ".lock";
  LockOptions options;
  options.mode = 0600;
  options.removeOnRelease = true;
  LockFile lock;
  if (const FileStatus status = lock.Lock(lockPath, wait, options); !status.ok()) {
    error = status.error == EWOULDBLOCK ? "another program holds the lock " + lockPath.string()
                                        : lockPath.string() + ": " + status.reason;
    return nullptr;
  }
  return std::make_unique<PosixFileLock>(std::move(lock));
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
  // Only an existing regular file with write permission is replaced: a
  // device or a FIFO renamed away would be lost to the whole system.
  ReplaceOptions options;
  options.mayCreate = false;
  options.injectError = [this](ReplaceStep step) {
    switch (step) {
      case ReplaceStep::CreateTemporary:
        return InjectedError(SaveStep::CreateTemporary);
      case ReplaceStep::Write:
        return InjectedError(SaveStep::Write);
      case ReplaceStep::Sync:
        return InjectedError(SaveStep::Sync);
      case ReplaceStep::Rename:
        return InjectedError(SaveStep::Rename);
    }
    return 0;
  };
  const FileStatus status = AtomicReplace(path, bytes, options);
  if (!status.ok()) error = status.reason;
  return status.ok();
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
