// Damaged and hostile archives, failing writes and bad input: each ends in its own
// exit code with one line on standard error, and changes nothing on disk.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "qmzip_harness.h"

namespace qm::qmzip::testing {
namespace {

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

size_t CountLines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// Offset of the local header of entry `name`: the first copy of its name in the file
// belongs to the local header, 30 bytes after the header starts.
size_t LocalHeaderOf(const std::string& archive, const std::string& name) {
  const size_t at = archive.find(name);
  return at == std::string::npos || at < 30 ? std::string::npos : at - 30;
}

uint16_t Read16(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8);
}

std::string Truncated(std::string archive) {
  archive.resize(archive.size() * 6 / 10);
  return archive;
}

std::string FlippedDataByte(std::string archive) {
  const size_t header = LocalHeaderOf(archive, "JOBS.DAT");
  const size_t data = header + 30 + Read16(archive, header + 26) + Read16(archive, header + 28);
  archive[data + 200] = static_cast<char>(archive[data + 200] ^ 0x10);
  return archive;
}

// The CRC changed consistently in the local header and the central directory, so only
// the data itself can show that it is wrong.
std::string WrongCrc(std::string archive) {
  const size_t local = LocalHeaderOf(archive, "JOBS.DAT");
  archive[local + 14] = static_cast<char>(archive[local + 14] ^ 0x01);
  const size_t central = archive.find(std::string("PK\x01\x02", 4));
  for (size_t at = central; at != std::string::npos; at = archive.find(std::string("PK\x01\x02", 4), at + 4)) {
    if (archive.compare(at + 46, 8, "JOBS.DAT") == 0) archive[at + 16] = static_cast<char>(archive[at + 16] ^ 0x01);
  }
  return archive;
}

class DamagedArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    packed.Write("A.DAT", RecordData(3000, 1));
    packed.Write("JOBS.DAT", RecordData(300000, 2));
    ASSERT_EQ(RunQmZip({"-add", "Tdx01", "*.dat"}, packed.path()).exit_code, 0);
    sound = packed.Read("Tdx01.Zip");
    restore.Write("A.DAT", "the old A");
    restore.Write("JOBS.DAT", "the old jobs");
    restore.Write("OTHER.INI", "untouched");
  }

  ScratchDirectory packed;
  ScratchDirectory restore;
  std::string sound;
};

TEST_F(DamagedArchiveTest, TestAndExtractFailAndTheDirectoryStaysAsItWas) {
  struct Case {
    const char* what;
    std::string (*damage)(std::string);
  };
  const Case cases[] = {{"truncated", Truncated}, {"flipped byte", FlippedDataByte}, {"wrong CRC", WrongCrc}};
  for (const Case& c : cases) {
    packed.Write("Bad.Zip", c.damage(sound));
    RunResult tested = RunQmZip({"-test", "Bad.Zip"}, packed.path());
    EXPECT_EQ(tested.exit_code, 3) << c.what << ": " << tested.err;
    EXPECT_EQ(CountLines(tested.err), 1u) << tested.err;
    EXPECT_NE(tested.err.find("Bad.Zip"), std::string::npos) << tested.err;

    const Snapshot before = TakeSnapshot(restore.path());
    RunResult extracted = RunQmZip({"-ext", "-over=all", packed / "Bad.Zip"}, restore.path());
    EXPECT_EQ(extracted.exit_code, 3) << c.what << ": " << extracted.err;
    EXPECT_EQ(CountLines(extracted.err), 1u) << extracted.err;
    const Snapshot after = TakeSnapshot(restore.path());
    EXPECT_TRUE(after == before) << c.what << ": " << Summary(after);
  }
}

TEST_F(DamagedArchiveTest, ADamagedArchiveIsNotUpdated) {
  const std::string damaged = Truncated(sound);
  packed.Write("Tdx01.Zip", damaged);
  packed.Write("NEW.DAT", "new");
  RunResult added = RunQmZip({"-add", "Tdx01", "NEW.DAT"}, packed.path());
  EXPECT_EQ(added.exit_code, 3) << added.err;
  EXPECT_EQ(packed.Read("Tdx01.Zip"), damaged);
}

