#include "common/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>

namespace hx {
namespace {

namespace fs = std::filesystem;

class Layouts : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "hx-paths-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }
  void Touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
  }
  GetEnv Env() {
    return [this](const char* name) -> const char* {
      auto it = env_.find(name);
      return it == env_.end() ? nullptr : it->second.c_str();
    };
  }
  fs::path root_;
  std::map<std::string, std::string> env_;
};

// The one rule: config.xml beside the program is a build tree, even where
// share/hydrix lies beside it; else share/hydrix makes it installed.
TEST_F(Layouts, ConfigBesideTheProgramIsABuildTreeElseShareMakesItInstalled) {
  const fs::path bin = root_ / "usr" / "bin";
  fs::create_directories(bin);
  EXPECT_FALSE(LayoutOf(bin).installed);  // neither: taken as a build tree
  EXPECT_EQ(LayoutOf(bin).shipped, bin);

  fs::create_directories(root_ / "usr" / "share" / "hydrix");
  const ProgramLayout installed = LayoutOf(bin);
  EXPECT_TRUE(installed.installed);
  EXPECT_EQ(installed.shipped, root_ / "usr" / "share" / "hydrix");
  EXPECT_EQ(installed.libraries.filename(), "hydrix");
  EXPECT_EQ(installed.libraries.lexically_relative(root_ / "usr").begin()->string(), "lib");

  Touch(bin / "config.xml");
  EXPECT_FALSE(LayoutOf(bin).installed);
  EXPECT_EQ(LayoutOf(bin).libraries, bin);
}

// Installed, config.xml is the user's copy over the shipped one, and
// hxusb.conf is the user's, then the site's, then the shipped one; a build
// tree keeps both beside the program first.
TEST_F(Layouts, ConfigurationFilesOfEachLayout) {
  env_["XDG_CONFIG_HOME"] = (root_ / "cfg").string();
  const fs::path bin = root_ / "usr" / "bin";
  Touch(bin / "config.xml");
  ConfigLocation portable = ConfigXmlLocation(LayoutOf(bin), Env());
  EXPECT_EQ(portable.file, bin / "config.xml");
  EXPECT_TRUE(portable.defaults.empty());
  EXPECT_EQ(UsbConfigSearchPath(bin, Env()),
            (std::vector<fs::path>{bin / "hxusb.conf", root_ / "cfg/hydrix/hxusb.conf"}));

  fs::remove(bin / "config.xml");
  fs::create_directories(root_ / "usr" / "share" / "hydrix");
  ConfigLocation installed = ConfigXmlLocation(LayoutOf(bin), Env());
  EXPECT_EQ(installed.file, root_ / "cfg" / "hydrix" / "config.xml");
  EXPECT_EQ(installed.defaults, root_ / "usr" / "share" / "hydrix" / "config.xml");

  const fs::path libs = LayoutOf(bin).libraries;
  fs::create_directories(libs);
  EXPECT_EQ(InstalledShippedFolderOfLibrary(libs), root_ / "usr" / "share" / "hydrix");
  EXPECT_EQ(UsbConfigSearchPath(libs, Env()),
            (std::vector<fs::path>{root_ / "cfg/hydrix/hxusb.conf", "/etc/hydrix/hxusb.conf",
                                   root_ / "usr/share/hydrix/hxusb.conf"}));
}

// State and transient folders take only absolute variables; the transient
// one is made private, and a link in its place is refused.
TEST_F(Layouts, StateAndTransientFolders) {
  env_["HOME"] = root_.string();
  EXPECT_EQ(UserStateFolder(Env()), root_ / ".local" / "state" / "hydrix");
  env_["XDG_STATE_HOME"] = "relative";
  EXPECT_EQ(UserStateFolder(Env()), root_ / ".local" / "state" / "hydrix");
  env_["XDG_STATE_HOME"] = (root_ / "state").string();
  EXPECT_EQ(UserStateFolder(Env()), root_ / "state" / "hydrix");

  env_["XDG_RUNTIME_DIR"] = (root_ / "run").string();
  fs::create_directories(root_ / "run");
  std::string why;
  EXPECT_EQ(TransientFolder(&why, Env()), root_ / "run" / "hydrix");
  EXPECT_EQ(fs::status(root_ / "run" / "hydrix").permissions() & fs::perms::all, fs::perms::owner_all);

  env_.erase("XDG_RUNTIME_DIR");
  fs::create_directories(root_ / "elsewhere");
  fs::create_directories(root_ / "state");
  fs::create_directory_symlink(root_ / "elsewhere", root_ / "state" / "hydrix");
  EXPECT_TRUE(TransientFolder(&why, Env()).empty());
  EXPECT_NE(why.find("is not a folder"), std::string::npos) << why;

  EXPECT_TRUE(UserStateFolder([](const char*) -> const char* { return nullptr; }).empty());
  EXPECT_EQ(StartFolder(Env()), root_);
}

}  // namespace
}  // namespace hx
