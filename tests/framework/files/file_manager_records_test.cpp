// Reading, writing and deleting records through the file manager, field
// checks, and aliases.
#include <gtest/gtest.h>

#include "files_fixture.h"
#include "platform/presenter.h"
#include "platform/runtime_error.h"

namespace qm::testing {
namespace {

using platform::RecordFile;

constexpr int kNumberKey = 1;
constexpr int kNameKey = 2;

class FileManagerRecordsTest : public FilesTest {
 protected:
  void SetUp() override {
    FilesTest::SetUp();
    AddJobs({{1, "Plough", "P1"}, {2, "Harrow", "H1"}, {3, "Drill", "D1"}});
    jobs_.Setup();
    ASSERT_EQ(jobs_.Open(), LevelNone);
  }

  void TearDown() override {
    jobs_.Shutdown();
    FilesTest::TearDown();
  }

  // Reads the whole file in `key` order; the NAME of each record.
  std::vector<std::string> Scan(FileManager& manager, RecordFile& file, int key) {
    std::vector<std::string> names;
    EXPECT_EQ(manager.SetOrder(key), LevelNone);
    while (manager.Next() == LevelNone) names.push_back(Get(file, "JOB:NAME"));
    return names;
  }

  RecordFile file_{JobsDeclaration()};
  TestFileManager jobs_{file_, errors_, "TdJobs"};
};

TEST_F(FileManagerRecordsTest, NextAtTheEndSetsAtEofWithoutAMessage) {
  EXPECT_EQ(Scan(jobs_, file_, kNameKey), (std::vector<std::string>{"Drill", "Harrow", "Plough"}));
  EXPECT_TRUE(jobs_.AtEof());
  EXPECT_EQ(jobs_.NextQuiet(), LevelNotify);
  EXPECT_EQ(jobs_.Previous(), LevelNone);
  EXPECT_FALSE(jobs_.AtEof());
  EXPECT_TRUE(presenter_.Messages().empty());
}

TEST_F(FileManagerRecordsTest, AFetchThatFindsNothingClearsTheBuffer) {
  Set(file_, "JOB:NUMBER", "2");
  ASSERT_EQ(jobs_.Fetch(kNumberKey), LevelNone);
  EXPECT_EQ(Get(file_, "JOB:NAME"), "Harrow");

  Set(file_, "JOB:NUMBER", "9");
  EXPECT_EQ(jobs_.Fetch(kNumberKey), LevelNotify);
  EXPECT_EQ(Get(file_, "JOB:NAME"), "");
  EXPECT_EQ(Get(file_, "JOB:NUMBER"), "0");
  EXPECT_TRUE(presenter_.Messages().empty());
}

struct DuplicateCase {
  const char* name;
  const char* field;
  const char* value;   // beside the stored "Plough" and "P1"
  bool refused;
};

class FileManagerDuplicateTest : public FileManagerRecordsTest,
                                 public ::testing::WithParamInterface<DuplicateCase> {};

// As an insert form does it: the record is numbered (and pre-added) first,
// then completed with what the user typed.
TEST_P(FileManagerDuplicateTest, UniqueKeysRefuseOnlyWhatTheirCaseRuleCallsEqual) {
  file_.Clear();
  Set(file_, "JOB:NAME", "Seeder");
  Set(file_, "JOB:CODE", "S1");
  ASSERT_EQ(jobs_.PrepareRecord(true), LevelNone);
  ASSERT_TRUE(jobs_.AutoIncDone());
  EXPECT_EQ(Get(file_, "JOB:NUMBER"), "4");
  Set(file_, GetParam().field, GetParam().value);

  const ErrorLevel level = jobs_.Insert();

  if (!GetParam().refused) {
    EXPECT_EQ(level, LevelNone);
    EXPECT_TRUE(presenter_.Messages().empty());
    EXPECT_FALSE(jobs_.AutoIncDone());
    EXPECT_EQ(file_.Records(), 4);
    return;
  }
  EXPECT_EQ(level, LevelNotify);
  ASSERT_EQ(Titles(), std::vector<std::string>{"Duplicate Key Error"});
  EXPECT_EQ(Texts()[0], "Adding this record creates a duplicate entry for the key: The NameKey");
  // The numbered record stays until the form gives up on it.
  EXPECT_TRUE(jobs_.AutoIncDone());
  EXPECT_EQ(jobs_.UndoNumbering(), LevelNone);
  EXPECT_EQ(file_.Records(), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, FileManagerDuplicateTest,
    ::testing::Values(DuplicateCase{"SameNameOtherCase", "JOB:NAME", "PLOUGH", true},
                      DuplicateCase{"SameName", "JOB:NAME", "Plough", true},
                      DuplicateCase{"SameCodeOtherCase", "JOB:CODE", "p1", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileManagerRecordsTest, TheQuietInsertOnlyNotesTheDuplicate) {
  file_.Clear();
  ASSERT_EQ(jobs_.PrepareRecord(), LevelNone);
  Set(file_, "JOB:NAME", "harrow");
  Set(file_, "JOB:CODE", "X1");
  EXPECT_EQ(jobs_.InsertQuiet(), LevelNotify);
  EXPECT_EQ(jobs_.LASTERROR, kMsgDuplicateKey);
  EXPECT_TRUE(presenter_.Messages().empty());
  EXPECT_EQ(file_.Records(), 4);
}

TEST_F(FileManagerRecordsTest, AnUpdateOverAnotherStationsChangeShowsTheirVersion) {
  RecordFile other_file(JobsDeclaration());
  TestFileManager other(other_file, errors_, "TdJobs");
  other.Setup();
  ASSERT_EQ(other.Open(), LevelNone);

  Set(file_, "JOB:NUMBER", "2");
  ASSERT_EQ(jobs_.Fetch(kNumberKey), LevelNone);
  Set(other_file, "JOB:NUMBER", "2");
  ASSERT_EQ(other.Fetch(kNumberKey), LevelNone);
  Set(other_file, "JOB:NAME", "Disc");
  ASSERT_EQ(other.Update(), LevelNone);

  Set(file_, "JOB:NAME", "Tine");
  EXPECT_EQ(jobs_.Update(), LevelNotify);
  ASSERT_EQ(Titles(), std::vector<std::string>{"Record Was Not Updated"});
  EXPECT_EQ(Texts()[0], "This record was changed by another station.");
  EXPECT_EQ(Get(file_, "JOB:NAME"), "Disc");

  // Having seen their version, this station may write over it.
  Set(file_, "JOB:NAME", "Tine");
  EXPECT_EQ(jobs_.Update(), LevelNone);
  other.Shutdown();
}

TEST_F(FileManagerRecordsTest, AFailedFieldCheckStopsInsertAndUpdate) {
  jobs_.failing_fields = {3};
  file_.Clear();
  Set(file_, "JOB:NAME", "Seeder");
  Set(file_, "JOB:CODE", "S1");
  EXPECT_EQ(jobs_.Insert(), LevelNotify);
  EXPECT_EQ(jobs_.InsertQuiet(), LevelNotify);
  EXPECT_EQ(file_.Records(), 3);

  Set(file_, "JOB:NUMBER", "1");
  ASSERT_EQ(jobs_.Fetch(kNumberKey), LevelNone);
  Set(file_, "JOB:NAME", "Old plough");
  EXPECT_EQ(jobs_.Update(), LevelQuestion);
  // Only the reporting forms showed the check's message.
  EXPECT_EQ(Titles(), (std::vector<std::string>{"Range Error", "Range Error"}));
  EXPECT_EQ(Texts()[0], "The value of JOB:CODE must be in range 1 to 9.");
  ASSERT_EQ(jobs_.Fetch(kNumberKey), LevelNone);
  EXPECT_EQ(Get(file_, "JOB:NAME"), "Plough");
}

TEST_F(FileManagerRecordsTest, DeleteAsksWhenToldToAndKeepsTheRecordOnNo) {
  Set(file_, "JOB:NUMBER", "2");
  ASSERT_EQ(jobs_.Fetch(kNumberKey), LevelNone);

  presenter_.QueueAnswer(platform::kButtonNo);
  EXPECT_EQ(jobs_.DeleteRecord(true), LevelCancel);
  ASSERT_EQ(Titles(), std::vector<std::string>{"Confirm Delete"});
  EXPECT_EQ(Texts()[0], "Are you sure you want to delete the highlighted record?");
  EXPECT_EQ(file_.Records(), 3);

  presenter_.QueueAnswer(platform::kButtonYes);
  EXPECT_EQ(jobs_.DeleteRecord(true), LevelNone);
  EXPECT_EQ(file_.Records(), 2);
  EXPECT_EQ(jobs_.DeleteRecord(false), LevelNotify);  // nothing current any more
  EXPECT_EQ(jobs_.LASTERROR, kMsgDeleteError);
}

TEST_F(FileManagerRecordsTest, AFileClosedBehindTheManagersBackIsOpenedAgainOnUse) {
  Set(file_, "JOB:NUMBER", "1");
  ASSERT_EQ(jobs_.Fetch(kNumberKey), LevelNone);
  file_.Close();

  Set(file_, "JOB:NUMBER", "3");
  EXPECT_EQ(jobs_.Fetch(kNumberKey), LevelNone);
  EXPECT_EQ(Get(file_, "JOB:NAME"), "Drill");
  EXPECT_TRUE(presenter_.Messages().empty());
}

TEST_F(FileManagerRecordsTest, AFileThatGoesAwayLeavesItsManagerNothingToTouch) {
  auto file = std::make_unique<RecordFile>(JobsDeclaration());
  FileManager manager;
  manager.FILE = file.get();
  manager.ERRORS = &errors_;
  manager.Setup();
  manager.Attach(*file, errors_);
  manager.LAZYOPEN = false;
  ASSERT_EQ(manager.Open(), LevelNone);
  ASSERT_EQ(manager.SetOrder(kNumberKey), LevelNone);
  manager.SaveState();

  file.reset();

  EXPECT_EQ(GlobalFileRegistry().FileManagerFor(file_), &jobs_);
  EXPECT_EQ(manager.FILE, nullptr);
  EXPECT_FALSE(manager.IsOpen());
  EXPECT_EQ(manager.Next(), LevelFatal);
  manager.Close();
  manager.Shutdown();
}

class FileManagerAliasTest : public FileManagerRecordsTest {
 protected:
  void SetUp() override {
    FileManagerRecordsTest::SetUp();
    alias_.Setup();
    alias_.ALIASEDFILE = &jobs_;
    ASSERT_EQ(alias_.Open(), LevelNone);
  }

  void TearDown() override {
    alias_.Shutdown();
    FileManagerRecordsTest::TearDown();
  }

  RecordFile alias_file_{JobsDeclaration()};
  TestFileManager alias_{alias_file_, errors_, "TdJobsA"};
};

TEST_F(FileManagerAliasTest, TheAliasReadsWhatItsFileWroteWithoutMovingThatFile) {
  ASSERT_EQ(jobs_.SetOrder(kNumberKey), LevelNone);
  ASSERT_EQ(jobs_.Next(), LevelNone);
  file_.Clear();
  Set(file_, "JOB:NAME", "Roller");
  Set(file_, "JOB:CODE", "R1");
  ASSERT_EQ(jobs_.Insert(), LevelNone);
  EXPECT_EQ(Get(file_, "JOB:NUMBER"), "4");

  EXPECT_EQ(Scan(alias_, alias_file_, kNumberKey),
            (std::vector<std::string>{"Plough", "Harrow", "Drill", "Roller"}));
  Set(alias_file_, "JOB:NUMBER", "4");
  ASSERT_EQ(alias_.Fetch(kNumberKey), LevelNone);
  EXPECT_EQ(Get(alias_file_, "JOB:NAME"), "Roller");

  // The aliased file still holds its own record and reads on from it.
  EXPECT_EQ(Get(file_, "JOB:NAME"), "Roller");
  ASSERT_EQ(jobs_.Next(), LevelNone);
  EXPECT_EQ(Get(file_, "JOB:NAME"), "Harrow");
}

TEST_F(FileManagerAliasTest, RecordsWrittenThroughTheAliasAreNumberedByItsFile) {
  alias_file_.Clear();
  Set(alias_file_, "JOB:NAME", "Baler");
  Set(alias_file_, "JOB:CODE", "B1");
  ASSERT_EQ(alias_.Insert(), LevelNone);
  EXPECT_EQ(Get(alias_file_, "JOB:NUMBER"), "4");

  Set(alias_file_, "JOB:NAME", "PLOUGH");
  Set(alias_file_, "JOB:CODE", "B2");
  EXPECT_EQ(alias_.Update(), LevelNotify);
  ASSERT_EQ(Titles(), std::vector<std::string>{"Record was not updated"});

  Set(file_, "JOB:NUMBER", "4");
  ASSERT_EQ(jobs_.Fetch(kNumberKey), LevelNone);
  EXPECT_EQ(Get(file_, "JOB:NAME"), "Baler");
}

}  // namespace
}  // namespace qm::testing
