// Archives written by -add come back unchanged through -test and -ext, and agree with
// the zip and unzip programs in both directions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "qmzip_harness.h"

namespace qm::qmzip::testing {
namespace {

constexpr time_t kOldTime = 1600000000;

// Sorted entry names of an archive, as unzip lists them.
std::string UnzipNames(const std::string& directory, const std::string& archive) {
  RunResult listed = RunProgram("sh", {"-c", "unzip -Z1 '" + archive + "' | sort | tr '\\n' ' '"}, directory);
  return listed.out;
}

class RoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source.Write("VEHICLE.DAT", RecordData(5000, 1), kOldTime);
    source.Write("Jobs.Dat", RecordData(70000, 2), kOldTime + 60);
    source.Write("empty.dat", "", kOldTime + 120);
    source.Write("Qmoor.Ini", "[USER]\nProg=Tdx\n", kOldTime + 180);
    source.Write("notes.txt", "not packed");
    source.MakeSubdirectory("archive.dat");  // a directory that matches a mask is no file
  }

  // Extracts `archive` into `target` and checks that it holds exactly the packed files
  // with their contents and times.
  void ExpectExtractedFiles(const std::string& archive) {
    RunResult extracted = RunQmZip({"-ext", "-over=all", archive}, target.path());
    ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
    Snapshot expected;
    for (const char* name : {"VEHICLE.DAT", "Jobs.Dat", "empty.dat", "Qmoor.Ini"})
      expected[name] = TakeSnapshot(source.path())[name];
    const Snapshot actual = TakeSnapshot(target.path());
    EXPECT_TRUE(actual == expected) << Summary(actual) << " instead of " << Summary(expected);
  }

  ScratchDirectory source;
  ScratchDirectory target;
};

TEST_F(RoundTripTest, PacksMatchingFilesOnlyAndRestoresThemWithTheirTimes) {
  RunResult added = RunQmZip({"-add", "Tdx01", "*.dat", "*.ini"}, source.path());
  ASSERT_EQ(added.exit_code, 0) << added.err;
  EXPECT_TRUE(added.out.empty());
  EXPECT_TRUE(added.err.empty());
  ASSERT_TRUE(source.Exists("Tdx01.Zip"));

  RunResult tested = RunQmZip({"-test", "Tdx01.Zip"}, source.path());
  EXPECT_EQ(tested.exit_code, 0) << tested.err;
  ExpectExtractedFiles(source / "Tdx01.Zip");
}

TEST_F(RoundTripTest, ArchiveNameWithoutAndWithExtensionAndElsewhere) {
  ScratchDirectory elsewhere;
  const std::string away = elsewhere.MakeSubdirectory("usb");
  struct Case {
    std::string name;
    std::string written;
  };
  const Case cases[] = {
      {"Tdx02", source / "Tdx02.Zip"},
      {"Tdx03.zip", source / "Tdx03.zip"},
      {away + "/Tdx", away + "/Tdx.Zip"},
  };
  for (const Case& c : cases) {
    RunResult added = RunQmZip({"-add", c.name, "*.dat", "*.ini"}, source.path());
    ASSERT_EQ(added.exit_code, 0) << c.name << ": " << added.err;
    struct stat info;
    EXPECT_EQ(stat(c.written.c_str(), &info), 0) << c.name;
    EXPECT_EQ(RunQmZip({"-test", c.name}, source.path()).exit_code, 0) << c.name;
  }
  ExpectExtractedFiles(away + "/Tdx");
}

TEST_F(RoundTripTest, UpdatingAnArchiveKeepsItsOtherEntriesAndReplacesTheNamedOnes) {
  ASSERT_EQ(RunQmZip({"-add", "Tdx01", "*.dat"}, source.path()).exit_code, 0);
  ASSERT_EQ(RunQmZip({"-add", "Tdx01", "*.INI"}, source.path()).exit_code, 0);
  source.Write("Jobs.Dat", RecordData(9000, 3), kOldTime + 600);
  RunResult updated = RunQmZip({"-add", "Tdx01", "jobs.dat"}, source.path());
  ASSERT_EQ(updated.exit_code, 0) << updated.err;
  EXPECT_EQ(RunQmZip({"-test", "Tdx01"}, source.path()).exit_code, 0);
  ExpectExtractedFiles(source / "Tdx01.Zip");
}

TEST_F(RoundTripTest, NeverPacksTheArchiveIntoItself) {
  ASSERT_EQ(RunQmZip({"-add", "All", "*"}, source.path()).exit_code, 0);
  ASSERT_EQ(RunQmZip({"-add", "All", "*"}, source.path()).exit_code, 0);
  if (!ProgramAvailable("unzip")) GTEST_SKIP() << "unzip is not installed";
  EXPECT_EQ(UnzipNames(source.path(), "All.Zip"), "Jobs.Dat Qmoor.Ini VEHICLE.DAT empty.dat notes.txt ");
}

