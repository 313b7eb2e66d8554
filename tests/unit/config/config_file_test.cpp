#include "hydrix/config/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>

#include "config_test_util.h"
#include "hydrix/config/catalogue_codes.h"

namespace hx {
namespace {

using test::FolderNames;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

// A small catalogue in the layout the program ships, with settings.
std::string Catalogue(const std::string& languages, const std::string& settings = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration>\n" + settings + "  <MESSAGES>\n" +
         languages + "  </MESSAGES>\n</Configuration>\n";
}

std::string Language(const std::string& name, const std::string& entries) {
  return "    <Langue NOM=\"" + name + "\">\n" + entries + "    </Langue>\n";
}

std::string Entry(const std::string& code, const std::string& text) {
  return "      <M><C>" + code + "</C><T>" + text + "</T></M>\n";
}

class ConfigFileTest : public ::testing::Test {
 protected:
  std::filesystem::path Write(const std::string& bytes) {
    WriteBytes(path_, bytes);
    return path_;
  }
  std::string OnDisk() const { return ReadBytes(path_); }
  std::filesystem::file_time_type Stamp() const { return std::filesystem::last_write_time(path_); }

  TempFolder folder_;
  std::filesystem::path path_ = folder_ / "config.xml";
};

// ---- Settings --------------------------------------------------------------

struct MaintenanceCase {
  const char* name;
  std::string settings;
  bool shown;
};

class MaintenanceSetting : public ConfigFileTest, public ::testing::WithParamInterface<MaintenanceCase> {};

TEST_P(MaintenanceSetting, ReadsAsABoolean) {
  Write(Catalogue(Language("English", Entry("Lire", "Read")), GetParam().settings));
  ConfigFile file(path_);
  EXPECT_EQ(ConfigurationBoolean(file.LitConfiguration("Maintenance")), GetParam().shown);
  EXPECT_EQ(file.LastProblem(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MaintenanceSetting,
    ::testing::Values(MaintenanceCase{"True", "<Maintenance>True</Maintenance>", true},
                      MaintenanceCase{"true", "<Maintenance>true</Maintenance>", true},
                      MaintenanceCase{"TRUE_with_blanks", "<Maintenance>\n  TRUE \n</Maintenance>", true},
                      MaintenanceCase{"one", "<Maintenance>1</Maintenance>", true},
                      MaintenanceCase{"minus_one", "<Maintenance>-1</Maintenance>", true},
                      MaintenanceCase{"False", "<Maintenance>False</Maintenance>", false},
                      MaintenanceCase{"zero", "<Maintenance>0</Maintenance>", false},
                      MaintenanceCase{"other_text", "<Maintenance>yes</Maintenance>", false},
                      MaintenanceCase{"empty", "<Maintenance/>", false},
                      MaintenanceCase{"missing", "", false},
                      MaintenanceCase{"lower_case_element", "<maintenance>True</maintenance>", false}),
    [](const auto& info) { return info.param.name; });

TEST_F(ConfigFileTest, ReadsASettingUnderAnyConfigurationElement) {
  Write("<Root><Configuration><Maintenance>1</Maintenance></Configuration></Root>");
  ConfigFile file(path_);
  EXPECT_EQ(file.LitConfiguration("Maintenance"), "1");
  EXPECT_EQ(file.LitConfiguration("Langue"), std::nullopt);
}

TEST_F(ConfigFileTest, WritesASettingAndChangesNothingElse) {
  std::string before = Catalogue(Language("English", Entry("Lire", "Read")),
                                 "  <!-- chosen language -->\n  <Langue>English</Langue>\n");
  Write(before);
  ConfigFile file(path_);
  EXPECT_TRUE(file.EcritConfiguration("Langue",
                                      "Fran\xC3\xA7"
                                      "ais & <co>"));
  std::string expected = before;
  expected.replace(expected.find("English</Langue>"), 7,
                   "Fran\xC3\xA7"
                   "ais &amp; &lt;co&gt;");
  EXPECT_EQ(OnDisk(), expected);
  EXPECT_EQ(file.LitConfiguration("Langue"),
            "Fran\xC3\xA7"
            "ais & <co>");
}

TEST_F(ConfigFileTest, WritesIntoAnEmptySettingElement) {
  Write("<Configuration>\n  <Langue attr='x' />\n</Configuration>\n");
  ConfigFile file(path_);
  EXPECT_TRUE(file.EcritConfiguration("Langue", "Deutsch"));
  EXPECT_EQ(OnDisk(), "<Configuration>\n  <Langue attr='x'>Deutsch</Langue>\n</Configuration>\n");
}

TEST_F(ConfigFileTest, NeitherCreatesAMissingSettingNorRewritesTheFile) {
  std::string before = Catalogue(Language("English", Entry("Lire", "Read")));
  Write(before);
  auto stamp = Stamp() - std::chrono::hours(1);
  std::filesystem::last_write_time(path_, stamp);
  ConfigFile file(path_);
  EXPECT_FALSE(file.EcritConfiguration("Langue", "Deutsch"));
  EXPECT_FALSE(file.EcritConfiguration("langue", "Deutsch"));
  EXPECT_EQ(OnDisk(), before);
  EXPECT_EQ(Stamp(), stamp);
  EXPECT_EQ(file.LastProblem(), "");
}

TEST_F(ConfigFileTest, WritingTheSameValueAgainLeavesTheFileAlone) {
  Write(Catalogue(Language("English", Entry("Lire", "Read")), "  <Langue>English</Langue>\n"));
  auto stamp = Stamp() - std::chrono::hours(1);
  std::filesystem::last_write_time(path_, stamp);
  ConfigFile file(path_);
  EXPECT_TRUE(file.EcritConfiguration("Langue", "English"));
  EXPECT_EQ(Stamp(), stamp);
}

// ---- Lookups: case and blank rules ---------------------------------------------

struct LookupCase {
  const char* name;
  std::string file;
  std::string language, code, defaultText;
  std::string expected;
  bool fileChanges;
};

class Lookup : public ConfigFileTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(Lookup, FindsTheEntryOrAddsIt) {
  const LookupCase& c = GetParam();
  Write(c.file);
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage(c.language, c.code, c.defaultText), c.expected);
  EXPECT_EQ(OnDisk() != c.file, c.fileChanges);
  EXPECT_EQ(file.LastProblem(), "");
  // Whatever was added answers the same lookup next time without a change.
  std::string after = OnDisk();
  EXPECT_EQ(ConfigFile(path_).LitMessage(c.language, c.code, "other"), c.expected);
  EXPECT_EQ(OnDisk(), after);
}

const std::string kEnglish = Catalogue(
    Language("English", Entry("lire", "Lire les valeurs") + Entry("Value Must be between", "Between") +
                            Entry(" and ", "and") + Entry("Sortir", "Exit") + Entry("SORTIR", "Second")));

INSTANTIATE_TEST_SUITE_P(
    Rules, Lookup,
    ::testing::Values(
        LookupCase{"code_without_case", kEnglish, "English", "Lire", "Read", "Lire les valeurs", false},
        LookupCase{"language_without_case", kEnglish, "ENGLISH", "Lire", "Read", "Lire les valeurs", false},
        LookupCase{"code_trimmed", kEnglish, "English", "Value Must be between ", "", "Between", false},
        LookupCase{"stored_blanks", kEnglish, "English", " and ", "", "and", false},
        LookupCase{"first_entry_wins", kEnglish, "English", "sortir", "", "Exit", false},
        // Stored codes are read without surrounding white space, so a requested
        // code is trimmed the same way, or it would be added again at every lookup.
        LookupCase{"tab_trimmed_like_stored_codes", kEnglish, "English", "\tLire\n", "", "Lire les valeurs",
                   false},
        LookupCase{"inner_blanks_count", kEnglish, "English", "Value  Must be between", "",
                   "Value  Must be between", true},
        LookupCase{"language_not_trimmed", kEnglish, "English ", "Lire", "Read", "Lire", false},
        LookupCase{"missing_language_gives_code", kEnglish, "Deutsch", "Lire", "Read", "Lire", false},
        LookupCase{"added_with_default", kEnglish, "English", "Ecrire", "Write", "Write", true},
        LookupCase{"added_with_code", kEnglish, "English", "Time Set", "", "Time Set", true},
        LookupCase{"messages_any_case",
                   "<Configuration><Messages><L Nom='English'><M><C>Lire</C><T>Read</T></M></L></Messages>"
                   "</Configuration>",
                   "english", "LIRE", "", "Read", false}),
    [](const auto& info) { return info.param.name; });

TEST_F(ConfigFileTest, AddsACopyOfTheFirstEntryAfterTheLastOne) {
  std::string before =
      "<?xml version=\"1.0\"?>\r\n<!-- hand-kept -->\r\n<Configuration>\r\n  <MESSAGES>\r\n"
      "    <Lang NOM='English' note=\"a &amp; b\">\r\n"
      "      <Entry kind='caption'><Code>Lire</Code><Text>Read&#32;it</Text></Entry>\r\n"
      "      <Entry><Code>Temp</Code><Text>Temperature (&#176;C)</Text><Extra/></Entry>\r\n"
      "    </Lang>\r\n  </MESSAGES>\r\n</Configuration>\r\n";
  Write(before);
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", " and ", "x < y & z"), "x < y & z");
  std::string expected = before;
  std::string anchor = "<Extra/></Entry>";
  expected.insert(
      expected.find(anchor) + anchor.size(),
      "\r\n      <Entry kind=\"caption\"><Code> and </Code><Text>x &lt; y &amp; z</Text></Entry>");
  EXPECT_EQ(OnDisk(), expected);
  // The entry reads back, its code found without its blanks.
  EXPECT_EQ(ConfigFile(path_).LitMessage("English", "AND", ""), "x < y & z");
  EXPECT_EQ(ConfigFile(path_).LitMessage("English", "temp", ""),
            "Temperature (\xC2\xB0"
            "C)");
}

TEST_F(ConfigFileTest, LanguageListIsTheNamesWithTheExactOneSelected) {
  Write(
      "<Configuration><MESSAGES>"
      "<A NOM='english'><M><C>x</C><T>y</T></M></A>"
      "<B Nom='English'><M><C>x</C><T>y</T></M></B>"
      "<C NOM='Deutsch' nom='English'><M><C>x</C><T>y</T></M></C>"
      "<D NAME='Other'><M><C>x</C><T>y</T></M></D>"
      "</MESSAGES><messages><E NOM='Fran\xC3\xA7"
      "ais'><M><C>x</C><T>y</T></M></E></messages></Configuration>");
  ConfigFile file(path_);
  LanguageList list = file.RemplitListeLangues("English");
  EXPECT_EQ(list.names, (std::vector<std::string>{"english", "English", "Deutsch", "English",
                                                  "Fran\xC3\xA7"
                                                  "ais"}));
  EXPECT_EQ(list.selected, 3);  // the last exact match
  EXPECT_EQ(file.RemplitListeLangues("ENGLISH").selected, -1);
  EXPECT_EQ(file.RemplitListeLangues("Fran\xC3\xA7"
                                     "ais")
                .selected,
            4);
}

TEST_F(ConfigFileTest, CatalogueWithoutEnglish) {
  std::string before = Catalogue(Language("Deutsch", Entry("Lire", "Lesen")));
  Write(before);
  ConfigFile file(path_);
  LanguageList list = file.RemplitListeLangues("English");
  EXPECT_EQ(list.names, std::vector<std::string>{"Deutsch"});
  EXPECT_EQ(list.selected, -1);
  EXPECT_EQ(file.LitMessage("English", "Lire", "Read Parameters"), "Lire");
  EXPECT_EQ(file.LitMessage("English", "Missing Hydrix", ""), "Missing Hydrix");
  EXPECT_EQ(file.LitMessage("",
                            "Temperature (\xC2\xB0"
                            "C)",
                            ""),
            "Temperature (\xC2\xB0"
            "C)");
  EXPECT_EQ(OnDisk(), before);
}

TEST_F(ConfigFileTest, LowerCaseEnglishIsFoundButNotSelected) {
  Write(Catalogue(Language("english", Entry("Lire", "Read it") + Entry("Missing Hydrix", "No controller"))));
  ConfigFile file(path_);
  EXPECT_EQ(file.RemplitListeLangues("English").selected, -1);
  EXPECT_EQ(file.LitMessage("English", "Lire", "Read Parameters"), "Read it");
  EXPECT_EQ(file.LitMessage("English", "Missing Hydrix", ""), "No controller");
  // The fixed captions are looked up in the empty list text: no language.
  EXPECT_EQ(file.LitMessage("", "Relay", ""), "Relay");
}

// The whole application of a language at start, as the main window does it.
std::vector<std::string> ApplyEnglish(ConfigFile& file) {
  std::vector<std::string> shown;
  for (const ControlCaption& c : MainScreenCaptions())
    shown.push_back(file.LitMessage("English", c.control, c.caption));
  for (const FixedCaption& c : FixedCaptions()) shown.push_back(file.LitMessage("English", c.key, ""));
  for (const char* code : MessageCodes()) shown.push_back(file.LitMessage("English", code, ""));
  return shown;
}

TEST_F(ConfigFileTest, CompletesATemplateOnlyCatalogueOnceThenAddsNothing) {
  std::string before = Catalogue(Language("English", Entry("Template", "Template")));
  Write(before);
  ConfigFile file(path_);
  std::vector<std::string> shown = ApplyEnglish(file);

  std::size_t k = 0;
  for (const ControlCaption& c : MainScreenCaptions()) {
    // A control without a design caption shows its name.
    EXPECT_EQ(shown[k++], *c.caption ? std::string(c.caption) : std::string(c.control)) << c.control;
  }
  for (const FixedCaption& c : FixedCaptions()) EXPECT_EQ(shown[k++], c.key);
  for (const char* code : MessageCodes()) EXPECT_EQ(shown[k++], code);
  EXPECT_EQ(file.LastProblem(), "");

  // One entry per distinct code, after the template, the rest untouched.
  std::string after = OnDisk();
  std::size_t entries = 0;
  for (std::size_t at = after.find("<M>"); at != std::string::npos; at = after.find("<M>", at + 1)) ++entries;
  EXPECT_EQ(entries, 1 + MainScreenCaptions().size() + FixedCaptions().size() + MessageCodes().size());
  std::string head = before.substr(0, before.find("    </Langue>"));
  EXPECT_EQ(after.substr(0, head.size()), head);
  EXPECT_EQ(after.substr(after.size() - (before.size() - head.size())), before.substr(head.size()));
  EXPECT_NE(after.find("<C>Value Must be between </C><T>Value Must be between </T>"), std::string::npos);

  // A second run (a new program start) shows the same and leaves the file alone.
  auto stamp = Stamp() - std::chrono::hours(1);
  std::filesystem::last_write_time(path_, stamp);
  ConfigFile again(path_);
  std::vector<std::string> second = ApplyEnglish(again);
  EXPECT_EQ(OnDisk(), after);
  EXPECT_EQ(Stamp(), stamp);
  // Texts read back are trimmed of their surrounding blanks.
  EXPECT_EQ(again.LitMessage("English", "Programmer", ""), "Programmer");
  EXPECT_EQ(again.LitMessage("English", "ValeurParDefaut1", ""), "ValeurParDefaut1");
}

TEST_F(ConfigFileTest, ALanguageWithoutATemplateGetsNoEntry) {
  std::string before = Catalogue(
      "    <Langue NOM=\"English\"></Langue>\n    <Langue NOM=\"Deutsch\"><M><C>x</C></M></Langue>\n");
  Write(before);
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", "Lire", "Read"), "Read");
  ASSERT_TRUE(file.TakeProblem().has_value());
  EXPECT_NE(file.LastProblem().find("\"English\""), std::string::npos);
  EXPECT_EQ(file.LitMessage("Deutsch", "Lire", "Read"), "Read");
  EXPECT_EQ(OnDisk(), before);
}

// ---- Hand edits while the program runs ----------------------------------------

TEST_F(ConfigFileTest, SeesAHandEditAtTheNextLookup) {
  Write(Catalogue(Language("English", Entry("Lire", "Read")), "<Maintenance>0</Maintenance>"));
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Read");
  EXPECT_FALSE(ConfigurationBoolean(file.LitConfiguration("Maintenance")));
  Write(Catalogue(Language("English", Entry("Lire", "Read values")), "<Maintenance>True</Maintenance>"));
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Read values");
  EXPECT_TRUE(ConfigurationBoolean(file.LitConfiguration("Maintenance")));
}

TEST_F(ConfigFileTest, SeesASameSizeEditWithTheSameTimestamp) {
  Write(Catalogue(Language("English", Entry("Lire", "Read"))));
  auto stamp = Stamp();
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Read");
  // Same size, same modification time, as a coarse clock would leave it.
  Write(Catalogue(Language("English", Entry("Lire", "Lies"))));
  std::filesystem::last_write_time(path_, stamp);
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Lies");
}

TEST_F(ConfigFileTest, SeesAnEditOfAnOldFileWithItsTimestampPutBack) {
  Write(Catalogue(Language("English", Entry("Lire", "Read"))));
  auto old = Stamp() - std::chrono::hours(24);
  std::filesystem::last_write_time(path_, old);
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Read");
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Read");
  Write(Catalogue(Language("English", Entry("Lire", "Lies"))));
  std::filesystem::last_write_time(path_, old);
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Lies");
}

// A file system whose stamps are whatever the test says, to play out a
// coarse clock: the stamp stays the same while the content changes.
class CoarseClock : public PosixConfigFileSystem {
 public:
  bool Stat(const std::filesystem::path& path, FileStamp& stamp, std::string& error) override {
    if (!PosixConfigFileSystem::Stat(path, stamp, error)) return false;
    stamp.modifiedNs = stamp.changedNs = fileTime;
    return true;
  }
  bool ReadAll(const std::filesystem::path& path, std::string& bytes, std::string& error) override {
    ++reads;
    return PosixConfigFileSystem::ReadAll(path, bytes, error);
  }
  std::int64_t NowNs() override { return now; }
  std::int64_t fileTime = 1'700'000'000'000'000'000;
  std::int64_t now = fileTime;
  int reads = 0;
};

TEST_F(ConfigFileTest, ComparesContentWhileTheStampIsYoungAndTrustsItLater) {
  auto fs = std::make_shared<CoarseClock>();
  Write(Catalogue(Language("English", Entry("Lire", "Read"))));
  ConfigFile file(path_, fs);
  fs->now = fs->fileTime + 500'000'000;  // half a second after the file's stamp
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Read");
  Write(Catalogue(Language("English", Entry("Lire", "Lies"))));  // same size, same stamp
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Lies");

  // Once the stamp is old enough, an unchanged stamp is trusted: no read.
  fs->now = fs->fileTime + 5'000'000'000;
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Lies");  // content checked once more
  int reads = fs->reads;
  for (int k = 0; k < 10; ++k) EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Lies");
  EXPECT_EQ(fs->reads, reads);
  // A newer stamp is read again.
  Write(Catalogue(Language("English", Entry("Lire", "Read again"))));
  fs->fileTime += 3'000'000'000;
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Read again");
}

// ---- Encodings ------------------------------------------------------------------

struct EncodedFile {
  const char* name;
  std::string declaration;
  std::string degree, nbsp;  // as bytes of that encoding
  std::string added;         // how "°", U+00A0 and "€" of an added text are written
};

class EncodingFile : public ConfigFileTest, public ::testing::WithParamInterface<EncodedFile> {};

TEST_P(EncodingFile, ReadsAndWritesInTheDeclaredEncoding) {
  const EncodedFile& e = GetParam();
  std::string before = "<?xml version=\"1.0\" encoding=\"" + e.declaration +
                       "\"?>\n<Configuration>\n  <MESSAGES>\n" + "    <L NOM=\"English\">\n" +
                       "      <M><C>Temperature (" + e.degree + "C)</C><T>T (" + e.degree + "C)</T></M>\n" +
                       "      <M><C>Battery Capacity (Ah)" + e.nbsp + ": Tempo (Hr)</C><T>Cap" + e.nbsp +
                       "!</T></M>\n" + "    </L>\n  </MESSAGES>\n</Configuration>\n";
  Write(before);
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English",
                            "Temperature (\xC2\xB0"
                            "C)",
                            ""),
            "T (\xC2\xB0"
            "C)");
  EXPECT_EQ(file.LitMessage("English", "Battery Capacity (Ah)\xC2\xA0: Tempo (Hr)", ""), "Cap\xC2\xA0!");
  EXPECT_EQ(file.LitMessage("English", "Deg", "\xC2\xB0\xC2\xA0\xE2\x82\xAC"),
            "\xC2\xB0\xC2\xA0\xE2\x82\xAC");

