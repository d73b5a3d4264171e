// The shared settings read in two levels from the current directory; any
// missing file or key gives its default, and long values are cut.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backup/settings.h"

namespace qm::backup::testing {
namespace {

namespace fs = std::filesystem;

TEST(SettingsTest, TwoLevelsWithDefaults) {
  const fs::path previous = fs::current_path();
  const fs::path root = fs::temp_directory_path() / "qm-backup-settings";
  struct Case {
    std::string name;
    std::string local;   // the current directory's Qmoor.Ini; empty: none
    std::string shared;  // specs/Qmoor.Ini; empty: none
    std::string specs, prog, datadir;  // "<cwd>" stands for the current directory
  };
  const std::vector<Case> cases = {
      {"no settings file", "", "", "1", "Tdx", "<cwd>"},
      {"malformed file", "this is not an INI file\n[[[\n", "", "1", "Tdx", "<cwd>"},
      {"two levels", "[Specs]\nPath=specs\n", "[USER]\nProg=Abc\nDatadrive=/srv/farm\\\n", "specs", "Abc", "/srv/farm\\"},
      {"prefix cut to seven", "[Specs]\nPath=specs\n", "[USER]\nProg=PQRSTUVWXY\n", "specs", "PQRSTUV", "<cwd>"},
      {"user section only read from the second level", "[Specs]\nPath=specs\n[USER]\nProg=Wrong\n", "", "specs",
       "Tdx", "<cwd>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root);
    fs::create_directories(root / "specs");
    if (!c.local.empty()) std::ofstream(root / "Qmoor.Ini") << c.local;
    if (!c.shared.empty()) std::ofstream(root / "specs" / "Qmoor.Ini") << c.shared;
    fs::current_path(root);
    ReadSharedSettings();
    fs::current_path(previous);
    EXPECT_EQ(Settings().SPECSPATH, c.specs);
    EXPECT_EQ(Settings().PROG, c.prog);
    EXPECT_EQ(Settings().DATADIR, c.datadir == "<cwd>" ? root.string() : c.datadir);
  }
  fs::remove_all(root);
}

TEST(SettingsTest, LongDataDirectoryIsKeptWhole) {
  const fs::path previous = fs::current_path();
  const fs::path root = fs::temp_directory_path() / "qm-backup-settings-long";
  fs::remove_all(root);
  fs::create_directories(root);
  const std::string long_path = "/" + std::string(200, 'd');
  std::ofstream(root / "Qmoor.Ini") << "[Specs]\nPath=.\n[USER]\nDatadrive=" << long_path << "\n";
  fs::current_path(root);
  ReadSharedSettings();
  fs::current_path(previous);
  EXPECT_EQ(Settings().DATADIR, long_path);
  fs::remove_all(root);
}

}  // namespace
}  // namespace qm::backup::testing
