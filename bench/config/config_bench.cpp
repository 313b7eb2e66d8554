// Catalogue lookups: the kept document against parsing the file at every
// lookup, in a 400-entry, 3-language catalogue.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "hydrix/config/config_file.h"

namespace {

constexpr int kEntries = 400;
constexpr int kApplication = 75;  // lookups in one application of a language

std::string Code(int k) { return "Control" + std::to_string(k); }

// A catalogue file in a fresh folder. Unless `young`, its last change is
// left more than two seconds behind (as an installed file's is), so that its
// stamp is trusted; a young file has its content compared at each lookup.
std::filesystem::path MakeCatalogue(bool young) {
  std::string pattern = (std::filesystem::temp_directory_path() / "hx-bench-XXXXXX").string();
  std::filesystem::path folder = ::mkdtemp(pattern.data());
  std::filesystem::path path = folder / "config.xml";
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration>\n  <Maintenance>False</Maintenance>\n"
         "  <Langue>English</Langue>\n  <MESSAGES>\n";
  for (const char* language : {"Deutsch",
                               "Fran\xC3\xA7"
                               "ais",
                               "English"}) {
    out << "    <Langage NOM=\"" << language << "\">\n";
    for (int k = 0; k < kEntries; ++k) {
      out << "      <Entree><Code>" << Code(k) << "</Code><Texte>" << language << " text of caption " << k
          << " (\xC2\xB0"
             "C)</Texte></Entree>\n";
    }
    out << "    </Langage>\n";
  }
  out << "  </MESSAGES>\n</Configuration>\n";
  out.close();
  if (!young) std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  return path;
}

void Remove(const std::filesystem::path& path) { std::filesystem::remove_all(path.parent_path()); }

// The lookup as designed: load the whole file, walk it, compare each code.
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
std::string Trim(std::string s) {
  s.erase(0, s.find_first_not_of(" \t\r\n"));
  s.erase(s.find_last_not_of(" \t\r\n") + 1);
  return s;
}
std::string ParseEveryTime(const std::filesystem::path& path, const std::string& language,
                           const std::string& code) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::string text = bytes.str();
  pugi::xml_document doc;
  if (!doc.load_buffer(text.data(), text.size())) return code;
  std::string wantLanguage = Lower(language), wantCode = Lower(Trim(code));
  for (pugi::xml_node messages : doc.document_element().children()) {
    if (Lower(messages.name()) != "messages") continue;
    for (pugi::xml_node lang : messages.children()) {
      for (pugi::xml_attribute a : lang.attributes()) {
        if (Lower(a.name()) != "nom" || Lower(a.value()) != wantLanguage) continue;
        for (pugi::xml_node entry : lang.children()) {
          if (Lower(Trim(entry.first_child().child_value())) == wantCode) {
            return Trim(entry.first_child().next_sibling().child_value());
          }
        }
      }
    }
  }
  return code;
}

// Codes spread over the catalogue, so the walk's average cost is measured.
std::string Pick(std::size_t k) { return Code(static_cast<int>((k * 37) % kEntries)); }

void BM_LookupKept(benchmark::State& state) {
  auto path = MakeCatalogue(false);
  hx::ConfigFile file(path);
  std::size_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(file.LitMessage("English", Pick(k++), ""));
  if (!file.LastProblem().empty()) state.SkipWithError(file.LastProblem().c_str());
  Remove(path);
}
BENCHMARK(BM_LookupKept);

// The same while the file's stamp is too young to trust: content compared.
void BM_LookupKeptYoungFile(benchmark::State& state) {
  auto path = MakeCatalogue(true);
  hx::ConfigFile file(path);
  std::size_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(file.LitMessage("English", Pick(k++), ""));
  Remove(path);
}
BENCHMARK(BM_LookupKeptYoungFile)->MinTime(0.5);

void BM_LookupParseEveryTime(benchmark::State& state) {
  auto path = MakeCatalogue(false);
  std::size_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(ParseEveryTime(path, "English", Pick(k++)));
  Remove(path);
}
BENCHMARK(BM_LookupParseEveryTime);

void BM_LanguageApplicationKept(benchmark::State& state) {
  auto path = MakeCatalogue(false);
  hx::ConfigFile file(path);
  for (auto _ : state) {
    for (int k = 0; k < kApplication; ++k)
      benchmark::DoNotOptimize(
          file.LitMessage("Fran\xC3\xA7"
                          "ais",
                          Pick(k), ""));
  }
  Remove(path);
}
BENCHMARK(BM_LanguageApplicationKept)->Unit(benchmark::kMicrosecond);

void BM_LanguageApplicationParseEveryTime(benchmark::State& state) {
  auto path = MakeCatalogue(false);
  for (auto _ : state) {
    for (int k = 0; k < kApplication; ++k) {
      benchmark::DoNotOptimize(ParseEveryTime(path,
                                              "Fran\xC3\xA7"
                                              "ais",
                                              Pick(k)));
    }
  }
  Remove(path);
}
BENCHMARK(BM_LanguageApplicationParseEveryTime)->Unit(benchmark::kMicrosecond);

}  // namespace