  std::string expected = before;
  std::string anchor = "!</T></M>";
  expected.insert(expected.find(anchor) + anchor.size(), "\n      <M><C>Deg</C><T>" + e.added + "</T></M>");
  EXPECT_EQ(OnDisk(), expected);
  EXPECT_EQ(ConfigFile(path_).LitMessage("English", "deg", ""), "\xC2\xB0\xC2\xA0\xE2\x82\xAC");
}

INSTANTIATE_TEST_SUITE_P(
    Declared, EncodingFile,
    ::testing::Values(EncodedFile{"utf8", "UTF-8", "\xC2\xB0", "\xC2\xA0", "\xC2\xB0\xC2\xA0\xE2\x82\xAC"},
                      EncodedFile{"latin1", "ISO-8859-1", "\xB0", "\xA0", "\xB0\xA0&#8364;"},
                      EncodedFile{"cp1252", "windows-1252", "\xB0", "\xA0", "\xB0\xA0\x80"}),
    [](const auto& info) { return info.param.name; });

// ---- Failures ---------------------------------------------------------------------

TEST_F(ConfigFileTest, MissingFileGivesBuiltInsAndIsNotCreated) {
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", "Lire", "Read Parameters"), "Read Parameters");
  EXPECT_EQ(file.LitMessage("English", "Missing Hydrix", ""), "Missing Hydrix");
  EXPECT_EQ(file.LitConfiguration("Maintenance"), std::nullopt);
  EXPECT_FALSE(file.EcritConfiguration("Langue", "English"));
  EXPECT_EQ(file.RemplitListeLangues("English").names.size(), 0u);
  EXPECT_FALSE(file.Loaded());
  auto problem = file.TakeProblem();
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find(path_.string()), std::string::npos);
  EXPECT_FALSE(file.TakeProblem().has_value());  // told once
  EXPECT_FALSE(std::filesystem::exists(path_));

