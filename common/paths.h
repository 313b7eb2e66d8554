// Where the programs' files live, decided here for every program and for
// the stand-in libraries.
//
// Two layouts, told apart by what lies around the program:
// - build tree (portable): config.xml beside the program; the program's
//   folder holds the shipped files and the libraries, and config.xml there
//   is the one read and written;
// - installed: the shipped files, read-only, in ../share/hydrix beside the
//   program's folder, the libraries in the private library folder; what the
//   user or the programs change lives in the user's folders, and nothing is
//   written under the installation.
// Transient files (program-memory lists, run locks) go to a per-user
// runtime folder in both layouts. Everything is relative to the program's
// own location, so an unpacked package runs from any folder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace hx {

using GetEnv = std::function<const char*(const char*)>;

// The folder of the running executable (falls back to the current folder
// when it cannot be found).
std::filesystem::path ProgramFolder();

// The running executable's name without folder or extension ("hydrix").
std::string ProgramTitle();

// The layout of the programs in `programFolder`.
struct ProgramLayout {
  bool installed = false;
  std::filesystem::path shipped;    // the shipped files (config.xml, flashtool.INI, hxusb.conf)
  std::filesystem::path libraries;  // the stand-in libraries
};

// Installed when there is no config.xml in `programFolder` and the folder
// share/hydrix lies beside it; a build tree otherwise.
ProgramLayout LayoutOf(const std::filesystem::path& programFolder);
// The layout of the running program.
ProgramLayout Layout();

// The same rule seen from a stand-in library's folder: installed when the
// library lies in the installation's private library folder (the shipped
// files are then found relative to it). Empty when it is not installed.
std::filesystem::path InstalledShippedFolderOfLibrary(const std::filesystem::path& libraryFolder);

// The help's first page, index.html in the folder "help" of the shipped
// files: beside the program in a build tree, share/hydrix/help installed.
std::filesystem::path HelpIndex(const ProgramLayout& layout);

// The user's configuration folder of the tool set: $XDG_CONFIG_HOME/hydrix,
// else ~/.config/hydrix (not created here).
std::filesystem::path UserConfigFolder(const GetEnv& getenv = std::getenv);

// The user's state folder of the tool set: $XDG_STATE_HOME/hydrix, else
// ~/.local/state/hydrix (only absolute variables count; not created here).
// Empty when neither can be named.
std::filesystem::path UserStateFolder(const GetEnv& getenv = std::getenv);

// The folder for transient files: $XDG_RUNTIME_DIR/hydrix, else the user's
// state folder. Created with mode 0700 when missing. Empty, with the reason
// in `why`, when no such folder can be made. `getenv` reads the environment
// (tests pass their own).
std::filesystem::path TransientFolder(std::string* why = nullptr, const GetEnv& getenv = std::getenv);

// config.xml as the programs use it: in a build tree the file beside the
// program (no defaults); installed the user's copy, with the shipped file
// as its defaults (read until the first write, and consulted for codes the
// user's copy lacks).
struct ConfigLocation {
  std::filesystem::path file;
  std::filesystem::path defaults;  // empty in a build tree
};
ConfigLocation ConfigXmlLocation(const ProgramLayout& layout, const GetEnv& getenv = std::getenv);

// Where hxusb.conf is looked for, first found wins. Build tree: beside the
// library, then the user's configuration folder. Installed: the user's
// configuration folder, /etc/hydrix, then the shipped defaults.
std::vector<std::filesystem::path> UsbConfigSearchPath(const std::filesystem::path& libraryFolder,
                                                       const GetEnv& getenv = std::getenv);

// The folder a file dialog starts in when none is remembered: the user's
// home, else the current folder; never the program's folder.
std::filesystem::path StartFolder(const GetEnv& getenv = std::getenv);

}  // namespace hx
