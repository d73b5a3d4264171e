// The checker's start: the settings it reads, the registration with the
// upgrade library, the version comparison and the sign conversion.
#include "checker/checker_start.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "checker/file_managers.h"
#include "framework/errors/error_manager.h"
#include "platform/headless_presenter.h"
#include "platform/presenter.h"
#include "platform/record_fields.h"
#include "platform/runtime_error.h"

namespace qm::checker {
namespace {

namespace fs = std::filesystem;

TEST(VersionComparison, OnlyDataOlderThanTwoOneEIsConverted) {
  struct Case {
    const char* version;
    bool older;
  };
  const Case cases[] = {
      {"1", true},     {"2.0", true},  {"2.10", true}, {"2.1d", true}, {"10.0", true}, {"", true},
      {"2.1e", false}, {"2.1e ", false}, {"2.1f", false}, {"2.2", false}, {"3", false},
  };
  for (const Case& test : cases) EXPECT_EQ(VersionIsOlder(test.version), test.older) << '"' << test.version << '"';
}

class CheckerStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qm-start-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    previous_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    DataDictionary::ReleaseThread();
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  void WriteIni(const fs::path& directory, const std::string& text) {
    fs::create_directories(directory);
    std::ofstream(directory / "Qmoor.Ini") << text;
  }

  fs::path dir_;
  fs::path previous_;
};

TEST_F(CheckerStartTest, SettingsAreReadInLevelsWithTheirDefaults) {
  const std::string current = dir_.string();
  CheckerSettings none = ReadCheckerSettings(current);
  EXPECT_EQ(none.specs_path, current);
  EXPECT_EQ(none.data_dir, current);
  EXPECT_EQ(none.data_version, "1");

  WriteIni(dir_, "[Specs]\nPath=" + (dir_ / "specs").string() + "\n");
  WriteIni(dir_ / "specs", "[USER]\nDatadrive=" + (dir_ / "data").string() + "\n");
  WriteIni(dir_ / "data", "[SPECS]\nVersion=2.1e-beta\n");
  CheckerSettings all = ReadCheckerSettings(current);
  EXPECT_EQ(all.specs_path, (dir_ / "specs").string());
  EXPECT_EQ(all.data_dir, (dir_ / "data").string());
  EXPECT_EQ(all.data_version, "2.1e-");
}

// Records every registration call in order.
class RecordingLibrary : public platform::UpgradeLibrary {
 public:
  void SetUpgradePath(std::string_view directory, int flags) override {
    calls.push_back("SetUPGPath " + std::string(directory) + " " + std::to_string(flags));
  }
  void SetOption(std::string_view name, int value) override {
    calls.push_back("SetOption " + std::string(name) + " " + std::to_string(value));
  }
  void AddDriver(std::string_view name, const platform::RecordFile& placeholder, int value) override {
    calls.push_back("AddDriver " + std::string(name) + " " + placeholder.Declaration().driver + " " +
                    placeholder.Declaration().fields.at(0).name + " " + std::to_string(value));
  }
  void IgnoreDriver(std::string_view name, int value) override {
    calls.push_back("IgnoreDriver " + std::string(name) + " " + std::to_string(value));
  }
  void UsingFileEx(const platform::RecordFile&, int version, int flags, std::string_view label,
                   std::string_view prefix) override {
    calls.push_back("UsingFileEx " + std::string(label) + " " + std::string(prefix) + " " +
                    std::to_string(version) + " " + std::to_string(flags));
  }
  std::vector<std::string> calls;
};

TEST_F(CheckerStartTest, RegistrationCallsTheLibraryInItsOrder) {
  RecordingLibrary library;
  RegisterFiles(library, dir_.string());
  const std::vector<std::string> expected = {
      "SetUPGPath " + dir_.string() + " 0",
      "SetOption BadFile 0",
      "AddDriver Krec KEYREC __GKREC:A 1",
      "IgnoreDriver AllFiles 1",
      "SetOption SPCreate 1",
      "UsingFileEx BvS01 CS01 2 0",
      "UsingFileEx TdI01 I01 3 0",
      "UsingFileEx TdI02 I02 2 0",
      "UsingFileEx TdV01 V01 4 0",
      "UsingFileEx TdV02 V02 2 0",
      "UsingFileEx TdV03 V03 1 0",
      "UsingFileEx TdV04 V04 3 0",
      "UsingFileEx TdV05 V05 2 0",
      "UsingFileEx TdV06 V06 2 0",
      "UsingFileEx TdV07 V07 2 0",
      "UsingFileEx TdV08 V08 2 0",
      "UsingFileEx TdV30 V30 13 0",
      "UsingFileEx TdV301 V301 1 0",
      "UsingFileEx TdV40 V40 1 0",
      "UsingFileEx TdV50 V50 8 0",
      "UsingFileEx TdV51 V51 2 0",
      "UsingFileEx TdW01 W01 10 0",
  };
  EXPECT_EQ(library.calls, expected);
}

TEST_F(CheckerStartTest, RegistrationWorksInTheDataDirectoryOfTheSharedSettings) {
  WriteIni(dir_, "[Specs]\nPath=" + (dir_ / "specs").string() + "\n");
  WriteIni(dir_ / "specs", "[USER]\nDatadrive=" + (dir_ / "data").string() + "\n");
  RecordingLibrary library;
  EXPECT_EQ(RegisterFiles(library, dir_.string()), (dir_ / "data").string());
  EXPECT_EQ(library.calls.front(), "SetUPGPath " + (dir_ / "data").string() + " 0");
}

class SignConversionTest : public CheckerStartTest {
 protected:
  void SetUp() override {
    CheckerStartTest::SetUp();
    platform::InstallPresenter(&presenter_);
    errors_.Start(status_);
    errors_.PushProcedureName("Main");
    files_.Start(errors_);
  }
  void TearDown() override {
    files_.Stop();
    errors_.Shutdown();
    platform::InstallPresenter(nullptr);
    CheckerStartTest::TearDown();
  }

