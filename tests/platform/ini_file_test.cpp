#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ini_file_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::string PathOf(const std::string& name) const { return (directory_ / name).string(); }

  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(PathOf(name), std::ios::binary) << text;
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory_)) names.push_back(entry.path().filename());
    return names;
  }

  fs::path directory_;
};

// A file with everything a user's hand-edited file may hold.
const std::string kSample =
    "; Settings of the backup utility\n"
    "orphan=before any section\n"
    "\n"
    "[Main]\n"
    "; placement\n"
    "XPos = 10 \n"
    "this line is broken\n"
    "[half a header\n"
    "YPos=20\n"
    "=no key\n"
    "Empty=\n"
    "\n"
    "; about the next one\n"
    "[Typeset]\n"
    "FontName=Arial\n";

TEST_F(IniFileTest, ReadsEntriesAndSkipsWhatIsNotOne) {
  Write("Test.INI", kSample);
  IniFile file(PathOf("Test.INI"));
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"Main", "XPos", "10"},          // blanks around the value go
      {"MAIN", "xpos", "10"},          // letter case does not matter
      {"Main", "YPos", "20"},          // a broken header does not start a section
      {"Main", "Empty", ""},           // present but empty is not the default
      {"Typeset", "FontName", "Arial"},
      {"Main", "FontName", "dflt"},    // a key of another section
      {"Main", "this line is broken", "dflt"},
      {"half a header", "YPos", "dflt"},
      {"", "orphan", "dflt"},          // above every section: in none
      {"Nowhere", "XPos", "dflt"},
      {"Main", "Missing", "dflt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(file.Get(c.section, c.key, "dflt"), c.expected) << c.section << "/" << c.key;
  }
}

TEST_F(IniFileTest, MissingOrUnreadableFileGivesTheDefault) {
  fs::create_directory(PathOf("Folder.INI"));
  for (const char* name : {"Missing.INI", "Folder.INI", "no/such/dir/x.ini"}) {
    EXPECT_EQ(IniFile(PathOf(name)).Get("Main", "XPos", "7"), "7") << name;
  }
}

TEST_F(IniFileTest, WriteChangesOnlyItsOwnLine) {
  struct Case {
    const char* what;
    std::function<int(IniFile&)> write;
    std::string expected;
  } cases[] = {
      {"replace, in another letter case",
       [](IniFile& f) { return f.Put("main", "xpos", "99"); },
       "; Settings of the backup utility\norphan=before any section\n\n[Main]\n; placement\n"
       "xpos=99\nthis line is broken\n[half a header\nYPos=20\n=no key\nEmpty=\n\n"
       "; about the next one\n[Typeset]\nFontName=Arial\n"},
      {"new key goes after the section's last entry",
       [](IniFile& f) { return f.Put("Main", "Width", "300"); },
       "; Settings of the backup utility\norphan=before any section\n\n[Main]\n; placement\n"
       "XPos = 10 \nthis line is broken\n[half a header\nYPos=20\n=no key\nEmpty=\nWidth=300\n\n"
       "; about the next one\n[Typeset]\nFontName=Arial\n"},
      {"new section at the end",
       [](IniFile& f) { return f.Put("Other", "Key", ""); },
       kSample + "\n[Other]\nKey=\n"},
      {"delete",
       [](IniFile& f) { return f.Delete("MAIN", "ypos"); },
       "; Settings of the backup utility\norphan=before any section\n\n[Main]\n; placement\n"
       "XPos = 10 \nthis line is broken\n[half a header\n=no key\nEmpty=\n\n"
       "; about the next one\n[Typeset]\nFontName=Arial\n"},
      {"delete of a missing entry changes nothing",
       [](IniFile& f) { return f.Delete("Main", "Height"); }, kSample},
  };
  for (const Case& c : cases) {
    Write("Test.INI", kSample);
    IniFile file(PathOf("Test.INI"));
    EXPECT_EQ(c.write(file), kErrNone) << c.what;
    EXPECT_EQ(Read("Test.INI"), c.expected) << c.what;
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"Test.INI"}) << "a temporary file was left behind";
}

TEST_F(IniFileTest, KeepsLineEndsAndAFinalLineWithoutOne) {
  Write("Crlf.INI", "[Main]\r\nXPos=1\r\n");
  EXPECT_EQ(IniFile(PathOf("Crlf.INI")).Put("Main", "YPos", "2"), kErrNone);
  EXPECT_EQ(Read("Crlf.INI"), "[Main]\r\nXPos=1\r\nYPos=2\r\n");

  Write("Open.INI", "[Main]\nXPos=1");
  EXPECT_EQ(IniFile(PathOf("Open.INI")).Put("Main", "YPos", "2"), kErrNone);
  EXPECT_EQ(Read("Open.INI"), "[Main]\nXPos=1\nYPos=2\n");
}

