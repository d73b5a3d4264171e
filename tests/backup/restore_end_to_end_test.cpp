// TdxBack's restore end to end: the built program under the script
// presenter on a scratch data directory whose archives the real QmZip made.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tdxback_test.h"

namespace qm::backup::testing {
namespace {

constexpr const char* kWindow = "Restore a Backup";

class RestoreTest : public TdxBackTest {
 protected:
  void SetUp() override {
    TdxBackTest::SetUp();
    drive_ = root_ / "USB DISK";
    fs::create_directories(drive_);
  }

  // The data files with contents that say which generation they are.
  void WriteData(const std::string& generation) {
    WriteAll(data_ / "JOBS.dat", "jobs of " + generation);
    WriteAll(data_ / "PEOPLE.dat", "people of " + generation);
  }
  std::map<std::string, std::string> Data() const {
    return {{"JOBS.dat", ReadAll(data_ / "JOBS.dat")}, {"PEOPLE.dat", ReadAll(data_ / "PEOPLE.dat")}};
  }

  // Packs the data files, as they are now, into `archive` in `directory`.
  void Pack(const fs::path& directory, const std::string& archive) {
    const std::string command = "cd '" + data_.string() + "' && '" + std::string(QMZIP_BINARY) + "' -add '" +
                                (directory / archive).string() + "' JOBS.dat PEOPLE.dat >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  // Generations 1 to `count`, TDX01.ZIP the newest, each holding its own data.
  void MakeGenerations(int count) {
    for (int n = count; n >= 1; --n) {
      WriteData("generation " + std::to_string(n));
      Pack(data_, "TDX0" + std::to_string(n) + ".ZIP");
    }
  }

  static std::string Open() {
    return std::string("wait open ") + Quoted(kFrame) + "\npress " + Quoted(kFrame) + " -10\nwait open " +
           Quoted(kWindow) + "\n";
  }
  static std::string Show() { return std::string("show ") + Quoted(kWindow) + " 1\n"; }
  static std::string Select(int row) { return std::string("select ") + Quoted(kWindow) + " 1 " + std::to_string(row) + "\n"; }
  static std::string Press(const std::string& control) { return std::string("press ") + Quoted(kWindow) + " " + control + "\n"; }
  static std::string RestoreRow(int row) {
    return Open() + Select(row) + Press("\"&Restore\"") + "wait closed " + Quoted(kWindow) + "\n";
  }

  fs::path drive_;
};

TEST_F(RestoreTest, WithoutArchivesOnlyExtDriveIsListedAndRestoreAsksForTheDrive) {
  const std::string transcript = Run(Open() + Show() + Press("\"&Restore\"") + Show());
  EXPECT_NE(transcript.find("row 1: \"1\" \"Ext drive\" \"\" \"\" \"\""), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("row 2:"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("focus \"Restore a Backup\" 2"), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("run "), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("message "), std::string::npos) << transcript;
  // The register was missing and is made on the way.
  EXPECT_TRUE(fs::exists(data_ / "QMSY01.dat") || fs::exists(data_ / "QMSY01.DAT")) << transcript;
}

TEST_F(RestoreTest, CancelClosesTheWindowAndRestoresNothing) {
  MakeGenerations(1);
  WriteData("today");
  const std::string transcript = Run(Open() + Press("\"Cancel\"") + "wait closed " + Quoted(kWindow) + "\n");
  EXPECT_NE(transcript.find("closed \"Restore a Backup\""), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("run "), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("error"), std::string::npos) << transcript;
  EXPECT_EQ(Data().at("JOBS.dat"), "jobs of today");
}

TEST_F(RestoreTest, GenerationsAreListedInOrderWithExtDriveLast) {
  MakeGenerations(3);
  fs::create_directory(data_ / "Folder.Zip");
  WriteAll(data_ / "notes.txt", "not an archive");
  const std::string transcript = Run(Open() + Show());
  for (int n = 1; n <= 3; ++n) {
    const std::string name = "TDX0" + std::to_string(n) + ".ZIP";
    std::string size = std::to_string(fs::file_size(data_ / name));
    for (int at = static_cast<int>(size.size()) - 3; at > 0; at -= 3) size.insert(static_cast<std::size_t>(at), ",");
    const std::regex row("row " + std::to_string(n) + ": \"" + std::to_string(n) + "\" \"" + name +
                         "\" \"[0-9]{2}/[0-9]{2}/[0-9]{4}\" \"[0-9]{2}:[0-9]{2}\" \"" + size + "\"");
    EXPECT_TRUE(std::regex_search(transcript, row)) << name << " " << size << "\n" << transcript;
  }
  EXPECT_NE(transcript.find("row 4: \"4\" \"Ext drive\" \"\" \"\" \"\""), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("row 5:"), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("Folder"), std::string::npos) << transcript;
}

// The register keeps nothing of the listing before.
TEST_F(RestoreTest, EachOpeningListsTheDirectoryAfresh) {
  MakeGenerations(3);
  Run(Open() + Show());
  fs::remove(data_ / "TDX02.ZIP");
  fs::remove(data_ / "TDX03.ZIP");
  const std::string transcript = Run(Open() + Show());
  EXPECT_NE(transcript.find("row 1: \"1\" \"TDX01.ZIP\""), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("row 2: \"2\" \"Ext drive\""), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("row 3:"), std::string::npos) << transcript;
}

TEST_F(RestoreTest, ChosenGenerationReplacesChangedDataFiles) {
  MakeGenerations(3);
  WriteData("today, changed since");
  const std::string transcript = Run(RestoreRow(2));
  EXPECT_NE(transcript.find("run \"QmZip -test TDX02.ZIP\" -> 0"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("run \"QmZip -ext -over=all TDX02.ZIP\" -> 0"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("message \"Restore\" \"Restore was successful\""), std::string::npos) << transcript;
  const auto data = Data();
  EXPECT_EQ(data.at("JOBS.dat"), "jobs of generation 2");
  EXPECT_EQ(data.at("PEOPLE.dat"), "people of generation 2");
}

// Any archive is listed; a name longer than the register holds is shown cut
// but restored by its whole name, and a name with blanks reaches QmZip whole.
TEST_F(RestoreTest, ArchivesWithOtherNamesAreListedAndRestoredByTheirWholeName) {
  struct Case {
    std::string name;
    std::string shown;
    std::string argument;
  };
  const std::vector<Case> cases = {
      {"other.zip", "other.zip", "other.zip"},
      {"Monthly2026-12.Zip", "Monthly2026-1", "Monthly2026-12.Zip"},
      {"My backup.Zip", "My backup.Zip", "\\\"My backup.Zip\\\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(data_)) {
      if (entry.path().extension() == ".zip" || entry.path().extension() == ".Zip") fs::remove(entry.path());
    }
    WriteData("the archive");
    Pack(data_, c.name);
    WriteData("changed");
    const std::string transcript = Run(Open() + Show() + Select(1) + Press("\"&Restore\"") + "wait closed " +
                                       Quoted(kWindow) + "\n");
    EXPECT_NE(transcript.find("row 1: \"1\" \"" + c.shown + "\""), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("run \"QmZip -ext -over=all " + c.argument + "\" -> 0"), std::string::npos)
        << transcript;
    EXPECT_EQ(Data().at("JOBS.dat"), "jobs of the archive");
  }
}

// A chosen drive takes precedence over a local row highlighted afterwards.
TEST_F(RestoreTest, ChosenDriveIsRestoredEvenWithALocalRowHighlighted) {
  MakeGenerations(1);
  WriteData("the drive");
  Pack(drive_, "Tdx.Zip");
  WriteData("changed");
  const std::string transcript =
      Run(Open() + Select(2) + Press("\"Drive\"") + "dialog " + Quoted(drive_.string()) + "\n" + Select(1) +
          Press("\"&Restore\"") + "wait closed " + Quoted(kWindow) + "\n");
  const std::string drive = drive_.string() + "/";
  EXPECT_NE(transcript.find("\"If not internal drive, insert disk/CD in drive " + drive + "\""), std::string::npos)
      << transcript;
  EXPECT_NE(transcript.find("run \"QmZip -ext -over=all \\\"" + drive + "Tdx\\\"\" -> 0"), std::string::npos)
      << transcript;
  EXPECT_EQ(Data().at("JOBS.dat"), "jobs of the drive");
}

TEST_F(RestoreTest, DriveButtonCanBePressedOnlyOnTheExtDriveRow) {
  MakeGenerations(1);
  for (const auto& [row, pressable] : {std::pair{1, false}, std::pair{2, true}}) {
    SCOPED_TRACE(row);
    const std::string transcript = Run(Open() + Select(row) + Press("\"Drive\"") + "dialog cancel\n", "", nullptr, 2);
    EXPECT_EQ(transcript.find("dialog directory") != std::string::npos, pressable) << transcript;
    EXPECT_EQ(transcript.find("\"Drive\": control Drive cannot be pressed") != std::string::npos, !pressable)
        << transcript;
  }
}

// A damaged, truncated or hostile archive, or a drive without one: the
// restore fails and every data file is as it was.
TEST_F(RestoreTest, FailedRestoreLeavesTheDataFilesAsTheyWere) {
  enum class Damage { kFlipped, kTruncated, kOutside, kNotZip, kNoArchiveOnDrive };
  for (Damage damage : {Damage::kFlipped, Damage::kTruncated, Damage::kOutside, Damage::kNotZip,
                        Damage::kNoArchiveOnDrive}) {
    SCOPED_TRACE(static_cast<int>(damage));
    fs::remove(data_ / "TDX01.ZIP");
    WriteData("the archive, with a longer text so that its data is compressed: aaaaaaaaaaaaaaaaaaaaaaaaaaa");
    Pack(data_, "TDX01.ZIP");
    std::string bytes = ReadAll(data_ / "TDX01.ZIP");
    switch (damage) {
      case Damage::kFlipped:
        {
          // Into the first entry's data, past its local header.
          const auto length = [&](std::size_t at) {
            return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at])) |
                   static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
          };
          bytes[30 + length(26) + length(28) + 2] ^= 0x5a;
        }
        break;
      case Damage::kTruncated:
        bytes.resize(bytes.size() - 30);
        break;
      case Damage::kOutside:
        // Same length, so every offset still holds.
        for (auto at = bytes.find("JOBS.dat"); at != std::string::npos; at = bytes.find("JOBS.dat", at)) {
          bytes.replace(at, 8, "../J.dat");
        }
        break;
      case Damage::kNotZip:
        bytes = "not a zip archive at all";
        break;
      case Damage::kNoArchiveOnDrive:
        break;
    }
    WriteAll(data_ / "TDX01.ZIP", bytes);
    WriteData("today");
    const auto before = Data();
    const std::string script = damage == Damage::kNoArchiveOnDrive
                                   ? Open() + Select(2) + Press("\"Drive\"") + "dialog " + Quoted(drive_.string()) +
                                         "\n" + Press("\"&Restore\"") + "wait closed " + Quoted(kWindow) + "\n"
                                   : RestoreRow(1);
    const std::string transcript = Run(script);
    EXPECT_NE(transcript.find("message \"Restore\" \"Error - Restore was unsuccessful\""), std::string::npos)
        << transcript;
    EXPECT_EQ(Data(), before);
    EXPECT_FALSE(fs::exists(root_ / "J.dat"));
  }
}

TEST_F(RestoreTest, RestoreIsRefusedWhileAnotherHoldsTheDataDirectory) {
  MakeGenerations(1);
  WriteData("today");
  const int held = ::open((data_ / ".TdxBack.lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const std::string transcript = Run(Open() + Select(1) + Press("\"&Restore\"") + "answer ok\n" + Show());
  ::close(held);
  EXPECT_NE(transcript.find("Another backup or restore of this data is running."), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("show \"Restore a Backup\" 1"), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("run "), std::string::npos) << transcript;
  EXPECT_EQ(Data().at("JOBS.dat"), "jobs of today");
}

// A data directory whose lock file cannot be made is no busy one: the restore
// fails as any other failed restore does, without running the archiver.
TEST_F(RestoreTest, ADataDirectoryThatCannotBeLockedFailsTheRestoreWithoutSayingBusy) {
  MakeGenerations(1);
  WriteData("today");
  WriteAll(data_ / "Qmoor.Ini", "[Specs]\nPath=" + data_.string() + "\n[USER]\nProg=Tdx\nDatadrive=" +
                                    (root_ / "missing").string() + "\n");
  const std::string transcript = Run(RestoreRow(1));
  EXPECT_NE(transcript.find("message \"Restore\" \"Error - Restore was unsuccessful\""), std::string::npos)
      << transcript;
  EXPECT_EQ(transcript.find("Another backup or restore"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("closed \"Restore a Backup\""), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find("run "), std::string::npos) << transcript;
  EXPECT_EQ(Data().at("JOBS.dat"), "jobs of today");
}

// Two windows opened together each list the whole register, never a part.
TEST_F(RestoreTest, TwoWindowsEachListTheWholeRegister) {
  MakeGenerations(3);
  const std::string transcript =
      Run(Open() + "press " + Quoted(kFrame) + " -3\nsleep 1\n" + Show() + "close " + Quoted(kWindow) + "\n" + Show());
  EXPECT_NE(transcript.find("thread=3"), std::string::npos) << transcript;
  std::size_t lists = 0;
  for (auto at = transcript.find("row 4: \"4\" \"Ext drive\""); at != std::string::npos;
       at = transcript.find("row 4: \"4\" \"Ext drive\"", at + 1)) {
    ++lists;
  }
  EXPECT_EQ(lists, 2u) << transcript;
  EXPECT_EQ(transcript.find("row 5:"), std::string::npos) << transcript;
}

}  // namespace
}  // namespace qm::backup::testing
