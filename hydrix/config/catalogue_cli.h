// The catalogue commands of hydrixctl, for translators and scripts:
//   message LANGUAGE CODE [DEFAULT]  prints what the program's lookup gives
//                                    and completes the catalogue as it does
//   languages                        prints the language list, one name a
//                                    line, the one selected for "English"
//                                    prefixed by "* "
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "common/paths.h"

namespace hx {

// config.xml as the running program uses it (see hx::ConfigXmlLocation),
// and the file it reads and writes.
ConfigLocation DefaultConfigLocation();
std::filesystem::path DefaultConfigPath();

// True for the verbs RunCatalogueCommand handles ("message", "languages").
bool IsCatalogueCommand(const std::string& verb);

// Takes "--config PATH" (or "--config=PATH") out of `args`, wherever it
// stands, into `configPath`; leaves `configPath` as it is when absent. False
// with a reason in `error` when the option has no value.
bool TakeConfigOption(std::vector<std::string>& args, std::filesystem::path& configPath, std::string& error);

// Runs one catalogue command; `args` starts with the verb. Results go to
// `out`, problems with the file to `err`. Exit status: 0 done, 1 the file
// could not be read or saved (the text printed is then the built-in one),
// 2 bad arguments (with a usage text on `err`).
int RunCatalogueCommand(const std::vector<std::string>& args, const ConfigLocation& config, std::ostream& out,
                        std::ostream& err);

}  // namespace hx
