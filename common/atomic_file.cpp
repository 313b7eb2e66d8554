#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace hx {

namespace {

FileStatus Status(int error, const std::string& reason) {
  FileStatus s;
  s.reason = reason;
  s.error = error;
  s.missing = error == ENOENT;
  return s;
}

// Opens the temporary file exclusively. A fixed name may hold what a crash
// left behind: a file or a link there is removed and the name tried again;
// anything else (a folder, say) stays and the open fails.
int CreateExclusive(const std::filesystem::path& temp, bool fixedName, unsigned mode) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;
  int fd = ::open(temp.c_str(), flags, mode);
  struct stat st {};
  if (fd < 0 && errno == EEXIST && fixedName && ::lstat(temp.c_str(), &st) == 0 &&
      (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) && ::unlink(temp.c_str()) == 0) {
    fd = ::open(temp.c_str(), flags, mode);
  }
  return fd;
}

}  // namespace

AtomicFile::~AtomicFile() { Abort(); }

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::exchange(other.temp_, {})),
      inject_(std::move(other.inject_)),
      status_(std::move(other.status_)),
      fd_(std::exchange(other.fd_, -1)) {}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
  if (this != &other) {
    Abort();
    target_ = std::move(other.target_);
    temp_ = std::exchange(other.temp_, {});
    inject_ = std::move(other.inject_);
    status_ = std::move(other.status_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

int AtomicFile::Injected(ReplaceStep step) const { return inject_ ? inject_(step) : 0; }

FileStatus AtomicFile::Fail(int error, const char* what) {
  status_ = Status(error, std::string(what) + ": " + std::strerror(error));
  Abort();
  return status_;
}

void AtomicFile::Abort() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

FileStatus AtomicFile::Open(const std::filesystem::path& target, const ReplaceOptions& options) {
  Abort();
  status_ = {};
  inject_ = options.injectError;
  target_ = target;
  std::error_code ec;
  if (std::filesystem::is_symlink(target, ec)) {
    target_ = std::filesystem::canonical(target, ec);
    if (ec) return status_ = Status(ec.value(), ec.message());
  }
  // A device or a FIFO renamed away would be lost to the whole system.
  const FileStatus check = CheckWriteTarget(target_);
  if (!check.ok()) return status_ = check;
  if (check.missing && !options.mayCreate) return status_ = Status(ENOENT, std::strerror(ENOENT));
  struct stat old {};
  const bool replacing = !check.missing && ::stat(target_.c_str(), &old) == 0;

  static std::atomic<unsigned> counter{0};
  const std::filesystem::path folder = target_.parent_path();
  const bool fixedName = !options.temporaryName.empty();
  const std::filesystem::path temp =
      folder / (fixedName ? options.temporaryName
                          : "." + target_.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                                std::to_string(counter++));
  int err = Injected(ReplaceStep::CreateTemporary);
  const int fd = err ? -1 : CreateExclusive(temp, fixedName, replacing ? 0600 : options.newFileMode);
  if (fd < 0) return Fail(err ? err : errno, "cannot create a temporary file");
  fd_ = fd;
  temp_ = temp;
  if (replacing) {
    // The new file keeps the old one's permissions and, where allowed, owner.
    (void)::fchmod(fd_, old.st_mode & 07777);
    if (::geteuid() == 0) (void)::fchown(fd_, old.st_uid, old.st_gid);
  }
  return status_;
}

FileStatus AtomicFile::Write(std::string_view bytes) {
  if (!status_.ok()) return status_;
  if (fd_ < 0) return Status(EBADF, "no replacement is open");
  if (const int err = Injected(ReplaceStep::Write); err != 0) {
    (void)WriteAll(fd_, bytes.data(), bytes.size() / 2);  // half-way, as a full disk would
    return Fail(err, "cannot write the temporary file");
  }
  if (const int err = WriteAll(fd_, bytes.data(), bytes.size()); err != 0) {
    return Fail(err, "cannot write the temporary file");
  }
  return status_;
}

FileStatus AtomicFile::Commit() {
  if (!status_.ok()) return status_;
  if (fd_ < 0) return Status(EBADF, "no replacement is open");
  int err = Injected(ReplaceStep::Sync);
  if (err != 0 || ::fsync(fd_) != 0)
    return Fail(err ? err : errno, "cannot flush the temporary file to disk");
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) return Fail(errno, "cannot close the temporary file");
  err = Injected(ReplaceStep::Rename);
  if (err != 0 || ::rename(temp_.c_str(), target_.c_str()) != 0) {
    return Fail(err ? err : errno, "cannot put the new file in place");
  }
  temp_.clear();
  // The rename itself reaches the disk with its folder.
  const std::filesystem::path folder = target_.parent_path();
  if (const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return status_;
}

FileStatus AtomicReplace(const std::filesystem::path& target, std::string_view bytes,
                         const ReplaceOptions& options) {
  AtomicFile file;
  if (FileStatus s = file.Open(target, options); !s.ok()) return s;
  if (FileStatus s = file.Write(bytes); !s.ok()) return s;
  return file.Commit();
}

}  // namespace hx
