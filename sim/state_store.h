// Saving and loading small binary files whole: a save writes a temporary
// file next to the target and renames it over, so a crash never leaves a
// truncated file where a good one was.
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

}  // namespace hx::sim
