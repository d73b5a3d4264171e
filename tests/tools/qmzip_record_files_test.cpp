// QmZip -add over record files: what goes into the archive is a committed
// state of each, whatever another process is doing to the live file, and a
// share mode that denies reading stops the whole command. Each archive is
// judged by extracting it alone and opening the copy with the record driver.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/record_fields.h"
#include "platform/record_file.h"
#include "platform/record_share_lock.h"
#include "platform/record_transaction.h"
#include "platform/sqlite_connection.h"
#include "qmzip_harness.h"
#include "record_items.h"

namespace qm::qmzip::testing {
namespace {

using platform::RecordDeclaration;
using platform::RecordFile;

constexpr int kBatch = 10;

// Adds items in transactions of kBatch until `stop` exists; writes one byte
// to `ready` after the first commit. The exit code of a forked writer.
int CommitBatchesUntil(const std::string& disk_name, int first, const std::string& stop, int ready) {
  RecordFile writer(ItemsDeclaration(disk_name));
  if (writer.Open() != 0) return 2;
  for (int number = first; !std::filesystem::exists(stop); number += kBatch) {
    platform::RecordTransaction transaction;
    if (transaction.Begin({&writer}, 5) != 0) return 3;
    if (AddItems(writer, number, number + kBatch - 1) != 0) return 4;
    if (transaction.Commit() != 0) return 5;
    if (number == first && ::write(ready, "r", 1) != 1) return 6;
  }
  return 0;
}

struct ArchivedItems {
  std::int64_t records = -1;  // -1 when the copy could not be opened
  std::vector<std::string> problems;
  std::vector<std::string> files;  // what the extraction left
};

class QmZipRecordFilesTest : public ::testing::Test {
 protected:
  std::string Items() const { return dir_ / "ITEMS"; }

  void MakeItems(int count) const { testing::MakeItems(Items(), count); }

  // Extracts `archive` alone into a directory of its own and opens its
  // ITEMS.dat with the record driver.
  static ArchivedItems Extract(const std::string& archive) {
    ScratchDirectory out;
    ArchivedItems items;
    const RunResult extracted = RunQmZip({"-ext", "-over=all", archive}, out.path());
    if (extracted.exit_code != 0) {
      items.problems.push_back("extraction: " + extracted.err);
      return items;
    }
    for (const auto& entry : std::filesystem::directory_iterator(out.path()))
      items.files.push_back(entry.path().filename().string());
    std::sort(items.files.begin(), items.files.end());
    RecordFile copy(ItemsDeclaration(out / "ITEMS"));
    if (copy.Open() != 0) return items;
    const platform::RecordFileCheck check = copy.Check();
    items.problems = check.problems;
    items.records = copy.Records();
    return items;
  }

  ScratchDirectory dir_;
};

TEST_F(QmZipRecordFilesTest, AHotJournalIsRolledBackAndTheArchiveHoldsTheCommittedRecords) {
  {
    RecordFile file(ItemsDeclaration(Items()));
    ASSERT_EQ(file.Create(), 0);
  }
  WriteItemsElsewhere(Items(), 1, 100, true);

  const RunResult added = RunQmZip({"-add", "Tdx01", "*.dat", "*.ini"}, dir_.path());
  ASSERT_EQ(added.exit_code, 0) << added.err;

  const ArchivedItems archived = Extract(dir_ / "Tdx01.Zip");
  EXPECT_EQ(archived.files, std::vector<std::string>{"ITEMS.dat"}) << "the journal is not packed";
  EXPECT_TRUE(archived.problems.empty()) << archived.problems.front();
  EXPECT_EQ(archived.records, 100);
}

TEST_F(QmZipRecordFilesTest, ArchivesMadeWhileAnotherProcessCommitsHoldACommittedState) {
  MakeItems(100);
  const std::string stop = dir_ / "stop";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::_exit(CommitBatchesUntil(Items(), 101, stop, ready[1]));
  }
  ::close(ready[1]);
  char byte = 0;
  const bool writing = ::read(ready[0], &byte, 1) == 1;
  ::close(ready[0]);

  std::vector<RunResult> runs;
  if (writing) {
    for (int n = 1; n <= 6; ++n) runs.push_back(RunQmZip({"-add", "Tdx0" + std::to_string(n), "*.dat"}, dir_.path()));
  }
  dir_.Write("stop", "");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(writing) << "the writer never committed";
  // The writer was never kept from committing by the archiver's reads.
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;