  static void Set(platform::RecordFile& file, const char* name, double value) {
    const platform::RecordDeclaration& declaration = file.Declaration();
    ASSERT_TRUE(platform::SetFieldNumber(declaration.fields[declaration.FieldNumber(name) - 1], file.Record(), value));
  }
  static double Get(platform::RecordFile& file, const char* name) {
    const platform::RecordDeclaration& declaration = file.Declaration();
    return platform::FieldNumber(declaration.fields[declaration.FieldNumber(name) - 1], file.Record());
  }
  // Every record's values of `fields`, in record order.
  static std::vector<std::vector<double>> Values(platform::RecordFile& file, std::vector<const char*> fields) {
    std::vector<std::vector<double>> values;
    EXPECT_EQ(file.Set(0), 0);
    while (file.Next() == 0) {
      std::vector<double> row;
      for (const char* field : fields) row.push_back(Get(file, field));
      values.push_back(row);
    }
    return values;
  }

  platform::HeadlessPresenter presenter_;
  platform::PerThread<ErrorStatus> status_;
  ErrorManager errors_;
  CheckerFiles files_;
};

TEST_F(SignConversionTest, PositiveCostsAndQuantitiesTurnNegativeOnce) {
  ASSERT_EQ(files_.Relations(DictionaryFile::TdV30)->OpenRelations(), LevelNone);
  ASSERT_EQ(files_.Access(DictionaryFile::TdV301)->EnsureOpen(kUsageReturns), LevelNone);
  platform::RecordFile& jobs = DataDictionary::File(DictionaryFile::TdV30);
  platform::RecordFile& details = DataDictionary::File(DictionaryFile::TdV301);

  // Job number, units, cost.
  const std::vector<std::vector<double>> job_rows = {{1, -2, 150}, {2, 0, 80}, {3, 4, 60}, {4, -1, -30}, {5, -3, 0}};
  for (const auto& row : job_rows) {
    jobs.Clear();
    Set(jobs, "V30:JOBNUMBER", row[0]);
    Set(jobs, "V30:JOBUNITS", row[1]);
    Set(jobs, "V30:JOBCOST", row[2]);
    ASSERT_EQ(jobs.Add(), 0) << platform::LastRuntimeError().file_error_message;
  }
  // Job number, quantity, cost.
  const std::vector<std::vector<double>> detail_rows = {{1, 3, 45}, {1, 0, 12}, {2, -5, -7}, {3, 2, 0}};
  for (const auto& row : detail_rows) {
    details.Clear();
    Set(details, "V301:JOBNUMBER", row[0]);
    Set(details, "V301:ITEMQTY", row[1]);
    Set(details, "V301:JOBCOST", row[2]);
    ASSERT_EQ(details.Add(), 0) << platform::LastRuntimeError().file_error_message;
  }

  const SignConversionResult first = SignConversion(files_);
  EXPECT_EQ(first.job_costs, 1);
  EXPECT_EQ(first.detail_costs, 2);
  EXPECT_EQ(first.detail_quantities, 2);
  const std::vector<std::vector<double>> jobs_after = {{1, -2, -150}, {2, 0, 80}, {3, 4, 60}, {4, -1, -30}, {5, -3, 0}};
  EXPECT_EQ(Values(jobs, {"V30:JOBNUMBER", "V30:JOBUNITS", "V30:JOBCOST"}), jobs_after);
  const std::vector<std::vector<double>> details_after = {{1, -3, -45}, {1, 0, -12}, {2, -5, -7}, {3, -2, 0}};
  EXPECT_EQ(Values(details, {"V301:JOBNUMBER", "V301:ITEMQTY", "V301:JOBCOST"}), details_after);
  EXPECT_FALSE(jobs.InTransaction());

  // A second run finds nothing positive left.
  EXPECT_EQ(SignConversion(files_).Changed(), 0);
  EXPECT_TRUE(presenter_.Messages().empty());
}

}  // namespace
}  // namespace qm::checker
