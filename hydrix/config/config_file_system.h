// The few file operations the configuration file needs, behind a small
// interface so that tests can make any step of a save fail.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace hx {

// What identifies one version of a file on disk without reading it.
struct FileStamp {
  std::uintmax_t size = 0;
  std::int64_t modifiedNs = 0;  // last modification, nanoseconds since 1970
  std::int64_t changedNs = 0;   // last status change, nanoseconds since 1970
  std::uint64_t inode = 0;
  std::uint64_t device = 0;
  bool operator==(const FileStamp&) const = default;
};

// A lock held for as long as the object lives.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

class ConfigFileSystem {
 public:
  virtual ~ConfigFileSystem() = default;
  // The stamp of a regular file; false with a reason when it cannot be examined.
  virtual bool Stat(const std::filesystem::path& path, FileStamp& stamp, std::string& error) = 0;
  // The whole content of a file; false with a reason when it cannot be read.
  virtual bool ReadAll(const std::filesystem::path& path, std::string& bytes, std::string& error) = 0;
  // Replaces the content of an existing file as one step: the bytes go to a
  // temporary file in the same folder, which is flushed to disk and renamed
  // over the file. On failure the file is left as it was, the temporary file
  // is removed, and `error` gives the reason. A file without write permission
  // is not replaced.
  virtual bool ReplaceFile(const std::filesystem::path& path, std::string_view bytes, std::string& error) = 0;
  // The current time of the clock that stamps files, nanoseconds since 1970.
  virtual std::int64_t NowNs() = 0;
  // An exclusive lock that every program saving `path` takes first (a lock
  // file beside it: the file's name followed by ".lock"), waiting at most
  // `wait` for another holder. Null, with a reason, when it cannot be had.
  // By default a file system no other program shares needs none.
  virtual std::unique_ptr<FileLock> Lock(const std::filesystem::path& path, std::chrono::milliseconds wait,
                                         std::string& error) {
    (void)path, (void)wait, (void)error;
    return std::make_unique<FileLock>();
  }
};

// The real file system (POSIX).
class PosixConfigFileSystem : public ConfigFileSystem {
 public:
  bool Stat(const std::filesystem::path& path, FileStamp& stamp, std::string& error) override;
  bool ReadAll(const std::filesystem::path& path, std::string& bytes, std::string& error) override;
  bool ReplaceFile(const std::filesystem::path& path, std::string_view bytes, std::string& error) override;
  std::int64_t NowNs() override;
  std::unique_ptr<FileLock> Lock(const std::filesystem::path& path, std::chrono::milliseconds wait,
                                 std::string& error) override;

  enum class SaveStep { CreateTemporary, Write, Sync, Rename };

 protected:
  // Called before each step of ReplaceFile; a non-zero errno value makes
  // that step fail with it. Tests override it to provoke each failure.
  virtual int InjectedError(SaveStep) { return 0; }
};

}  // namespace hx

namespace hx {

// The user's copy of a shipped file: reads the shipped `defaults` for as
// long as the user's file does not exist, and creates the user's file (and
// its folder) on the first save. A save that fails leaves no user's file
// behind, so the defaults are read again. Every other call goes to `inner`.
class UserCopyFileSystem : public ConfigFileSystem {
 public:
  UserCopyFileSystem(std::shared_ptr<ConfigFileSystem> inner, std::filesystem::path defaults);
  bool Stat(const std::filesystem::path& path, FileStamp& stamp, std::string& error) override;
  bool ReadAll(const std::filesystem::path& path, std::string& bytes, std::string& error) override;
  bool ReplaceFile(const std::filesystem::path& path, std::string_view bytes, std::string& error) override;
  std::int64_t NowNs() override;
  std::unique_ptr<FileLock> Lock(const std::filesystem::path& path, std::chrono::milliseconds wait,
                                 std::string& error) override;

 private:
  // The file to read: the user's file when it exists, else the defaults.
  const std::filesystem::path& Source(const std::filesystem::path& path) const;
  std::shared_ptr<ConfigFileSystem> inner_;
  std::filesystem::path defaults_;
};

}  // namespace hx
