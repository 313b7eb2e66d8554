#include "hydrix/config/catalogue_cli.h"

#include "common/paths.h"
#include "hydrix/config/config_file.h"

namespace hx {
namespace {

constexpr const char* kUsage =
    "usage: hydrixctl [--config PATH] message LANGUAGE CODE [DEFAULT]\n"
    "       hydrixctl [--config PATH] languages\n";

int ReportProblem(ConfigFile& file, std::ostream& err) {
  if (auto problem = file.TakeProblem()) {
    err << "hydrixctl: " << *problem << '\n';
    return 1;
  }
  return 0;
}

}  // namespace

std::filesystem::path DefaultConfigPath() { return ProgramFolder() / "config.xml"; }

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

int RunCatalogueCommand(const std::vector<std::string>& args, const std::filesystem::path& configPath,
                        std::ostream& out, std::ostream& err) {
  if (args.empty() || !IsCatalogueCommand(args[0])) {
    err << kUsage;
    return 2;
  }
  ConfigFile file(configPath);
  if (args[0] == "message") {
    if (args.size() < 3 || args.size() > 4) {
      err << kUsage;
      return 2;
    }
    std::string text = file.LitMessage(args[1], args[2], args.size() == 4 ? args[3] : std::string());
    out << text << '\n';
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
