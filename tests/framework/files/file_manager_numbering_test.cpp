// Automatic numbering: the next number of a key, within a group of a
// two-component key, under two threads at once, and the question after
// attempts that keep failing.
#include <gtest/gtest.h>

#include <latch>
#include <mutex>
#include <set>

#include "files_fixture.h"
#include "platform/presenter.h"
#include "platform/record_share_lock.h"
#include "platform/threads.h"

namespace qm::testing {
namespace {

using platform::RecordFile;

class FileManagerNumberingTest : public FilesTest {};

struct NextNumberCase {
  const char* name;
  std::vector<int> stored;
  std::string expected;
};

class FileManagerNextNumberTest : public FileManagerNumberingTest,
                                  public ::testing::WithParamInterface<NextNumberCase> {};

TEST_P(FileManagerNextNumberTest, ANewRecordGetsOneMoreThanTheHighestNumber) {
  std::vector<std::tuple<int, std::string, std::string>> jobs;
  for (int number : GetParam().stored) {
    jobs.emplace_back(number, "Job " + std::to_string(number), "C" + std::to_string(number));
  }
  AddJobs(jobs);
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  manager.Setup();
  manager.Open();

  file.Clear();
  Set(file, "JOB:NAME", "New");
  Set(file, "JOB:CODE", "N");
  EXPECT_EQ(manager.Insert(), LevelNone);
  EXPECT_EQ(Get(file, "JOB:NUMBER"), GetParam().expected);
  EXPECT_EQ(Get(file, "JOB:NAME"), "New");
  EXPECT_EQ(file.Records(), static_cast<std::int64_t>(GetParam().stored.size()) + 1);
  manager.Shutdown();
}

INSTANTIATE_TEST_SUITE_P(Files, FileManagerNextNumberTest,
                         ::testing::Values(NextNumberCase{"Empty", {}, "1"},
                                           NextNumberCase{"HighestIs41", {5, 41, 7}, "42"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileManagerNumberingTest, ATwoComponentKeyNumbersWithinTheGroupOfItsLeadingComponent) {
  RecordFile file(LinesDeclaration());
  TestFileManager lines(file, errors_, "TdLines");
  lines.Setup();
  lines.Open();
  // job -> the line number it gets, in order of insertion
  const std::pair<int, const char*> inserts[] = {{2, "1"}, {2, "2"}, {1, "1"}, {3, "1"},
                                                 {2, "3"}, {1, "2"}, {0, "1"}};
  for (const auto& [job, expected] : inserts) {
    file.Clear();
    Set(file, "LIN:JOB", std::to_string(job));
    Set(file, "LIN:TEXT", "x");
    ASSERT_EQ(lines.Insert(), LevelNone) << job;
    EXPECT_EQ(Get(file, "LIN:LINE"), expected) << "job " << job;
    EXPECT_EQ(Get(file, "LIN:JOB"), std::to_string(job));
  }
  EXPECT_TRUE(presenter_.Messages().empty());
  lines.Shutdown();
}

TEST_F(FileManagerNumberingTest, ATextNumberGoesOnPastNineThoughNineSortsAfterTen) {
  platform::RecordDeclaration declaration;
  declaration.label = "TdVehicles";
  declaration.disk_name = "VEHICLES";
  declaration.prefix = "V01";
  const int number = declaration.AddField("V01:VEHNUMBER", platform::FieldEncoding::kText, 6);
  const int name = declaration.AddField("V01:NAME", platform::FieldEncoding::kText, 10);
  declaration.keys.push_back({"V01:VehNumberKey", {number}, true, false, true, true});
  declaration.keys.push_back({"V01:NameKey", {name}, false, true});
  RecordFile file(declaration);
  TestFileManager vehicles(file, errors_, "TdVehicles");
  vehicles.Setup();
  vehicles.Open();
  for (int expected = 1; expected <= 12; ++expected) {
    file.Clear();
    Set(file, "V01:NAME", "Van");
    ASSERT_EQ(vehicles.Insert(), LevelNone) << expected;
    EXPECT_EQ(Get(file, "V01:VEHNUMBER"), std::to_string(expected));
  }
  EXPECT_TRUE(presenter_.Messages().empty());
  vehicles.Shutdown();
}

TEST_F(FileManagerNumberingTest, TwoThreadsInsertingAtOnceNeverGetTheSameNumber) {
  AddJobs({});
  constexpr int kPerThread = 40;
  std::mutex numbers_mutex;
  std::multiset<std::string> numbers;
  std::latch start(2);
  auto insert_jobs = [&](const std::string& prefix) {
    RecordFile file(JobsDeclaration());
    TestFileManager manager(file, errors_, "TdJobs");
    manager.Setup();
    manager.Open();
    start.arrive_and_wait();
    for (int i = 0; i < kPerThread; ++i) {
      file.Clear();
      Set(file, "JOB:NAME", prefix + std::to_string(i));
      Set(file, "JOB:CODE", prefix + std::to_string(i));
      if (manager.Insert() != LevelNone) continue;
      std::lock_guard lock(numbers_mutex);
      numbers.insert(Get(file, "JOB:NUMBER"));
    }
    manager.Shutdown();
  };
  platform::StartThread([&] { insert_jobs("a"); });
  platform::StartThread([&] { insert_jobs("b"); });
  platform::JoinThreads();

  EXPECT_EQ(numbers.size(), 2u * kPerThread);
  EXPECT_EQ(std::set<std::string>(numbers.begin(), numbers.end()).size(), numbers.size());
  RecordFile file(JobsDeclaration());
  ASSERT_EQ(file.Open(), 0);
  EXPECT_EQ(file.Records(), 2 * kPerThread);
}

TEST_F(FileManagerNumberingTest, AttemptsThatKeepFailingAskWhetherToTryAgain) {
  AddJobs({{1, "Plough", "P1"}});
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  manager.Setup();
  manager.Open();

  file.Clear();
  Set(file, "JOB:NAME", "PLOUGH");  // another unique key refuses every attempt
  Set(file, "JOB:CODE", "X");
  presenter_.QueueAnswer(platform::kButtonYes);
  presenter_.QueueAnswer(platform::kButtonNo);
  EXPECT_EQ(manager.Insert(), LevelNotify);

  const std::string question =
      "Attempts to automatically number this record have failed.|File: TdJobs|Key: The NameKey|"
      "Error: Creates Duplicate Key (40).|Try Again?";
  EXPECT_EQ(Titles(), (std::vector<std::string>{"Auto Increment Error", "Auto Increment Error"}));
  EXPECT_EQ(Texts(), (std::vector<std::string>{question, question}));
  EXPECT_FALSE(manager.AutoIncDone());
  EXPECT_EQ(file.Records(), 1);

  EXPECT_EQ(manager.NumberRecordQuiet(), LevelNotify);
  EXPECT_EQ(manager.LASTERROR, kMsgAutoNumberFailed);
  EXPECT_EQ(presenter_.Messages().size(), 2u);
  manager.Shutdown();
}

// Failures that trying again cannot mend end the numbering at once, with
// the reason, instead of asking whether to try again.
TEST_F(FileManagerNumberingTest, ANumberThatCanNeverBeAddedFailsOnceWithoutAsking) {
  struct Case {
    const char* name;
    bool read_only;
    std::vector<std::string> titles;
    std::string text;
  };
  const Case cases[] = {
      {"ReadOnly", true, {"Access Denied", "Record Insert Error"}, "Error: Access Denied (5)."},
      {"NumberDoesNotFit", false, {"Record Insert Error"}, "the next number does not fit LIN:LINE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    {
      RecordFile file(LinesDeclaration());
      ASSERT_EQ(file.Create(), 0);
      ASSERT_EQ(file.Open(), 0);
      file.Clear();
      Set(file, "LIN:JOB", "1");
      Set(file, "LIN:LINE", "65535");
      ASSERT_EQ(file.Add(), 0);
    }
    platform::RecordShareLock other_station;  // reads and lets no one write
    if (c.read_only) {
      ASSERT_EQ(other_station.Acquire(std::filesystem::absolute("LINES.dat"),
                                      platform::kAccessRead | platform::kShareDenyWrite),
                0);
    }
    const std::size_t shown_before = Titles().size();  // the presenter lives on from case to case
    RecordFile file(LinesDeclaration());
    TestFileManager lines(file, errors_, "TdLines");
    lines.Setup();
    lines.Open();

    file.Clear();
    Set(file, "LIN:JOB", c.read_only ? "2" : "1");
    EXPECT_EQ(lines.PrepareRecord(true), LevelNotify);
    const std::vector<std::string> titles = Titles();
    EXPECT_EQ(std::vector<std::string>(titles.begin() + static_cast<long>(shown_before), titles.end()), c.titles);
    EXPECT_NE(Texts().back().find(c.text), std::string::npos) << Texts().back();
    EXPECT_FALSE(lines.AutoIncDone());
    EXPECT_EQ(lines.NumberRecordQuiet(), LevelNotify);
    EXPECT_EQ(Titles().size(), shown_before + c.titles.size());
    EXPECT_EQ(file.Records(), 1);
    lines.Shutdown();
  }
}

TEST_F(FileManagerNumberingTest, AnUncompletedNumberedRecordIsUndone) {
  AddJobs({{1, "Plough", "P1"}});
  RecordFile file(JobsDeclaration());
  TestFileManager manager(file, errors_, "TdJobs");
  manager.Setup();
  manager.Open();

  file.Clear();
  ASSERT_EQ(manager.PrepareRecord(), LevelNone);
  EXPECT_EQ(Get(file, "JOB:NUMBER"), "2");
  EXPECT_EQ(file.Records(), 2);
  EXPECT_EQ(manager.NumberRecord(), LevelNone);  // already numbered: nothing more is added
  EXPECT_EQ(file.Records(), 2);

  EXPECT_EQ(manager.UndoNumbering(), LevelNone);
  EXPECT_FALSE(manager.AutoIncDone());
  EXPECT_EQ(file.Records(), 1);
  EXPECT_EQ(manager.UndoNumbering(), LevelNone);  // nothing left to undo
  EXPECT_EQ(file.Records(), 1);
  manager.Shutdown();
}

}  // namespace
}  // namespace qm::testing
