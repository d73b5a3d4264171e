// TdxConv over data that went wrong: an upgrade killed part way, data files
// it cannot use, a read-only data directory, a shared settings file that is
// not one. Runs the program as the user does (the script presenter), either
// as its own process or, where a fault must be planted in it, in a forked
// child that runs the same program entry.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "checker/checker_main.h"
#include "checker/data_dictionary.h"
#include "framework/windows/application.h"
#include "platform/record_faults.h"
#include "platform/record_fields.h"
#include "platform/record_file.h"
#include "platform/record_transaction.h"
#include "platform/upgrade_library.h"

namespace {

using qm::checker::DataDictionary;
using qm::checker::DictionaryFile;
using qm::platform::RecordDeclaration;
using qm::platform::RecordFile;
using qm::platform::UpgradeFaults;
using qm::platform::UpgradeProgress;

namespace fs = std::filesystem;

const char* const kFrame = "Brevant File Integrity Checker";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

RecordDeclaration Declared(DictionaryFile id, const fs::path& directory) {
  RecordDeclaration declaration = DataDictionary::Definition(id).declaration;
  declaration.disk_name = (directory / declaration.disk_name).string();
  return declaration;
}

// The jobs file one structure version back: without V30:RUNNINGBALANCE, so
// that every field after it sits elsewhere.
RecordDeclaration OlderJobs(const fs::path& directory) {
  const RecordDeclaration jobs = Declared(DictionaryFile::TdV30, directory);
  RecordDeclaration older = jobs;
  older.fields.clear();
  older.record_size = 0;
  for (const qm::platform::FieldDeclaration& field : jobs.fields) {
    if (field.name == "V30:RUNNINGBALANCE") continue;
    older.AddField(field.name, field.encoding, field.width, field.digits, field.decimals);
  }
  for (qm::platform::KeyDeclaration& key : older.keys) {
    for (int& component : key.components) component = older.FieldNumber(jobs.fields[component - 1].name);
  }
  older.version = jobs.version - 1;
  return older;
}

void Set(RecordFile& file, const char* name, const std::string& value) {
  const int number = file.Declaration().FieldNumber(name);
  ASSERT_NE(number, 0) << name;
  ASSERT_TRUE(qm::platform::SetFieldText(file.Declaration().fields[number - 1], file.Record(), value)) << name;
}

std::string Get(const RecordFile& file, const char* name) {
  const int number = file.Declaration().FieldNumber(name);
  return number == 0 ? "<none>" : qm::platform::FieldText(file.Declaration().fields[number - 1], file.Record());
}

// The values of a job made by MakeJobs, by its number.
std::map<std::string, std::string> JobValues(int number) {
  return {{"V30:JOBNUMBER", std::to_string(number)},
          {"V30:JOBDESCRIPTION", "JOB " + std::to_string(number)},
          {"V30:JOBCOST", std::to_string(number) + ".5"},
          {"V30:JOBUNITS", number % 2 == 0 ? "-2" : "3"},
          {"V30:VEHNUMBER", "V" + std::to_string(number % 40)},
          {"V30:WORKDONEDESCRIPTION", "work on job " + std::to_string(number)}};
}

void MakeJobs(const RecordDeclaration& declaration, int records) {
  RecordFile file(declaration);
  ASSERT_EQ(file.Create(), 0);
  ASSERT_EQ(file.Open(), 0);
  qm::platform::RecordTransaction transaction;
  ASSERT_EQ(transaction.Begin({&file}, 5), 0);
  for (int number = 1; number <= records; ++number) {
    file.Clear();
    for (const auto& [name, value] : JobValues(number)) Set(file, name.c_str(), value);
    ASSERT_EQ(file.Add(), 0);
  }
  ASSERT_EQ(transaction.Commit(), 0);
}

class TdxConvDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qm-tdxconv-damage-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void WriteScript(const std::string& script) { std::ofstream(dir_ / "run.script") << script; }

