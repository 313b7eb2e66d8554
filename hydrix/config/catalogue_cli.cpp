#include "hydrix/config/catalogue_cli.h"

#include "common/paths.h"
#include "hydrix/config/config_file.h"

namespace hx {
namespace {

constexpr const char* kUsage =
    "usage: hydrixctl [--config PATH] message LANGUAGE CODE\n"
    "       hydrixctl [--config PATH] message --add LANGUAGE CODE [TEXT]\n"
    "       hydrixctl [--config PATH] languages\n";

std::string Names(const LanguageList& list) {
  std::string names;
  for (const auto& n : list.names) names += (names.empty() ? "" : ", ") + n;
  return names.empty() ? "none" : names;
}

int ReportProblem(ConfigFile& file, std::ostream& err) {
  if (auto problem = file.TakeProblem()) {
    err << "hydrixctl: " << *problem << '\n';
    return 1;
  }
  return 0;
}

}  // namespace

ConfigLocation DefaultConfigLocation() { return ConfigXmlLocation(Layout()); }

std::filesystem::path DefaultConfigPath() { return DefaultConfigLocation().file; }

bool IsCatalogueCommand(const std::string& verb) { return verb == "message" || verb == "languages"; }

bool TakeConfigOption(std::vector<std::string>& args, std::filesystem::path& configPath, std::string& error) {
  for (std::size_t k = 0; k < args.size(); ++k) {
    if (args[k] == "--config") {
      if (k + 1 >= args.size()) {
        error = "--config needs a file path";
        return false;
      }
      configPath = args[k + 1];
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(k),
                 args.begin() + static_cast<std::ptrdiff_t>(k + 2));
      return true;
    }
    if (args[k].rfind("--config=", 0) == 0) {
      if (args[k].size() == 9) {
        error = "--config needs a file path";
        return false;
      }
      configPath = args[k].substr(9);
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(k));
      return true;
    }
  }
  return true;
}

int RunCatalogueCommand(const std::vector<std::string>& args, const ConfigLocation& config, std::ostream& out,
                        std::ostream& err) {
  if (args.empty() || !IsCatalogueCommand(args[0])) {
    err << kUsage;
    return 2;
  }
  ConfigFile file(config);
  if (args[0] == "message") {
    // A query never writes; only --add completes the catalogue, as the
    // window's own lookups do.
    const bool add = args.size() > 1 && args[1] == "--add";
    const std::size_t first = add ? 2 : 1;
    if (args.size() < first + 2 || args.size() > first + (add ? 3 : 2)) {
      err << kUsage;
      return 2;
    }
    const std::string& language = args[first];
    const std::string& code = args[first + 1];
    bool languageFound = false;
    const auto found = file.FindMessage(language, code, &languageFound);
    if (!file.Loaded()) {
      ReportProblem(file, err);
      return 1;
    }
    if (!languageFound) {
      err << "hydrixctl: the catalogue has no language '" << language
          << "'; its languages are: " << Names(file.RemplitListeLangues("English")) << '\n';
      return 2;
    }
    if (found) {
      out << *found << '\n';
      return 0;
    }
    if (!add) {
      err << "hydrixctl: " << language << " has no text for '" << code
          << "' (hydrixctl message --add LANGUAGE CODE [TEXT] adds one)\n";
      return 1;
    }
    out << file.LitMessage(language, code, args.size() == first + 3 ? args[first + 2] : std::string())
        << '\n';
    return ReportProblem(file, err);
  }
  if (args.size() != 1) {
    err << kUsage;
    return 2;
  }
  LanguageList list = file.RemplitListeLangues("English");
  for (std::size_t k = 0; k < list.names.size(); ++k) {
    out << (static_cast<int>(k) == list.selected ? "* " : "") << list.names[k] << '\n';
  }
  return ReportProblem(file, err);
}

}  // namespace hx