  // Once the file is there, it is used.
  Write(Catalogue(Language("English", Entry("Lire", "Read"))));
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Read");
  EXPECT_EQ(file.LastProblem(), "");
}

struct BadFile {
  const char* name;
  std::string bytes;
  const char* reason;  // part of the message
};

class UnusableFile : public ConfigFileTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(UnusableFile, GivesBuiltInsAndIsNeverWritten) {
  Write(GetParam().bytes);
  ConfigFile file(path_);
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(file.LitMessage("English", "Lire", "Read Parameters"), "Read Parameters");
    EXPECT_EQ(file.LitMessage("English", "Missing Hydrix", ""), "Missing Hydrix");
    EXPECT_EQ(file.LitConfiguration("Maintenance"), std::nullopt);
    EXPECT_FALSE(file.EcritConfiguration("Langue", "Deutsch"));
    EXPECT_EQ(file.RemplitListeLangues("English").selected, -1);
  }
  auto problem = file.TakeProblem();
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find(GetParam().reason), std::string::npos) << *problem;
  EXPECT_FALSE(file.TakeProblem().has_value());
  EXPECT_EQ(OnDisk(), GetParam().bytes);
  EXPECT_EQ(FolderNames(folder_.path()), std::vector<std::string>{"config.xml"});
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnusableFile,
    ::testing::Values(BadFile{"not_closed",
                              "<Configuration><Maintenance>True</Maintenance><MESSAGES><L NOM='English'>"
                              "<M><C>Lire</C><T>Read</T></M></L></MESSAGES>",
                              "not well-formed"},
                      BadFile{"empty", "", "not well-formed"},
                      BadFile{"unknown_encoding",
                              "<?xml version=\"1.0\" encoding=\"EBCDIC-FR\"?><Configuration/>", "EBCDIC-FR"},
                      BadFile{"nested_too_deep",
                              "<Configuration><MESSAGES><L NOM='English'><M><C>Lire</C><T>" +
                                  [] {
                                    std::string deep;
                                    for (int k = 0; k < 200000; ++k) deep += "<a>";
                                    for (int k = 0; k < 200000; ++k) deep += "</a>";
                                    return deep;
                                  }() +
                                  "</T></M></L></MESSAGES></Configuration>",
                              "levels deep"},
                      BadFile{
                          "not_ascii",
                          "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><Configuration>\xB0</Configuration>",
                          "US-ASCII"}),
    [](const auto& info) { return info.param.name; });

