#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file_system.h"
#include "platform/headless_presenter.h"
#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-run-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    InstallPresenter(&presenter_);
  }
  void TearDown() override {
    InstallPresenter(nullptr);
    ::unsetenv(kProgramPathVariable);
    if (!beside_executable_.empty()) ::unlink(beside_executable_.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // A small shell script in `directory` that runs `body`.
  void MakeScript(const std::string& directory, const std::string& name, const std::string& body,
                  mode_t mode = 0755) const {
    std::filesystem::create_directories(directory);
    const std::string path = directory + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), mode);
  }

  std::string Read(const std::string& path) const {
    std::ifstream file(path);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
  }

  HeadlessPresenter presenter_;
  std::string dir_;
  std::string beside_executable_;  // a helper put next to the test program
};

TEST_F(ProcessTest, ReturnsTheProgramsExitCode) {
  const struct {
    const char* command_line;
    int exit_code;
  } cases[] = {
      {"/bin/sh -c \"exit 0\"", 0},
      {"/bin/sh -c \"exit 1\"", 1},
      {"sh -c \"exit 3\"", 3},
      {"sh -c \"exit 255\"", 255},
      {"sh -c \"kill -9 $$\"", 128 + 9},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunAndWait(c.command_line), c.exit_code) << c.command_line;
  }
  EXPECT_EQ(LastRuntimeError().code, kErrNone);
  EXPECT_EQ(presenter_.ProgramsRun().front(), "/bin/sh -c \"exit 0\" -> 0");
  EXPECT_EQ(presenter_.ProgramsRun().back(), "sh -c \"kill -9 $$\" -> 137");
}

TEST_F(ProcessTest, AProgramThatCannotBeRunFailsDistinctly) {
  MakeScript(dir_, "NotExecutable", "exit 0", 0644);
  const struct {
    std::string command_line;
    std::string file;
  } cases[] = {
      {"QmNoSuchProgram -add Tdx01 *.dat *.ini", "QmNoSuchProgram"},
      {dir_ + "/NotExecutable", dir_ + "/NotExecutable"},
      {dir_ + "/missing/QmZip -test Tdx01.Zip", dir_ + "/missing/QmZip"},
      {"   ", ""},
  };
  for (const auto& c : cases) {
    SetRuntimeError(kErrNone);
    EXPECT_EQ(RunAndWait(c.command_line), kRunFailed) << c.command_line;
    EXPECT_EQ(LastRuntimeError().code, kErrFileNotFound) << c.command_line;
    EXPECT_EQ(LastRuntimeError().file, c.file) << c.command_line;
  }
  EXPECT_EQ(presenter_.ProgramsRun().front(), "QmNoSuchProgram -add Tdx01 *.dat *.ini -> -1");
}

// No shell between us and the program: blanks inside quotes, single quotes,
// backslashes and wildcards reach it exactly.
TEST_F(ProcessTest, ArgumentsArriveExactly) {
  const std::string out = dir_ + "/arguments.txt";
  const std::string command_line = "/bin/sh -c \"printf '[%s]\\n' \"\"$@\"\" > " + out +
                                   "\" sh \"two  words\" it's \"say \"\"hi\"\"\"\t"
                                   "back\\slash *.dat \"\" $HOME";
  ASSERT_EQ(RunAndWait(command_line), 0);
  EXPECT_EQ(Read(out), "[two  words]\n[it's]\n[say \"hi\"]\n[back\\slash]\n[*.dat]\n[]\n[$HOME]\n");
}

