#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/pictures.h"
#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-fs-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }

  void Write(const std::string& name, const std::string& contents) const {
    std::ofstream(PathOf(name), std::ios::binary) << contents;
  }

  std::string Read(const std::string& path) const {
    std::ifstream file(path, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
  }

  std::vector<std::string> NamesIn(const std::string& directory, const std::string& mask,
                                   unsigned attributes = 0) const {
    std::vector<std::string> names;
    const auto entries = ListDirectory(directory, mask, attributes);
    if (entries) {
      for (const DirectoryEntry& entry : *entries) names.push_back(entry.name);
    }
    return names;
  }

  std::string dir_;
};

TEST_F(FileSystemTest, ListsMatchingNamesWithoutRegardToCaseInNameOrder) {
  for (const char* name : {"Tdx03.Zip", "tdx01.zip", "notes.txt", "TDX02.ZIP", ".hidden.zip", "zip"}) {
    Write(name, "x");
  }
  std::filesystem::create_directory(PathOf("old.zip"));

  using Names = std::vector<std::string>;
  EXPECT_EQ(NamesIn(dir_, "*.Zip"), (Names{"tdx01.zip", "TDX02.ZIP", "Tdx03.Zip"}));
  EXPECT_EQ(NamesIn(dir_, "TDX0?.zip"), (Names{"tdx01.zip", "TDX02.ZIP", "Tdx03.Zip"}));
  EXPECT_EQ(NamesIn(dir_, "*.*"), (Names{"notes.txt", "tdx01.zip", "TDX02.ZIP", "Tdx03.Zip", "zip"}));
  EXPECT_EQ(NamesIn(dir_, "*.dat"), Names{});
  EXPECT_EQ(NamesIn(dir_, "*.zip", kAttributeDirectory | kAttributeHidden),
            (Names{".hidden.zip", "old.zip", "tdx01.zip", "TDX02.ZIP", "Tdx03.Zip"}));
}

TEST_F(FileSystemTest, ListingGivesDateTimeSizeAndAttributes) {
  Write("Tdx01.Zip", "12345");
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 10;
  local.tm_hour = 10;
  local.tm_min = 30;
  local.tm_sec = 15;
  local.tm_isdst = -1;
  const struct timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, PathOf("Tdx01.Zip").c_str(), times, 0), 0);
  ASSERT_EQ(::chmod(PathOf("Tdx01.Zip").c_str(), 0444), 0);
  std::filesystem::create_directory(PathOf("sub"));

  const auto entries = ListDirectory(dir_, "*", kAttributeDirectory);
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 2u);
  const DirectoryEntry& archive = (*entries)[1];
  EXPECT_EQ(archive.name, "Tdx01.Zip");
  EXPECT_EQ(archive.date, DayNumber(2026, 12, 10));
  EXPECT_EQ(archive.time, TimeOfDay(10, 30, 15));
  EXPECT_EQ(archive.size, 5u);
  EXPECT_EQ(archive.attributes, kAttributeReadOnly);
  EXPECT_EQ((*entries)[0].attributes, kAttributeDirectory);
}

TEST_F(FileSystemTest, ListingAMissingDirectoryIsPathNotFound) {
  EXPECT_FALSE(ListDirectory(PathOf("gone"), "*.Zip").has_value());
  EXPECT_EQ(LastRuntimeError().code, kErrPathNotFound);
  EXPECT_EQ(LastRuntimeError().file, PathOf("gone"));
}

TEST(MatchesMaskTest, WildcardsWithoutRegardToCase) {
  struct Case {
    const char* name;
    const char* mask;
    bool matches;
  };
  const Case cases[] = {
      {"tdx01.zip", "*.Zip", true},     {"TDX01.ZIP", "tdx??.zip", true},
      {"tdx1.zip", "tdx??.zip", false}, {"README", "*.*", true},
      {"README", "", true},             {"a.dat.bak", "*.dat", false},
      {"a.dat", "*.dat", true},         {"abxbc", "a*bc", true},
      {"abxbcx", "a*bc", false},        {".dat", "*.dat", true},
      {"dat", "*.dat", false},          {"Qmoor.Ini", "QMOOR.INI", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches) << c.name << " against " << c.mask;
  }
}