TEST_F(IniFileTest, CreatesAMissingFileWithTheModeOfAnExistingOneKept) {
  IniFile created(PathOf("New.INI"));
  EXPECT_EQ(created.Put("Main", "XPos", "5"), kErrNone);
  EXPECT_EQ(Read("New.INI"), "[Main]\nXPos=5\n");

  Write("Shared.INI", "[Main]\n");
  chmod(PathOf("Shared.INI").c_str(), 0664);
  EXPECT_EQ(IniFile(PathOf("Shared.INI")).Put("Main", "XPos", "5"), kErrNone);
  struct stat status;
  ASSERT_EQ(stat(PathOf("Shared.INI").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0664u);
}

TEST_F(IniFileTest, RefusesWhatCannotStandInTheFile) {
  Write("Test.INI", kSample);
  IniFile file(PathOf("Test.INI"));
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"Main", "XPos", "1\n[Injected]"}, {"Main", "XPos", "1\r2"}, {"Main", "X=Pos", "1"},
      {"Ma]in", "XPos", "1"},           {"", "XPos", "1"},       {"Main", "", "1"},
      {"Main", " XPos", "1"},           {"Main", ";XPos", "1"},  {"Main\nX", "XPos", "1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(file.Put(c.section, c.key, c.value), kErrNotSupported) << c.section << "/" << c.key;
    EXPECT_EQ(LastRuntimeError().code, kErrNotSupported);
  }
  EXPECT_EQ(Read("Test.INI"), kSample);
}

TEST_F(IniFileTest, AFailedWriteReportsAndReplacesNothing) {
  fs::create_directory(PathOf("Folder.INI"));
  EXPECT_EQ(IniFile(PathOf("Folder.INI")).Put("Main", "XPos", "1"), kErrAccessDenied);
  EXPECT_EQ(LastRuntimeError().code, kErrAccessDenied);
  EXPECT_TRUE(fs::is_directory(PathOf("Folder.INI")));

  EXPECT_EQ(IniFile(PathOf("gone/Test.INI")).Put("Main", "XPos", "1"), kErrPathNotFound);

  EXPECT_EQ(IniFile(PathOf("New.INI")).Put("Main", "XPos", "1"), kErrNone);
  EXPECT_EQ(LastRuntimeError().code, kErrNone) << "success clears the error state";
}

TEST_F(IniFileTest, FindsTheFileWhateverTheLetterCaseOfItsName) {
  Write("tdxback.ini", "[Main]\nXPos=3\n");
  IniFile file(PathOf("TdxBack.INI"));
  EXPECT_EQ(file.Get("Main", "XPos"), "3");
  EXPECT_EQ(file.Put("Main", "YPos", "4"), kErrNone);
  EXPECT_EQ(Names(), std::vector<std::string>{"tdxback.ini"});
  EXPECT_EQ(Read("tdxback.ini"), "[Main]\nXPos=3\nYPos=4\n");
}

TEST_F(IniFileTest, WritesThroughALinkToItsTarget) {
  Write("Real.INI", "[Main]\n");
  fs::create_symlink(PathOf("Real.INI"), PathOf("Link.INI"));
  EXPECT_EQ(IniFile(PathOf("Link.INI")).Put("Main", "XPos", "1"), kErrNone);
  EXPECT_TRUE(fs::is_symlink(PathOf("Link.INI")));
  EXPECT_EQ(Read("Real.INI"), "[Main]\nXPos=1\n");
}

TEST_F(IniFileTest, ConcurrentWritersKeepEachOthersValues) {
  constexpr int kThreads = 4;
  constexpr int kKeys = 25;
  IniFile file(PathOf("Busy.INI"));
  std::vector<std::thread> writers;
  for (int thread = 0; thread < kThreads; ++thread) {
    writers.emplace_back([&file, thread] {
      for (int key = 0; key < kKeys; ++key)
        file.Put("T" + std::to_string(thread), "K" + std::to_string(key), std::to_string(thread * 100 + key));
    });
  }
  for (std::thread& writer : writers) writer.join();
  for (int thread = 0; thread < kThreads; ++thread)
    for (int key = 0; key < kKeys; ++key)
      EXPECT_EQ(file.Get("T" + std::to_string(thread), "K" + std::to_string(key)),
                std::to_string(thread * 100 + key));
}

}  // namespace
}  // namespace qm::platform
