#include "platform/record_snapshot.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/record_fields.h"
#include "platform/record_file.h"
#include "platform/record_share_lock.h"
#include "platform/record_transaction.h"
#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

RecordDeclaration ItemsDeclaration(const std::string& disk_name) {
  RecordDeclaration declaration;
  declaration.label = "TdItems";
  declaration.disk_name = disk_name;
  declaration.prefix = "ITM";
  declaration.AddField("ITM:NUMBER", FieldEncoding::kU32);
  declaration.AddField("ITM:NAME", FieldEncoding::kText, 20);
  declaration.keys = {KeyDeclaration{"ITM:NumberKey", {1}, true, false, true, false}};
  return declaration;
}

class RecordSnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-snap-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // A record file ITEMS.dat holding items 1..count, committed.
  void MakeItems(int count) const {
    RecordFile file(ItemsDeclaration(Path("ITEMS")));
    ASSERT_EQ(file.Create(), 0);
    ASSERT_EQ(file.Open(), 0);
    for (int number = 1; number <= count; ++number) {
      file.Clear();
      ASSERT_TRUE(SetFieldText(file.Declaration().fields[0], file.Record(), std::to_string(number)));
      ASSERT_TRUE(SetFieldText(file.Declaration().fields[1], file.Record(), "item"));
      ASSERT_EQ(file.Add(), 0);
    }
  }

  // Opens a copy as the driver does and checks it whole; its record count, or -1.
  static std::int64_t SoundRecords(const std::string& disk_name) {
    RecordFile copy(ItemsDeclaration(disk_name));
    if (copy.Open() != 0) return -1;
    const RecordFileCheck check = copy.Check();
    if (!check.problems.empty()) return -1;
    return copy.Records();
  }

  std::string dir_;
};

TEST_F(RecordSnapshotTest, TellsRecordFilesFromOtherFiles) {
  MakeItems(1);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(Path("OTHER.dat").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "CREATE TABLE t(x);", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  std::ofstream(Path("TEXT.dat")) << "SQLite format 3";
  std::ofstream(Path("EMPTY.dat"));

  EXPECT_TRUE(IsRecordFile(Path("ITEMS.dat")));
  for (const char* name : {"OTHER.dat", "TEXT.dat", "EMPTY.dat", "MISSING.dat"})
    EXPECT_FALSE(IsRecordFile(Path(name))) << name;
}

TEST_F(RecordSnapshotTest, CopiesTheCommittedStateAndRollsBackAHotJournalFirst) {
  MakeItems(100);
  // A writer that dies in the middle of a transaction large enough to have
  // spilled pages into the file leaves it torn, with a hot journal beside it.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* db = nullptr;
    if (sqlite3_open(Path("ITEMS.dat").c_str(), &db) != SQLITE_OK) ::_exit(2);
    const char* torn =
        "PRAGMA cache_size = 10; BEGIN; DELETE FROM records;"
        "CREATE TABLE filler(x);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)"
        " INSERT INTO filler SELECT randomblob(1000) FROM n;";
    if (sqlite3_exec(db, torn, nullptr, nullptr, nullptr) != SQLITE_OK) ::_exit(3);
    ::kill(::getpid(), SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer did not get as far as its kill";
  ASSERT_TRUE(std::filesystem::exists(Path("ITEMS.dat-journal")));

  const RecordSnapshotResult taken = SnapshotRecordFile(Path("ITEMS.dat"), Path("COPY.dat"));
  ASSERT_EQ(taken.code, 0) << taken.reason;
  EXPECT_EQ(SoundRecords(Path("COPY")), 100);
  EXPECT_FALSE(std::filesystem::exists(Path("ITEMS.dat-journal")));
  EXPECT_EQ(SoundRecords(Path("ITEMS")), 100);
}

TEST_F(RecordSnapshotTest, LeavesOutATransactionStillRunning) {
  MakeItems(100);
  RecordFile writer(ItemsDeclaration(Path("ITEMS")));
  ASSERT_EQ(writer.Open(), 0);
  RecordTransaction transaction;
  ASSERT_EQ(transaction.Begin({&writer}, 1), 0);
  for (int number = 101; number <= 150; ++number) {
    writer.Clear();
    ASSERT_TRUE(SetFieldText(writer.Declaration().fields[0], writer.Record(), std::to_string(number)));
    ASSERT_EQ(writer.Add(), 0);
  }

  const RecordSnapshotResult taken = SnapshotRecordFile(Path("ITEMS.dat"), Path("COPY.dat"));
  ASSERT_EQ(taken.code, 0) << taken.reason;
  EXPECT_EQ(SoundRecords(Path("COPY")), 100);
  ASSERT_EQ(transaction.Commit(), 0);
}

TEST_F(RecordSnapshotTest, HonoursShareModesThatDenyReading) {
  MakeItems(3);
  const struct {
    int holder_mode;
    int expected;
  } cases[] = {
      {kAccessReadWrite | kShareDenyAll, kErrAccessDenied},
      {kAccessReadWrite | kShareDenyRead, kErrAccessDenied},
      {kAccessReadWrite | kShareDenyWrite, 0},
      {kOpenReadWriteDenyNone, 0},
  };
  for (const auto& c : cases) {
    RecordFile holder(ItemsDeclaration(Path("ITEMS")));
    ASSERT_EQ(holder.Open(c.holder_mode), 0) << c.holder_mode;
    std::filesystem::remove(Path("COPY.dat"));
    const RecordSnapshotResult taken = SnapshotRecordFile(Path("ITEMS.dat"), Path("COPY.dat"));
    EXPECT_EQ(taken.code, c.expected) << "holder mode " << c.holder_mode << ": " << taken.reason;
    if (c.expected == 0) {
      EXPECT_EQ(SoundRecords(Path("COPY")), 3);
    }
  }
}

TEST_F(RecordSnapshotTest, AMissingFileAnswers2) {
  const RecordSnapshotResult taken = SnapshotRecordFile(Path("NONE.dat"), Path("COPY.dat"));
  EXPECT_EQ(taken.code, kErrFileNotFound);
  EXPECT_FALSE(taken.reason.empty());
}

}  // namespace
}  // namespace qm::platform
