// The config.xml shipped with the program.
#include <gtest/gtest.h>

#include "config_test_util.h"
#include "hydrix/config/catalogue_codes.h"
#include "hydrix/config/config_file.h"

namespace hx {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

const std::vector<std::string> kLanguages = {"English",
                                             "Fran\xC3\xA7"
                                             "ais",
                                             "Deutsch"};

class ShippedConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    shipped_ = ReadBytes(HX_SHIPPED_CONFIG_XML);
    ASSERT_FALSE(shipped_.empty());
    WriteBytes(path_, shipped_);
  }
  std::string shipped_;
  TempFolder folder_;
  std::filesystem::path path_ = folder_ / "config.xml";
};

TEST_F(ShippedConfig, HasEveryCodeInEveryLanguage) {
  ConfigFile file(path_);
  ASSERT_TRUE(file.Loaded() || file.RemplitListeLangues("English").selected == 0) << file.LastProblem();
  for (const std::string& language : kLanguages) {
    for (const ControlCaption& c : MainScreenCaptions()) {
      std::string text = file.LitMessage(language, c.control, "\x01missing");
      EXPECT_NE(text, "\x01missing") << language << " " << c.control;
      // Only controls designed without a caption are empty.
      EXPECT_EQ(text.empty(), *c.caption == '\0') << language << " " << c.control;
    }
    for (const FixedCaption& c : FixedCaptions()) {
      EXPECT_NE(file.LitMessage(language, c.key, "\x01missing"), "\x01missing") << language << " " << c.key;
    }
    for (const char* code : MessageCodes()) {
      EXPECT_NE(file.LitMessage(language, code, "\x01missing"), "\x01missing") << language << " " << code;
    }
  }
  EXPECT_EQ(file.LastProblem(), "");
  EXPECT_EQ(ReadBytes(path_), shipped_) << "a first run of the shipped file added entries";
}

TEST_F(ShippedConfig, EnglishTextsAreTheDesignTexts) {
  ConfigFile file(path_);
  for (const ControlCaption& c : MainScreenCaptions()) {
    std::string caption = c.caption;
    while (!caption.empty() && caption.back() == ' ') caption.pop_back();  // read back trimmed
    EXPECT_EQ(file.LitMessage("English", c.control, ""), caption.empty() ? "" : caption) << c.control;
  }
  for (const FixedCaption& c : FixedCaptions()) EXPECT_EQ(file.LitMessage("English", c.key, ""), c.key);
  EXPECT_EQ(file.LitMessage("English", "Missing Hydrix", ""), "Missing Hydrix");
  // The design lets the file reword its French prompt codes: English says them in English.
  EXPECT_EQ(file.LitMessage("English", "Ouvrir Fichier HEX", ""), "Open HEX File");
  EXPECT_EQ(file.LitMessage("Fran\xC3\xA7"
                            "ais",
                            "Lire", ""),
            "Lire les param\xC3\xA8tres");
  EXPECT_EQ(file.LitMessage("Deutsch",
                            "Temperature (\xC2\xB0"
                            "C)",
                            ""),
            "Temperatur (\xC2\xB0"
            "C)");
}

TEST_F(ShippedConfig, SettingsAndLanguageList) {
  ConfigFile file(path_);
  EXPECT_EQ(file.LitConfiguration("Maintenance"), "False");
  EXPECT_FALSE(ConfigurationBoolean(file.LitConfiguration("Maintenance")));
  EXPECT_EQ(file.LitConfiguration("Langue"), "English");
  LanguageList list = file.RemplitListeLangues("English");
  EXPECT_EQ(list.names, kLanguages);
  EXPECT_EQ(list.selected, 0);
  // The language change writes "Langue"; choosing English again leaves the file as shipped.
  EXPECT_TRUE(file.EcritConfiguration("Langue", "Deutsch"));
  EXPECT_EQ(file.LitConfiguration("Langue"), "Deutsch");
  EXPECT_TRUE(file.EcritConfiguration("Langue", "English"));
  EXPECT_EQ(ReadBytes(path_), shipped_);
}

}  // namespace
}  // namespace hx
