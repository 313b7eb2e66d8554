// Where the programs' files live. The configuration and parameter files lie
// next to the program; transient files (program-memory lists, run locks) in
// a per-user runtime folder, in a build tree as well as installed.
#pragma once

#include <filesystem>
#include <functional>
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

// The folder for transient files: $XDG_RUNTIME_DIR/hydrix, else
// $XDG_STATE_HOME/hydrix, else ~/.local/state/hydrix (only absolute
// variables count). Created with mode 0700 when missing. Empty, with the
// reason in `why`, when no such folder can be made. `getenv` reads the
// environment (tests pass their own).
std::filesystem::path TransientFolder(std::string* why = nullptr,
                                      const std::function<const char*(const char*)>& getenv = std::getenv);

}  // namespace hx
