// The rules QmZip applies before touching any file: command syntax, masks, entry names
// and archive names.
#include <gtest/gtest.h>

#include "qmzip_harness.h"
#include "tools/qmzip/archive_path.h"
#include "tools/qmzip/command_line.h"
#include "tools/qmzip/entry_name.h"
#include "tools/qmzip/name_mask.h"

namespace qm::qmzip {
namespace {

TEST(NameMaskTest, MatchesWithoutRegardToCase) {
  struct Case {
    const char* mask;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*.dat", "VEHICLE.DAT", true},  {"*.dat", "Jobs.Dat", true},      {"*.dat", "jobs.dat.bak", false},
      {"*.dat", "dat", false},         {"*.ini", "Qmoor.Ini", true},     {"tdx??.zip", "TDX01.ZIP", true},
      {"tdx??.zip", "TDX1.ZIP", false}, {"*", ".hidden", true},          {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},      {"**.dat", "x.dat", true},        {"exact.dat", "EXACT.DAT", true},
  };
  for (const Case& c : cases) EXPECT_EQ(NameMask(c.mask).Matches(c.name), c.matches) << c.mask << " / " << c.name;
}

TEST(EntryNameTest, RefusesEveryNameThatLeavesTheDirectoryOrIsNoPlainFile) {
  const char* refused[] = {"../x",  "/tmp/x", "..",      ".",        "sub/x.dat", "sub\\x.dat", "C:x.dat",
                           "x.dat:stream", "NUL",  "con.dat", "Com1.ini", "lpt9",      "dir/",       "",
                           "bad\nname"};
  for (const char* name : refused) EXPECT_TRUE(UnsafeNameReason(name).has_value()) << name;
  const char* accepted[] = {"VEHICLE.DAT", "Qmoor.Ini", "..dat", "con1.dat", "nullable.dat", ".hidden"};
  for (const char* name : accepted) EXPECT_FALSE(UnsafeNameReason(name).has_value()) << name;
}

TEST(CommandLineTest, AcceptsTheThreeFormsTheProgramsRun) {
  auto add = ParseCommandLine({"-add", "Tdx01", "*.dat", "*.ini"});
  ASSERT_TRUE(std::holds_alternative<CommandLine>(add));
  EXPECT_EQ(std::get<CommandLine>(add).command, Command::Add);
  EXPECT_EQ(std::get<CommandLine>(add).archive_name, "Tdx01");
  EXPECT_EQ(std::get<CommandLine>(add).masks, (std::vector<std::string>{"*.dat", "*.ini"}));

  auto test = ParseCommandLine({"-test", "Tdx01.Zip"});
  ASSERT_TRUE(std::holds_alternative<CommandLine>(test));
  EXPECT_EQ(std::get<CommandLine>(test).command, Command::Test);

  auto extract = ParseCommandLine({"-ext", "-over=all", "/media/usb/Tdx"});
  ASSERT_TRUE(std::holds_alternative<CommandLine>(extract));
  EXPECT_EQ(std::get<CommandLine>(extract).command, Command::Extract);
  EXPECT_EQ(std::get<CommandLine>(extract).archive_name, "/media/usb/Tdx");
}

TEST(CommandLineTest, RefusesEverythingElse) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"-list", "Tdx01"},
      {"-add", "Tdx01"},
      {"-add"},
      {"-add", "Tdx01", "-quiet", "*.dat"},
      {"-add", "Tdx01", "sub/*.dat"},
      {"-test"},
      {"-test", "a.zip", "b.zip"},
      {"-ext", "Tdx01"},
      {"-ext", "-over=none", "Tdx01"},
      {"-ext", "-over=all"},
      {"-test", "-x"},
  };
  for (const auto& args : bad) {
    auto parsed = ParseCommandLine(args);
    ASSERT_TRUE(std::holds_alternative<Failure>(parsed)) << ::testing::PrintToString(args);
    EXPECT_EQ(std::get<Failure>(parsed).code, ExitCode::BadCommandLine);
  }
}

TEST(ArchivePathTest, AddsZipOnlyWhenTheNameHasNoExtension) {
  testing::ScratchDirectory scratch;
  struct Case {
    std::string name;
    std::string path;
  };
  const Case cases[] = {
      {"Tdx01", "Tdx01.Zip"},
      {"Tdx01.Zip", "Tdx01.Zip"},
      {"TDX02.ZIP", "TDX02.ZIP"},
      {scratch / "Tdx", scratch / "Tdx.Zip"},
      {"dir.v2/Tdx", "dir.v2/Tdx.Zip"},
      {".hidden", ".hidden.Zip"},
  };
  for (const Case& c : cases) EXPECT_EQ(ArchivePath(c.name), c.path) << c.name;
}

TEST(ArchivePathTest, FindsAnExistingArchiveWhoseNameDiffersInCase) {
  testing::ScratchDirectory scratch;
  scratch.Write("TDX01.ZIP", "x");
  EXPECT_EQ(ArchivePath(scratch / "Tdx01"), scratch / "TDX01.ZIP");
  scratch.Write("tdx01.zip", "y");  // two candidates: no guess
  EXPECT_EQ(ArchivePath(scratch / "Tdx01"), scratch / "Tdx01.Zip");
}

}  // namespace
}  // namespace qm::qmzip
