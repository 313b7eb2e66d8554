// A code a language lacks is added as a copy of its first entry; whatever
// stands around that entry's code and text, the added code reads back with
// the text the addition returned.
#include <gtest/gtest.h>

#include "config_test_util.h"
#include "hydrix/config/config_file.h"

namespace hx {
namespace {

TEST(CatalogueAddition, StrayTextInTheCopiedEntryDoesNotJoinTheAddedText) {
  // Found by the config_xml fuzzer: text on both sides of a processing
  // instruction (which the reader skips) inside the first entry.
  test::TempFolder folder;
  const auto file = folder / "config.xml";
  test::WriteBytes(file,
                   "<Configuration><MESSAGES><Langage NOM=\"English\">"
                   "<Entree><Code>a</Code>stray<?pi x?>more<Texte>A</Texte></Entree>"
                   "</Langage></MESSAGES></Configuration>");
  {
    ConfigFile config(file);
    EXPECT_EQ(config.LitMessage("English", "Added", "Added text"), "Added text");
    EXPECT_EQ(config.FindMessage("English", "Added"), "Added text");
  }
  ConfigFile reread(file);
  EXPECT_EQ(reread.FindMessage("English", "Added"), "Added text");
  EXPECT_EQ(reread.FindMessage("English", "a"), "stray");  // the first entry is as it was
}

TEST(CatalogueAddition, AnEntryWhoseCodeAndTextWouldReadBackAsOneIsNotCopied) {
  // Found by the config_xml fuzzer: code and text as bare texts on both
  // sides of a processing instruction; a copy would read back as one code.
  test::TempFolder folder;
  const auto file = folder / "config.xml";
  const std::string xml =
      "<Configuration><MESSAGES><Langage NOM=\"English\">"
      "<Entree>a<?pi x?>A</Entree>"
      "</Langage></MESSAGES></Configuration>";
  test::WriteBytes(file, xml);
  ConfigFile config(file);
  EXPECT_EQ(config.LitMessage("English", "Added", "Added text"), "Added text");
  EXPECT_NE(config.LastProblem().find("cannot be copied"), std::string::npos) << config.LastProblem();
  EXPECT_EQ(config.FindMessage("English", "Added"), std::nullopt);
  EXPECT_EQ(test::ReadBytes(file), xml);  // nothing was written
}

// A template whose code or text is a CDATA section, in a file whose encoding
// lacks a character of the new code: the character must read back as
// written, or the entry would be added again at every later run.
TEST(CatalogueAddition, CdataTemplatesInNarrowEncodingsReadBackAsWritten) {
  const std::string templates[] = {
      "<Entree><![CDATA[Lire]]><Texte>Read</Texte></Entree>",
      "<Entree><Code>Lire</Code><![CDATA[Read]]></Entree>",
      "<Entree><Code><![CDATA[Lire]]></Code><Texte><![CDATA[Read]]></Texte></Entree>",
  };
  const std::string codes[] = {
      "Temperature (\xC2\xB0"
      "C)",
      "R (\xCE\xA9)"};  // ° and Ω
  for (const char* encoding : {"US-ASCII", "ISO-8859-1"}) {
    for (const auto& entry : templates) {
      SCOPED_TRACE(std::string(encoding) + " " + entry);
      test::TempFolder folder;
      const auto file = folder / "config.xml";
      test::WriteBytes(file, "<?xml version=\"1.0\" encoding=\"" + std::string(encoding) +
                                 "\"?>\n<Configuration><MESSAGES><Langage NOM=\"English\">\n  " + entry +
                                 "\n</Langage></MESSAGES></Configuration>\n");
      std::string afterFirstRun;
      for (int run = 0; run < 3; ++run) {
        ConfigFile config(file);
        for (const auto& code : codes) EXPECT_EQ(config.LitMessage("English", code, ""), code);
        EXPECT_EQ(config.LastProblem(), "");
        if (run == 0) afterFirstRun = test::ReadBytes(file);
      }
      EXPECT_EQ(test::ReadBytes(file), afterFirstRun);  // nothing added after the first run
      ConfigFile reread(file);
      for (const auto& code : codes) EXPECT_EQ(reread.FindMessage("English", code), code);
      EXPECT_EQ(reread.FindMessage("English", "Lire"), "Read");
    }
  }
}

}  // namespace
}  // namespace hx
