// TdxBack end to end: the built program under the script presenter on a
// scratch data directory, with the real QmZip, or with a stand-in that
// fails where a case needs a failing archiver.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tdxback_test.h"

namespace qm::backup::testing {
namespace {

// The generations, safety copies and journal of a data directory with their
// bytes (the register file and window settings change on every run).
std::map<std::string, std::string> Contents(const fs::path& directory) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("Tdx0") || name.starts_with("TDX0") || name.starts_with(".TdxBack.j") ||
        name.starts_with(".TdxBack.f")) {
      contents[name] = ReadAll(entry.path());
    }
  }
  return contents;
}

class BackupTest : public TdxBackTest {
 protected:
  void SetUp() override {
    TdxBackTest::SetUp();
    target_ = root_ / "USB DISK";
    bin_ = root_ / "bin";
    fs::create_directories(target_);
    fs::create_directories(bin_);
    WriteAll(data_ / "JOBS.dat", "not really a record file, but bytes to pack");
  }

  void SetProg(const std::string& prog) {
    WriteAll(data_ / "Qmoor.Ini", "[Specs]\nPath=" + data_.string() + "\n[USER]\nProg=" + prog + "\n");
  }

  // The generations present, each with distinct bytes.
  void MakeGenerations(int count) {
    for (int n = 1; n <= count; ++n) WriteAll(data_ / ("Tdx0" + std::to_string(n) + ".Zip"), "generation " + std::to_string(n));
  }

  // Runs TdxBack from a copy beside a stand-in QmZip that fails (exit 1) for
  // any command line holding `fail_on`, and runs the real one otherwise.
  void UseFailingArchiver(const std::string& fail_on) {
    fs::copy_file(TDXBACK_BINARY, bin_ / "TdxBack", fs::copy_options::overwrite_existing);
    WriteAll(bin_ / "QmZip", "#!/bin/sh\ncase \"$*\" in *'" + fail_on + "'*) exit 1;; esac\nexec '" +
                                 std::string(QMZIP_BINARY) + "' \"$@\"\n");
    fs::permissions(bin_ / "QmZip", fs::perms::owner_all);
    program_ = (bin_ / "TdxBack").string();
  }

  // Opens the backup window, chooses `target` and presses "&Backup".
  static std::string BackupTo(const std::string& target) {
    return "wait open \"Quillmoor Backup / Restore\"\n"
           "press \"Quillmoor Backup / Restore\" -9\n"
           "wait open \"Make a Backup\"\n"
           "press \"Make a Backup\" \"Drive\"\n"
           "dialog \"" + target + "\"\n"
           "press \"Make a Backup\" \"&Backup\"\n"
           "wait closed \"Make a Backup\"\n";
  }

  static std::string StartOnly() { return "wait open \"Quillmoor Backup / Restore\"\n"; }

  fs::path target_, bin_;
};

