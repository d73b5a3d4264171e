#include "files_fixture.h"

#include <algorithm>

#include "platform/presenter.h"
#include "platform/record_faults.h"
#include "platform/runtime_error.h"

namespace qm::testing {

namespace fs = std::filesystem;
using platform::FieldEncoding;

platform::RecordDeclaration JobsDeclaration(const std::string& disk_name) {
  platform::RecordDeclaration declaration;
  declaration.label = "TdJobs";
  declaration.disk_name = disk_name;
  declaration.prefix = "JOB";
  declaration.per_thread = true;
  const int number = declaration.AddField("JOB:NUMBER", FieldEncoding::kU32);
  const int name = declaration.AddField("JOB:NAME", FieldEncoding::kText, 10);
  const int code = declaration.AddField("JOB:CODE", FieldEncoding::kText, 6);
  const int group = declaration.AddField("JOB:GROUP", FieldEncoding::kU16);
  declaration.keys.push_back({"JOB:NumberKey", {number}, true, false, true, true});
  declaration.keys.push_back({"JOB:NameKey", {name}, true, true});
  declaration.keys.push_back({"JOB:CodeKey", {code}, true, false});
  declaration.keys.push_back({"JOB:GroupKey", {group, number}, false, false});
  return declaration;
}

platform::RecordDeclaration LinesDeclaration() {
  platform::RecordDeclaration declaration;
  declaration.label = "TdLines";
  declaration.disk_name = "LINES";
  declaration.prefix = "LIN";
  declaration.per_thread = true;
  const int job = declaration.AddField("LIN:JOB", FieldEncoding::kU32);
  const int line = declaration.AddField("LIN:LINE", FieldEncoding::kU16);
  declaration.AddField("LIN:TEXT", FieldEncoding::kText, 8);
  declaration.keys.push_back({"LIN:JobLineKey", {job, line}, true, false, true, true});
  return declaration;
}

void TestFileManager::Setup() {
  INITIALIZED = false;
  FILENAMEVALUE = label_;
  ERRORS = &errors_;
  FILE = &file_;
  FileManager::Setup();
}

ErrorLevel TestFileManager::EnsureOpen(int usage) {
  if (usage != kUsageInitialize) {
    EnsureOpen(kUsageInitialize);
  } else if (!INITIALIZED) {
    INUSEFILE = true;
    Attach(file_, errors_);
    CREATE = true;
    LOCKRECOVER = 10;
    for (const platform::KeyDeclaration& key : file_.Declaration().keys) {
      AddKey(key.name, "The " + key.name.substr(key.name.find(':') + 1), key.auto_number);
    }
  }
  return FileManager::EnsureOpen(usage);
}

ErrorLevel TestFileManager::CheckField(int number, bool report) {
  for (int failing : failing_fields) {
    if (failing != number) continue;
    ERRORS->SetFieldName(file_.Declaration().fields[static_cast<std::size_t>(number - 1)].name);
    return report ? ERRORS->RaiseWithText(20, "1 to 9") : LevelNotify;
  }
  return FileManager::CheckField(number, report);
}

void FilesTest::SetUp() {
  previous_directory_ = fs::current_path();
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("qm-files-") + test->test_suite_name() + "-" + test->name();
  std::replace(name.begin(), name.end(), '/', '_');
  directory_ = fs::temp_directory_path() / name;
  fs::remove_all(directory_);
  fs::create_directories(directory_);
  fs::current_path(directory_);
  platform::InstallPresenter(&presenter_);
  platform::ClearRuntimeError();
  errors_.Start(status_);
  errors_.PushProcedureName("Main");
}

void FilesTest::TearDown() {
  errors_.Shutdown();
  platform::RecordFaults::ClearOpenFaults();
  SetPhysicalOpen({});
  platform::InstallPresenter(nullptr);
  platform::ClearRuntimeError();
  fs::current_path(previous_directory_);
  fs::remove_all(directory_);
}

std::string FilesTest::Get(platform::RecordFile& file, const std::string& field) {
  const int number = file.Declaration().FieldNumber(field);
  return platform::FieldText(file.Declaration().fields[static_cast<std::size_t>(number - 1)], file.Record());
}

void FilesTest::Set(platform::RecordFile& file, const std::string& field, const std::string& value) {
  const int number = file.Declaration().FieldNumber(field);
  ASSERT_NE(number, 0) << field;
  ASSERT_TRUE(platform::SetFieldText(file.Declaration().fields[static_cast<std::size_t>(number - 1)],
                                     file.Record(), value))
      << field << " = " << value;
}

void FilesTest::AddJobs(const std::vector<std::tuple<int, std::string, std::string>>& jobs,
                        const std::string& disk_name) {
  platform::RecordFile file(JobsDeclaration(disk_name));
  ASSERT_EQ(file.Create(), 0);
  ASSERT_EQ(file.Open(), 0);
  for (const auto& [number, name, code] : jobs) {
    file.Clear();
    Set(file, "JOB:NUMBER", std::to_string(number));
    Set(file, "JOB:NAME", name);
    Set(file, "JOB:CODE", code);
    ASSERT_EQ(file.Add(), 0) << name;
  }
}

std::vector<std::string> FilesTest::Titles() const {
  std::vector<std::string> titles;
  for (const auto& shown : presenter_.Messages()) titles.push_back(shown.request.title);
  return titles;
}

std::vector<std::string> FilesTest::Texts() const {
  std::vector<std::string> texts;
  for (const auto& shown : presenter_.Messages()) texts.push_back(shown.request.text);
  return texts;
}

}  // namespace qm::testing
