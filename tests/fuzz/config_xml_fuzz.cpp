// config.xml in memory: load, a few lookups, a self-completing addition and
// a setting written, then the saved file loaded again. A file that was not
// loaded is never written; a saved file loads and gives the same answers.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "hydrix/config/config_file.h"
#include "hydrix/config/config_file_system.h"

namespace {

class MemoryFileSystem : public hx::ConfigFileSystem {
 public:
  bool Stat(const std::filesystem::path& path, hx::FileStamp& stamp, std::string& error) override {
    const auto it = files.find(path);
    if (it == files.end()) {
      error = "No such file or directory";
      return false;
    }
    stamp = hx::FileStamp{it->second.size(), version, version, 1, 1};
    return true;
  }
  bool ReadAll(const std::filesystem::path& path, std::string& bytes, std::string& error) override {
    const auto it = files.find(path);
    if (it == files.end()) {
      error = "No such file or directory";
      return false;
    }
    bytes = it->second;
    return true;
  }
  bool ReplaceFile(const std::filesystem::path& path, std::string_view bytes, std::string&) override {
    files[path] = std::string(bytes);
    ++version;
    ++saves;
    return true;
  }
  std::int64_t NowNs() override { return 4'000'000'000'000'000'000; }

  std::map<std::filesystem::path, std::string> files;
  std::int64_t version = 1'000'000'000;
  int saves = 0;
};

const std::filesystem::path kPath = "/memory/config.xml";

std::string Trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto fs = std::make_shared<MemoryFileSystem>();
  fs->files[kPath] = std::string(reinterpret_cast<const char*>(data), size);

  hx::ConfigFile first(kPath, fs);
  const auto maintenance = first.LitConfiguration("Maintenance");
  const bool loaded = first.Loaded();
  const auto langue = first.LitConfiguration("Langue");
  const auto languages = first.RemplitListeLangues(langue.value_or("English"));
  const std::string language = languages.names.empty() ? "English" : languages.names.front();
  const auto known = first.FindMessage(language, "MnuConnect");
  bool languageFound = false;
  const std::string added = first.LitMessage(language, "FuzzAddedCode", "Fuzz text");
  const std::string addProblem = first.LastProblem();
  const auto addedFound = first.FindMessage(language, "FuzzAddedCode", &languageFound);
  // Added and found again, or not added (a language without an entry to copy) with a reason.
  if (addedFound ? *addedFound != added : languageFound && addProblem.empty()) std::abort();
  const bool langueWritten = first.EcritConfiguration("Langue", language);
  if (!loaded && fs->saves != 0) std::abort();  // a file not understood is never written
  // A setting is written where the file has it, unless the value cannot be
  // (a language name that is not valid UTF-8), and then with a reason.
  if (langueWritten ? !(langue && loaded) : langue && loaded && first.LastProblem().empty()) std::abort();
  if (!loaded) return 0;

  hx::ConfigFile second(kPath, fs);
  // Writing Langue changes Maintenance only where one holds the other (a
  // nested copy of the settings: its text is that of everything inside it).
  const bool nested = langueWritten && maintenance && langue && maintenance->find(*langue) != std::string::npos;
  if ((second.LitConfiguration("Maintenance") != maintenance && !nested) || !second.Loaded()) std::abort();
  const auto langueAfter = second.LitConfiguration("Langue");
  // Settings read back trimmed, as LitConfiguration gives them.
  if (langueAfter != (langueWritten ? std::optional<std::string>(Trimmed(language)) : langue)) std::abort();
  if (second.RemplitListeLangues(language).names != languages.names) std::abort();
  if (second.FindMessage(language, "MnuConnect") != known) std::abort();
  if (second.FindMessage(language, "FuzzAddedCode") != addedFound) std::abort();
  return 0;
}
