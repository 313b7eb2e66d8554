#include "hydrix/config/catalogue_cli.h"

#include <gtest/gtest.h>

#include <sstream>

#include "config_test_util.h"

namespace hx {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

const std::string kFile =
    "<Configuration>\n  <MESSAGES>\n"
    "    <L NOM=\"English\">\n      <M><C>Lire</C><T>Read Parameters</T></M>\n    </L>\n"
    "    <L NOM=\"Deutsch\">\n      <M><C>Lire</C><T>Parameter lesen</T></M>\n    </L>\n"
    "    <L NOM=\"english\">\n      <M><C>Lire</C><T>x</T></M>\n    </L>\n"
    "  </MESSAGES>\n</Configuration>\n";

struct Outcome {
  int status;
  std::string out, err;
};

class CatalogueCommand : public ::testing::Test {
 protected:
  void SetUp() override { WriteBytes(path_, kFile); }
  Outcome Do(std::vector<std::string> args) {
    std::ostringstream out, err;
    int status = RunCatalogueCommand(args, {path_, {}}, out, err);
    return {status, out.str(), err.str()};
  }
  TempFolder folder_;
  std::filesystem::path path_ = folder_ / "config.xml";
};

// A query never writes the catalogue; only --add completes it.
TEST_F(CatalogueCommand, MessageQueriesWithoutWritingAndAddCompletesTheCatalogue) {
  Outcome found = Do({"message", "deutsch", "LIRE"});
  EXPECT_EQ(found.status, 0);
  EXPECT_EQ(found.out, "Parameter lesen\n");
  EXPECT_EQ(found.err, "");

  Outcome typo = Do({"message", "English", "Sortirr"});
  EXPECT_EQ(typo.status, 1);
  EXPECT_EQ(typo.out, "");
  EXPECT_NE(typo.err.find("English has no text for 'Sortirr' (hydrixctl message --add"), std::string::npos);
  Outcome language = Do({"message", "Klingon", "Lire"});
  EXPECT_EQ(language.status, 2);
  EXPECT_NE(language.err.find("no language 'Klingon'; its languages are: English, Deutsch, english"),
            std::string::npos);
  EXPECT_EQ(ReadBytes(path_), kFile);

  Outcome added = Do({"message", "--add", "English", "Sortir", "Exit"});
  EXPECT_EQ(added.status, 0);
  EXPECT_EQ(added.out, "Exit\n");
  EXPECT_NE(ReadBytes(path_).find(
                "<M><C>Lire</C><T>Read Parameters</T></M>\n      <M><C>Sortir</C><T>Exit</T></M>"),
            std::string::npos);
  EXPECT_EQ(Do({"message", "English", "Sortir"}).out, "Exit\n");
  EXPECT_EQ(Do({"message", "--add", "English", "Missing Hydrix"}).out, "Missing Hydrix\n");
}

TEST_F(CatalogueCommand, LanguagesMarksTheOneSelectedForEnglish) {
  Outcome run = Do({"languages"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "* English\nDeutsch\nenglish\n");
}

TEST_F(CatalogueCommand, BadArgumentsGiveUsage) {
  for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                {"message"},
                                                                {"message", "English"},
                                                                {"message", "a", "b", "c"},
                                                                {"message", "--add", "a", "b", "c", "d"},
                                                                {"languages", "x"},
                                                                {"lire"}}) {
    Outcome run = Do(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: hydrixctl"), std::string::npos);
  }
  EXPECT_EQ(ReadBytes(path_), kFile);
}

TEST_F(CatalogueCommand, AFileProblemGoesToStandardErrorWithTheBuiltInText) {
  WriteBytes(path_, "<Configuration>");
  Outcome run = Do({"message", "--add", "English", "Lire", "Read"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("not well-formed"), std::string::npos);
  EXPECT_EQ(ReadBytes(path_), "<Configuration>");

  Outcome list = Do({"languages"});
  EXPECT_EQ(list.status, 1);
  EXPECT_EQ(list.out, "");
}

TEST(CatalogueOptions, TakesTheConfigOptionWhereverItStands) {
  std::filesystem::path path = "default.xml";
  std::string error;
  std::vector<std::string> args{"message", "--config", "/tmp/c.xml", "English", "Lire"};
  ASSERT_TRUE(TakeConfigOption(args, path, error));
  EXPECT_EQ(path, "/tmp/c.xml");
  EXPECT_EQ(args, (std::vector<std::string>{"message", "English", "Lire"}));

  args = {"--config=x.xml", "languages"};
  ASSERT_TRUE(TakeConfigOption(args, path, error));
  EXPECT_EQ(path, "x.xml");
  EXPECT_EQ(args, std::vector<std::string>{"languages"});

  args = {"languages"};
  ASSERT_TRUE(TakeConfigOption(args, path, error));
  EXPECT_EQ(path, "x.xml");

  args = {"languages", "--config"};
  EXPECT_FALSE(TakeConfigOption(args, path, error));
  EXPECT_FALSE(error.empty());
}

TEST(CatalogueOptions, DefaultIsConfigXmlNextToTheProgram) {
  EXPECT_EQ(DefaultConfigPath().filename(), "config.xml");
  EXPECT_TRUE(DefaultConfigPath().is_absolute());
  EXPECT_TRUE(IsCatalogueCommand("message"));
  EXPECT_TRUE(IsCatalogueCommand("languages"));
  EXPECT_FALSE(IsCatalogueCommand("list"));
}

}  // namespace
}  // namespace hx
