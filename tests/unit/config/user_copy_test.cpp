// config.xml of an installed program: the user's copy over the shipped,
// read-only defaults.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "config_test_util.h"
#include "hydrix/config/config_file.h"

namespace hx {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

const std::string kShipped =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration>\n  <MESSAGES>\n"
    "    <L NOM=\"English\">\n      <M><C>Lire</C><T>Read Parameters</T></M>\n"
    "      <M><C>Ecrire</C><T>Write Parameters</T></M>\n    </L>\n"
    "    <L NOM=\"Deutsch\">\n      <M><C>Lire</C><T>Parameter lesen</T></M>\n"
    "      <M><C>Ecrire</C><T>Parameter schreiben</T></M>\n    </L>\n"
    "  </MESSAGES>\n  <Langue>English</Langue>\n  <Maintenance>False</Maintenance>\n</Configuration>\n";

class UserCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder_ / "share");
    WriteBytes(shipped_, kShipped);
    ::chmod(shipped_.c_str(), 0444);
    ::chmod((folder_ / "share").c_str(), 0555);
  }
  TempFolder folder_;
  std::filesystem::path shipped_ = folder_ / "share" / "config.xml";
  std::filesystem::path user_ = folder_ / "cfg" / "hydrix" / "config.xml";
  ConfigLocation location_{user_, shipped_};
};

// Reads come from the defaults and create nothing; the first write copies
// them into the user's folder with the change; the defaults never change.
TEST_F(UserCopy, ReadsTheDefaultsUntilTheFirstWriteCopiesThem) {
  ConfigFile config(location_);
  EXPECT_EQ(config.LitMessage("Deutsch", "Lire", ""), "Parameter lesen");
  EXPECT_EQ(config.LitConfiguration("Maintenance"), "False");
  EXPECT_EQ(config.RemplitListeLangues("English").names.size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "cfg"));

  EXPECT_TRUE(config.EcritConfiguration("Langue", "Deutsch"));
  EXPECT_NE(ReadBytes(user_).find("<Langue>Deutsch</Langue>"), std::string::npos);
  EXPECT_NE(ReadBytes(user_).find("Parameter schreiben"), std::string::npos);
  EXPECT_EQ(ReadBytes(shipped_), kShipped);

  // A hand edit of the user's copy is what the next read sees.
  WriteBytes(user_, std::string(kShipped).replace(kShipped.find("False"), 5, "True"));
  EXPECT_EQ(config.LitConfiguration("Maintenance"), "True");
  EXPECT_FALSE(config.TakeProblem());
}

// A code the user's older copy lacks takes the shipped translation, and the
// copy is completed with it; a code neither has gets the default text.
TEST_F(UserCopy, AnOlderCopyGetsTheShippedTranslations) {
  std::filesystem::create_directories(user_.parent_path());
  std::string older = kShipped;
  older.erase(older.find("      <M><C>Ecrire</C><T>Parameter schreiben</T></M>\n"),
              std::string("      <M><C>Ecrire</C><T>Parameter schreiben</T></M>\n").size());
  older.replace(older.find("<Maintenance>False"), 18, "<Maintenance>1");
  WriteBytes(user_, older);

  ConfigFile config(location_);
  EXPECT_EQ(config.LitConfiguration("Maintenance"), "1");  // the user's own setting stays
  EXPECT_EQ(config.LitMessage("Deutsch", "Ecrire", "Write Parameters"), "Parameter schreiben");
  EXPECT_NE(ReadBytes(user_).find("<C>Ecrire</C><T>Parameter schreiben</T>"), std::string::npos);
  EXPECT_EQ(config.LitMessage("Deutsch", "Neu", "New"), "New");
  EXPECT_NE(ReadBytes(user_).find("<C>Neu</C><T>New</T>"), std::string::npos);
  EXPECT_EQ(ReadBytes(shipped_), kShipped);
}

// A user's folder that cannot be made loses nothing and leaves no empty
// copy behind: the defaults are still read, and the failure is told.
TEST_F(UserCopy, AFailedFirstWriteLeavesTheDefaultsInForce) {
  WriteBytes(folder_ / "cfg", "a file where the folder should be");
  ConfigFile config(location_);
  EXPECT_FALSE(config.EcritConfiguration("Langue", "Deutsch"));
  EXPECT_TRUE(config.TakeProblem());
  EXPECT_EQ(config.LitMessage("Deutsch", "Lire", ""), "Parameter lesen");
  EXPECT_EQ(ReadBytes(folder_ / "cfg"), "a file where the folder should be");

  // The folder exists but the save cannot create a file in it.
  std::filesystem::remove(folder_ / "cfg");
  std::filesystem::create_directories(user_.parent_path());
  ::chmod(user_.parent_path().c_str(), 0555);
  if (::access(user_.parent_path().c_str(), W_OK) == 0) GTEST_SKIP() << "file modes mean nothing to root";
  ConfigFile again(location_);
  EXPECT_FALSE(again.EcritConfiguration("Langue", "Deutsch"));
  EXPECT_FALSE(std::filesystem::exists(user_));
}

}  // namespace
}  // namespace hx