TEST_F(ConfigFileTest, UnreadableFileGivesBuiltIns) {
  // A folder where the file should be cannot be read as a file.
  std::filesystem::create_directory(path_);
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", "Lire", "Read Parameters"), "Read Parameters");
  ASSERT_TRUE(file.TakeProblem().has_value());
  EXPECT_TRUE(std::filesystem::is_directory(path_));
}

// A catalogue larger than 16 MiB is not read at all (a sparse file: no time
// nor memory is spent on it) and the program runs on its built-in texts.
TEST_F(ConfigFileTest, AFileLargerThanTheLimitIsNotRead) {
  Write(Catalogue(Language("English", Entry("Lire", "Read"))));
  std::filesystem::resize_file(path_, (std::uintmax_t{16} << 20) + 1);
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", "Lire", "Read Parameters"), "Read Parameters");
  const auto problem = file.TakeProblem();
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("it is larger than 16 MiB"), std::string::npos) << *problem;
  EXPECT_EQ(std::filesystem::file_size(path_), (std::uintmax_t{16} << 20) + 1);
}

TEST_F(ConfigFileTest, ReadOnlyFileIsLeftAsItIsAndReportedOnce) {
  std::string before = Catalogue(Language("English", Entry("Lire", "Read")));
  Write(before);
  std::filesystem::permissions(path_, std::filesystem::perms::owner_read |
                                          std::filesystem::perms::group_read |
                                          std::filesystem::perms::others_read);
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", "Ecrire", "Write Parameters"), "Write Parameters");
  EXPECT_EQ(file.LitMessage("English", "Sortir", "Exit"), "Exit");
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Read");
  auto problem = file.TakeProblem();
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("read-only"), std::string::npos) << *problem;
  EXPECT_NE(problem->find("left as it was"), std::string::npos) << *problem;
  EXPECT_FALSE(file.TakeProblem().has_value());
  EXPECT_EQ(OnDisk(), before);
  EXPECT_EQ(std::filesystem::status(path_).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                std::filesystem::perms::others_read);
  EXPECT_EQ(FolderNames(folder_.path()), std::vector<std::string>{"config.xml"});

  // Made writable again (which changes the file's stamp), the next lookup adds.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  EXPECT_EQ(file.LitMessage("English", "Ecrire", "Write Parameters"), "Write Parameters");
  EXPECT_NE(OnDisk().find("<C>Ecrire</C>"), std::string::npos);
}

