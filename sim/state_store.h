// Saving and loading small binary files whole: a save writes a temporary
// file next to the target, flushes it to disk and renames it over, so a
// crash never leaves a truncated file where a good one was. And the lock
// files that keep two daemons off one socket or one state folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace hx::sim {

std::optional<std::vector<std::uint8_t>> LoadFile(const std::filesystem::path& path);
bool SaveFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                        std::string& error);

// An exclusive lock on a lock file, held while the object lives. The file is
// removed when the lock goes, so none is left behind; a program that opened
// it just before finds the name leads elsewhere once it has the lock, and
// starts again.
class LockFile {
 public:
  LockFile() = default;
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Takes the lock without waiting. False with a reason; `busy` tells that
  // another process holds it (rather than the file not being usable).
  bool TryLock(const std::filesystem::path& path, bool& busy, std::string& error);
  void Unlock();
  bool Held() const { return fd_ >= 0; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

// Checks, before a daemon starts, that nothing but a folder stands where the
// state folder of each controller goes and nothing but a regular file where
// its state files go (a link, a FIFO or a folder there is refused, never
// replaced). False with a message naming the path.
bool CheckStatePaths(const std::filesystem::path& folder, const std::vector<std::int32_t>& ids,
                     std::string& error);

// Locks a state folder for one daemon (creating it when missing) and checks
// that a file can be written and flushed there. False with a message naming
// the folder.
bool LockStateFolder(const std::filesystem::path& folder, LockFile& lock, std::string& error);

}  // namespace hx::sim
