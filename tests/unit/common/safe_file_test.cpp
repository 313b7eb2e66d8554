// What the callers' own tests do not show: links are followed to the file
// they name, a read stops at its limit even when the size says nothing, a
// lock held elsewhere is waited for only so long. Refusals of FIFOs, devices
// and read-only files are tested with each reader and appender.
#include "common/safe_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace hx {
namespace {

namespace fs = std::filesystem;

TEST(SafeFile, LinksAreFollowedAndLimitsHoldWhateverTheSizeSays) {
  const fs::path dir = fs::temp_directory_path() / ("safe_file_test_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "real") << "a=1\n";
  fs::create_symlink(dir / "real", dir / "link");
  fs::create_symlink("/dev/zero", dir / "zero");
  std::string bytes;
  EXPECT_TRUE(ReadRegularFile(dir / "link", 4, bytes).ok());
  EXPECT_EQ(bytes, "a=1\n");
  EXPECT_TRUE(CheckWriteTarget(dir / "link").ok());
  EXPECT_EQ(ReadRegularFile(dir / "link", 3, bytes).reason,
            "it is larger than 3 bytes, the most such a file may hold");
  EXPECT_EQ(ReadRegularFile(dir / "zero", kSmallFileLimit, bytes).reason,
            "it is a character device, not a regular file");
  // /proc files say they are empty: the read itself stops past the limit.
  EXPECT_TRUE(ReadRegularFile("/proc/self/status", kSmallFileLimit, bytes).ok());
  EXPECT_EQ(ReadRegularFile("/proc/self/status", 16, bytes).reason,
            "it is larger than 16 bytes, the most such a file may hold");
  EXPECT_TRUE(bytes.empty());

  int a = -1, b = -1;
  ASSERT_TRUE(OpenForAppend(dir / "shared.log", a).ok());
  ASSERT_TRUE(OpenForAppend(dir / "shared.log", b).ok());
  std::string reason;
  ASSERT_TRUE(LockExclusive(a, std::chrono::milliseconds(0), reason));
  EXPECT_FALSE(LockExclusive(b, std::chrono::milliseconds(20), reason));
  EXPECT_EQ(reason, "another program holds it locked");
  ::close(a);
  EXPECT_TRUE(LockExclusive(b, std::chrono::milliseconds(0), reason));
  ::close(b);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace hx