TEST_F(FileSystemTest, CopyReplacesTheTargetAndKeepsTheSourceDate) {
  Write("Tdx01.Zip", "new generation");
  Write("Tdx01.Old", "old");
  const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, PathOf("Tdx01.Zip").c_str(), times, 0), 0);
  SetRuntimeError(kErrAccessDenied);

  EXPECT_EQ(CopyFile(PathOf("Tdx01.Zip"), PathOf("Tdx01.Old")), kErrNone);
  EXPECT_EQ(LastRuntimeError().code, kErrNone);
  EXPECT_EQ(Read(PathOf("Tdx01.Old")), "new generation");
  struct stat status;
  ASSERT_EQ(::stat(PathOf("Tdx01.Old").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(NamesIn(dir_, "*", kAttributeHidden), (std::vector<std::string>{"Tdx01.Old", "Tdx01.Zip"}));
}

TEST_F(FileSystemTest, FailedCopiesLeaveTheTargetAlone) {
  Write("target", "kept");
  struct Case {
    std::string source, destination;
    int code;
    std::string file;
  };
  const Case cases[] = {
      {PathOf("missing"), PathOf("target"), kErrFileNotFound, PathOf("missing")},
      {PathOf("target"), PathOf("nodir/target"), kErrPathNotFound, PathOf("nodir/target")},
      {PathOf("target"), dir_, kErrAccessDenied, dir_},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CopyFile(c.source, c.destination), c.code) << c.source << " -> " << c.destination;
    EXPECT_EQ(LastRuntimeError().code, c.code);
    EXPECT_EQ(LastRuntimeError().file, c.file);
  }
  EXPECT_EQ(Read(PathOf("target")), "kept");
  EXPECT_EQ(NamesIn(dir_, "*", kAttributeHidden), std::vector<std::string>{"target"});
}

// A copy that runs out of space half way must keep the old target whole and
// leave no partial file: a real full disk from a small tmpfs.
TEST_F(FileSystemTest, CopyOntoAFullDiskKeepsTheOldTarget) {
  const std::string disk = PathOf("disk");
  std::filesystem::create_directory(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
  }
  std::ofstream(disk + "/Tdx.Zip") << "old archive";
  Write("big.zip", std::string(256 * 1024, 'z'));

  const int code = CopyFile(PathOf("big.zip"), disk + "/Tdx.Zip");
  const RuntimeErrorState error = LastRuntimeError();
  const std::string kept = Read(disk + "/Tdx.Zip");
  const auto left = NamesIn(disk, "*", kAttributeHidden);
  ::umount(disk.c_str());

  EXPECT_EQ(code, kErrDriverError);
  EXPECT_EQ(error.file, disk + "/Tdx.Zip");
  EXPECT_EQ(error.file_error_code, std::to_string(ENOSPC));
  EXPECT_EQ(kept, "old archive");
  EXPECT_EQ(left, std::vector<std::string>{"Tdx.Zip"});
}

TEST_F(FileSystemTest, RenameMovesAndNeverReplaces) {
  Write("Tdx02.Zip", "two");
  Write("Tdx03.Zip", "three");

  EXPECT_EQ(RenameFile(PathOf("Tdx02.Zip"), PathOf("Tdx03.Zip")), kErrAccessDenied);
  EXPECT_EQ(LastRuntimeError().file, PathOf("Tdx03.Zip"));
  EXPECT_EQ(Read(PathOf("Tdx02.Zip")), "two");
  EXPECT_EQ(Read(PathOf("Tdx03.Zip")), "three");

  EXPECT_EQ(RenameFile(PathOf("missing"), PathOf("other")), kErrFileNotFound);
  EXPECT_EQ(RenameFile(PathOf("Tdx02.Zip"), PathOf("nodir/x")), kErrPathNotFound);
  EXPECT_EQ(LastRuntimeError().file, PathOf("nodir/x"));

  EXPECT_EQ(RemoveFile(PathOf("Tdx03.Zip")), kErrNone);
  EXPECT_EQ(RenameFile(PathOf("Tdx02.Zip"), PathOf("Tdx03.Zip")), kErrNone);
  EXPECT_EQ(LastRuntimeError().code, kErrNone);
  EXPECT_FALSE(FileExists(PathOf("Tdx02.Zip")));
  EXPECT_EQ(Read(PathOf("Tdx03.Zip")), "two");
}

