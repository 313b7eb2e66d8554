#include "common/safe_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace hx {
namespace {

namespace fs = std::filesystem;

class SafeFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("safe_file_test_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path Write(const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return dir / name;
  }
  static bool IsFifo(const fs::path& p) { return fs::is_fifo(fs::status(p)); }
  fs::path dir, fifo;
};

// Nothing but regular files is opened: a FIFO without a writer or reader, a
// device, a folder, a link to a device. Each stays what it was.
TEST_F(SafeFile, OnlyRegularFilesAreOpenedAndNothingElseIsTouched) {
  std::string bytes = "old";
  EXPECT_EQ(ReadRegularFile(fifo, kSmallFileLimit, bytes).reason, "it is a FIFO, not a regular file");
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(ReadRegularFile("/dev/null", kSmallFileLimit, bytes).reason,
            "it is a character device, not a regular file");
  EXPECT_EQ(ReadRegularFile(dir, kSmallFileLimit, bytes).reason, "it is a folder, not a regular file");
  fs::create_symlink("/dev/zero", dir / "zero");
  EXPECT_EQ(ReadRegularFile(dir / "zero", kSmallFileLimit, bytes).reason,
            "it is a character device, not a regular file");
  const FileStatus missing = ReadRegularFile(dir / "none", kSmallFileLimit, bytes);
  EXPECT_TRUE(missing.missing);
  EXPECT_EQ(missing.reason, "No such file or directory");

  int fd = -1;
  EXPECT_EQ(OpenForAppend(fifo, fd).reason, "it is a FIFO, not a regular file");
  EXPECT_EQ(fd, -1);
  EXPECT_EQ(OpenForAppend("/dev/null", fd).reason, "it is a character device, not a regular file");
  EXPECT_EQ(CheckWriteTarget(fifo).reason, "it is a FIFO, not a regular file");
  EXPECT_EQ(CheckWriteTarget(dir).reason, "it is a folder, not a regular file");
  EXPECT_EQ(OpenRegularForRead(fifo, fd).reason, "it is a FIFO, not a regular file");

  EXPECT_TRUE(IsFifo(fifo));
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  // A link to a regular file is followed.
  Write("real", "a=1\n");
  fs::create_symlink(dir / "real", dir / "link");
  EXPECT_TRUE(ReadRegularFile(dir / "link", kSmallFileLimit, bytes).ok());
  EXPECT_EQ(bytes, "a=1\n");
  EXPECT_TRUE(CheckWriteTarget(dir / "link").ok());
}

TEST_F(SafeFile, ReadsStopAtTheLimit) {
  std::string bytes;
  const auto exact = Write("exact", std::string(1024, 'x'));
  EXPECT_TRUE(ReadRegularFile(exact, 1024, bytes).ok());
  EXPECT_EQ(bytes.size(), 1024u);
  const auto over = Write("over", std::string(1025, 'x'));
  EXPECT_EQ(ReadRegularFile(over, 1024, bytes).reason,
            "it is larger than 1 KiB, the most such a file may hold");
  EXPECT_TRUE(bytes.empty());
  // A file whose size says nothing (as under /proc) is still read only up to the limit.
  EXPECT_TRUE(ReadRegularFile("/proc/self/status", kSmallFileLimit, bytes).ok());
  EXPECT_FALSE(bytes.empty());
  EXPECT_FALSE(ReadRegularFile("/proc/self/status", 16, bytes).ok());
  EXPECT_EQ(SizeText(kSmallFileLimit), "1 MiB");
  EXPECT_EQ(SizeText(kCatalogueFileLimit), "16 MiB");
}

// A file without write permission in its mode is refused to everybody,
// the superuser included; a missing one may be created.
TEST_F(SafeFile, ReadOnlyFilesAreRefusedAndMissingOnesCreated) {
  const auto ro = Write("ro.log", "kept\n");
  fs::permissions(ro, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  int fd = -1;
  EXPECT_EQ(CheckWriteTarget(ro).reason, "the file is read-only");
  EXPECT_EQ(OpenForAppend(ro, fd).reason, "the file is read-only");
  std::string bytes;
  ASSERT_TRUE(ReadRegularFile(ro, kSmallFileLimit, bytes).ok());
  EXPECT_EQ(bytes, "kept\n");

  const FileStatus absent = CheckWriteTarget(dir / "new.log");
  EXPECT_TRUE(absent.ok());
  EXPECT_TRUE(absent.missing);
  ASSERT_TRUE(OpenForAppend(dir / "new.log", fd).ok());
  EXPECT_EQ(WriteAll(fd, "one\n", 4), 0);
  ::close(fd);
  ASSERT_TRUE(OpenForAppend(dir / "new.log", fd).ok());
  EXPECT_EQ(WriteAll(fd, "two\n", 4), 0);
  ::close(fd);
  ASSERT_TRUE(ReadRegularFile(dir / "new.log", kSmallFileLimit, bytes).ok());
  EXPECT_EQ(bytes, "one\ntwo\n");
}

TEST_F(SafeFile, AnExclusiveLockKeepsOthersOutUntilReleased) {
  const auto log = Write("shared.log", "");
  int a = -1, b = -1;
  ASSERT_TRUE(OpenForAppend(log, a).ok());
  ASSERT_TRUE(OpenForAppend(log, b).ok());
  std::string reason;
  ASSERT_TRUE(LockExclusive(a, std::chrono::milliseconds(0), reason));
  EXPECT_FALSE(LockExclusive(b, std::chrono::milliseconds(20), reason));
  EXPECT_EQ(reason, "another program holds it locked");
  ::close(a);
  EXPECT_TRUE(LockExclusive(b, std::chrono::milliseconds(0), reason));
  ::close(b);
}

}  // namespace
}  // namespace hx
