// The per-file managers built from the dictionary: keys registered at first
// use, the alias and the system file's name, the account's analysis check,
// case rules of unique keys, and the start-up and tear-down of a thread's set.
#include "checker/file_managers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "framework/errors/error_manager.h"
#include "platform/headless_presenter.h"
#include "platform/presenter.h"
#include "platform/record_fields.h"
#include "platform/runtime_error.h"

namespace qm::checker {
namespace {

namespace fs = std::filesystem;

// Shows a fatal message, then answers LevelFatal instead of ending the
// test program.
class KeepRunningErrorManager : public ErrorManager {
 public:
  ErrorLevel HandleFatal() override {
    Report(SubstituteText(), Title(), platform::kIconStop, platform::kButtonOk, platform::kButtonOk,
           MsgStyle());
    return LevelFatal;
  }
};

class FileManagersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qm-managers-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    previous_ = fs::current_path();
    fs::current_path(dir_);
    platform::InstallPresenter(&presenter_);
    platform::ClearRuntimeError();
    errors_.Start(status_);
    errors_.PushProcedureName("Main");
    files_.Start(errors_);
  }
  void TearDown() override {
    files_.Stop();
    DataDictionary::ReleaseThread();
    DataDictionary::SetSystemFileName("");
    errors_.Shutdown();
    platform::InstallPresenter(nullptr);
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  FileManager& Manager(DictionaryFile file) { return *files_.Access(file); }

  static void Set(DictionaryFile id, const char* name, const std::string& value) {
    platform::RecordFile& file = DataDictionary::File(id);
    const int number = file.Declaration().FieldNumber(name);
    ASSERT_NE(number, 0) << name;
    ASSERT_TRUE(platform::SetFieldText(file.Declaration().fields[static_cast<std::size_t>(number - 1)],
                                       file.Record(), value));
  }
  static std::string Get(DictionaryFile id, const char* name) {
    platform::RecordFile& file = DataDictionary::File(id);
    const int number = file.Declaration().FieldNumber(name);
    return platform::FieldText(file.Declaration().fields[static_cast<std::size_t>(number - 1)], file.Record());
  }

  // Title and text of each message shown since `from` messages.
  std::vector<std::string> Texts(std::size_t from = 0) const {
    std::vector<std::string> texts;
    const auto shown = presenter_.Messages();
    for (std::size_t i = from; i < shown.size(); ++i) {
      texts.push_back(shown[i].request.title + ": " + shown[i].request.text);
    }
    return texts;
  }

  fs::path dir_;
  fs::path previous_;
  platform::HeadlessPresenter presenter_;
  platform::PerThread<ErrorStatus> status_;
  KeepRunningErrorManager errors_;
  CheckerFiles files_;
};

TEST_F(FileManagersTest, EveryFileGetsItsKeysAtFirstUseOnly) {
  for (const FileDefinition& definition : DataDictionary::Files()) {
    SCOPED_TRACE(definition.declaration.label);
    FileManager& manager = Manager(definition.id);
    EXPECT_TRUE(manager.KEYS.empty());
    EXPECT_EQ(manager.FILENAMEVALUE, definition.declaration.label);
    EXPECT_EQ(manager.ALIASEDFILE, definition.IsAlias() ? files_.Access(definition.aliased) : nullptr);

    ASSERT_EQ(manager.EnsureOpen(kUsageInitialize), LevelNone);
    manager.EnsureOpen(kUsageInitialize);
    const auto& keys = definition.declaration.keys;
    ASSERT_EQ(manager.KEYS.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
      EXPECT_EQ(manager.KEYS[i].PDESCRIPTION, keys[i].name);
      EXPECT_EQ(manager.KEYS[i].AUTOINC, keys[i].auto_number) << keys[i].name;
      EXPECT_EQ(manager.KEYS[i].NOCASE, keys[i].no_case) << keys[i].name;
    }
    EXPECT_TRUE(manager.CREATE);
    EXPECT_EQ(manager.LOCKRECOVER, 10);
  }
}

TEST_F(FileManagersTest, MissingFilesAreCreatedAndTheSystemFileGoesWhereItsNameSays) {
  fs::create_directory(dir_ / "specs");
  const std::string system_file = (dir_ / "specs" / "BvS01").string();
  DataDictionary::SetSystemFileName(system_file);
  for (DictionaryFile file : {DictionaryFile::BvS01, DictionaryFile::TdV30}) {
    ASSERT_EQ(files_.Relations(file)->OpenRelations(), LevelNone) << ::testing::PrintToString(Texts());
  }
  EXPECT_TRUE(fs::exists(dir_ / "specs" / "BvS01.dat"));
  EXPECT_TRUE(fs::exists(dir_ / "TDV30.dat"));
  EXPECT_EQ(Manager(DictionaryFile::BvS01).DisplayName(), system_file);
  EXPECT_TRUE(Texts().empty()) << ::testing::PrintToString(Texts());
}

TEST_F(FileManagersTest, UniqueKeysKeepTheirOwnLetterCaseRule) {
  struct Case {
    DictionaryFile file;
    const char* number_field;
    const char* unique_field;
    bool duplicate_refused;
  };
  const Case cases[] = {
      {DictionaryFile::TdV01, "V01:VEHNUMBER", "V01:REGISTRATIONNUMBER", true},
      {DictionaryFile::TdI01, "I01:DESCRIPTION", "I01:ITEMCODE", false},
  };
  for (const Case& test : cases) {
    FileManager& manager = Manager(test.file);
    SCOPED_TRACE(manager.FILENAMEVALUE);
    ASSERT_EQ(files_.Relations(test.file)->OpenRelations(), LevelNone);
    const std::vector<std::pair<std::string, std::string>> records = {{"1", "ab12cd"}, {"2", "AB12CD"}};
    std::vector<ErrorLevel> results;
    for (const auto& [number, value] : records) {
      DataDictionary::File(test.file).Clear();
      Set(test.file, test.number_field, number);
      Set(test.file, test.unique_field, value);
      results.push_back(manager.InsertQuiet());
    }
    EXPECT_EQ(results[0], LevelNone);
    EXPECT_EQ(results[1] != LevelNone, test.duplicate_refused);
    files_.Relations(test.file)->CloseRelations();
  }
}

TEST_F(FileManagersTest, AccountsAnalysisNumberMustBeFoundInTheAnalyses) {
  ASSERT_EQ(files_.Relations(DictionaryFile::TdV03)->OpenRelations(), LevelNone);
  FileManager& analyses = Manager(DictionaryFile::TdV03);
  Set(DictionaryFile::TdV03, "V03:ANALDESCRIPTION", "Fuel");
  ASSERT_EQ(analyses.InsertQuiet(), LevelNone);
  ASSERT_EQ(Get(DictionaryFile::TdV03, "V03:ANALNUMBER"), "1");  // numbered
  Set(DictionaryFile::TdV03, "V03:ANALDESCRIPTION", "in the buffer");

  struct Case {
    const char* analysis;
    bool report;
    bool fails;
    bool shown;
  };
  const Case cases[] = {
      {"0", true, false, false},
      {"1", true, false, false},
      {"7", false, true, false},
      {"7", true, true, true},
  };
  FileManager& accounts = Manager(DictionaryFile::TdV05);
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.analysis) + (test.report ? " reported" : " quiet"));
    const std::size_t before = presenter_.Messages().size();
    Set(DictionaryFile::TdV05, "V05:ANALNUMBER", test.analysis);
    const ErrorLevel result = accounts.CheckField(kAnalysisNumberField, test.report);
    EXPECT_EQ(result != LevelNone, test.fails);
    if (test.shown) {
      EXPECT_EQ(result, LevelNotify);
      ASSERT_EQ(Texts(before).size(), 1u);
      EXPECT_EQ(Texts(before)[0], "Field contents error: The value of The analysis number must be found in the TdV03 file.");
    } else {
      EXPECT_TRUE(Texts(before).empty()) << ::testing::PrintToString(Texts(before));
    }
    EXPECT_EQ(Get(DictionaryFile::TdV03, "V03:ANALDESCRIPTION"), "in the buffer");
  }

  // Another field of the account leaves the analyses alone, even unopened.
  files_.Relations(DictionaryFile::TdV03)->CloseRelations();
  Set(DictionaryFile::TdV05, "V05:ANALNUMBER", "7");
  EXPECT_EQ(accounts.CheckField(2, true), LevelNone);
  EXPECT_FALSE(analyses.IsOpen());
}

TEST_F(FileManagersTest, TearDownWithTheAliasStillOpenLeavesNothingBehind) {
  ASSERT_EQ(files_.Relations(DictionaryFile::TdI01)->OpenRelations(), LevelNone);
  ASSERT_EQ(files_.Relations(DictionaryFile::TdI01A)->OpenRelations(), LevelNone);
  ASSERT_EQ(Manager(DictionaryFile::TdI01A).SetOrder(1), LevelNone);
  files_.Stop();
  for (DictionaryFile file : CheckerFiles::StartOrder()) {
    EXPECT_EQ(files_.Access(file), nullptr);
    EXPECT_EQ(files_.Relations(file), nullptr);
  }
  files_.Stop();
  files_.Start(errors_);
  EXPECT_EQ(files_.Relations(DictionaryFile::TdI01)->OpenRelations(), LevelNone);
}

}  // namespace
}  // namespace qm::checker