TEST_F(FileSystemTest, RemoveRefusesWhatIsNotAFile) {
  std::filesystem::create_directory(PathOf("sub"));
  const struct {
    std::string path;
    int code;
  } cases[] = {
      {PathOf("missing.Old"), kErrFileNotFound},
      {PathOf("nodir/Tdx01.Old"), kErrPathNotFound},
      {PathOf("sub"), kErrAccessDenied},
      {"", kErrFileNotFound},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RemoveFile(c.path), c.code) << c.path;
    EXPECT_EQ(LastRuntimeError().code, c.code) << c.path;
  }
  EXPECT_TRUE(IsDirectory(PathOf("sub")));
}

TEST_F(FileSystemTest, AnExistingNameIsFoundWithoutRegardToCaseWhenItIsTheOnlyOne) {
  Write("TDX01.ZIP", "one");
  Write("Tdx02.Zip", "two");
  Write("TDX02.ZIP", "two again");
  const struct {
    const char* asked;
    const char* found;
  } cases[] = {
      {"Tdx01.Zip", "TDX01.ZIP"},  // the only one in another case
      {"Tdx02.Zip", "Tdx02.Zip"},  // the exact name comes first
      {"tdx02.zip", "tdx02.zip"},  // two candidates: neither is taken
      {"Tdx03.Zip", "Tdx03.Zip"},  // none
  };
  for (const auto& c : cases) EXPECT_EQ(ExistingNameIgnoringCase(PathOf(c.asked)), PathOf(c.found)) << c.asked;
  EXPECT_EQ(ExistingNameIgnoringCase(PathOf("nodir/x")), PathOf("nodir/x"));
}

TEST_F(FileSystemTest, ExistsForFilesAndDirectories) {
  Write("Qmoor.Ini", "");
  EXPECT_TRUE(FileExists(PathOf("Qmoor.Ini")));
  EXPECT_TRUE(FileExists(dir_));
  EXPECT_FALSE(FileExists(PathOf("missing")));
  EXPECT_FALSE(FileExists(""));
  EXPECT_TRUE(IsDirectory(dir_));
  EXPECT_FALSE(IsDirectory(PathOf("Qmoor.Ini")));
}

TEST_F(FileSystemTest, CurrentDirectoryIsSetAndRead) {
  const auto before = CurrentDirectory();
  ASSERT_TRUE(before.has_value());
  EXPECT_EQ(SetCurrentDirectory(PathOf("missing")), kErrPathNotFound);
  EXPECT_EQ(CurrentDirectory(), before);

  ASSERT_EQ(SetCurrentDirectory(dir_), kErrNone);
  const auto inside = CurrentDirectory();
  Write("here.dat", "");
  const bool relative_names_resolve_there = FileExists("here.dat");
  ASSERT_EQ(SetCurrentDirectory(*before), kErrNone);

  EXPECT_EQ(inside, std::filesystem::canonical(dir_).string());
  EXPECT_TRUE(relative_names_resolve_there);
}

TEST_F(FileSystemTest, FreeSpaceOfAnExistingDirectoryOnly) {
  EXPECT_TRUE(FreeSpace(dir_).has_value());
  EXPECT_FALSE(FreeSpace(PathOf("missing/deeper")).has_value());
  EXPECT_EQ(LastRuntimeError().code, kErrPathNotFound);
}

TEST(JoinPathTest, OneSeparatorBetween) {
  EXPECT_EQ(JoinPath("/data", "Tdx01.Zip"), "/data/Tdx01.Zip");
  EXPECT_EQ(JoinPath("/media/usb/", "Tdx.Zip"), "/media/usb/Tdx.Zip");
  EXPECT_EQ(JoinPath("", "Tdx01.Zip"), "Tdx01.Zip");
}

}  // namespace
}  // namespace qm::platform