  // The program as its own process; answers its exit code (-1 when it did
  // not end by itself).
  int Run(const std::string& script) {
    WriteScript(script);
    const std::string command = "cd '" + dir_.string() + "' && QM_UI_SCRIPT=run.script QM_UI_TRANSCRIPT=run.txt " +
                                "QM_UI_TIMEOUT=30 '" TDXCONV_PATH "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    transcript_ = ReadAll(dir_ / "run.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The program entry in a forked child after `plant` has set its faults;
  // answers the child's wait status.
  int RunWith(const std::string& script, const std::function<void()>& plant) {
    WriteScript(script);
    const pid_t child = ::fork();
    if (child == 0) {
      if (::chdir(dir_.c_str()) != 0) ::_exit(120);
      ::setenv("QM_UI_SCRIPT", "run.script", 1);
      ::setenv("QM_UI_TRANSCRIPT", "run.txt", 1);
      ::setenv("QM_UI_TIMEOUT", "30", 1);
      ::freopen("/dev/null", "w", stderr);
      plant();
      ::_exit(qm::RunApplication(qm::checker::ProgramEntry));
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    transcript_ = ReadAll(dir_ / "run.txt");
    return status;
  }

  std::string ShowReport() {
    return std::string("wait open \"") + kFrame + "\"\nshow \"" + kFrame + "\" 1\nshow \"" + kFrame + "\" 2\n" +
           "close \"" + kFrame + "\"\n";
  }

  std::string Row(const char* label, const char* disk_name, const std::string& outcome, int records) {
    return std::string("\"") + label + "\" \"" + (dir_ / disk_name).string() + "\" \"" + outcome + "\" \"" +
           std::to_string(records) + "\"";
  }

  fs::path dir_;
  std::string transcript_;
};

// Killed while it copies the records and again just before the converted
// file takes the original's name: the original stays as it was, and the
// next run upgrades it with every record and value.
TEST_F(TdxConvDamageTest, AnUpgradeKilledPartWayIsCompletedByTheNextRunWithEveryRecord) {
  constexpr int kJobs = 2500;
  const struct {
    UpgradeProgress::Step step;
    bool midway;
  } kills[] = {{UpgradeProgress::Step::kConverting, true}, {UpgradeProgress::Step::kReplacing, false}};
  for (const auto& kill : kills) {
    SCOPED_TRACE(static_cast<int>(kill.step));
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
    std::ofstream(dir_ / "Qmoor.Ini") << "[SPECS]\nVersion=2.1e\n";
    MakeJobs(OlderJobs(dir_), kJobs);
    const std::string original = ReadAll(dir_ / "TDV30.dat");

    const int status = RunWith(ShowReport(), [&] {
      UpgradeFaults::SetStepHook([kill](const UpgradeProgress& progress) {
        if (progress.label == "TdV30" && progress.step == kill.step &&
            (!kill.midway || (progress.done > 0 && progress.done < progress.total))) {
          ::raise(SIGKILL);
        }
      });
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << transcript_;
    EXPECT_EQ(ReadAll(dir_ / "TDV30.dat"), original);

    ASSERT_EQ(Run(ShowReport()), 0) << transcript_;
    EXPECT_NE(transcript_.find(Row("TdV30", "TDV30.dat", "upgraded from version 12", kJobs)), std::string::npos)
        << transcript_;
    EXPECT_EQ(ReadAll(dir_ / "TDV30.dat.v12"), original);
    EXPECT_FALSE(fs::exists(dir_ / ".upgrade"));

    RecordFile jobs(Declared(DictionaryFile::TdV30, dir_));
    ASSERT_EQ(jobs.Open(), 0);
    ASSERT_EQ(jobs.Set(1), 0);
    int number = 0;
    while (jobs.Next() == 0) {
      ++number;
      for (const auto& [name, value] : JobValues(number)) {
        ASSERT_EQ(Get(jobs, name.c_str()), value) << "job " << number << " " << name;
      }
      ASSERT_EQ(Get(jobs, "V30:RUNNINGBALANCE"), "0");
    }
    EXPECT_EQ(number, kJobs);
  }
}

// Version 0 is a version like any other: a file upgraded from it must not
// be reported as sound.
TEST_F(TdxConvDamageTest, AnUpgradeIsReportedWithTheVersionItCameFrom) {
  for (const int version : {0, 12}) {
    SCOPED_TRACE(version);
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
    std::ofstream(dir_ / "Qmoor.Ini") << "[SPECS]\nVersion=2.1e\n";
    RecordDeclaration older = OlderJobs(dir_);
    older.version = version;
    MakeJobs(older, 3);
    ASSERT_EQ(Run(ShowReport()), 0) << transcript_;
    EXPECT_NE(transcript_.find(Row("TdV30", "TDV30.dat", "upgraded from version " + std::to_string(version), 3)),
              std::string::npos)
        << transcript_;
  }
}

// Killed when the rebuilt keys are on disk but not yet committed (the
// journal still beside the file): the records come back exactly as they
// were, and the next run rebuilds the keys again and finishes the check.
TEST_F(TdxConvDamageTest, AKeyRebuildKilledBeforeItsCommitIsDoneAgainByTheNextRun) {
  constexpr int kJobs = 2500;
  std::ofstream(dir_ / "Qmoor.Ini") << "[SPECS]\nVersion=2.1e\n";
  MakeJobs(Declared(DictionaryFile::TdV30, dir_), kJobs);
  ASSERT_EQ(Run(ShowReport()), 0) << transcript_;
  ASSERT_EQ(qm::platform::RecordFaults::ScrambleKeyValues((dir_ / "TDV30.dat").string(), 2), 0);
  const auto records = [&] {
    RecordFile jobs(Declared(DictionaryFile::TdV30, dir_));
    std::vector<std::string> bytes;
    EXPECT_EQ(jobs.Open(), 0);
    EXPECT_EQ(jobs.Set(1), 0);
    while (jobs.Next() == 0) bytes.emplace_back(reinterpret_cast<const char*>(jobs.Record()), jobs.Declaration().record_size);
    return bytes;
  };
  const auto check = [&] {
    RecordFile jobs(Declared(DictionaryFile::TdV30, dir_));
    EXPECT_EQ(jobs.Open(), 0);
    return jobs.Check();
  };
  const std::vector<std::string> before = records();
  ASSERT_EQ(before.size(), static_cast<std::size_t>(kJobs));

  const int status = RunWith("answer ok\n" + ShowReport(), [] {
    qm::platform::RecordFaults::KillAt(qm::platform::RecordFaults::CommitMoment::kAfterFirstDataFileSync);
  });
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << transcript_;
  EXPECT_NE(transcript_.find("message \"Invalid Key\""), std::string::npos) << transcript_;
  EXPECT_TRUE(fs::exists(dir_ / "TDV30.dat-journal"));
  EXPECT_EQ(records(), before);
  EXPECT_FALSE(check().problems.empty());

  ASSERT_EQ(Run("answer ok\n" + ShowReport()), 0) << transcript_;
  EXPECT_NE(transcript_.find(Row("TdV30", "TDV30.dat", "keys rebuilt", kJobs)), std::string::npos) << transcript_;
  EXPECT_EQ(records(), before);
  const qm::platform::RecordFileCheck rebuilt = check();
  EXPECT_EQ(rebuilt.problems, std::vector<std::string>{});
  EXPECT_EQ(rebuilt.records, kJobs);
}

// A data file it cannot use ends the check with the error manager's
// message, and the file stays exactly as it was.
TEST_F(TdxConvDamageTest, AFileItCannotUseEndsTheCheckWithAMessageAndIsKept) {
  const auto farms = [&](int version, bool extra_field, int records) {
    RecordDeclaration declaration = Declared(DictionaryFile::TdV06, dir_);
    declaration.version = version;
    if (extra_field) declaration.AddField("V06:HECTARES", qm::platform::FieldEncoding::kU32);
    RecordFile file(declaration);
    ASSERT_EQ(file.Create(), 0);
    ASSERT_EQ(file.Open(), 0);
    qm::platform::RecordTransaction transaction;
    ASSERT_EQ(transaction.Begin({&file}, 5), 0);
    for (int i = 0; i < records; ++i) {
      file.Clear();
      Set(file, "V06:FARMNO", "F" + std::to_string(i));
      Set(file, "V06:FARMDESC", "Farm number " + std::to_string(i) + " in the hills");
      ASSERT_EQ(file.Add(), 0);
    }
    ASSERT_EQ(transaction.Commit(), 0);
  };
  const struct {
    const char* what;
    std::function<void()> make;
    const char* message;
  } cases[] = {
      {"newer structure", [&] { farms(3, true, 5); }, "message \"Invalid File\" \"TdV06 has an invalid File structure."},
      {"zero length", [&] { std::ofstream(dir_ / "TDV06.dat").flush(); }, "message \"File Access Error\" \"File TdV06 could not be opened."},
      {"truncated",
       [&] {
         farms(2, false, 3000);
         fs::resize_file(dir_ / "TDV06.dat", fs::file_size(dir_ / "TDV06.dat") / 2);
       },
       "message \"File Access Error\" \"File TdV06 could not be opened."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
    c.make();
    const std::string before = ReadAll(dir_ / "TDV06.dat");

    EXPECT_EQ(Run(std::string("wait open \"") + kFrame + "\"\n"), 1) << transcript_;
    EXPECT_NE(transcript_.find(c.message), std::string::npos) << transcript_;
    EXPECT_EQ(transcript_.find(std::string("open \"") + kFrame), std::string::npos) << transcript_;
    EXPECT_EQ(ReadAll(dir_ / "TDV06.dat"), before);
    EXPECT_NE(ReadAll(dir_ / "TdxConv.txt").find("  TdV06 cannot be used: "), std::string::npos);
  }
}

// Every file opens for reading only, each with its notification; nothing
// is written, and the sign conversion, which cannot write, changes nothing
// and says so.
TEST_F(TdxConvDamageTest, InAReadOnlyDataDirectoryEveryFileIsOpenedReadOnlyAndNothingChanges) {
  std::ofstream(dir_ / "Qmoor.Ini") << "[SPECS]\nVersion=2.1e\n";
  ASSERT_EQ(Run(ShowReport()), 0) << transcript_;
  {
    RecordFile jobs(Declared(DictionaryFile::TdV30, dir_));
    ASSERT_EQ(jobs.Open(), 0);
    for (const auto& [name, value] : JobValues(2)) Set(jobs, name.c_str(), value);
    ASSERT_EQ(jobs.Add(), 0);
  }
  std::ofstream(dir_ / "Qmoor.Ini") << "[SPECS]\nVersion=2.0\n";
  std::map<std::string, std::string> before;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    if (entry.path().extension() == ".dat") before[entry.path().filename()] = ReadAll(entry.path());
  }
  ASSERT_EQ(before.size(), 17u);

  const int status = RunWith(ShowReport(), [&] { UpgradeFaults::RefuseWrites(dir_.string()); });
  ASSERT_TRUE(WIFEXITED(status)) << transcript_;
  EXPECT_EQ(WEXITSTATUS(status), 0) << transcript_;
  EXPECT_NE(transcript_.find("message \"Access Denied\""), std::string::npos) << transcript_;
  EXPECT_NE(transcript_.find(Row("TdV30", "TDV30.dat", "opened read-only", 1)), std::string::npos) << transcript_;
  EXPECT_NE(transcript_.find(Row("TdV06", "TDV06.dat", "opened read-only", 0)), std::string::npos) << transcript_;
  EXPECT_NE(transcript_.find("0 job costs, 0 detail costs, 0 detail quantities made negative. 1 could not be "
                             "written and are still positive."),
            std::string::npos)
      << transcript_;
  for (const auto& [name, bytes] : before) EXPECT_EQ(ReadAll(dir_ / name), bytes) << name;
}

// A Qmoor.Ini that is no settings file gives the defaults: the data
// directory is the current one, the data version "1", so the check runs
// there and the sign conversion with it.
TEST_F(TdxConvDamageTest, AMalformedSharedSettingsFileGivesTheDefaults) {
  const struct {
    const char* what;
    std::function<void()> make;
  } cases[] = {
      {"not text",
       [&] {
         std::ofstream(dir_ / "Qmoor.Ini", std::ios::binary)
             << std::string("\x00\xff\xfe[\x01\x02", 6) << "\n[Specs\nPath\n==\n]USER[\nDatadrive\n";
       }},
      {"a directory", [&] { fs::create_directory(dir_ / "Qmoor.Ini"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
    c.make();
    ASSERT_EQ(Run(ShowReport()), 0) << transcript_;
    EXPECT_TRUE(fs::exists(dir_ / "TDV30.dat"));
    EXPECT_TRUE(fs::exists(dir_ / "BvS01.dat"));
    EXPECT_NE(transcript_.find(Row("TdV30", "TDV30.dat", "created", 0)), std::string::npos) << transcript_;
    EXPECT_NE(transcript_.find("Sign conversion for data version 1:"), std::string::npos) << transcript_;
    EXPECT_EQ(transcript_.find("message "), std::string::npos) << transcript_;
  }
}

}  // namespace
