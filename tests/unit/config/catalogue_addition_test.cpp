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

}  // namespace
}  // namespace hx
