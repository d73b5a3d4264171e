// The physical open and its recovery chain, and the use of a file before it
// was opened.
#include <gtest/gtest.h>

#include <fstream>

#include "files_fixture.h"
#include "framework/files/file_opener.h"
#include "platform/record_faults.h"
#include "platform/record_share_lock.h"
#include "platform/runtime_error.h"

namespace qm::testing {
namespace {

using platform::RecordFile;

constexpr const char* kFatal = "  Press OK to end this application";

class FileManagerOpenTest : public FilesTest {
 protected:
  void SetUp() override {
    FilesTest::SetUp();
    SetPhysicalOpen([this](RecordFile& file, int mode) {
      modes_.push_back(mode);
      return file.Open(mode);
    });
  }

  // Attached, keys registered, opened at Open rather than on first use.
  static void AttachWithoutOpening(TestFileManager& manager) {
    manager.Setup();
    manager.LAZYOPEN = false;
    manager.EnsureOpen(kUsageInitialize);
  }

  std::vector<int> modes_;  // of every physical open, in order
};

TEST_F(FileManagerOpenTest, AMissingFileIsCreatedAndOpenedOnTheSecondAttempt) {
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  manager.Setup();

  EXPECT_EQ(manager.Open(), LevelNone);
  EXPECT_EQ(manager.Fetch(1), LevelNotify);  // the first use opens the lazily opened file

  EXPECT_TRUE(std::filesystem::exists("JOBS.dat"));
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(modes_, (std::vector<int>{66, 66}));
  EXPECT_TRUE(presenter_.Messages().empty());
}

TEST_F(FileManagerOpenTest, AMissingFileWithoutCreateIsAFileAccessError) {
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  AttachWithoutOpening(manager);
  manager.CREATE = false;

  EXPECT_EQ(manager.OpenQuiet(), LevelNotify);
  EXPECT_EQ(manager.LASTERROR, kMsgOpenError);
  EXPECT_EQ(manager.ReportError(), LevelFatal);
  ASSERT_FALSE(presenter_.Messages().empty());
  EXPECT_EQ(presenter_.Messages().back().request.title, "File Access Error");
  EXPECT_EQ(presenter_.Messages().back().request.text,
            std::string("File TdJobs could not be opened.  Error: File Not Found (2).") + kFatal);
  EXPECT_FALSE(std::filesystem::exists("JOBS.dat"));
  EXPECT_EQ(manager.OPENED, 0);
}

TEST_F(FileManagerOpenTest, AFileThatRefusesWriteAccessIsOpenedReadOnlyAfterAccessDenied) {
  AddJobs({{1, "Plough", "P1"}});
  platform::RecordShareLock other_station;  // reads and lets no one write
  ASSERT_EQ(other_station.Acquire(std::filesystem::absolute("JOBS.dat"),
                                  platform::kAccessRead | platform::kShareDenyWrite),
            0);
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  manager.Setup();

  ASSERT_EQ(manager.Open(), LevelNone);
  platform::SetFieldText(file.Declaration().fields[0], file.Record(), "1");
  EXPECT_EQ(manager.Fetch(1), LevelNone);
  EXPECT_EQ(Get(file, "JOB:NAME"), "Plough");

  ASSERT_EQ(presenter_.Messages().size(), 1u);
  EXPECT_EQ(presenter_.Messages()[0].request.title, "Access Denied");
  EXPECT_EQ(presenter_.Messages()[0].request.text, "Could not get write access to TdJobs so trying read-only.");
  // Refused, recovered once, then read-only with the share bits kept.
  EXPECT_EQ(modes_, (std::vector<int>{66, 66, 64}));
  EXPECT_EQ(manager.OPENMODE, 64);

  Set(file, "JOB:NAME", "Harrow");
  Set(file, "JOB:CODE", "H1");
  EXPECT_EQ(manager.Insert(), LevelNotify);
  EXPECT_EQ(presenter_.Messages().back().request.title, "Record Insert Error");
  EXPECT_EQ(presenter_.Messages().back().request.text,
            "An error was experienced during the creation of a record.|File: TdJobs|Error: Access Denied (5).");
  EXPECT_EQ(file.Records(), 1);
}

struct RefusedOpenCase {
  const char* name;
  int mode;
  std::vector<std::string> titles;
};

class FileManagerRefusedOpenTest : public FileManagerOpenTest,
                                   public ::testing::WithParamInterface<RefusedOpenCase> {};

TEST_P(FileManagerRefusedOpenTest, ARefusalThatReadOnlyCannotMendIsAFileAccessError) {
  AddJobs({});
  platform::RecordFaults::FailOpens("JOBS.dat", platform::kErrAccessDenied);
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  manager.Setup();
  manager.OPENMODE = static_cast<std::uint8_t>(GetParam().mode);
  manager.OPENMODEOVERRIDDEN = true;
  manager.Open();

  EXPECT_EQ(manager.Fetch(1), LevelFatal);
  EXPECT_EQ(Titles(), GetParam().titles);
  EXPECT_EQ(Texts().back(), std::string("File TdJobs could not be opened.  Error: Access Denied (5).") + kFatal);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(manager.USED);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FileManagerRefusedOpenTest,
    ::testing::Values(RefusedOpenCase{"ReadWrite", 66, {"Access Denied", "File Access Error"}},
                      RefusedOpenCase{"ReadOnly", 64, {"File Access Error"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileManagerOpenTest, InvalidKeysAreReportedAndRebuilt) {
  AddJobs({{1, "Plough", "P1"}, {2, "Harrow", "H1"}});
  ASSERT_EQ(platform::RecordFaults::DropIndex("JOBS.dat", 2), 0);
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  manager.Setup();
  manager.Open();

  Set(file, "JOB:NAME", "harrow");
  EXPECT_EQ(manager.Fetch(2), LevelNone);
  EXPECT_EQ(Get(file, "JOB:NUMBER"), "2");
  ASSERT_EQ(Titles(), std::vector<std::string>{"Invalid Key"});
  EXPECT_EQ(Texts()[0], "TdJobs key file is invalid. Key must be rebuilt.");
  EXPECT_TRUE(file.Check().problems.empty());
}

TEST_F(FileManagerOpenTest, InvalidKeysAreOnlyNotedByTheQuietOpen) {
  AddJobs({{1, "Plough", "P1"}});
  ASSERT_EQ(platform::RecordFaults::DropIndex("JOBS.dat", 2), 0);
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  AttachWithoutOpening(manager);

  EXPECT_EQ(manager.OpenQuiet(), LevelNotify);
  EXPECT_EQ(manager.LASTERROR, kMsgInvalidKey);
  EXPECT_TRUE(presenter_.Messages().empty());
  EXPECT_FALSE(file.IsOpen());
}

TEST_F(FileManagerOpenTest, KeysThatCannotBeRebuiltEndInKeyWasNotBuilt) {
  AddJobs({{1, "Plough", "P1"}});
  ASSERT_EQ(platform::RecordFaults::DropIndex("JOBS.dat", 2), 0);
  platform::RecordShareLock other_station;  // in use elsewhere: no rebuild now
  ASSERT_EQ(other_station.Acquire(std::filesystem::absolute("JOBS.dat"), 66), 0);
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  manager.Setup();
  manager.Open();

  EXPECT_EQ(manager.Fetch(1), LevelFatal);
  EXPECT_EQ(Titles(), (std::vector<std::string>{"Invalid Key", "Key was not built"}));
  EXPECT_EQ(Texts()[1], std::string("Error: (Access Denied (5)) repairing key for TdJobs.") + kFatal);
}

TEST_F(FileManagerOpenTest, AnotherRecordLayoutIsAnInvalidFile) {
  platform::RecordDeclaration older = JobsDeclaration();
  older.fields.pop_back();
  older.keys.pop_back();
  older.record_size -= 2;
  {
    RecordFile file(older);
    ASSERT_EQ(file.Create(), 0);
  }
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  manager.Setup();
  manager.Open();

  EXPECT_EQ(manager.Fetch(1), LevelFatal);
  ASSERT_EQ(Titles(), std::vector<std::string>{"Invalid File"});
  EXPECT_EQ(Texts()[0].rfind("TdJobs has an invalid File structure.|Error: 47 - Invalid Record Declaration|"
                             "FileError: ",
                             0),
            0u)
      << Texts()[0];
}

// The read-only attempt that follows "Access Denied" meets the file's own
// fault: it is reported, and mended where it can be, as on a first attempt.
TEST_F(FileManagerOpenTest, TheReadOnlyAttemptHandlesTheFilesOwnFaultAsTheFirstDoes) {
  struct Case {
    const char* name;
    bool other_layout;  // else the keys are invalid
    ErrorLevel fetched;
    std::vector<std::string> titles;
  };
  const Case cases[] = {
      {"OtherLayout", true, LevelFatal, {"Access Denied", "Invalid File"}},
      {"InvalidKeys", false, LevelNone, {"Access Denied", "Invalid Key"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    if (c.other_layout) {
      platform::RecordDeclaration older = JobsDeclaration();
      older.fields.pop_back();
      older.keys.pop_back();
      older.record_size -= 2;
      RecordFile file(older);
      ASSERT_EQ(file.Create(), 0);
    } else {
      AddJobs({{1, "Plough", "P1"}});
      ASSERT_EQ(platform::RecordFaults::DropIndex("JOBS.dat", 2), 0);
    }
    const std::size_t shown_before = Titles().size();  // the presenter lives on from case to case
    SetPhysicalOpen([](RecordFile& file, int mode) {
      if ((mode & 0x03) != platform::kAccessRead) {
        platform::SetRuntimeError(platform::kErrAccessDenied);
        return platform::kErrAccessDenied;
      }
      return file.Open(mode);
    });
    RecordFile file(JobsDeclaration());
    TestFileManager manager(file, errors_, "TdJobs");
    manager.Setup();
    manager.Open();

    Set(file, "JOB:NUMBER", "1");
    EXPECT_EQ(manager.Fetch(1), c.fetched);
    const std::vector<std::string> titles = Titles();
    EXPECT_EQ(std::vector<std::string>(titles.begin() + static_cast<long>(shown_before), titles.end()), c.titles);
    manager.Shutdown();
  }
}

TEST_F(FileManagerOpenTest, AFileThatIsNotARecordFileIsAFileAccessError) {
  std::ofstream("JOBS.dat") << std::string(3000, 'x');
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  manager.Setup();
  manager.Open();

  EXPECT_EQ(manager.Fetch(1), LevelFatal);
  ASSERT_EQ(Titles(), std::vector<std::string>{"File Access Error"});
  EXPECT_EQ(platform::LastRuntimeError().code, platform::kErrDriverError);
}

TEST_F(FileManagerOpenTest, ALazilyOpenedFileUsedBeforeAnyOpenIsAFileUsageError) {
  AddJobs({{1, "Plough", "P1"}});
  RecordFile file(JobsDeclaration());
  FileManager manager;
  manager.FILE = &file;
  manager.ERRORS = &errors_;
  manager.Setup();
  manager.Attach(file, errors_);

  EXPECT_EQ(manager.Next(), LevelFatal);
  ASSERT_EQ(Titles(), std::vector<std::string>{"File Usage Error"});
  EXPECT_EQ(Texts()[0], std::string("Attempt to use file (TdJobs) before it was opened") + kFatal);
  EXPECT_TRUE(modes_.empty());
}

TEST_F(FileManagerOpenTest, OpensAreCountedAndTheLastCloseClosesTheFile) {
  AddJobs({});
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  AttachWithoutOpening(manager);

  EXPECT_EQ(manager.Open(), LevelNone);
  EXPECT_EQ(manager.Open(), LevelNone);
  EXPECT_EQ(modes_.size(), 1u);
  manager.Close();
  EXPECT_TRUE(file.IsOpen());
  manager.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(manager.IsOpen());
}

TEST_F(FileManagerOpenTest, DisplayNamePrefersTheFileNameThenTheLabelThenTheDiskName) {
  FileManager nameless;
  EXPECT_EQ(nameless.DisplayName(), "Unknown File");

  RecordFile file(JobsDeclaration());
  FileManager manager;
  manager.FILE = &file;
  EXPECT_EQ(manager.DisplayName(), "JOBS");
  manager.FILENAMEVALUE = "Jobs";
  EXPECT_EQ(manager.DisplayName(), "Jobs");
  const std::string full_path = "/data/specs/JOBS";
  manager.FILENAME = &full_path;
  EXPECT_EQ(manager.DisplayName(), "/data/specs/JOBS");
}

}  // namespace
}  // namespace qm::testing
