// Opening the files the programs read and append to, safely: only regular
// files (a link to one is followed) are ever opened, without blocking on a
// FIFO or a device; reads stop at a byte limit; a file whose mode has no
// write permission is never written, also when the program runs as root.
// Every reader and appender of the tool set goes through these calls, so
// every refusal reads the same.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>

namespace hx {

// How much a configuration read takes at most: hxusb.conf, the USB port
// memory, settings profiles and flashtool's parameter file.
inline constexpr std::size_t kSmallFileLimit = std::size_t{1} << 20;
// config.xml, which holds the message catalogue.
inline constexpr std::size_t kCatalogueFileLimit = std::size_t{16} << 20;

// The outcome of one file operation. `reason` says what went wrong without
// naming the file (callers put it in their own message, which does), for
// instance "it is a FIFO, not a regular file" or "it is larger than 1 MiB";
// empty when all went well.
struct FileStatus {
  std::string reason;
  int error = 0;         // the errno value when a system call failed
  bool missing = false;  // the file does not exist
  bool ok() const { return reason.empty(); }
};

// "1 MiB", "16 MiB", "512 bytes": a limit as messages show it.
std::string SizeText(std::size_t bytes);

// Reads the whole of a regular file into `bytes`, refusing any other kind of
// file before opening it and a file larger than `limit`. `bytes` is left
// empty on failure.
FileStatus ReadRegularFile(const std::filesystem::path& path, std::size_t limit, std::string& bytes);

// Opens a regular file for reading (streamed by the caller, who closes
// `fd`); -1 and the reason otherwise.
FileStatus OpenRegularForRead(const std::filesystem::path& path, int& fd);

// Whether a file may be written or replaced at `path`: it does not exist, or
// it is a regular file with write permission in its mode (checked by hand,
// so that the superuser is refused a read-only file as everybody else).
// Nothing is opened.
FileStatus CheckWriteTarget(const std::filesystem::path& path);

// Opens a regular file for appending, creating it (mode 0644) when missing,
// after CheckWriteTarget; the caller closes `fd`. -1 and the reason
// otherwise.
FileStatus OpenForAppend(const std::filesystem::path& path, int& fd);

// Takes an exclusive flock on `fd`, waiting at most `wait` for another
// holder. False with the reason (errno text, or "another program holds it")
// otherwise. The lock goes with the descriptor.
bool LockExclusive(int fd, std::chrono::milliseconds wait, std::string& reason);
// The same, as a status whose `error` is EWOULDBLOCK when another holder
// kept the lock for the whole wait.
FileStatus LockExclusive(int fd, std::chrono::milliseconds wait);

// Writes all of `bytes` at the descriptor's position (or end, for an append
// descriptor), going on after interruptions. 0, or the errno value of the
// failure (ENOSPC for a write that took nothing).
int WriteAll(int fd, const char* bytes, std::size_t size);

}  // namespace hx