  RecordFile live(ItemsDeclaration(Items()));
  ASSERT_EQ(live.Open(), 0);
  const std::int64_t committed = live.Records();
  for (size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(i + 1);
    ASSERT_EQ(runs[i].exit_code, 0) << runs[i].err;
    const ArchivedItems archived = Extract(dir_ / ("Tdx0" + std::to_string(i + 1) + ".Zip"));
    EXPECT_TRUE(archived.problems.empty()) << archived.problems.front();
    // Every commit added a whole batch: any other count is a torn copy.
    EXPECT_GE(archived.records, 100 + kBatch);
    EXPECT_LE(archived.records, committed);
    EXPECT_EQ(archived.records % kBatch, 0) << archived.records;
  }
}

TEST_F(QmZipRecordFilesTest, AShareModeThatDeniesReadingFailsTheCommandAndWritesNoArchive) {
  MakeItems(3);
  dir_.Write("Qmoor.Ini", "[USER]\nProg=Tdx\n");
  const struct {
    int holder_mode;
    bool archive_exists;
  } cases[] = {
      {platform::kAccessReadWrite | platform::kShareDenyRead, false},
      {platform::kAccessReadWrite | platform::kShareDenyAll, false},
      {platform::kAccessReadWrite | platform::kShareDenyRead, true},
      {platform::kAccessRead | platform::kShareDenyAll, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << c.holder_mode << ", archive exists " << c.archive_exists);
    std::filesystem::remove(dir_ / "Tdx01.Zip");
    if (c.archive_exists) {
      ASSERT_EQ(RunQmZip({"-add", "Tdx01", "*.dat", "*.ini"}, dir_.path()).exit_code, 0);
    }
    RecordFile holder(ItemsDeclaration(Items()));
    ASSERT_EQ(holder.Open(c.holder_mode), 0);
    const Snapshot before = TakeSnapshot(dir_.path());

    const RunResult added = RunQmZip({"-add", "Tdx01", "*.dat", "*.ini"}, dir_.path());
    EXPECT_EQ(added.exit_code, 6);
    EXPECT_TRUE(added.err.starts_with("QmZip: ")) << added.err;
    EXPECT_NE(added.err.find("ITEMS.dat"), std::string::npos) << added.err;
    EXPECT_EQ(std::count(added.err.begin(), added.err.end(), '\n'), 1) << added.err;
    const Snapshot after = TakeSnapshot(dir_.path());
    EXPECT_EQ(after, before) << Summary(before) << "\n" << Summary(after);
  }
}

// Beside a record file, .dat files that only look like one in part are
// packed as they are.
TEST_F(QmZipRecordFilesTest, DatFilesThatAreNotRecordFilesArePackedByteForByte) {
  MakeItems(5);
  dir_.Write("JOBS.dat", RecordData(200000, 7));
  dir_.Write("HEADER.dat", std::string("SQLite format 3\0", 16) + RecordData(5000, 8));
  dir_.Write("EMPTY.dat", "");
  {
    platform::SqliteConnection other;
    ASSERT_EQ(other.Open(dir_ / "OTHER.dat", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    ASSERT_EQ(other.Execute("CREATE TABLE t(x); INSERT INTO t VALUES (1), (2);"), SQLITE_OK);
  }
  const std::vector<std::string> plain = {"JOBS.dat", "HEADER.dat", "EMPTY.dat", "OTHER.dat"};
  std::vector<std::string> bytes;
  for (const std::string& name : plain) bytes.push_back(dir_.Read(name));

  const RunResult added = RunQmZip({"-add", "Tdx01", "*.dat"}, dir_.path());
  ASSERT_EQ(added.exit_code, 0) << added.err;
  ScratchDirectory out;
  ASSERT_EQ(RunQmZip({"-ext", "-over=all", dir_ / "Tdx01.Zip"}, out.path()).exit_code, 0);
  for (size_t i = 0; i < plain.size(); ++i) EXPECT_TRUE(out.Read(plain[i]) == bytes[i]) << plain[i];
  EXPECT_EQ(Extract(dir_ / "Tdx01.Zip").records, 5);
}

}  // namespace
}  // namespace qm::qmzip::testing