// Damage anywhere (headers, data, central directory) ends in a clean exit code, never a
// crash; what -test passes, -ext restores; and a failed -ext changes nothing.
TEST(CorruptionSweepTest, EveryDamagedByteEndsInAnExitCodeAndTestAgreesWithExtract) {
  ScratchDirectory packed;
  packed.Write("A.DAT", RecordData(2000, 5));
  packed.Write("B.INI", "[USER]\nProg=Tdx\n");
  ASSERT_EQ(RunQmZip({"-add", "Tdx01", "*.dat", "*.ini"}, packed.path()).exit_code, 0);
  const std::string sound = packed.Read("Tdx01.Zip");
  const size_t step = std::max<size_t>(1, sound.size() / 60);
  for (size_t at = 0; at < sound.size(); at += step) {
    std::string damaged = sound;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
    packed.Write("Bad.Zip", damaged);
    const int tested = RunQmZip({"-test", "Bad.Zip"}, packed.path()).exit_code;
    EXPECT_TRUE(tested == 0 || tested == 3) << "byte " << at << ": exit " << tested;

    ScratchDirectory restore;
    restore.Write("A.DAT", "old");
    const Snapshot before = TakeSnapshot(restore.path());
    const int extracted = RunQmZip({"-ext", "-over=all", packed / "Bad.Zip"}, restore.path()).exit_code;
    EXPECT_TRUE(extracted == 0 || extracted == 3 || extracted == 4) << "byte " << at << ": exit " << extracted;
    if (tested == 0) {
      EXPECT_NE(extracted, 3) << "byte " << at << ": -test passed what -ext found damaged";
    }
    if (extracted == 0) {
      EXPECT_EQ(restore.Read("A.DAT"), packed.Read("A.DAT")) << "byte " << at;
    } else {
      EXPECT_TRUE(TakeSnapshot(restore.path()) == before) << "byte " << at;
    }
  }
}

// An archive with one harmless entry followed by `hostile`, written with libzip so that
// any name and attribute can be stored.
void WriteHostileArchive(const std::string& path, const std::string& hostile, bool as_link) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr);
  static const char kGood[] = "harmless";
  static const char kBad[] = "/etc/passwd";
  zip_file_add(archive, "good.dat", zip_source_buffer(archive, kGood, sizeof kGood - 1, 0), 0);
  const zip_int64_t index =
      zip_file_add(archive, hostile.c_str(), zip_source_buffer(archive, kBad, sizeof kBad - 1, 0), 0);
  ASSERT_GE(index, 0);
  if (as_link)
    zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                      static_cast<zip_uint32_t>(S_IFLNK | 0777) << 16);
  ASSERT_EQ(zip_close(archive), 0);
}

TEST(HostileArchiveTest, UnsafeEntriesAreRefusedWithNothingWrittenAnywhere) {
  const std::string escape = "qmzip-escape-" + std::to_string(getpid());
  struct Case {
    std::string entry;
    bool as_link;
  };
  const Case cases[] = {
      {"../" + escape, false}, {"/tmp/" + escape, false}, {"link.dat", true},   {"sub/", false},
      {"sub/x.dat", false},    {"C:x.dat", false},        {"NUL.dat", false},   {"GOOD.DAT", false},
  };
  for (const Case& c : cases) {
    ScratchDirectory outer;
    const std::string work = outer.MakeSubdirectory("work");
    outer.Write("work/existing.dat", "stays");
    WriteHostileArchive(outer / "Hostile.Zip", c.entry, c.as_link);
    ASSERT_EQ(RunQmZip({"-test", outer / "Hostile.Zip"}, work).exit_code, 0) << c.entry;

    const Snapshot before = TakeSnapshot(outer.path());
    RunResult extracted = RunQmZip({"-ext", "-over=all", outer / "Hostile.Zip"}, work);
    EXPECT_EQ(extracted.exit_code, 4) << c.entry << ": " << extracted.err;
    EXPECT_EQ(CountLines(extracted.err), 1u) << extracted.err;
    const Snapshot after = TakeSnapshot(outer.path());
    EXPECT_TRUE(after == before) << c.entry << ": " << Summary(after);
    EXPECT_FALSE(std::filesystem::exists("/tmp/" + escape)) << c.entry;
  }
}

class FailingWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work.Write("SMALL.DAT", "small");
    ASSERT_EQ(RunQmZip({"-add", "Tdx01", "*.dat"}, work.path()).exit_code, 0);
    work.Write("LARGE.DAT", RandomBytes(3u << 20, 9));  // does not compress
  }

  ScratchDirectory work;
};

TEST_F(FailingWriteTest, AnAddThatCannotWriteLeavesTheOldArchiveAndNoTemporaryFile) {
  const Snapshot before = TakeSnapshot(work.path());
  RunResult added = RunQmZip({"-add", "Tdx01", "*.dat"}, work.path(), RunOptions{{}, 1u << 20});
  EXPECT_EQ(added.exit_code, 6) << added.err;
  EXPECT_EQ(CountLines(added.err), 1u) << added.err;
  EXPECT_NE(added.err.find("Tdx01.Zip"), std::string::npos) << added.err;
  const Snapshot after = TakeSnapshot(work.path());
  EXPECT_TRUE(after == before) << Summary(after);
  EXPECT_EQ(RunQmZip({"-test", "Tdx01"}, work.path()).exit_code, 0);
}

