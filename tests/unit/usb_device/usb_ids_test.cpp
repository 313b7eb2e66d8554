#include "platform/hxusb_device/usb_ids.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace hx::usb {
namespace {

namespace fs = std::filesystem;

// The hash is documented for installers and scripts: it must not drift.
TEST(UsbIds, IdentifiersAreTheDocumentedFoldedHash) {
  EXPECT_EQ(Fnv1a32(""), 0x811C9DC5u);
  EXPECT_EQ(Fnv1a32("a"), 0xE40C292Cu);
  EXPECT_EQ(Fnv1a32("foobar"), 0xBF9CF968u);
  EXPECT_EQ(IdentifierOf("foobar"), 0x3F9CF968);  // bit 31 cleared
  EXPECT_EQ(IdentifierOf("1-4.2"), static_cast<std::int32_t>(Fnv1a32("1-4.2") & 0x7FFFFFFF));
  EXPECT_GT(IdentifierOf("1-4.2"), 0);
  EXPECT_NE(IdentifierOf("1-4.2"), IdentifierOf("1-4.3"));
}

class PortMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("hx-ports-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    file_ = (dir_ / "hydrix" / "usb-ports").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
  std::string file_;
};

TEST_F(PortMemoryTest, TheBootLoaderTakesTheIdentifierOfTheApplicationLastSeenOnItsPort) {
  const auto serialId = IdentifierOf("HX-000123");
  {
    PortMemory app(file_);  // hydrix lists the controller
    EXPECT_EQ(AssignIdentifier("1-4", "HX-000123", false, app), serialId);
    EXPECT_EQ(AssignIdentifier("1-5", "", false, app), IdentifierOf("1-5"));
  }
  // A later programming run finds the controller already in its boot loader.
  PortMemory boot(file_);
  EXPECT_EQ(AssignIdentifier("1-4", "", true, boot), serialId);
  EXPECT_EQ(AssignIdentifier("1-5", "", true, boot), IdentifierOf("1-5"));
  EXPECT_EQ(AssignIdentifier("2-1", "", true, boot), IdentifierOf("2-1"));

  // Another controller, without a serial number, now on port 1-4: the
  // memory forgets the old one, in the file too.
  PortMemory app(file_);
  EXPECT_EQ(AssignIdentifier("1-4", "", false, app), IdentifierOf("1-4"));
  EXPECT_EQ(AssignIdentifier("1-4", "", true, boot), IdentifierOf("1-4"));
}

TEST_F(PortMemoryTest, ABadOrUnwritableFileOnlyMakesTheMemoryForget) {
  fs::create_directories(fs::path(file_).parent_path());
  std::ofstream(file_) << "garbage\n1-4 notanumber\n1-5 -3\n1-6 42\n";
  PortMemory memory(file_);
  EXPECT_EQ(memory.Lookup("1-4"), std::nullopt);
  EXPECT_EQ(memory.Lookup("1-5"), std::nullopt);
  EXPECT_EQ(memory.Lookup("1-6"), 42);

  PortMemory nowhere((dir_ / "file-not-folder").string() + "/x/usb-ports");
  std::ofstream((dir_ / "file-not-folder").string()) << "a file where a folder should be";
  nowhere.Remember("1-4", 7);  // cannot be saved: no crash, no file
  EXPECT_FALSE(fs::exists((dir_ / "file-not-folder" / "x").string()));
}

// A FIFO in the memory's place is named and left as it is: nothing waits
// for a writer, nothing is renamed over it.
TEST_F(PortMemoryTest, AFifoIsNamedAndLeftAlone) {
  fs::create_directories(fs::path(file_).parent_path());
  ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
  PortMemory memory(file_);
  EXPECT_EQ(memory.Lookup("1-4"), std::nullopt);
  EXPECT_EQ(memory.Problem(),
            "The USB port memory " + file_ +
                " cannot be used: it is a FIFO, not a regular file. A controller in its boot "
                "loader is named by its port.");
  memory.Remember("1-4", 7);
  EXPECT_TRUE(fs::is_fifo(file_));
}

}  // namespace
}  // namespace hx::usb