TEST(SplitCommandLineTest, WordsAndQuotes) {
  using Words = std::vector<std::string>;
  const struct {
    const char* command_line;
    Words words;
  } cases[] = {
      {"QmZip -add Tdx01 *.dat *.ini", {"QmZip", "-add", "Tdx01", "*.dat", "*.ini"}},
      {"  a \t b  ", {"a", "b"}},
      {"QmZip -add \"/media/my stick/Tdx\" *.dat", {"QmZip", "-add", "/media/my stick/Tdx", "*.dat"}},
      {"x\"y z\"w", {"xy zw"}},
      {"\"\" a", {"", "a"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"\"unfinished quote", {"unfinished quote"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.command_line), c.words) << c.command_line;
  }
}

// The search order: beside the executable, then the override path, then PATH.
TEST_F(ProcessTest, ProgramsAreFoundBesideTheExecutableFirst) {
  const std::string suffix = std::to_string(::getpid());
  const std::string everywhere = "QmFake" + suffix;
  const std::string not_beside = "QmTool" + suffix;
  beside_executable_ = JoinPath(ThisExecutableDirectory(), everywhere);
  if (!(std::ofstream(beside_executable_) << "#!/bin/sh\nexit 5\n")) {
    GTEST_SKIP() << "cannot write beside the test program in " << ThisExecutableDirectory();
  }
  ::chmod(beside_executable_.c_str(), 0755);
  MakeScript(dir_ + "/tools", everywhere, "exit 7");
  MakeScript(dir_ + "/tools", not_beside, "exit 6");
  MakeScript(dir_ + "/bin", everywhere, "exit 1");
  MakeScript(dir_ + "/bin", not_beside, "exit 1");
  MakeScript(dir_ + "/bin", "OnlyOnPath", "exit 4");
  const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (dir_ + "/bin:" + old_path).c_str(), 1);
  ::setenv(kProgramPathVariable, (dir_ + "/empty:" + dir_ + "/tools").c_str(), 1);

  std::string lower_case = not_beside;
  for (char& c : lower_case) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const struct {
    std::string program;
    int exit_code;
  } cases[] = {
      {everywhere, 5},
      {not_beside, 6},
      {lower_case, 6},  // letter case does not matter on our own paths
      {"OnlyOnPath", 4},
      {"onlyonpath", kRunFailed},  // it does on PATH
  };
  std::vector<int> results;
  for (const auto& c : cases) results.push_back(RunAndWait(c.program));
  ::setenv("PATH", old_path.c_str(), 1);

  for (size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i], cases[i].exit_code) << cases[i].program;
  }
}

TEST(ThisExecutableDirectoryTest, HoldsTheRunningTestProgram) {
  const std::string& directory = ThisExecutableDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_TRUE(FileExists(JoinPath(directory, "platform_tests")));
}

// A lock taken on a descriptor handed down outlives its taker while the
// program it started runs: the taker is killed while the program waits on a
// pipe, and only the program's end frees the lock.
TEST_F(ProcessTest, AProgramHoldsTheLockOfTheDescriptorHandedDownToIt) {
  const std::string lock_path = JoinPath(dir_, "lock");
  const std::string fifo = JoinPath(dir_, "fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    bool hand_down;
    bool locked_after_kill;
  } cases[] = {{true, true}, {false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hand_down ? "handed down" : "not handed down");
    const pid_t taker = ::fork();
    ASSERT_GE(taker, 0);
    if (taker == 0) {
      const int descriptor = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (descriptor < 0 || ::flock(descriptor, LOCK_EX) != 0) ::_exit(2);
      if (c.hand_down) HandDownToPrograms(descriptor);
      RunAndWait("sh -c \"read line < '" + fifo + "'\"");
      ::_exit(3);
    }
    // Opening the pipe's other end waits until the program has started.
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ::kill(taker, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(taker, &status, 0), taker);
    ASSERT_TRUE(WIFSIGNALED(status));

    const int probe = ::open(lock_path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    const bool locked = ::flock(probe, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    EXPECT_EQ(locked, c.locked_after_kill);
    // The program ends at the pipe's end of file, and with it the last holder.
    ::close(writer);
    EXPECT_EQ(::flock(probe, LOCK_EX), 0);
    ::close(probe);
  }
}

TEST_F(ProcessTest, NothingIsHandedDownOnceTheDescriptorIsTakenBack) {
  const int descriptor = ::open(JoinPath(dir_, "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(descriptor, 0);
  const std::string has_three = "sh -c \"[ -e /proc/self/fd/3 ]\"";
  HandDownToPrograms(descriptor);
  EXPECT_EQ(DescriptorHandedDown(), descriptor);
  EXPECT_EQ(RunAndWait(has_three), 0);
  HandDownToPrograms(-1);
  EXPECT_EQ(DescriptorHandedDown(), -1);
  EXPECT_EQ(RunAndWait(has_three), 1);
  ::close(descriptor);
}

}  // namespace
}  // namespace qm::platform
