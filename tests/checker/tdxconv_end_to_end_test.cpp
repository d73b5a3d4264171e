// TdxConv run as the user runs it, driven by a script: files it creates,
// the report it shows and writes, and a data file it cannot use.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "checker/data_dictionary.h"
#include "platform/file_system.h"
#include "platform/record_faults.h"
#include "platform/record_fields.h"

namespace {

using qm::checker::DataDictionary;
using qm::checker::DictionaryFile;

namespace fs = std::filesystem;

const char* const kFrame = "Brevant File Integrity Checker";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TdxConvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qm-tdxconv-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Runs the checker in the directory; answers its exit code (-1 when it
  // did not end by itself) and keeps its transcript.
  int Run(const std::string& script) {
    std::ofstream(dir_ / "run.script") << script;
    const std::string command = "cd '" + dir_.string() + "' && QM_UI_SCRIPT=run.script QM_UI_TRANSCRIPT=run.txt " +
                                "QM_UI_TIMEOUT=30 QT_QPA_PLATFORM=offscreen '" TDXCONV_PATH "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    transcript_ = ReadAll(dir_ / "run.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string ShowReport() {
    return std::string("wait open \"") + kFrame + "\"\nshow \"" + kFrame + "\" 1\nshow \"" + kFrame + "\" 2\n" +
           "close \"" + kFrame + "\"\n";
  }

  fs::path dir_;
  std::string transcript_;
};

TEST_F(TdxConvTest, MissingFilesAreCreatedAndReportedBeforeTheFrameOpens) {
  fs::create_directory(dir_ / "specs");
  std::ofstream(dir_ / "Qmoor.Ini") << "[Specs]\nPath=" << (dir_ / "specs").string() << "\n";
  std::ofstream(dir_ / "specs" / "Qmoor.Ini") << "[USER]\nDatadrive=" << dir_.string() << "\n";
  std::ofstream(dir_ / "Qmoor.Ini", std::ios::app) << "[SPECS]\nVersion=2.1e\n";

  ASSERT_EQ(Run(ShowReport()), 0) << transcript_;
  for (const char* name : {"TDV01", "TDV30", "TDV301", "TdI01", "TdV50", "TDW01", "TDV51"}) {
    EXPECT_TRUE(fs::exists(dir_ / (std::string(name) + ".dat"))) << name;
  }
  EXPECT_TRUE(fs::exists(dir_ / "specs" / "BvS01.dat"));
  EXPECT_FALSE(fs::exists(dir_ / "BvS01.dat"));

  const std::size_t progress_closed = transcript_.find("closed \"Checking the data files\"");
  const std::size_t frame_open = transcript_.find(std::string("open \"") + kFrame + "\"");
  ASSERT_NE(progress_closed, std::string::npos) << transcript_;
  EXPECT_LT(progress_closed, frame_open) << transcript_;
  EXPECT_NE(transcript_.find("row 18: "), std::string::npos) << transcript_;
  EXPECT_EQ(transcript_.find("row 19: "), std::string::npos) << transcript_;
  EXPECT_NE(transcript_.find("\"TdV30\" \"" + (dir_ / "TDV30.dat").string() + "\" \"created\" \"0\""),
            std::string::npos)
      << transcript_;
  EXPECT_NE(transcript_.find("Data version 2.1e: no sign conversion needed."), std::string::npos) << transcript_;
  EXPECT_EQ(transcript_.find("message "), std::string::npos) << transcript_;

  const std::string report = ReadAll(dir_ / "TdxConv.txt");
  EXPECT_NE(report.find("TdV30   created, 0 records"), std::string::npos) << report;

  // A second run finds every file sound.
  ASSERT_EQ(Run(ShowReport()), 0) << transcript_;
  EXPECT_NE(transcript_.find("\"TdV30\" \"" + (dir_ / "TDV30.dat").string() + "\" \"sound\" \"0\""),
            std::string::npos)
      << transcript_;
}

TEST_F(TdxConvTest, AFileThatIsNoRecordFileEndsTheCheckWithAMessageAndIsKept) {
  const std::string foreign = "this is not a record file\n";
  std::ofstream(dir_ / "TDV06.dat") << foreign;

  EXPECT_EQ(Run(std::string("wait open \"") + kFrame + "\"\n"), 1) << transcript_;
  EXPECT_NE(transcript_.find("message \"File Access Error\" \"File TdV06 could not be opened."), std::string::npos)
      << transcript_;
  EXPECT_EQ(transcript_.find(std::string("open \"") + kFrame), std::string::npos) << transcript_;
  EXPECT_EQ(ReadAll(dir_ / "TDV06.dat"), foreign);

  const std::string report = ReadAll(dir_ / "TdxConv.txt");
  EXPECT_NE(report.find("Checking TdV06 (" + (dir_ / "TDV06.dat").string() + ")\n  TdV06 cannot be used: "),
            std::string::npos)
      << report;
}

TEST_F(TdxConvTest, KeysThatDoNotMatchTheirRecordsAreRebuiltAndTheCheckGoesOn) {
  {
    const std::string previous = qm::platform::CurrentDirectory().value_or(".");
    ASSERT_EQ(qm::platform::SetCurrentDirectory(dir_.string()), 0);
    qm::platform::RecordFile& farms = DataDictionary::File(DictionaryFile::TdV06);
    ASSERT_EQ(farms.Create(), 0);
    ASSERT_EQ(farms.Open(), 0);
    const qm::platform::FieldDeclaration& farm_number = farms.Declaration().fields[0];
    for (const char* farm : {"HILL", "VALE"}) {
      farms.Clear();
      ASSERT_TRUE(qm::platform::SetFieldText(farm_number, farms.Record(), farm));
      ASSERT_EQ(farms.Add(), 0);
    }
    farms.Close();
    DataDictionary::ReleaseThread();
    ASSERT_EQ(qm::platform::SetCurrentDirectory(previous), 0);
  }
  ASSERT_EQ(qm::platform::RecordFaults::ScrambleKeyValues((dir_ / "TDV06.dat").string(), 1), 0);
  std::ofstream(dir_ / "Qmoor.Ini") << "[SPECS]\nVersion=2.1e\n";

  ASSERT_EQ(Run("answer ok\n" + ShowReport()), 0) << transcript_;
  EXPECT_NE(transcript_.find("message \"Invalid Key\""), std::string::npos) << transcript_;
  EXPECT_NE(transcript_.find("\"TdV06\" \"" + (dir_ / "TDV06.dat").string() + "\" \"keys rebuilt\" \"2\""),
            std::string::npos)
      << transcript_;
}

}  // namespace
