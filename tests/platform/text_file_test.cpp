#include "platform/text_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-text-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    log_ = dir_ + "/VLXError.Log";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Contents() const {
    std::ifstream file(log_, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
  }

  std::string dir_;
  std::string log_;
};

TEST_F(TextFileTest, OpenOfAMissingFileIsFileNotFound) {
  TextFile file(log_);
  EXPECT_EQ(file.Open(), kErrFileNotFound);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(LastRuntimeError().code, kErrFileNotFound);
  EXPECT_EQ(LastRuntimeError().file, log_);
  EXPECT_FALSE(std::filesystem::exists(log_));

  TextFile elsewhere(dir_ + "/gone/VLXError.Log");
  EXPECT_EQ(elsewhere.Create(), kErrPathNotFound);
  EXPECT_EQ(elsewhere.Open(), kErrPathNotFound);
}

TEST_F(TextFileTest, LinesAreAppendedAndExistingTextIsKept) {
  std::ofstream(log_) << "earlier line\n";
  TextFile file(log_);
  EXPECT_EQ(file.Create(), kErrNone);
  ASSERT_EQ(file.Open(), kErrNone);
  EXPECT_EQ(file.AppendLine("10/12/2026 10:30:15 --> first"), kErrNone);
  EXPECT_EQ(file.AppendLine(""), kErrNone);
  EXPECT_EQ(file.Close(), kErrNone);
  ASSERT_EQ(file.Open(), kErrNone);
  EXPECT_EQ(file.AppendLine("second"), kErrNone);
  EXPECT_EQ(LastRuntimeError().code, kErrNone);
  file.Close();

  EXPECT_EQ(Contents(), "earlier line\n10/12/2026 10:30:15 --> first\n\nsecond\n");
}

TEST_F(TextFileTest, MisuseIsAnErrorNotACrash) {
  TextFile file(log_);
  EXPECT_EQ(file.AppendLine("nowhere"), kErrDriverError);
  EXPECT_EQ(LastRuntimeError().code, kErrDriverError);
  EXPECT_EQ(file.Close(), kErrNone);

  ASSERT_EQ(file.Create(), kErrNone);
  ASSERT_EQ(file.Open(), kErrNone);
  EXPECT_EQ(file.Open(), kErrFileAlreadyOpen);
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.AppendLine("still open"), kErrNone);
  file.Close();
  EXPECT_EQ(Contents(), "still open\n");
}

// Several writers of one log, each with its own open file: every line must
// arrive whole, never cut by another writer's line.
TEST_F(TextFileTest, LinesOfConcurrentWritersNeverInterleave) {
  ASSERT_EQ(TextFile(log_).Create(), kErrNone);
  constexpr int kWriters = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> writers;
  for (int writer = 0; writer < kWriters; ++writer) {
    writers.emplace_back([this, writer] {
      TextFile file(log_);
      if (file.Open() != kErrNone) return;
      const std::string line(1000, static_cast<char>('a' + writer));
      for (int i = 0; i < kLines; ++i) file.AppendLine(line + std::to_string(i));
      file.Close();
    });
  }
  for (std::thread& writer : writers) writer.join();

  std::istringstream lines(Contents());
  std::set<std::string> seen;
  std::string line;
  while (std::getline(lines, line)) {
    ASSERT_GE(line.size(), 1001u);
    ASSERT_EQ(line.find_first_not_of(line[0]), 1000u) << line.substr(990, 20);
    seen.insert(line);
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kWriters * kLines));
}

}  // namespace
}  // namespace qm::platform