TEST_F(ConfigFileTest, ReadOnlyFolderLeavesTheFileAsItIs) {
  std::string before = Catalogue(Language("English", Entry("Lire", "Read")));
  Write(before);
  std::filesystem::permissions(folder_.path(),
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  {
    // The superuser writes into read-only folders; the injected failures
    // below cover that case there.
    std::ofstream probe(folder_ / "probe");
    if (probe) {
      std::filesystem::remove(folder_ / "probe");
      GTEST_SKIP() << "permission bits do not stop this user from writing";
    }
  }
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", "Ecrire", "Write Parameters"), "Write Parameters");
  ASSERT_TRUE(file.TakeProblem().has_value());
  EXPECT_EQ(OnDisk(), before);
  EXPECT_EQ(FolderNames(folder_.path()), std::vector<std::string>{"config.xml"});
}

class FailingSave : public PosixConfigFileSystem {
 public:
  FailingSave(SaveStep step, int error) : step_(step), error_(error) {}
  std::int64_t NowNs() override { return PosixConfigFileSystem::NowNs() + skewNs; }
  std::int64_t skewNs = 0;
  int attempts = 0;

 protected:
  int InjectedError(SaveStep step) override {
    if (step == SaveStep::CreateTemporary) ++attempts;
    return step == step_ ? error_ : 0;
  }

 private:
  SaveStep step_;
  int error_;
};

struct SaveFailure {
  const char* name;
  PosixConfigFileSystem::SaveStep step;
  int error;
};

class SaveFails : public ConfigFileTest, public ::testing::WithParamInterface<SaveFailure> {};

TEST_P(SaveFails, LeavesTheOldFileWholeAndNoTemporaryFile) {
  std::string before = Catalogue(Language("English", Entry("Lire", "Read")), "  <Langue>English</Langue>\n");
  Write(before);
  auto fs = std::make_shared<FailingSave>(GetParam().step, GetParam().error);
  ConfigFile file(path_, fs);
  EXPECT_EQ(file.LitMessage("English", "Ecrire", "Write Parameters"), "Write Parameters");
  auto problem = file.TakeProblem();
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find(std::strerror(GetParam().error)), std::string::npos) << *problem;
  EXPECT_EQ(OnDisk(), before);
  EXPECT_EQ(FolderNames(folder_.path()), std::vector<std::string>{"config.xml"});
  // Later lookups do not fail again at every call.
  EXPECT_EQ(file.LitMessage("English", "Sortir", "Exit"), "Exit");
  EXPECT_EQ(file.LitMessage("English", "Lire", ""), "Read");
  EXPECT_FALSE(file.TakeProblem().has_value());
  EXPECT_EQ(fs->attempts, 1);
  // Tried again after a pause, the same failure is not reported again.
  fs->skewNs = 11'000'000'000;
  EXPECT_EQ(file.LitMessage("English", "Raz", "Factory Values"), "Factory Values");
  EXPECT_EQ(fs->attempts, 2);
  EXPECT_NE(file.LastProblem(), "");
  EXPECT_FALSE(file.TakeProblem().has_value());
  EXPECT_FALSE(ConfigFile(path_, std::make_shared<FailingSave>(GetParam().step, GetParam().error))
                   .EcritConfiguration("Langue", "Deutsch"));
  EXPECT_EQ(OnDisk(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SaveFails,
    ::testing::Values(SaveFailure{"read_only_folder", PosixConfigFileSystem::SaveStep::CreateTemporary,
                                  EACCES},
                      SaveFailure{"disk_full", PosixConfigFileSystem::SaveStep::Write, ENOSPC},
                      SaveFailure{"sync", PosixConfigFileSystem::SaveStep::Sync, EIO},
                      SaveFailure{"rename", PosixConfigFileSystem::SaveStep::Rename, EXDEV}),
    [](const auto& info) { return info.param.name; });

// ---- What is never written, and saves by several programs at once ---------

TEST_F(ConfigFileTest, RefusesCodesAndTextsThatXmlCannotHold) {
  std::string before = Catalogue(Language("English", Entry("Lire", "Read")), "  <Langue>English</Langue>\n");
  Write(before);
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", "Bell\x07", "Ring"), "Ring");
  auto problem = file.TakeProblem();
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("U+0007"), std::string::npos) << *problem;
  EXPECT_EQ(file.LitMessage("English", "Ecrire", "Write\x1B[1m"), "Write\x1B[1m");
  EXPECT_EQ(file.LitMessage("English", "Not\xEF\xBF\xBF", ""), "Not\xEF\xBF\xBF");  // U+FFFF
  EXPECT_EQ(file.LitMessage("English", "Latin\xE9", ""), "Latin\xE9");              // not UTF-8
  EXPECT_FALSE(file.EcritConfiguration("Langue", std::string("Deu\0tsch", 8)));
  // An empty code is never added either.
  EXPECT_EQ(file.LitMessage("English", "", "Nothing"), "Nothing");
  EXPECT_EQ(file.LitMessage("English", " \t ", ""), " \t ");
  EXPECT_EQ(OnDisk(), before);
  EXPECT_EQ(FolderNames(folder_.path()), std::vector<std::string>{"config.xml"});
  // Tab and line ends are characters XML holds.
  EXPECT_EQ(file.LitMessage("English", "Two\tparts", "Line\none"), "Line\none");
  EXPECT_EQ(ConfigFile(path_).LitMessage("English", "two\tPARTS", ""), "Line\none");
}

// Another program saves the file between this program's read and its save.
class RacingSave : public PosixConfigFileSystem {
 public:
  std::function<void()> beforeLock;
  std::unique_ptr<FileLock> Lock(const std::filesystem::path& path, std::chrono::milliseconds wait,
                                 std::string& error) override {
    if (beforeLock) std::exchange(beforeLock, nullptr)();
    return PosixConfigFileSystem::Lock(path, wait, error);
  }
};

TEST_F(ConfigFileTest, SavesIntoWhatAnotherProgramSavedMeanwhile) {
  Write(Catalogue(Language("English", Entry("Lire", "Read")), "  <Langue>English</Langue>\n"));
  auto fs = std::make_shared<RacingSave>();
  ConfigFile file(path_, fs);
  fs->beforeLock = [&] { ConfigFile(path_).LitMessage("English", "Sortir", "Exit"); };
  EXPECT_EQ(file.LitMessage("English", "Ecrire", "Write"), "Write");
  fs->beforeLock = [&] { ConfigFile(path_).LitMessage("English", "Raz", "Factory"); };
  EXPECT_TRUE(file.EcritConfiguration("Langue", "Deutsch"));
  // The other program added the very code this one was about to add.
  fs->beforeLock = [&] { ConfigFile(path_).LitMessage("English", "Time Set", "Theirs"); };
  EXPECT_EQ(file.LitMessage("English", "time set", "Mine"), "Theirs");
  EXPECT_EQ(file.LastProblem(), "");

  ConfigFile check(path_);
  for (auto [code, text] : {std::pair{"Lire", "Read"},
                            {"Sortir", "Exit"},
                            {"Ecrire", "Write"},
                            {"Raz", "Factory"},
                            {"Time Set", "Theirs"}}) {
    EXPECT_EQ(check.LitMessage("English", code, "missing"), text) << code;
  }
  EXPECT_EQ(check.LitConfiguration("Langue"), "Deutsch");
  EXPECT_EQ(OnDisk().find("Mine"), std::string::npos);
  EXPECT_EQ(FolderNames(folder_.path()), std::vector<std::string>{"config.xml"});
}

TEST_F(ConfigFileTest, ConcurrentWritersInSeparateProcessesKeepEveryAddition) {
  Write(Catalogue(Language("English", Entry("Lire", "Read")), "  <Langue>English</Langue>\n"));
  constexpr int kWriters = 8, kCodes = 6;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      ConfigFile file(path_);
      for (int k = 0; k < kCodes; ++k) {
        std::string code = "code " + std::to_string(w) + "." + std::to_string(k);
        ok = file.LitMessage("English", code, "text " + code) == "text " + code && ok;
        if (w == 0) ok = file.EcritConfiguration("Langue", "Deutsch " + std::to_string(k)) && ok;
      }
      ::_exit(ok && !file.TakeProblem() ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string onDisk = OnDisk();
  for (int w = 0; w < kWriters; ++w) {
    for (int k = 0; k < kCodes; ++k) {
      std::string entry = Entry("code " + std::to_string(w) + "." + std::to_string(k),
                                "text code " + std::to_string(w) + "." + std::to_string(k));
      std::size_t at = onDisk.find(entry);
      EXPECT_NE(at, std::string::npos) << entry;
      EXPECT_EQ(onDisk.find(entry, at + 1), std::string::npos) << "twice: " << entry;
    }
  }
  EXPECT_EQ(ConfigFile(path_).LitConfiguration("Langue"), "Deutsch 5");
  EXPECT_EQ(FolderNames(folder_.path()), std::vector<std::string>{"config.xml"});
}

TEST_F(ConfigFileTest, SavesThroughALinkAndKeepsTheLink) {
  std::filesystem::path real = folder_ / "real.xml";
  WriteBytes(real, Catalogue(Language("English", Entry("Lire", "Read"))));
  std::filesystem::create_symlink(real, path_);
  ConfigFile file(path_);
  EXPECT_EQ(file.LitMessage("English", "Ecrire", "Write"), "Write");
  EXPECT_TRUE(std::filesystem::is_symlink(path_));
  EXPECT_NE(ReadBytes(real).find("<C>Ecrire</C>"), std::string::npos);
}

}  // namespace
}  // namespace hx
