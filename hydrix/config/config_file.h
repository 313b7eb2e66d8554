// config.xml: the two settings ("Maintenance", "Langue") and the
// self-completing message catalogue, next to the program.
//
// Every operation sees the file as it is on disk at that moment: a hand edit
// takes effect at the next call, and an entry that a lookup adds is on disk
// before the call returns. The parsed document is kept between calls and
// read again only when the file on disk is not the one parsed.
//
// Failures never throw. A missing, unreadable or malformed file gives the
// built-in behaviour (lookups return their default text or their code,
// settings read as absent, the language list is empty) and is never written.
// A save that fails leaves the file as it was. Either way the reason is kept
// as one message for the operator (LastProblem, TakeProblem).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/paths.h"
#include "hydrix/config/config_file_system.h"
#include "hydrix/config/message_source.h"

namespace hx {

// The language list of the main window, as data: the names in catalogue
// order and the index of the one to select (-1: none).
struct LanguageList {
  std::vector<std::string> names;
  int selected = -1;
};

class ConfigFile : public MessageSource {
 public:
  // `fileSystem` defaults to the real one.
  explicit ConfigFile(std::filesystem::path path, std::shared_ptr<ConfigFileSystem> fileSystem = nullptr);
  // With shipped defaults (location.defaults not empty): the user's file is
  // read from the defaults until its first save creates it, and a code the
  // user's file lacks is taken from the defaults, when they have it, before
  // the catalogue completes itself.
  explicit ConfigFile(const ConfigLocation& location, std::shared_ptr<ConfigFileSystem> fileSystem = nullptr);
  ~ConfigFile() override;
  ConfigFile(const ConfigFile&) = delete;
  ConfigFile& operator=(const ConfigFile&) = delete;

  const std::filesystem::path& Path() const;

  // The text of `code` in `language`. Language names match without regard to
  // case; codes match after trimming white space at both ends, without regard to
  // case. A code the language lacks is added to the file as a copy of the
  // language's first entry holding `defaultText` (or the code when it is
  // empty; or the text of the shipped defaults), and that text is returned.
  // A language the catalogue lacks gives the defaults' text, else the code
  // itself.
  std::string LitMessage(const std::string& language, const std::string& code,
                         const std::string& defaultText) override;

  // The text of `code` in `language` as LitMessage finds it, without adding
  // anything: nothing when the language or the code is missing (or the file
  // cannot be read). LanguageFound tells which.
  std::optional<std::string> FindMessage(const std::string& language, const std::string& code,
                                         bool* languageFound = nullptr);

  // The text (trimmed) of the first element `name` (case included) under a
  // `Configuration` element; nothing when there is no such element.
  std::optional<std::string> LitConfiguration(const std::string& name);

  // Replaces the content of that element with `value` and saves the file.
  // An absent element is not created and the file is not touched. True when
  // the file holds the value afterwards.
  bool EcritConfiguration(const std::string& name, const std::string& value);

  // The catalogue's language names in order; the selected one is the last
  // whose name equals `language` exactly, case included.
  LanguageList RemplitListeLangues(const std::string& language);

  // True when the file was read and parsed at the last call.
  bool Loaded() const;
  // The reason of the last failure, empty when the last call went well.
  const std::string& LastProblem() const;
  // A failure the operator has not been told of yet: each one is given once,
  // however many calls run into it.
  std::optional<std::string> TakeProblem();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A setting as a boolean: "True"/"False" without regard to case, or a number
// (any value but 0 is true). Absent, empty or other texts are false.
bool ConfigurationBoolean(const std::optional<std::string>& value);

// Language names and codes as the catalogue compares them.
bool LanguageNamesEqual(std::string_view a, std::string_view b);
bool CodesEqual(std::string_view a, std::string_view b);

}  // namespace hx
