// Where the running program lives: its configuration and parameter files lie
// next to it.
#pragma once

#include <filesystem>
#include <string>

namespace hx {

// The folder of the running executable (falls back to the current folder
// when it cannot be found).
std::filesystem::path ProgramFolder();

// The running executable's name without folder or extension ("hydrix").
std::string ProgramTitle();

// The user's configuration folder of the tool set: $XDG_CONFIG_HOME/hydrix,
// else ~/.config/hydrix (not created here).
std::filesystem::path UserConfigFolder();

}  // namespace hx