// The rotation: each generation moves one place down, the oldest drops
// out, and the new generation 1 is a tested archive.
TEST_F(BackupTest, SuccessfulBackupRotatesTheGenerations) {
  for (int present = 0; present <= 3; ++present) {
    SCOPED_TRACE(present);
    for (int n = 1; n <= 3; ++n) fs::remove(data_ / ("Tdx0" + std::to_string(n) + ".Zip"));
    MakeGenerations(present);
    const std::string transcript = Run(BackupTo(target_.string()));
    EXPECT_NE(transcript.find("\"Data backup was successful\""), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("run \"QmZip -add Tdx01 *.dat *.ini\" -> 0"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("run \"QmZip -add \\\"" + target_.string() + "/Tdx\\\" *.dat *.ini\" -> 0"),
              std::string::npos)
        << transcript;
    const auto files = Contents(data_);
    EXPECT_EQ(ReadAll(data_ / "Tdx01.Zip").substr(0, 2), "PK");
    for (int n = 2; n <= 3; ++n) {
      const std::string name = "Tdx0" + std::to_string(n) + ".Zip";
      if (n - 1 <= present) {
        EXPECT_EQ(files.at(name), "generation " + std::to_string(n - 1)) << name;
      } else {
        EXPECT_FALSE(files.contains(name)) << name;
      }
    }
    for (const char* leftover : {"Tdx01.Old", "Tdx02.Old", "Tdx03.Old", ".TdxBack.journal"}) {
      EXPECT_FALSE(files.contains(leftover)) << leftover;
    }
    EXPECT_TRUE(fs::exists(target_ / "Tdx.Zip"));
    EXPECT_FALSE(fs::exists(target_ / "Tdx.Zip.Bak"));
  }
}

TEST_F(BackupTest, BlankTargetMovesTheFocusToDriveAndRunsNothing) {
  MakeGenerations(1);
  const auto before = Contents(data_);
  const std::string transcript = Run(
      "wait open \"Quillmoor Backup / Restore\"\npress \"Quillmoor Backup / Restore\" -2\n"
      "wait open \"Make a Backup\"\npress \"Make a Backup\" \"&Backup\"\nshow \"Make a Backup\" 5\n");
  EXPECT_NE(transcript.find("focus \"Make a Backup\" 4"), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("run "), std::string::npos) << transcript;
  EXPECT_EQ(Contents(data_).at("Tdx01.Zip"), before.at("Tdx01.Zip"));
}

TEST_F(BackupTest, LongPrefixIsCutToSevenCharacters) {
  SetProg("PQRSTUVWXY");
  const std::string transcript = Run(BackupTo(target_.string()));
  EXPECT_NE(transcript.find("run \"QmZip -add PQRSTUV01 *.dat *.ini\" -> 0"), std::string::npos) << transcript;
  EXPECT_TRUE(fs::exists(target_ / "PQRSTUV.Zip"));
}

// A failing archiver, locally or on the target: the generations and the old
// target archive are exactly as before, and the message names the side.
TEST_F(BackupTest, FailedArchiveRestoresGenerationsAndTargetArchive) {
  struct Case {
    std::string fail_on;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"-add Tdx01", "\"Error in ZIP file on harddisk\""},
      {"-test Tdx01", "\"Error in ZIP file on harddisk\""},
      {"USB DISK/Tdx *.dat", "\"Error with ZIP file on disk "},
      {"USB DISK/Tdx.Zip", "\"Error with ZIP file on disk "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fail_on);
    MakeGenerations(2);
    WriteAll(target_ / "Tdx.Zip", "the old off-site archive");
    UseFailingArchiver(c.fail_on);
    const auto before = Contents(data_);
    const std::string transcript = Run(BackupTo(target_.string()));
    EXPECT_NE(transcript.find(c.message), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("-> 1"), std::string::npos) << transcript;
    EXPECT_EQ(Contents(data_), before);
    EXPECT_EQ(ReadAll(target_ / "Tdx.Zip"), "the old off-site archive");
    EXPECT_FALSE(fs::exists(target_ / "Tdx.Zip.Bak"));
  }
}

TEST_F(BackupTest, MissingTargetDirectoryFailsWithGenerationsKept) {
  MakeGenerations(3);
  const auto before = Contents(data_);
  const std::string transcript = Run(BackupTo((root_ / "gone").string()));
  EXPECT_NE(transcript.find("\"Error with ZIP file on disk "), std::string::npos) << transcript;
  EXPECT_EQ(Contents(data_), before);
}

TEST_F(BackupTest, MissingDataDirectoryEndsInTheLocalErrorAndRunsNothing) {
  WriteAll(data_ / "Qmoor.Ini", "[Specs]\nPath=" + data_.string() + "\n[USER]\nDatadrive=" + (root_ / "gone").string() + "\n");
  const std::string transcript = Run(BackupTo(target_.string()));
  EXPECT_NE(transcript.find("\"Error in ZIP file on harddisk\""), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("run "), std::string::npos) << transcript;
  EXPECT_FALSE(fs::exists(root_ / "gone"));
}

TEST_F(BackupTest, SafetyCopyThatCannotBeMadeStopsBeforeAnyGenerationMoves) {
  MakeGenerations(2);
  fs::create_directory(data_ / "Tdx02.Old");
  const auto before = Contents(data_);
  const std::string transcript = Run(BackupTo(target_.string()));
  EXPECT_NE(transcript.find("safety copies"), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("run "), std::string::npos) << transcript;
  EXPECT_EQ(Contents(data_), before);
}