TEST_F(RoundTripTest, ExtractionReplacesFilesWhoseNamesDifferOnlyInCase) {
  ASSERT_EQ(RunQmZip({"-add", "Tdx01", "VEHICLE.DAT"}, source.path()).exit_code, 0);
  target.Write("vehicle.dat", "old contents");
  target.Write("other.dat", "stays");
  ASSERT_EQ(RunQmZip({"-ext", "-over=all", source / "Tdx01.Zip"}, target.path()).exit_code, 0);
  EXPECT_EQ(target.Read("vehicle.dat"), source.Read("VEHICLE.DAT"));
  EXPECT_FALSE(target.Exists("VEHICLE.DAT"));
  EXPECT_EQ(target.Read("other.dat"), "stays");
}

TEST(LargeFileTest, ALargeFileCompressedInPiecesIsOneSoundStream) {
  ScratchDirectory source;
  ScratchDirectory target;
  const std::string data = RecordData(40u << 20, 7);
  source.Write("JOBDET.DAT", data, kOldTime);
  ASSERT_EQ(RunQmZip({"-add", "Big", "*.dat"}, source.path()).exit_code, 0);
  EXPECT_LT(std::filesystem::file_size(source / "Big.Zip"), data.size() / 3);
  EXPECT_EQ(RunQmZip({"-test", "Big"}, source.path()).exit_code, 0);
  ASSERT_EQ(RunQmZip({"-ext", "-over=all", source / "Big"}, target.path()).exit_code, 0);
  EXPECT_TRUE(target.Read("JOBDET.DAT") == data);
  EXPECT_EQ(target.ModificationTime("JOBDET.DAT"), kOldTime);
  if (!ProgramAvailable("unzip")) GTEST_SKIP() << "unzip is not installed";
  EXPECT_EQ(RunProgram("unzip", {"-tq", "Big.Zip"}, source.path()).exit_code, 0);
}

TEST_F(RoundTripTest, UnzipReadsWhatQmZipWrites) {
  if (!ProgramAvailable("unzip")) GTEST_SKIP() << "unzip is not installed";
  ASSERT_EQ(RunQmZip({"-add", "Tdx01", "*.dat", "*.ini"}, source.path()).exit_code, 0);
  RunResult tested = RunProgram("unzip", {"-t", "Tdx01.Zip"}, source.path());
  EXPECT_EQ(tested.exit_code, 0) << tested.out;
  RunResult extracted = RunProgram("unzip", {"-q", source / "Tdx01.Zip"}, target.path());
  ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
  for (const char* name : {"VEHICLE.DAT", "Jobs.Dat", "empty.dat", "Qmoor.Ini"}) {
    EXPECT_EQ(target.Read(name), source.Read(name)) << name;
    EXPECT_EQ(target.ModificationTime(name), source.ModificationTime(name)) << name;
  }
}

TEST_F(RoundTripTest, QmZipReadsWhatZipWritesStoredOrDeflated) {
  if (!ProgramAvailable("zip")) GTEST_SKIP() << "zip is not installed";
  for (const char* level : {"-0", "-6", "-9"}) {
    ScratchDirectory restored;
    RunResult zipped = RunProgram("zip", {"-q", "-X", level, "Other.zip", "VEHICLE.DAT", "Jobs.Dat", "empty.dat", "Qmoor.Ini"},
                           source.path());
    ASSERT_EQ(zipped.exit_code, 0) << zipped.err;
    EXPECT_EQ(RunQmZip({"-test", "Other.zip"}, source.path()).exit_code, 0) << level;
    RunResult extracted = RunQmZip({"-ext", "-over=all", source / "Other.zip"}, restored.path());
    ASSERT_EQ(extracted.exit_code, 0) << level << ": " << extracted.err;
    for (const char* name : {"VEHICLE.DAT", "Jobs.Dat", "empty.dat", "Qmoor.Ini"})
      EXPECT_EQ(restored.Read(name), source.Read(name)) << level << " " << name;
    std::filesystem::remove(source / "Other.zip");
  }
}

TEST_F(RoundTripTest, ReportsProgressOnlyWhenAsked) {
  RunResult quiet = RunQmZip({"-add", "Tdx01", "*.dat"}, source.path());
  EXPECT_TRUE(quiet.out.empty());
  struct Case {
    std::vector<std::string> command;
    std::string directory;
  };
  const Case cases[] = {{{"-add", "Tdx02", "*.dat"}, source.path()},
                        {{"-test", "Tdx01"}, source.path()},
                        {{"-ext", "-over=all", source / "Tdx01"}, target.path()}};
  const std::string total = std::to_string(5000 + 70000);
  for (const Case& c : cases) {
    RunResult shown = RunQmZip(c.command, c.directory, RunOptions{{"QMZIP_PROGRESS=1"}, 0});
    ASSERT_EQ(shown.exit_code, 0) << shown.err;
    const std::string first = "QMZIP-PROGRESS 0 " + total + "\n";
    const std::string last = "QMZIP-PROGRESS " + total + " " + total + "\n";
    EXPECT_EQ(shown.out.substr(0, first.size()), first) << c.command[0];
    ASSERT_GE(shown.out.size(), last.size());
    EXPECT_EQ(shown.out.substr(shown.out.size() - last.size()), last) << c.command[0];
  }
}

}  // namespace
}  // namespace qm::qmzip::testing