TEST_F(FailingWriteTest, AnExtractionThatCannotWriteChangesNothing) {
  ASSERT_EQ(RunQmZip({"-add", "Both", "*.dat"}, work.path()).exit_code, 0);
  ScratchDirectory restore;
  restore.Write("SMALL.DAT", "old small");
  restore.Write("LARGE.DAT", "old large");
  const Snapshot before = TakeSnapshot(restore.path());
  RunResult extracted = RunQmZip({"-ext", "-over=all", work / "Both"}, restore.path(), RunOptions{{}, 1u << 20});
  EXPECT_EQ(extracted.exit_code, 6) << extracted.err;
  EXPECT_NE(extracted.err.find("LARGE.DAT"), std::string::npos) << extracted.err;
  const Snapshot after = TakeSnapshot(restore.path());
  EXPECT_TRUE(after == before) << Summary(after);
}

TEST_F(FailingWriteTest, ARenameThatFailsPutsBackTheFilesAlreadyReplaced) {
  work.Write("A.DAT", RecordData(4000, 3));
  ASSERT_EQ(RunQmZip({"-add", "Both", "A.DAT", "SMALL.DAT"}, work.path()).exit_code, 0);
  ScratchDirectory restore;
  restore.Write("A.DAT", "old A");
  restore.Write("SMALL.DAT", "old small");
  // An immutable file can be neither replaced nor moved, even by root.
  if (RunProgram("chattr", {"+i", "SMALL.DAT"}, restore.path()).exit_code != 0)
    GTEST_SKIP() << "this file system cannot make a file immutable";
  const Snapshot before = TakeSnapshot(restore.path());
  RunResult extracted = RunQmZip({"-ext", "-over=all", work / "Both"}, restore.path());
  const Snapshot after = TakeSnapshot(restore.path());
  RunProgram("chattr", {"-i", "SMALL.DAT"}, restore.path());
  EXPECT_EQ(extracted.exit_code, 6) << extracted.err;
  EXPECT_NE(extracted.err.find("SMALL.DAT"), std::string::npos) << extracted.err;
  EXPECT_TRUE(after == before) << Summary(after);
}

TEST(FullDiskTest, AnAddOnAFullDiskLeavesTheOldArchiveAndNoTemporaryFile) {
  ScratchDirectory scratch;
  const std::string disk = scratch.MakeSubdirectory("disk");
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a small tmpfs here";
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  scratch.Write("disk/SMALL.DAT", "small");
  ASSERT_EQ(RunQmZip({"-add", "Tdx01", "*.dat"}, disk).exit_code, 0);
  scratch.Write("disk/LARGE.DAT", RandomBytes(600u << 10, 4));
  const Snapshot before = TakeSnapshot(disk);
  RunResult added = RunQmZip({"-add", "Tdx01", "*.dat"}, disk);
  EXPECT_EQ(added.exit_code, 6) << added.err;
  EXPECT_NE(added.err.find("No space left on device"), std::string::npos) << added.err;
  const Snapshot after = TakeSnapshot(disk);
  EXPECT_TRUE(after == before) << Summary(after);
}

TEST(ExitCodeTest, EveryKindOfBadInputHasItsOwnCodeAndOneLine) {
  ScratchDirectory work;
  work.Write("JOBS.DAT", "jobs");
  work.Write("text.zip", "this is no archive, just text long enough to be looked at");
  work.MakeSubdirectory("folder.zip");
  symlink("nowhere", (work / "gone.dat").c_str());
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* named;  // what the message must name
  };
  const Case cases[] = {
      {{"-list", "Tdx01"}, 1, "-list"},
      {{"-add", "Tdx01", "*.dat", "-r"}, 1, "-r"},
      {{"-test", "missing"}, 2, "missing.Zip"},
      {{"-ext", "-over=all", "missing"}, 2, "missing.Zip"},
      {{"-test", "folder.zip"}, 2, "folder.zip"},
      {{"-test", "text.zip"}, 3, "text.zip"},
      {{"-ext", "-over=all", "text.zip"}, 3, "text.zip"},
      {{"-add", "New", "*.xyz"}, 5, "New.Zip"},
      {{"-add", "New", "*.dat"}, 6, "gone.dat"},
      {{"-add", "no/such/dir/New", "JOBS.DAT"}, 6, "no/such/dir"},
      {{"-add", "folder.zip", "JOBS.DAT"}, 6, "folder.zip"},
  };
  for (const Case& c : cases) {
    const Snapshot before = TakeSnapshot(work.path());
    RunResult result = RunQmZip(c.args, work.path());
    EXPECT_EQ(result.exit_code, c.exit_code) << ::testing::PrintToString(c.args) << ": " << result.err;
    EXPECT_NE(result.err.find(c.named), std::string::npos) << result.err;
    EXPECT_EQ(CountLines(result.err), c.exit_code == 1 ? 2u : 1u) << result.err;
    const Snapshot after = TakeSnapshot(work.path());
    EXPECT_TRUE(after == before) << ::testing::PrintToString(c.args) << ": " << Summary(after);
  }
}

}  // namespace
}  // namespace qm::qmzip::testing