TEST_F(BackupTest, BackupIsRefusedWhileAnotherHoldsTheDataDirectory) {
  MakeGenerations(1);
  const auto before = Contents(data_);
  const int held = ::open((data_ / ".TdxBack.lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const std::string transcript = Run(
      "wait open \"Quillmoor Backup / Restore\"\npress \"Quillmoor Backup / Restore\" -9\n"
      "wait open \"Make a Backup\"\npress \"Make a Backup\" \"Drive\"\ndialog \"" + target_.string() +
      "\"\npress \"Make a Backup\" \"&Backup\"\nanswer ok\nshow \"Make a Backup\" 5\n");
  ::close(held);
  EXPECT_NE(transcript.find("Another backup or restore of this data is running."), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("show \"Make a Backup\" 5"), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("run "), std::string::npos) << transcript;
  EXPECT_EQ(Contents(data_), before);
}

TEST_F(BackupTest, TwoBackupWindowsRunOnTheirOwnThreads) {
  const std::string transcript = Run(
      "wait open \"Quillmoor Backup / Restore\"\npress \"Quillmoor Backup / Restore\" -9\n"
      "wait open \"Make a Backup\"\npress \"Quillmoor Backup / Restore\" -2\nsleep 1\n");
  EXPECT_NE(transcript.find("open \"Make a Backup\" id=TdxBack$TdxBack002 thread=2"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("open \"Make a Backup\" id=TdxBack$TdxBack002 thread=3"), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("error"), std::string::npos) << transcript;
}

// An attempt killed at any step: the next start of TdxBack puts every
// generation and the old target archive back byte for byte, and says so.
TEST_F(BackupTest, KilledAttemptIsUndoneAtTheNextStart) {
  for (const char* step : {"copied", "rotated", "local", "aside", "target", "tested"}) {
    SCOPED_TRACE(step);
    MakeGenerations(3);
    WriteAll(target_ / "Tdx.Zip", "the old off-site archive");
    const auto before = Contents(data_);
    int status = 0;
    Run(BackupTo(target_.string()), std::string("QM_TDXBACK_KILL_AT=") + step, &status);
    EXPECT_NE(status, 0);
    EXPECT_TRUE(fs::exists(data_ / ".TdxBack.journal"));
    const std::string transcript = Run(StartOnly());
    EXPECT_NE(transcript.find("An unfinished backup was found and undone"), std::string::npos) << transcript;
    auto after = Contents(data_);
    for (const auto& [name, bytes] : before) EXPECT_EQ(after[name], bytes) << name;
    EXPECT_FALSE(after.contains(".TdxBack.journal"));
    for (const char* saved : {"Tdx01.Old", "Tdx02.Old", "Tdx03.Old"}) EXPECT_FALSE(after.contains(saved)) << saved;
    EXPECT_EQ(ReadAll(target_ / "Tdx.Zip"), "the old off-site archive");
    EXPECT_FALSE(fs::exists(target_ / "Tdx.Zip.Bak"));
    EXPECT_EQ(Run(StartOnly()).find("unfinished"), std::string::npos);
  }
}

// Killed once the attempt had finished, before its leftovers were removed:
// the next start keeps the new backup and has nothing to say.
TEST_F(BackupTest, AnAttemptKilledAfterItFinishedIsKept) {
  MakeGenerations(3);
  WriteAll(target_ / "Tdx.Zip", "the old off-site archive");
  int status = 0;
  Run(BackupTo(target_.string()), "QM_TDXBACK_KILL_AT=finished", &status);
  EXPECT_NE(status, 0);
  const std::string transcript = Run(StartOnly());
  EXPECT_EQ(transcript.find("unfinished"), std::string::npos) << transcript;
  const auto after = Contents(data_);
  EXPECT_EQ(after.at("Tdx01.Zip").substr(0, 2), "PK");
  EXPECT_EQ(after.at("Tdx02.Zip"), "generation 1");
  EXPECT_EQ(after.at("Tdx03.Zip"), "generation 2");
  EXPECT_EQ(after.size(), 3u) << "leftovers of the attempt";
  EXPECT_EQ(ReadAll(target_ / "Tdx.Zip").substr(0, 2), "PK");
  EXPECT_FALSE(fs::exists(target_ / "Tdx.Zip.Bak"));
}

// A recovery killed after it had put generation 1 back: the next start
// finishes it, says so once, and every generation is as it was.
TEST_F(BackupTest, ARecoveryKilledPartWayIsFinishedByTheNextStart) {
  MakeGenerations(3);
  const auto before = Contents(data_);
  WriteAll(data_ / "Tdx02.Old", "generation 2");
  WriteAll(data_ / "Tdx03.Old", "generation 3");
  WriteAll(data_ / "Tdx02.Zip", "generation 1");
  WriteAll(data_ / "Tdx03.Zip", "generation 2");
  std::string journal = "[Attempt]\nPhase=rotating\n";
  for (int n = 1; n <= 3; ++n) {
    journal += "Generation" + std::to_string(n) + "=" + (data_ / ("Tdx0" + std::to_string(n) + ".Zip")).string() +
               "\nHad" + std::to_string(n) + "=1\n";
  }
  WriteAll(data_ / ".TdxBack.journal", journal);
  const std::string transcript = Run(StartOnly());
  EXPECT_NE(transcript.find("An unfinished backup was found and undone"), std::string::npos) << transcript;
  EXPECT_EQ(Contents(data_), before);
  EXPECT_EQ(Run(StartOnly()).find("unfinished"), std::string::npos);
}

// Generations and the target archive named in another letter case are
// the same files to the archiver: they are rotated and kept, never added to.
TEST_F(BackupTest, GenerationsInAnotherLetterCaseAreRotated) {
  for (int n = 1; n <= 3; ++n) WriteAll(data_ / ("TDX0" + std::to_string(n) + ".ZIP"), "generation " + std::to_string(n));
  for (const bool fail : {true, false}) {
    SCOPED_TRACE(fail ? "failing" : "succeeding");
    WriteAll(target_ / "TDX.ZIP", "the old off-site archive");
    if (fail) UseFailingArchiver("USB DISK/Tdx.Zip");
    else program_ = TDXBACK_BINARY;
    const auto before = Contents(data_);
    const std::string transcript = Run(BackupTo(target_.string()));
    const auto after = Contents(data_);
    if (fail) {
      EXPECT_EQ(after, before) << transcript;
      EXPECT_EQ(ReadAll(target_ / "TDX.ZIP"), "the old off-site archive");
      EXPECT_FALSE(fs::exists(target_ / "Tdx.Zip"));
      continue;
    }
    EXPECT_NE(transcript.find("\"Data backup was successful\""), std::string::npos) << transcript;
    EXPECT_EQ(after.at("Tdx01.Zip").substr(0, 2), "PK");
    EXPECT_EQ(after.at("TDX02.ZIP"), "generation 1");
    EXPECT_EQ(after.at("TDX03.ZIP"), "generation 2");
    EXPECT_EQ(after.size(), 3u);
    EXPECT_EQ(ReadAll(target_ / "Tdx.Zip").substr(0, 2), "PK");
    EXPECT_FALSE(fs::exists(target_ / "TDX.ZIP"));
    EXPECT_FALSE(fs::exists(target_ / "Tdx.Zip.Bak"));
  }
}

// A data directory that fills up part way: whichever step runs out of
// room, the attempt ends with every generation as it was, and so does the
// next one. A real full disk, from a small tmpfs.
TEST_F(BackupTest, AFullDataDirectoryNeverCostsAGeneration) {
  std::mt19937 random(7);
  const auto noise = [&](std::size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
  };
  for (const char* size : {"700k", "780k", "820k", "860k"}) {
    SCOPED_TRACE(size);
    data_ = root_ / (std::string("disk-") + size);
    fs::create_directories(data_);
    if (::mount("tmpfs", data_.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    }
    WriteAll(data_ / "Qmoor.Ini", "[Specs]\nPath=" + data_.string() + "\n[USER]\nProg=Tdx\n");
    for (int n = 1; n <= 3; ++n) WriteAll(data_ / ("Tdx0" + std::to_string(n) + ".Zip"), noise(100 * 1024));
    WriteAll(data_ / "JOBS.dat", noise(150 * 1024));
    for (int attempt = 1; attempt <= 2; ++attempt) {
      SCOPED_TRACE(attempt);
      const auto before = Contents(data_);
      const std::string transcript = Run(BackupTo(target_.string()));
      const auto after = Contents(data_);
      if (transcript.find("\"Data backup was successful\"") != std::string::npos) {
        EXPECT_EQ(after.at("Tdx02.Zip"), before.at("Tdx01.Zip"));
        EXPECT_EQ(after.at("Tdx03.Zip"), before.at("Tdx02.Zip"));
        EXPECT_EQ(after.size(), 3u);
      } else {
        EXPECT_EQ(after, before) << transcript;
        EXPECT_EQ(transcript.find("undone"), std::string::npos) << transcript;
      }
    }
    ::umount2(data_.c_str(), MNT_DETACH);
  }
}

}  // namespace
}  // namespace qm::backup::testing
