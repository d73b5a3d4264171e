// Reading, writing and deleting records through the file manager, field
// checks, and aliases.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A file that another station keeps locked answers every read with "held";
// stepping over held records cannot step past that, so the read gives up.
TEST_F(FileManagerRecordsTest, SkippingHeldRecordsGivesUpOnAFileAnotherStationKeepsLocked) {
  jobs_.SKIPHELDRECORDS = true;
  ASSERT_EQ(jobs_.SetOrder(kNumberKey), LevelNone);
  ASSERT_EQ(file_.Send("Recover=0"), 0);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The byte a writer locks while it commits, held for a while.
    const int descriptor = ::open(file_.Path().c_str(), O_RDWR);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0x40000000;
    lock.l_len = 1;
    const char signal = descriptor >= 0 && ::fcntl(descriptor, F_SETLK, &lock) == 0 ? '1' : '0';
    (void)!::write(ready[1], &signal, 1);
    ::sleep(3);
    ::_exit(0);
  }
  char signal = 0;
  ASSERT_EQ(::read(ready[0], &signal, 1), 1);
  ASSERT_EQ(signal, '1');

  EXPECT_EQ(jobs_.NextQuiet(), LevelNotify);
  EXPECT_EQ(jobs_.LASTERROR, kMsgRecordHeld);
  EXPECT_FALSE(jobs_.AtEof());

  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_EQ(jobs_.NextQuiet(), LevelNone);
  EXPECT_EQ(Get(file_, "JOB:NAME"), "Plough");
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

// A record numbered ahead of its insert on one side, the file or its alias,
// stays that side's: the other side's insert adds a record of its own.
TEST_F(FileManagerAliasTest, ARecordNumberedAheadOnOneSideIsNotWrittenOverByTheOther) {
  struct Case {
    const char* name;
    bool alias_prepares;
  };
  for (const Case& c : {Case{"1", false}, Case{"2", true}}) {
    SCOPED_TRACE(c.alias_prepares ? "the alias numbers ahead" : "the file numbers ahead");
    TestFileManager& ahead = c.alias_prepares ? alias_ : jobs_;
    TestFileManager& other = c.alias_prepares ? jobs_ : alias_;
    RecordFile& ahead_file = c.alias_prepares ? alias_file_ : file_;
    RecordFile& other_file = c.alias_prepares ? file_ : alias_file_;
    ASSERT_EQ(ahead.PrepareRecord(), LevelNone);
    const std::string pending = Get(ahead_file, "JOB:NUMBER");

    other_file.Clear();
    Set(other_file, "JOB:NAME", std::string("Other") + c.name);
    Set(other_file, "JOB:CODE", std::string("O") + c.name);
    ASSERT_EQ(other.Insert(), LevelNone);
    EXPECT_NE(Get(other_file, "JOB:NUMBER"), pending);
    EXPECT_TRUE(ahead.AutoIncDone());

    Set(ahead_file, "JOB:NAME", std::string("Ahead") + c.name);
    Set(ahead_file, "JOB:CODE", std::string("A") + c.name);
    ASSERT_EQ(ahead.Insert(), LevelNone);
    EXPECT_EQ(Get(ahead_file, "JOB:NUMBER"), pending);
  }
  EXPECT_EQ(Scan(jobs_, file_, kNumberKey),
            (std::vector<std::string>{"Plough", "Harrow", "Drill", "Ahead1", "Other1", "Ahead2", "Other2"}));
  EXPECT_TRUE(presenter_.Messages().empty());
}

}  // namespace
}  // namespace qm::testing
