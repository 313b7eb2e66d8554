// The two helpers every writer goes through: a replacement that fails at any
// step leaves the old file as it was and no temporary file, and a lock held
// elsewhere is waited for only so long, names its holder, and is taken over
// cleanly when its holder removes it on release.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "common/atomic_file.h"
#include "common/lock_file.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

class AtomicLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("atomic_lock_test_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Content(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  unsigned Mode(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0);
    return st.st_mode & 07777;
  }

  fs::path dir_;
};

TEST_F(AtomicLockTest, AFailedReplacementLeavesTheOldFileAndNoTemporaryFile) {
  const fs::path file = dir_ / "list.txt";
  std::ofstream(file) << "old content\n";
  ::chmod(file.c_str(), 0640);
  for (ReplaceStep step :
       {ReplaceStep::CreateTemporary, ReplaceStep::Write, ReplaceStep::Sync, ReplaceStep::Rename}) {
    ReplaceOptions options;
    options.injectError = [step](ReplaceStep at) { return at == step ? EIO : 0; };
    const FileStatus s = AtomicReplace(file, std::string(4096, 'x'), options);
    EXPECT_EQ(s.error, EIO) << static_cast<int>(step);
    EXPECT_NE(s.reason.find(std::strerror(EIO)), std::string::npos) << s.reason;
    EXPECT_EQ(Content(file), "old content\n");
    EXPECT_EQ(Names(), std::vector<std::string>{"list.txt"});
  }
  // Written piece by piece; the old content stays until the commit, the
  // mode stays after it.
  AtomicFile out;
  ASSERT_TRUE(out.Open(file).ok());
  ASSERT_TRUE(out.Write("new ").ok());
  ASSERT_TRUE(out.Write("content\n").ok());
  EXPECT_EQ(Content(file), "old content\n");
  ASSERT_TRUE(out.Commit().ok());
  EXPECT_EQ(Content(file), "new content\n");
  EXPECT_EQ(Mode(file), 0640u);
  EXPECT_EQ(Names(), std::vector<std::string>{"list.txt"});

  // A new file takes the mode given; one that may not be created is refused.
  ReplaceOptions fresh;
  fresh.newFileMode = 0600;
  ASSERT_TRUE(AtomicReplace(dir_ / "new.txt", "n", fresh).ok());
  EXPECT_EQ(Mode(dir_ / "new.txt"), 0600u);
  fresh.mayCreate = false;
  EXPECT_EQ(AtomicReplace(dir_ / "absent.txt", "n", fresh).error, ENOENT);

  // A fixed temporary name: what a crash left there goes, a folder there
  // makes the save fail.
  ReplaceOptions fixed;
  fixed.temporaryName = "list.txt.tmp";
  std::ofstream(dir_ / "list.txt.tmp") << "left by a crash";
  ASSERT_TRUE(AtomicReplace(file, "third\n", fixed).ok());
  EXPECT_EQ(Content(file), "third\n");
  fs::create_directory(dir_ / "list.txt.tmp");
  EXPECT_EQ(AtomicReplace(file, "fourth\n", fixed).error, EEXIST);
  EXPECT_EQ(Content(file), "third\n");
}

TEST_F(AtomicLockTest, OnlyRegularFilesAreReplacedOrUsedAsLocks) {
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  fs::create_directory(dir_ / "folder");
  EXPECT_EQ(AtomicReplace(dir_ / "fifo", "x").reason, "it is a FIFO, not a regular file");
  EXPECT_EQ(AtomicReplace(dir_ / "folder", "x").reason, "it is a folder, not a regular file");
  LockFile lock;
  EXPECT_EQ(lock.TryLock(dir_ / "fifo").reason, "it is a FIFO, not a regular file");
  EXPECT_FALSE(lock.Held());
  EXPECT_EQ(Names(), (std::vector<std::string>{"fifo", "folder"}));
}

TEST_F(AtomicLockTest, ASecondHolderWaitsThenGivesUpAndTakesOverAReleasedLock) {
  const fs::path path = dir_ / "run.lock";
  LockOptions mine;
  mine.identity = "4242";
  mine.removeOnRelease = true;
  LockFile first;
  ASSERT_TRUE(first.Lock(path, std::chrono::milliseconds(0), mine).ok());
  EXPECT_EQ(LockHolder(path), "4242");

  LockFile second;
  FileStatus refused = second.Lock(path, std::chrono::milliseconds(30));
  EXPECT_EQ(refused.error, EWOULDBLOCK);
  EXPECT_EQ(refused.reason, "another program holds it locked");
  EXPECT_EQ(second.TryLock(path).error, EWOULDBLOCK);
  EXPECT_FALSE(second.Held());

  // A waiter that opened the file before its holder removed it ends up
  // holding the file the name leads to.
  FileStatus taken;
  std::thread waiter([&] { taken = second.Lock(path, std::chrono::seconds(10)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  first.Unlock();
  waiter.join();
  ASSERT_TRUE(taken.ok()) << taken.reason;
  ASSERT_TRUE(fs::exists(path));
  EXPECT_EQ(LockHolder(path), "");
  EXPECT_EQ(first.TryLock(path).error, EWOULDBLOCK);
  // Without the removal flag the file stays after the release.
  second.Unlock();
  EXPECT_TRUE(fs::exists(path));
  {
    LockFile third;
    ASSERT_TRUE(third.TryLock(path, mine).ok());
  }
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace hx
