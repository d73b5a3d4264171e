// The shared opener of a file used by all threads and the per-thread opener.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>

#include "files_fixture.h"
#include "framework/files/file_opener.h"
#include "platform/runtime_error.h"
#include "platform/threads.h"

namespace qm::testing {
namespace {

using platform::RecordFile;

platform::RecordDeclaration SharedJobsDeclaration() {
  platform::RecordDeclaration declaration = JobsDeclaration();
  declaration.per_thread = false;
  return declaration;
}

class FileOpenerTest : public FilesTest {
 protected:
  void SetUp() override {
    FilesTest::SetUp();
    AddJobs({{1, "Plough", "P1"}});
    SetPhysicalOpen([this](RecordFile& file, int mode) {
      ++physical_opens_;
      return file.Open(mode);
    });
  }

  std::atomic<int> physical_opens_ = 0;
};

TEST_F(FileOpenerTest, TwoThreadsOpenASharedFileOnceAndTheSecondCloseClosesIt) {
  RecordFile shared(SharedJobsDeclaration());
  std::latch first_opened(1), second_opened(1), first_closed(1);
  bool open_after_first_close = false;
  bool open_after_second_close = true;
  auto manager_on_this_thread = [&] {
    auto manager = std::make_unique<TestFileManager>(shared, errors_, "TdJobs");
    manager->Setup();
    manager->LAZYOPEN = false;
    return manager;
  };

  platform::StartThread([&] {
    auto manager = manager_on_this_thread();
    EXPECT_EQ(manager->Open(), LevelNone);
    first_opened.count_down();
    second_opened.wait();
    manager->Close();
    first_closed.count_down();
    manager->Shutdown();
  });
  platform::StartThread([&] {
    auto manager = manager_on_this_thread();
    first_opened.wait();
    EXPECT_EQ(manager->Open(), LevelNone);
    second_opened.count_down();
    first_closed.wait();
    open_after_first_close = shared.IsOpen();
    manager->Close();
    open_after_second_close = shared.IsOpen();
    manager->Shutdown();
  });
  platform::JoinThreads();

  EXPECT_EQ(physical_opens_, 1);
  EXPECT_TRUE(open_after_first_close);
  EXPECT_FALSE(open_after_second_close);
}

// A manager that was opened and closed without ever using the file never
// opened it: its close leaves the file open for the thread reading it.
TEST_F(FileOpenerTest, AManagerThatNeverUsedASharedFileDoesNotCloseItForAnother) {
  RecordFile shared(SharedJobsDeclaration());
  std::latch first_read(1), second_closed(1);
  ErrorLevel read_on = LevelFatal;
  platform::StartThread([&] {
    TestFileManager reader(shared, errors_, "TdJobs");
    reader.Setup();
    reader.LAZYOPEN = false;
    ASSERT_EQ(reader.Open(), LevelNone);
    ASSERT_EQ(reader.SetOrder(1), LevelNone);
    EXPECT_EQ(reader.Next(), LevelNone);
    first_read.count_down();
    second_closed.wait();
    ASSERT_EQ(reader.SetOrder(1), LevelNone);
    read_on = reader.Next();
    reader.Close();
    reader.Shutdown();
  });
  platform::StartThread([&] {
    TestFileManager idle(shared, errors_, "TdJobs");
    idle.Setup();
    first_read.wait();
    EXPECT_EQ(idle.Open(), LevelNone);  // lazily: nothing is opened yet
    idle.Close();
    second_closed.count_down();
    idle.Shutdown();
  });
  platform::JoinThreads();

  EXPECT_EQ(read_on, LevelNone);
  EXPECT_EQ(physical_opens_, 1);
  EXPECT_FALSE(shared.IsOpen());
}

TEST_F(FileOpenerTest, AFileAlreadyOpenCountsAsOpenedForBothOpeners) {
  RecordFile file(JobsDeclaration());
  ASSERT_EQ(file.Open(), 0);
  SharedOpener shared(file);
  ThreadOpener per_thread(file);

  EXPECT_EQ(shared.OpenFile(66, 1), 0);
  EXPECT_EQ(shared.UsageCount(), 1);
  EXPECT_EQ(per_thread.OpenFile(66, 1), 0);
  EXPECT_EQ(platform::LastRuntimeError().code, 0);
}

TEST_F(FileOpenerTest, AFailedSharedOpenOrCloseLeavesTheCountAsItWas) {
  RecordFile missing(SharedJobsDeclaration());
  missing.SetDiskName("MISSING");
  SharedOpener opener(missing);
  EXPECT_EQ(opener.OpenFile(66, 1), platform::kErrFileNotFound);
  EXPECT_EQ(opener.UsageCount(), 0);
  EXPECT_EQ(opener.CloseFile(), 0);
  EXPECT_EQ(opener.UsageCount(), 0);

  RecordFile file(SharedJobsDeclaration());
  SharedOpener counted(file);
  ASSERT_EQ(counted.OpenFile(66, 1), 0);
  ASSERT_EQ(counted.OpenFile(66, 1), 0);
  EXPECT_EQ(physical_opens_, 2);  // the missing file's attempt and this one
  EXPECT_EQ(counted.CloseFile(), 0);
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(counted.CloseFile(), 0);
  EXPECT_FALSE(file.IsOpen());
}

TEST_F(FileOpenerTest, AFileSharedByThreadsHasOneOpenerWhileItIsHeld) {
  RecordFile shared(SharedJobsDeclaration());
  std::shared_ptr<IFILEOPENSERVER> first = OpenerFor(shared);
  std::shared_ptr<IFILEOPENSERVER> second = OpenerFor(shared);
  EXPECT_EQ(first, second);
  ASSERT_EQ(first->OpenFile(66, 1), 0);
  first.reset();
  second.reset();
  shared.Close();
  EXPECT_EQ(dynamic_cast<SharedOpener&>(*OpenerFor(shared)).UsageCount(), 0);

  RecordFile per_thread(JobsDeclaration());
  EXPECT_NE(OpenerFor(per_thread), OpenerFor(per_thread));
  EXPECT_NE(dynamic_cast<ThreadOpener*>(OpenerFor(per_thread).get()), nullptr);
}

}  // namespace
}  // namespace qm::testing
