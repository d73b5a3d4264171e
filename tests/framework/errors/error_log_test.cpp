#include "framework/errors/error_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qm {
namespace {

namespace fs = std::filesystem;

class StdErrorLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() /
                 ("qm-error-log-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::string Contents(const fs::path& path) const {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path directory_;
};

TEST_F(StdErrorLogTest, CreatesTheFileAndAppendsToWhatIsThere) {
  const fs::path path = directory_ / "VLXError.Log";
  {
    StdErrorLog log(path.string());
    ASSERT_EQ(log.Open(false), LevelNone);
    EXPECT_EQ(log.Write("first"), LevelNone);
    EXPECT_EQ(log.Close(false), LevelNone);
  }
  StdErrorLog log(path.string());
  ASSERT_EQ(log.Open(false), LevelNone);
  EXPECT_EQ(log.Write("second"), LevelNone);
  EXPECT_EQ(log.Close(false), LevelNone);
  EXPECT_EQ(Contents(path), "first\nsecond\n");
}

TEST_F(StdErrorLogTest, NestedOpensKeepTheFileOpenUntilTheLastClose) {
  StdErrorLog log((directory_ / "VLXError.Log").string());
  ASSERT_EQ(log.Open(false), LevelNone);
  ASSERT_EQ(log.Open(false), LevelNone);
  EXPECT_EQ(log.Usage(), 2);
  EXPECT_EQ(log.Close(false), LevelNone);
  EXPECT_EQ(log.Write("still open"), LevelNone);
  EXPECT_EQ(log.Close(false), LevelNone);
  EXPECT_EQ(log.Usage(), 0);
  EXPECT_EQ(log.Write("closed"), LevelNotify);

  ASSERT_EQ(log.Open(false), LevelNone);
  ASSERT_EQ(log.Open(false), LevelNone);
  EXPECT_EQ(log.Close(true), LevelNone);
  EXPECT_EQ(log.Usage(), 0);
  EXPECT_EQ(log.Write("forced shut"), LevelNotify);
  EXPECT_EQ(Contents(directory_ / "VLXError.Log"), "still open\n");
}

TEST_F(StdErrorLogTest, WriteWithoutOpenFails) {
  StdErrorLog log((directory_ / "VLXError.Log").string());
  EXPECT_EQ(log.Write("nowhere"), LevelNotify);
  EXPECT_FALSE(fs::exists(directory_ / "VLXError.Log"));
}

TEST_F(StdErrorLogTest, LongLineIsCut) {
  StdErrorLog log((directory_ / "VLXError.Log").string());
  ASSERT_EQ(log.Open(false), LevelNone);
  EXPECT_EQ(log.Write(std::string(1500, 'x')), LevelNone);
  EXPECT_EQ(log.Close(false), LevelNone);
  EXPECT_EQ(Contents(directory_ / "VLXError.Log"), std::string(1024, 'x') + "\n");
}

TEST_F(StdErrorLogTest, FailedOpenDoesNotLeaveTheLogShutForGood) {
  const fs::path missing = directory_ / "later";
  StdErrorLog log((missing / "VLXError.Log").string());
  EXPECT_EQ(log.Open(false), LevelNotify);
  EXPECT_EQ(log.Write("lost"), LevelNotify);
  EXPECT_EQ(log.Close(false), LevelNone);
  EXPECT_EQ(log.Usage(), 0);

  fs::create_directories(missing);
  ASSERT_EQ(log.Open(false), LevelNone);
  EXPECT_EQ(log.Write("found"), LevelNone);
  EXPECT_EQ(log.Close(false), LevelNone);
  EXPECT_EQ(Contents(missing / "VLXError.Log"), "found\n");
}

// A program's own open of the log gets the file once it exists, with the
// mode 66; its answer decides whether the log opens.
TEST_F(StdErrorLogTest, TheProgramsOwnOpenOpensTheCreatedFile) {
  const fs::path path = directory_ / "VLXError.Log";
  const struct {
    int answer;
    ErrorLevel expected;
  } cases[] = {{0, LevelNone}, {5, LevelNotify}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    fs::remove(path);
    std::vector<int> modes;
    bool existed = false;
    StdErrorLog::SetFileOpen([&](platform::TextFile& file, int mode) {
      modes.push_back(mode);
      existed = fs::exists(file.Path());
      return c.answer == 0 ? file.Open() : c.answer;
    });
    StdErrorLog log(path.string());
    const ErrorLevel opened = log.Open(false);
    const ErrorLevel written = log.Write("line");
    log.Close(false);
    StdErrorLog::SetFileOpen({});
    EXPECT_EQ(opened, c.expected);
    EXPECT_EQ(modes, std::vector<int>{66});
    EXPECT_TRUE(existed);
    EXPECT_EQ(log.Usage(), 0);
    EXPECT_EQ(written, c.expected);
    EXPECT_EQ(Contents(path), c.answer == 0 ? "line\n" : "");
  }
}

TEST_F(StdErrorLogTest, PathThatIsADirectoryCannotBeOpened) {
  fs::create_directories(directory_ / "VLXError.Log");
  StdErrorLog log((directory_ / "VLXError.Log").string());
  EXPECT_EQ(log.Open(false), LevelNotify);
  EXPECT_EQ(log.Usage(), 0);
}

}  // namespace
}  // namespace qm
