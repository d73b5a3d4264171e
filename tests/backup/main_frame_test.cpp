// TdxBack's frame end to end under the script presenter: every menu entry
// and toolbar button starts its window on a thread of its own while the
// frame stays usable, and Exit ends the program.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tdxback_test.h"

namespace qm::backup::testing {
namespace {

// The threads of the windows with `caption` that the transcript saw open,
// in the order they opened.
std::vector<int> ThreadsOf(const std::string& transcript, const std::string& caption, const std::string& id) {
  std::vector<int> threads;
  const std::string start = "open " + Quoted(caption) + " id=" + id + " thread=";
  std::istringstream lines(transcript);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(start)) threads.push_back(std::stoi(line.substr(start.size())));
  }
  return threads;
}

class MainFrameTest : public TdxBackTest {
 protected:
  void SetUp() override {
    TdxBackTest::SetUp();
    fs::create_directories(root_ / "target");
    fs::create_directories(root_ / "bin");
    WriteAll(data_ / "JOBS.dat", "bytes to pack");
  }

  // Runs TdxBack with `script`; its exit status.
  int RunForStatus(const std::string& script, const std::string& environment = "") {
    int status = -1;
    Run(script, environment, &status);
    return status;
  }
};

// Each action, pressed once by its number and once by its text: two windows
// of their own, each on a new thread, open at the same time beside the frame.
TEST_F(MainFrameTest, EveryActionOpensItsWindowOnAThreadOfItsOwn) {
  struct Case {
    int control;
    std::string text;
    std::string caption;
    std::string id;
  };
  const std::vector<Case> cases = {
      {-2, "&Backup /Rugsteun", "Make a Backup", "TdxBack$TdxBack002"},
      {-9, "&Backup", "Make a Backup", "TdxBack$TdxBack002"},
      {-3, "&Restore /Herstel", "Restore a Backup", "TdxBack$TdxBack003"},
      {-10, "&Restore", "Restore a Backup", "TdxBack$TdxBack003"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const int status = RunForStatus("wait open " + Quoted(kFrame) + "\npress " + Quoted(kFrame) + " " +
                           std::to_string(c.control) + "\nwait open " + Quoted(c.caption) + "\npress " +
                           Quoted(kFrame) + " " + Quoted(c.text) + "\nsleep 2\n");
    const std::string transcript = ReadAll(Transcript());
    EXPECT_EQ(status, 0) << transcript;
    EXPECT_EQ(transcript.find("error"), std::string::npos) << transcript;

    const std::vector<int> frame = ThreadsOf(transcript, kFrame, "TdxBack$TdxBack001");
    const std::vector<int> windows = ThreadsOf(transcript, c.caption, c.id);
    ASSERT_EQ(frame.size(), 1u) << transcript;
    ASSERT_EQ(windows.size(), 2u) << transcript;
    EXPECT_EQ(std::set<int>({frame[0], windows[0], windows[1]}).size(), 3u) << transcript;
    // Both were open before either closed (the end of the script closes them).
    const size_t second_open = transcript.rfind("open " + Quoted(c.caption));
    EXPECT_LT(second_open, transcript.find("closed " + Quoted(c.caption))) << transcript;
  }
}

// The frame takes a press while a backup thread waits for its archiver: a
// restore window opens and closes before that archiver is let go.
TEST_F(MainFrameTest, FrameStaysUsableWhileABackupWaitsForItsArchiver) {
  const fs::path release = root_ / "release";
  fs::copy_file(TDXBACK_BINARY, root_ / "bin" / "TdxBack");
  WriteAll(root_ / "bin" / "QmZip", "#!/bin/sh\ncase \"$*\" in *'-add Tdx01'*)\n  i=0\n  while [ ! -e '" +
                                        release.string() +
                                        "' ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done;;\nesac\nexec '" +
                                        std::string(QMZIP_BINARY) + "' \"$@\"\n");
  fs::permissions(root_ / "bin" / "QmZip", fs::perms::owner_all);
  program_ = (root_ / "bin" / "TdxBack").string();

  const std::string script = "wait open " + Quoted(kFrame) + "\npress " + Quoted(kFrame) +
                             " -9\nwait open \"Make a Backup\"\npress \"Make a Backup\" \"Drive\"\ndialog " +
                             Quoted((root_ / "target").string()) +
                             "\npress \"Make a Backup\" \"&Backup\"\nanswer ok\nwait open \"Backup / Restore\"\n"
                             "press " + Quoted(kFrame) + " -10\nwait open \"Restore a Backup\"\n"
                             "close \"Restore a Backup\"\nwait closed \"Restore a Backup\"\n"
                             "answer ok\nwait closed \"Make a Backup\"\n";
  auto run = std::async(std::launch::async, [&] { return RunForStatus(script); });
  // Let the archiver go once the restore window has come and gone, or once
  // TdxBack has ended without it.
  while (run.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready &&
         ReadAll(Transcript()).find("closed \"Restore a Backup\"") == std::string::npos) {
  }
  WriteAll(release, "");
  const int status = run.get();
  const std::string transcript = ReadAll(Transcript());
  EXPECT_EQ(status, 0) << transcript;
  const size_t restore_closed = transcript.find("closed \"Restore a Backup\"");
  const size_t archived = transcript.find("run \"QmZip -add Tdx01 *.dat *.ini\" -> 0");
  ASSERT_NE(restore_closed, std::string::npos) << transcript;
  ASSERT_NE(archived, std::string::npos) << transcript;
  EXPECT_LT(restore_closed, archived) << transcript;
  EXPECT_NE(transcript.find("\"Data backup was successful\""), std::string::npos) << transcript;
}

// Exit closes the frame itself (a script that runs out would close it too,
// so the step after Exit waits for it) and the program ends with it, also
// when a window of another thread is still open: that one closes too.
TEST_F(MainFrameTest, ExitEndsTheProgram) {
  for (const bool backup_open : {false, true}) {
    SCOPED_TRACE(backup_open ? "with a backup window open" : "alone");
    const std::string open_backup =
        backup_open ? "press " + Quoted(kFrame) + " -9\nwait open \"Make a Backup\"\n" : std::string();
    const std::string wait_backup = backup_open ? "wait closed \"Make a Backup\"\n" : std::string();
    const int status = RunForStatus("wait open " + Quoted(kFrame) + "\n" + open_backup + "press " + Quoted(kFrame) +
                           " \"E&xit\"\nwait closed " + Quoted(kFrame) + "\n" + wait_backup);
    const std::string transcript = ReadAll(Transcript());
    EXPECT_EQ(status, 0) << transcript;
    EXPECT_NE(transcript.find("closed " + Quoted(kFrame)), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("error"), std::string::npos) << transcript;
    // The frame's place is kept for the next start.
    EXPECT_NE(ReadAll(data_ / "TdxBack.INI").find("[Main]"), std::string::npos);
  }
}

}  // namespace
}  // namespace qm::backup::testing
