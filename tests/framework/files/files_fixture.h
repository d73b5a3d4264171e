// The small world the file manager's tests run in: a temporary current
// directory, the headless presenter, an error manager whose fatal messages
// are shown but do not end the test program, and a jobs file with a
// manager derived the way the programs derive theirs.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "framework/errors/error_manager.h"
#include "framework/files/file_manager.h"
#include "platform/headless_presenter.h"
#include "platform/record_declaration.h"
#include "platform/record_fields.h"
#include "platform/record_file.h"

namespace qm::testing {

// Shows a fatal message as the error manager does, then answers LevelFatal
// instead of ending the program.
class KeepRunningErrorManager : public ErrorManager {
 public:
  ErrorLevel HandleFatal() override {
    Report(SubstituteText() + "  Press OK to end this application", Title(), platform::kIconStop,
           platform::kButtonOk, platform::kButtonOk, MsgStyle());
    return LevelFatal;
  }
};

// Jobs: NUMBER auto-numbered primary key, NAME unique case-insensitive,
// CODE unique case-sensitive, and a group key (GROUP, LINE) with duplicates.
platform::RecordDeclaration JobsDeclaration(const std::string& disk_name = "JOBS");

// Lines: (JOB, LINE) unique, LINE auto-numbered within each job.
platform::RecordDeclaration LinesDeclaration();

// A file manager derived as the programs derive theirs: Setup names the file
// and the error manager; the first use attaches it and registers its keys.
class TestFileManager : public FileManager {
 public:
  TestFileManager(platform::RecordFile& file, ErrorManager& errors, std::string label)
      : file_(file), errors_(errors), label_(std::move(label)) {}

  void Setup() override;
  ErrorLevel EnsureOpen(int usage) override;
  ErrorLevel CheckField(int number, bool report) override;

  // Field numbers whose check fails (with a "Range Error" when reported).
  std::vector<int> failing_fields;

 private:
  platform::RecordFile& file_;
  ErrorManager& errors_;
  std::string label_;
};

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The value of a field of `file`'s record buffer, and setting it.
  static std::string Get(platform::RecordFile& file, const std::string& field);
  static void Set(platform::RecordFile& file, const std::string& field, const std::string& value);

  // Adds records straight through the driver (NUMBER, NAME, CODE each).
  void AddJobs(const std::vector<std::tuple<int, std::string, std::string>>& jobs,
               const std::string& disk_name = "JOBS");

  // Titles and texts of the messages shown so far.
  std::vector<std::string> Titles() const;
  std::vector<std::string> Texts() const;

  std::filesystem::path previous_directory_;
  std::filesystem::path directory_;
  platform::HeadlessPresenter presenter_;
  platform::PerThread<ErrorStatus> status_;
  KeepRunningErrorManager errors_;
};

}  // namespace qm::testing
