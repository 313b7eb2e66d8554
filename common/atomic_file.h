// Replacing a file's content as one step, for every file the programs write
// whole (config.xml, profiles, chart exports, list files, the USB port
// memory, the simulator's state): the new content goes to a temporary file
// created exclusively in the target's folder, is flushed to disk and renamed
// over the target, and the folder is flushed so that the rename lasts. A
// crash or a full disk never leaves a truncated file where a good one was,
// and no temporary file stays behind after a failure. A link is followed:
// the file it names is replaced and the link stays. Only a regular file with
// write permission (or no file at all) is ever replaced.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "common/safe_file.h"

namespace hx {

// The steps of a replacement, as a fault hook names them.
enum class ReplaceStep { CreateTemporary, Write, Sync, Rename };

struct ReplaceOptions {
  // The mode of a file made new (the umask applies); a replaced file keeps
  // its own mode and, when the superuser replaces it, its owner.
  unsigned newFileMode = 0644;
  // False: a missing target is refused (ENOENT) instead of created.
  bool mayCreate = true;
  // The temporary file's name in the target's folder; empty: a hidden name
  // of its own per process and save. A fixed name suits a folder that one
  // program holds under a lock: a file a crash left at that name is removed
  // first, anything else there makes the save fail.
  std::string temporaryName;
  // Asked before each step; a non-zero errno value makes that step fail with
  // it (a failed write takes half the bytes first, as a full disk would).
  // Tests use it to provoke each failure.
  std::function<int(ReplaceStep)> injectError;
};

// One replacement in progress, for content written piece by piece. Every
// failure removes the temporary file and is returned again by later calls;
// an object destroyed before Commit() removes it too.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&& other) noexcept;

  // Checks the target (CheckWriteTarget) and creates the temporary file.
  FileStatus Open(const std::filesystem::path& target, const ReplaceOptions& options = {});
  // Appends `bytes` to the temporary file.
  FileStatus Write(std::string_view bytes);
  // Flushes the temporary file to disk, closes it and renames it over the
  // target, then flushes the folder; the old content stays until the rename.
  FileStatus Commit();
  // Gives up: the temporary file is removed and the target left as it was.
  void Abort();

  bool IsOpen() const { return fd_ >= 0; }
  // The file a Commit replaces (a link resolved).
  const std::filesystem::path& Target() const { return target_; }

 private:
  FileStatus Fail(int error, const char* what);
  int Injected(ReplaceStep step) const;

  std::filesystem::path target_, temp_;
  std::function<int(ReplaceStep)> inject_;
  FileStatus status_;
  int fd_ = -1;
};

// Replaces the content of `target` with `bytes` as one step (Open, Write,
// Commit).
FileStatus AtomicReplace(const std::filesystem::path& target, std::string_view bytes,
                         const ReplaceOptions& options = {});

}  // namespace hx
