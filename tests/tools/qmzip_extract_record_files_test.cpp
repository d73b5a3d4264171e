// QmZip -ext over record files: a journal that a crashed writer left beside
// a file being replaced is never applied to the restored file, and a file
// that another program has open stops the whole extraction.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/record_fields.h"
#include "platform/record_file.h"
#include "platform/record_share_lock.h"
#include "platform/sqlite_connection.h"
#include "qmzip_harness.h"
#include "record_items.h"

namespace qm::qmzip::testing {
namespace {

using platform::RecordDeclaration;
using platform::RecordFile;

std::string Items(const ScratchDirectory& dir) { return dir / "ITEMS"; }

void MakeItems(const ScratchDirectory& dir, int count) { testing::MakeItems(Items(dir), count); }

void Write(const ScratchDirectory& dir, int first, int last, bool crash) {
  WriteItemsElsewhere(Items(dir), first, last, crash);
}

// Items 1..50 archived, 51..80 committed afterwards, then the restore: the
// file opens sound with the archived 50 whether or not a writer crashed in
// between. A journal beside a file the archive does not hold stays.
TEST(QmZipExtractRecordFilesTest, TheRestoredFileHoldsExactlyTheArchivedRecords) {
  const struct {
    const char* name;
    bool crash;
  } cases[] = {{"a writer crashed since", true}, {"no writer crashed", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDirectory dir;
    MakeItems(dir, 50);
    const std::string other_journal = RecordData(3000, 5);
    dir.Write("NOTES.dat", RecordData(4000, 4));
    ASSERT_EQ(RunQmZip({"-add", "Tdx01", "ITEMS.dat"}, dir.path()).exit_code, 0);
    dir.Write("NOTES.dat-journal", other_journal);
    Write(dir, 51, 80, c.crash);

    const RunResult extracted = RunQmZip({"-ext", "-over=all", "Tdx01.Zip"}, dir.path());
    ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
    EXPECT_FALSE(dir.Exists("ITEMS.dat-journal"));
    EXPECT_TRUE(dir.Read("NOTES.dat-journal") == other_journal);

    RecordFile restored(ItemsDeclaration(Items(dir)));
    ASSERT_EQ(restored.Open(), 0);
    const platform::RecordFileCheck check = restored.Check();
    EXPECT_TRUE(check.problems.empty()) << check.problems.front();
    EXPECT_EQ(restored.Records(), 50);
  }
}

// Another process holds ITEMS.dat open in a share mode while the restore
// runs: the whole extraction is refused and nothing in the directory
// changes.
TEST(QmZipExtractRecordFilesTest, AFileAnotherProgramHasOpenRefusesTheWholeExtraction) {
  ScratchDirectory dir;
  MakeItems(dir, 20);
  dir.Write("Qmoor.Ini", "[USER]\nProg=Tdx\n");
  ASSERT_EQ(RunQmZip({"-add", "Tdx01", "*.dat", "*.ini"}, dir.path()).exit_code, 0);
  dir.Write("Qmoor.Ini", "[USER]\nProg=Changed\n");
  Write(dir, 21, 30, false);
  const int modes[] = {platform::kOpenReadWriteDenyNone, platform::kAccessRead | platform::kShareDenyNone,
                       platform::kAccessReadWrite | platform::kShareDenyWrite};
  for (const int mode : modes) {
    SCOPED_TRACE(::testing::Message() << "held in mode " << mode);
    int opened[2], release[2];
    ASSERT_EQ(::pipe(opened), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
      ::close(opened[0]);
      ::close(release[1]);
      RecordFile file(ItemsDeclaration(Items(dir)));
      const char result = file.Open(mode) == 0 ? 'y' : 'n';
      if (::write(opened[1], &result, 1) != 1) ::_exit(2);
      char ignored;
      while (::read(release[0], &ignored, 1) < 0 && errno == EINTR) {
      }
      ::_exit(0);
    }
    ::close(opened[1]);
    ::close(release[0]);
    char result = 0;
    ASSERT_EQ(::read(opened[0], &result, 1), 1);
    ::close(opened[0]);
    const Snapshot before = TakeSnapshot(dir.path());

    const RunResult extracted = RunQmZip({"-ext", "-over=all", "Tdx01.Zip"}, dir.path());
    const Snapshot after = TakeSnapshot(dir.path());
    ::close(release[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
    ASSERT_EQ(result, 'y') << "the holder could not open the file";

    EXPECT_EQ(extracted.exit_code, 6);
    EXPECT_TRUE(extracted.err.starts_with("QmZip: ")) << extracted.err;
    EXPECT_NE(extracted.err.find("ITEMS.dat"), std::string::npos) << extracted.err;
    EXPECT_EQ(std::count(extracted.err.begin(), extracted.err.end(), '\n'), 1) << extracted.err;
    EXPECT_EQ(after, before) << Summary(before) << "\n" << Summary(after);
  }
}

}  // namespace
}  // namespace qm::qmzip::testing
