// Saving and loading small binary files whole: a save replaces the file as
// one step, so a crash never leaves a truncated file where a good one was.
// And the lock that keeps two daemons off one state folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/lock_file.h"

namespace hx::sim {

std::optional<std::vector<std::uint8_t>> LoadFile(const std::filesystem::path& path);
bool SaveFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                        std::string& error);

// Checks, before a daemon starts, that nothing but a folder stands where the
// state folder of each controller goes and nothing but a regular file where
// its state files go (a link, a FIFO or a folder there is refused, never
// replaced). False with a message naming the path.
bool CheckStatePaths(const std::filesystem::path& folder, const std::vector<std::int32_t>& ids,
                     std::string& error);

// Locks a state folder for one daemon (creating it when missing; the lock
// file holds the daemon's process id and goes with the lock) and checks that
// a file can be written and flushed there. False with a message naming the
// folder.
bool LockStateFolder(const std::filesystem::path& folder, LockFile& lock, std::string& error);

}  // namespace hx::sim
