// Saved states, and the usage registry giving a procedure back the file's
// position and record after a procedure it called read on.
#include <gtest/gtest.h>

#include "files_fixture.h"
#include "framework/files/file_registry.h"

namespace qm::testing {
namespace {

using platform::RecordFile;

constexpr int kNumberKey = 1;

class FileRegistryTest : public FilesTest {
 protected:
  void SetUp() override {
    FilesTest::SetUp();
    AddJobs({{1, "Plough", "P1"}, {2, "Harrow", "H1"}, {3, "Drill", "D1"}, {4, "Roller", "R1"}});
    jobs_.Setup();
    ASSERT_EQ(jobs_.Open(), LevelNone);
    ASSERT_EQ(jobs_.SetOrder(kNumberKey), LevelNone);
    ASSERT_EQ(jobs_.Next(), LevelNone);
    ASSERT_EQ(jobs_.Next(), LevelNone);
    ASSERT_EQ(Get(file_, "JOB:NAME"), "Harrow");
  }

  void TearDown() override {
    jobs_.Shutdown();
    FilesTest::TearDown();
  }

  // A procedure called from "Main" that opens the file, reads it to the
  // end, uses it as `usage` says, changes the buffer and closes the file.
  void RunCalledProcedure(int usage) {
    errors_.PushProcedureName("PickJob");
    ASSERT_EQ(jobs_.Open(), LevelNone);
    ASSERT_EQ(jobs_.SetOrder(kNumberKey), LevelNone);
    jobs_.EnsureOpen(usage);
    while (jobs_.Next() == LevelNone) {
    }
    Set(file_, "JOB:NAME", "Picked");
    jobs_.Close();
    errors_.PopProcedureName();
  }

  RecordFile file_{JobsDeclaration()};
  TestFileManager jobs_{file_, errors_, "TdJobs"};
};

TEST_F(FileRegistryTest, ARestoredStateGivesBackThePositionAndAsAskedTheRecord) {
  for (const bool restore_buffer : {true, false}) {
    std::uint16_t id = jobs_.SaveState();
    ASSERT_NE(id, 0);
    ASSERT_EQ(jobs_.Next(), LevelNone);
    Set(file_, "JOB:NAME", "Changed");

    jobs_.RestoreState(id, restore_buffer);

    EXPECT_EQ(id, 0);
    EXPECT_EQ(Get(file_, "JOB:NAME"), restore_buffer ? "Harrow" : "Changed");
    ASSERT_EQ(jobs_.Next(), LevelNone);
    EXPECT_EQ(Get(file_, "JOB:NAME"), "Drill") << restore_buffer;
    ASSERT_EQ(jobs_.Previous(), LevelNone);
  }
  EXPECT_TRUE(jobs_.SAVED.empty());
  EXPECT_TRUE(jobs_.BUFFERS.empty());
}

TEST_F(FileRegistryTest, ACalledProcedureThatReadOnLeavesTheCallersPositionAndRecord) {
  RunCalledProcedure(kUsageReturns);

  EXPECT_EQ(Get(file_, "JOB:NAME"), "Harrow");
  ASSERT_EQ(jobs_.Next(), LevelNone);
  EXPECT_EQ(Get(file_, "JOB:NAME"), "Drill");
  // The called procedure's record is gone; the caller's own one remains.
  const std::vector<UsageRecord> records = GlobalFileRegistry().UsageRecordsOf(file_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].PROC, "Main");
  EXPECT_TRUE(jobs_.IsOpen());
}

TEST_F(FileRegistryTest, ACalledProcedureThatChangedTheRecordKeepsItsBuffer) {
  RunCalledProcedure(kUsageChanges);

  EXPECT_EQ(Get(file_, "JOB:NAME"), "Picked");
  ASSERT_EQ(jobs_.Next(), LevelNone);
  EXPECT_EQ(Get(file_, "JOB:NAME"), "Drill");
}

TEST_F(FileRegistryTest, NestedOpensOfOneProcedureRestoreOnlyAtItsLastClose) {
  errors_.PushProcedureName("PickJob");
  ASSERT_EQ(jobs_.Next(), LevelNone);  // first use by PickJob saves Main's state
  ASSERT_EQ(jobs_.Open(), LevelNone);
  ASSERT_EQ(jobs_.Next(), LevelNone);
  jobs_.Close();
  EXPECT_EQ(Get(file_, "JOB:NAME"), "Roller");
  jobs_.Close();
  errors_.PopProcedureName();

  EXPECT_EQ(Get(file_, "JOB:NAME"), "Harrow");
}

TEST_F(FileRegistryTest, ManagersAreFoundByTheirFile) {
  EXPECT_EQ(GlobalFileRegistry().FileManagerFor(file_), &jobs_);
  RecordFile other(JobsDeclaration());
  EXPECT_EQ(GlobalFileRegistry().FileManagerFor(other), nullptr);
  jobs_.ReleaseResources();
  EXPECT_EQ(GlobalFileRegistry().FileManagerFor(file_), nullptr);
  EXPECT_TRUE(GlobalFileRegistry().UsageRecordsOf(file_).empty());
}

}  // namespace
}  // namespace qm::testing
