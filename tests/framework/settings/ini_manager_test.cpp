#include "framework/settings/ini_manager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/events.h"
#include "platform/ini_file.h"
#include "platform/registry.h"
#include "platform/window.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using platform::IniFile;
using platform::Registry;

class IniManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ini_manager_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    if (const char* old = std::getenv("QM_SETTINGS_DIR")) old_settings_dir_ = old;
    setenv("QM_SETTINGS_DIR", (directory_ / "user").c_str(), 1);
  }
  void TearDown() override {
    if (old_settings_dir_) {
      setenv("QM_SETTINGS_DIR", old_settings_dir_->c_str(), 1);
    } else {
      unsetenv("QM_SETTINGS_DIR");
    }
    fs::remove_all(directory_);
  }

  std::string IniPath() const { return (directory_ / "Test.INI").string(); }

  void WriteIni(const std::string& text) const { std::ofstream(IniPath(), std::ios::binary) << text; }

  std::string ReadIni() const {
    std::ifstream in(IniPath(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // A manager on the test's INI file.
  std::unique_ptr<IniManager> OnIniFile() const {
    auto manager = std::make_unique<IniManager>();
    manager->Setup(IniPath(), IniManager::kStorageIniFile, 0);
    return manager;
  }

  fs::path directory_;
  std::optional<std::string> old_settings_dir_;
};

TEST_F(IniManagerTest, StoresAndFetchesTextAndNumbers) {
  auto ini = OnIniFile();
  ini->Store("Main", "Name", "Backup");
  ini->Store("Main", "Count", 42);
  ini->Store("Main", "Negative", -7L);
  ini->Store("Main", "Ratio", 1.25);
  EXPECT_EQ(ini->Fetch("Main", "Name"), "Backup");
  EXPECT_EQ(ini->Fetch("main", "COUNT"), "42");
  EXPECT_EQ(ini->Fetch("Main", "Negative"), "-7");
  EXPECT_EQ(ini->Fetch("Main", "Ratio"), "1.25");
  EXPECT_EQ(ini->Fetch("Main", "Missing"), "");
}

TEST_F(IniManagerTest, FetchIntoKeepsTheVariableWhenTheEntryIsMissingOrNoNumber) {
  WriteIni("[Typeset]\nFontName=Arial\nFontSize= 12\nFontColor=red\nFontStyle=700x\nBig=300\n");
  auto ini = OnIniFile();
  std::string name = "MS Sans Serif";
  std::string absent = "kept";
  long size = 8, colour = 5, style = 400, missing = -3;
  std::uint8_t big = 9;
  double ratio = 0.5;
  ini->FetchInto("Typeset", "FontName", name);
  ini->FetchInto("Typeset", "Absent", absent);
  ini->FetchInto("Typeset", "FontSize", size);
  ini->FetchInto("Typeset", "FontColor", colour);
  ini->FetchInto("Typeset", "FontStyle", style);
  ini->FetchInto("Typeset", "Missing", missing);
  ini->FetchInto("Typeset", "Big", big);
  ini->FetchInto("Typeset", "Ratio", ratio);
  EXPECT_EQ(name, "Arial");
  EXPECT_EQ(absent, "kept");
  EXPECT_EQ(size, 12);
  EXPECT_EQ(colour, 5);
  EXPECT_EQ(style, 400);
  EXPECT_EQ(missing, -3);
  EXPECT_EQ(big, 9) << "a number too big for a byte";
  EXPECT_EQ(ratio, 0.5);
}

TEST_F(IniManagerTest, FetchFieldSplitsAtCommas) {
  WriteIni("[Lists]\nEntry=one,two,,four\n");
  auto ini = OnIniFile();
  struct Case {
    const char* key;
    int n;
    const char* expected;
  } cases[] = {
      {"Entry", 1, "one"}, {"Entry", 2, "two"}, {"Entry", 3, ""},   {"Entry", 4, "four"},
      {"Entry", 5, ""},    {"Entry", 0, ""},    {"Missing", 1, "---Unknown---"},
      {"Missing", 2, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ini->FetchField("Lists", c.key, c.n), c.expected) << c.key << " " << c.n;
}

TEST_F(IniManagerTest, WithoutStorageFetchesAreEmptyAndStoresDoNothing) {
  IniManager ini;
  ini.Setup(IniPath(), IniManager::kStorageNone, 0);
  ini.Store("Main", "XPos", "10");
  EXPECT_FALSE(fs::exists(IniPath()));
  WriteIni("[Main]\nXPos=10\n");
  EXPECT_EQ(ini.FetchValue("Main", "XPos", "default", IniPath()), "");
  EXPECT_EQ(ini.FetchValue("Main", "Missing", "default", IniPath()), "");
  std::string text = "default";
  ini.FetchInto("Main", "XPos", text);
  EXPECT_EQ(text, "");
  ini.DeleteValue("Main", "XPos");
  EXPECT_EQ(ReadIni(), "[Main]\nXPos=10\n");
}

TEST_F(IniManagerTest, EmptyValueIsAnEmptyEntryInAFileAndNoValueInTheRegistry) {
  auto file = OnIniFile();
  file->Store("Main", "Name", "x");
  file->Store("Main", "Name", "");
  EXPECT_EQ(ReadIni(), "[Main]\nName=\n");
  EXPECT_EQ(file->FetchValue("Main", "Name", "default", IniPath()), "");

  IniManager registry;
  registry.Setup("Software\\Quillmoor", IniManager::kStorageRegistry, 0);
  registry.Store("Main", "Name", "Backup");
  EXPECT_EQ(Registry::ForUser().Get(Registry::kClassesRoot, "Software\\Quillmoor\\Main", "Name"), "Backup")
      << "root 0 stands for 80000000 hex";
  EXPECT_EQ(registry.Fetch("Main", "Name"), "Backup");
  registry.Store("Main", "Name", "");
  EXPECT_EQ(IniFile(Registry::ForUser().File()).Get("HKEY_CLASSES_ROOT\\Software\\Quillmoor\\Main", "Name", "gone"),
            "gone");
  EXPECT_EQ(registry.FetchValue("Main", "Name", "default", ""), "default");

  IniManager other_root;
  other_root.Setup("", IniManager::kStorageRegistry, static_cast<int>(Registry::kCurrentUser));
  other_root.Store("Main", "Name", "user");
  EXPECT_EQ(Registry::ForUser().Get(Registry::kCurrentUser, "Main", "Name"), "user");
}

struct Row {
  std::string A, B, C, D;
};

TEST_F(IniManagerTest, ListsRoundTripAndLeaveLongerListEntriesInPlace) {
  auto ini = OnIniFile();
  std::vector<Row> five = {{"1", "a", "", ""}, {"2", "b", "", ""}, {"3", "c", "", ""}, {"4", "d", "", ""}, {"5", "e", "", ""}};
  ini->StoreList("Lists", "Rows", five, &Row::A, &Row::B);
  std::vector<Row> three = {{"x", "y", "z", "w"}, {"", "only b", "", ""}, {"p", "q", "r", "s"}};
  ini->StoreList("Lists", "Rows", three, &Row::A, &Row::B, &Row::C, &Row::D);
  EXPECT_EQ(ini->Fetch("Lists", "Rows"), "3");
  EXPECT_EQ(ini->Fetch("Lists", "Rows_1"), "x,y,z,w");
  EXPECT_EQ(ini->Fetch("Lists", "Rows_2"), ",only b,,");
  EXPECT_EQ(ini->Fetch("Lists", "Rows_4"), "4,d");
  EXPECT_EQ(ini->Fetch("Lists", "Rows_5"), "5,e");

  std::vector<Row> fetched = {{"already", "there", "", ""}};
  ini->FetchList("Lists", "Rows", fetched, &Row::D, &Row::A);
  ASSERT_EQ(fetched.size(), 4u) << "the list is not emptied first";
  EXPECT_EQ(fetched[0].A, "already");
  EXPECT_EQ(fetched[1].D, "x");
  EXPECT_EQ(fetched[1].A, "y");
  EXPECT_EQ(fetched[1].B, "") << "fields not asked for stay empty";
  EXPECT_EQ(fetched[2].A, "only b");
  EXPECT_EQ(fetched[3].D, "p");
}

TEST_F(IniManagerTest, ADamagedListCountReadsNoMoreThanItCan) {
  struct Case {
    const char* count;
    std::size_t expected;
  } cases[] = {{"abc", 0}, {"-4", 0}, {"2", 2}, {"99999999999", IniManager::kMaxListEntries}};
  for (const Case& c : cases) {
    WriteIni(std::string("[Lists]\nRows=") + c.count + "\nRows_1=a\nRows_2=b\n");
    std::vector<Row> rows;
    OnIniFile()->FetchList("Lists", "Rows", rows, &Row::A);
    EXPECT_EQ(rows.size(), c.expected) << c.count;
  }
}

TEST_F(IniManagerTest, SectorItemsHoldingDollarsSurviveTheRoundTrip) {
  const std::string items[] = {"plain", "a$b", "$", "ends$", "$$double", ""};
  {
    auto ini = OnIniFile();
    for (const std::string& item : items) {
      ini->AddSector(IniManager::MakeSectorText("Fam", item, "Kind"));
      ini->AddSector(IniManager::MakeSectorText("Fam", item, "Kind"));
    }
    ini->AddSector(IniManager::MakeSectorText("Other", "a$b", "Else"));
    ini->Finish();
    EXPECT_EQ(ini->SECTORS, nullptr);
  }
  EXPECT_EQ(IniFile(IniPath()).Get("__Dont_Touch_Me__", "Sectors"), "7") << "duplicates are not added";
  EXPECT_EQ(IniFile(IniPath()).Get("__Dont_Touch_Me__", "Sectors_1"), "Fam,,Kind");

  auto reloaded = OnIniFile();
  for (const std::string& item : items) {
    std::vector<SectorEntry> found = {{"stale", "", ""}};
    reloaded->FindSectors("Fam", item, "Kind", found);
    ASSERT_EQ(found.size(), item.empty() ? 6u : 1u) << item;
    if (!item.empty()) {
      EXPECT_EQ(found[0].ITEM, item);
    }
  }
  std::vector<SectorEntry> found;
  reloaded->FindSectors("", "a$b", "", found);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].FAMILY, "Fam");
  EXPECT_EQ(found[1].FAMILY, "Other");
  EXPECT_EQ(found[1].TYPE, "Else");
  reloaded->FindSectors("Nobody", "", "", found);
  EXPECT_TRUE(found.empty());
}

TEST_F(IniManagerTest, SectorTextIsSplitAtTheFirstUntripledDoubleDollar) {
  struct Case {
    const char* text;
    const char* family;
    const char* item;
    const char* type;
  } cases[] = {
      {"F$item$$T", "F", "item", "T"},
      {"F$a$$$b$$T$$x", "F", "a$$$b", "T$$x"},
      {"F$item", "F", "item", ""},
      {"lonely", "lonely", "", ""},
  };
  for (const Case& c : cases) {
    auto ini = OnIniFile();
    ini->AddSector(c.text);
    ASSERT_EQ(ini->SECTORS->size(), 1u) << c.text;
    EXPECT_EQ(ini->SECTORS->front().FAMILY, c.family) << c.text;
    EXPECT_EQ(ini->SECTORS->front().ITEM, c.item) << c.text;
    EXPECT_EQ(ini->SECTORS->front().TYPE, c.type) << c.text;
  }
  auto ini = OnIniFile();
  ini->AddSector(std::string(150, 'f') + "$i$$t");
  EXPECT_EQ(ini->SECTORS->front().FAMILY.size(), 99u);
}

class WindowPlacementTest : public IniManagerTest {
 protected:
  static platform::WindowDef Definition(bool resizable) {
    platform::WindowDef definition;
    definition.id = "Test$Window";
    definition.caption = "Window";
    definition.resizable = resizable;
    definition.x = 10;
    definition.y = 20;
    definition.width = 300;
    definition.height = 200;
    return definition;
  }
};

TEST_F(WindowPlacementTest, SavesWhatTheWindowStateAllows) {
  struct Case {
    const char* what;
    bool resizable;
    bool maximized;
    bool minimized;
    std::string expected;
  } cases[] = {
      {"normal, resizable", true, false, false,
       "[Main]\nMaximize=No\nMinimize=No\nXPos=15\nYPos=25\nWidth=320\nHeight=240\n"},
      {"fixed size", false, false, false, "[Main]\nMaximize=No\nMinimize=No\nXPos=15\nYPos=25\n"},
      {"maximized loses the stored position", true, true, false, "[Main]\nMaximize=Yes\nMinimize=No\n"},
      {"minimized loses the stored position", true, false, true, "[Main]\nMaximize=No\nMinimize=Yes\n"},
  };
  for (const Case& c : cases) {
    WriteIni("[Main]\nMaximize=No\nMinimize=No\nXPos=1\nYPos=2\nWidth=3\nHeight=4\n");
    platform::Window window(Definition(c.resizable), 1, nullptr);
    window.SetProperty(platform::kPropXPos, 15L);
    window.SetProperty(platform::kPropYPos, 25L);
    window.SetProperty(platform::kPropWidth, 320L);
    window.SetProperty(platform::kPropHeight, 240L);
    window.SetProperty(platform::kPropMaximize, c.maximized ? 1L : 0L);
    window.SetProperty(platform::kPropIconize, c.minimized ? 1L : 0L);
    OnIniFile()->SaveWindow("Main", window);
    EXPECT_EQ(ReadIni(), c.expected) << c.what;
  }
}

TEST_F(WindowPlacementTest, RestoresAStoredPlacement) {
  struct Case {
    const char* what;
    std::string stored;
    bool resizable;
    bool maximized_before;
    int x, y, width, height;
    bool maximized, minimized;
  } cases[] = {
      {"no section keeps the definition", "", true, false, 10, 20, 300, 200, false, false},
      {"no Maximize keeps the definition", "[Main]\nXPos=1\nYPos=2\n", true, false, 10, 20, 300, 200, false, false},
      {"a full placement", "[Main]\nMaximize=No\nMinimize=No\nXPos=1\nYPos=2\nWidth=3\nHeight=4\n", true,
       false, 1, 2, 3, 4, false, false},
      {"a fixed size keeps its size", "[Main]\nMaximize=No\nMinimize=No\nXPos=1\nYPos=2\nWidth=3\nHeight=4\n",
       false, false, 1, 2, 300, 200, false, false},
      {"never restored minimized", "[Main]\nMaximize=No\nMinimize=Yes\n", true, false, 10, 20, 300, 200, false,
       false},
      {"maximized, without a position", "[Main]\nMaximize=Yes\nMinimize=No\n", true, false, 10, 20, 300, 200,
       true, false},
      {"un-maximized", "[Main]\nMaximize=No\nMinimize=No\nXPos=1\nYPos=2\n", true, true, 1, 2, 300, 200, false,
       false},
  };
  for (const Case& c : cases) {
    WriteIni(c.stored);
    platform::Window window(Definition(c.resizable), 1, nullptr);
    if (c.maximized_before) window.SetProperty(platform::kPropMaximize, 1L);
    OnIniFile()->RestoreWindow("Main", window);
    EXPECT_EQ(window.PropertyNumber(platform::kPropXPos), c.x) << c.what;
    EXPECT_EQ(window.PropertyNumber(platform::kPropYPos), c.y) << c.what;
    EXPECT_EQ(window.PropertyNumber(platform::kPropWidth), c.width) << c.what;
    EXPECT_EQ(window.PropertyNumber(platform::kPropHeight), c.height) << c.what;
    EXPECT_EQ(window.PropertyNumber(platform::kPropMaximize) != 0, c.maximized) << c.what;
    EXPECT_EQ(window.PropertyNumber(platform::kPropIconize) != 0, c.minimized) << c.what;
  }
}

TEST_F(IniManagerTest, StoresFromSeveralThreadsAreAllKept) {
  constexpr int kThreads = 4;
  constexpr int kValues = 20;
  auto ini = OnIniFile();
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&ini, thread] {
      for (int value = 0; value < kValues; ++value) {
        ini->Store("Thread" + std::to_string(thread), "Value" + std::to_string(value), thread * 1000 + value);
        ini->AddSector(IniManager::MakeSectorText("T" + std::to_string(thread), std::to_string(value), ""));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int thread = 0; thread < kThreads; ++thread)
    for (int value = 0; value < kValues; ++value)
      EXPECT_EQ(ini->Fetch("Thread" + std::to_string(thread), "Value" + std::to_string(value)),
                std::to_string(thread * 1000 + value));
  EXPECT_EQ(ini->SECTORS->size(), static_cast<std::size_t>(kThreads * kValues));
}

}  // namespace
}  // namespace qm
