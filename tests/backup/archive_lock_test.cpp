// The archive lock of a data directory: who may take it, when it counts as
// busy, and that it lasts as long as the archiver started under it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "backup/archive_guard.h"
#include "platform/process.h"

namespace qm::backup {
namespace {

namespace fs = std::filesystem;

class ArchiveLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qm-lock-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string LockPath() const { return dir_ + "/" + kGuardFileName; }

  // Whether another process, as `user` when not -1, can take the lock now.
  bool TakenElsewhere(uid_t user = static_cast<uid_t>(-1)) const {
    const pid_t child = ::fork();
    if (child == 0) {
      if (user != static_cast<uid_t>(-1) && (::setgid(user) != 0 || ::setuid(user) != 0)) ::_exit(3);
      ArchiveGuard guard;
      ::_exit(guard.TryAcquire(dir_) ? 0 : guard.RefusedAsBusy() ? 1 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << "exit " << WEXITSTATUS(status);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  std::string dir_;
};

TEST_F(ArchiveLockTest, OnlyALockHeldElsewhereCountsAsBusy) {
  const struct {
    const char* name;
    bool missing_directory;
    bool held_elsewhere;
    bool busy;
  } cases[] = {
      {"a missing directory", true, false, false},
      {"held by another guard", false, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveGuard other;
    if (c.held_elsewhere) {
      ASSERT_TRUE(other.TryAcquire(dir_));
    }
    ArchiveGuard guard;
    EXPECT_FALSE(guard.TryAcquire(c.missing_directory ? dir_ + "/missing" : dir_));
    EXPECT_EQ(guard.RefusedAsBusy(), c.busy);
    EXPECT_FALSE(guard.Held());
  }
}

// The lock file is made for every user of the data directory, whatever the
// umask of the one who makes it; one left by another user that this one may
// only read is locked through a read-only open.
TEST_F(ArchiveLockTest, AnotherUserOfTheDataDirectoryCanTakeTheLock) {
  const mode_t old_mask = ::umask(077);
  {
    ArchiveGuard guard;
    ASSERT_TRUE(guard.TryAcquire(dir_));
  }
  ::umask(old_mask);
  struct stat status;
  ASSERT_EQ(::stat(LockPath().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0666u);

  if (::geteuid() != 0) GTEST_SKIP() << "another user needs a test run as root";
  const uid_t nobody = 65534;
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
  const struct {
    const char* name;
    mode_t lock_file_mode;
  } cases[] = {{"a lock file made by the guard", 0666}, {"a lock file only its owner may write", 0644}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(::chmod(LockPath().c_str(), c.lock_file_mode), 0);
    EXPECT_TRUE(TakenElsewhere(nobody));
    ArchiveGuard held;
    ASSERT_TRUE(held.TryAcquire(dir_));
    EXPECT_FALSE(TakenElsewhere(nobody));
  }
}

// The guard's process is killed while the archiver it started runs: the lock
// stays taken until the archiver has ended.
TEST_F(ArchiveLockTest, TheLockLastsAsLongAsTheArchiverStartedUnderIt) {
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const pid_t taker = ::fork();
  ASSERT_GE(taker, 0);
  if (taker == 0) {
    ArchiveGuard guard;
    if (!guard.TryAcquire(dir_)) ::_exit(2);
    platform::RunAndWait("sh -c \"read line < '" + fifo + "'\"");
    ::_exit(3);
  }
  // Opening the pipe's other end waits until the archiver has started.
  const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ::kill(taker, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(taker, &status, 0), taker);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(TakenElsewhere());

  // The archiver ends at the pipe's end of file; a blocking lock waits for it.
  ::close(writer);
  const int probe = ::open(LockPath().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(probe, 0);
  EXPECT_EQ(::flock(probe, LOCK_EX), 0);
  ::close(probe);
  EXPECT_TRUE(TakenElsewhere());
}

// A released guard hands nothing down to the programs started after it.
TEST_F(ArchiveLockTest, AReleasedGuardHandsNothingDown) {
  {
    ArchiveGuard guard;
    ASSERT_TRUE(guard.TryAcquire(dir_));
    EXPECT_GE(platform::DescriptorHandedDown(), 0);
  }
  EXPECT_EQ(platform::DescriptorHandedDown(), -1);
}

}  // namespace
}  // namespace qm::backup
