// The window settings on a headless window: the user's font preference,
// the kept size ratio, and the per-user registry values.
#include "framework/windows/window_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "framework/settings/ini_manager.h"
#include "platform/headless_presenter.h"
#include "platform/registry.h"

namespace qm {
namespace {

using namespace qm::platform;

constexpr int kLabel = 1;
constexpr int kButton = 2;
constexpr int kList = 3;
constexpr int kMenuItem = -2;
constexpr int kToolButton = -9;

WindowDef SettingsWindow() {
  return {.id = "Test$Settings",
          .caption = "Settings",
          .resizable = true,
          .x = 40,
          .y = 30,
          .width = 400,
          .height = 300,
          .controls = {{kLabel, ControlKind::kPrompt, "Name"},
                       {kButton, ControlKind::kButton, "&OK"},
                       {kList, ControlKind::kList},
                       {kMenuItem, ControlKind::kMenuItem, "E&xit"},
                       {kToolButton, ControlKind::kToolButton, "&Backup"}}};
}

class WindowSettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    InstallPresenter(&presenter_);
    directory_ = std::filesystem::path(testing::TempDir()) /
                 ("window_settings_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
    window_ = OpenWindow(SettingsWindow());
    settings_.Init(*window_);
  }
  void TearDown() override {
    settings_.Teardown();
    window_->Close();
    InstallPresenter(nullptr);
  }

  // An INI manager on a program INI file with the given "Typeset" lines.
  IniManager& IniWith(const std::string& typeset_lines) {
    const auto file = directory_ / "Test.INI";
    std::ofstream(file) << "[Typeset]\n" << typeset_lines;
    ini_.Setup(file.string(), IniManager::kStorageIniFile, 0);
    return ini_;
  }

  std::string Font(int property, int control = 0) { return window_->Property(property, control); }

  HeadlessPresenter presenter_;
  std::filesystem::path directory_;
  std::shared_ptr<Window> window_;
  WindowSettings settings_;
  IniManager ini_;
};

TEST_F(WindowSettingsTest, PreferenceFontReachesWindowAndControlsButNotMenusOrToolbar) {
  window_->SetProperty(kPropWallpaper, 1L);
  FontPreference preference;
  settings_.SetupFonts(IniWith("FontName=Verdana\nFontSize=11\nFontStyle=700\n"), preference);

  for (int control : {0, kLabel, kButton, kList}) {
    SCOPED_TRACE(control);
    EXPECT_EQ(Font(kPropFontName, control), "Verdana");
    EXPECT_EQ(Font(kPropFontSize, control), "11");
    EXPECT_EQ(Font(kPropFontStyle, control), "700");
    EXPECT_EQ(Font(kPropFontColor, control), "");  // not given: as designed
  }
  for (int control : {kMenuItem, kToolButton}) {
    SCOPED_TRACE(control);
    EXPECT_EQ(Font(kPropFontName, control), "");
    EXPECT_EQ(Font(kPropFontSize, control), "");
  }
  EXPECT_EQ(window_->Property(kPropWallpaper), "");  // switched off
  EXPECT_EQ(settings_.INITED, 1);
}

TEST_F(WindowSettingsTest, DisableSwitchLeavesFontsAndWallpaperAlone) {
  window_->SetProperty(kPropWallpaper, 1L);
  window_->SetProperty(kPropTiledWallpaper, 1L);
  FontPreference preference;
  settings_.SetupFonts(IniWith("FontName=Verdana\nFontSize=11\nDisable=1\n"), preference);

  for (int control : {0, kLabel, kButton, kList}) {
    EXPECT_EQ(Font(kPropFontName, control), "") << control;
    EXPECT_EQ(Font(kPropFontSize, control), "") << control;
  }
  EXPECT_EQ(window_->Property(kPropWallpaper), "1");
  EXPECT_EQ(window_->Property(kPropTiledWallpaper), "1");
  EXPECT_EQ(settings_.INITED, 0);
  // The keys were still read.
  EXPECT_EQ(preference.Load(ini_).FontName, "Verdana");
}

TEST_F(WindowSettingsTest, PreferenceIsReadOnceForTheProcess) {
  FontPreference preference;
  EXPECT_EQ(preference.Load(IniWith("FontName=Verdana\nFontSize=11\n")).FontSize, 11);
  const auto& again = preference.Load(IniWith("FontName=Arial\nFontSize=20\n"));
  EXPECT_EQ(again.FontName, "Verdana");
  EXPECT_EQ(again.FontSize, 11);
  EXPECT_EQ(again.FontColor, -1);  // missing keys keep their start values
  EXPECT_EQ(again.Disable, 0);
}

TEST_F(WindowSettingsTest, LongFontNameIsCutToItsField) {
  FontPreference preference;
  const auto& values = preference.Load(IniWith("FontName=" + std::string(40, 'F') + "\n"));
  EXPECT_EQ(values.FontName, std::string(31, 'F'));
}

TEST_F(WindowSettingsTest, MinusOneKeepsTheDesignedValue) {
  // As designed: the window in 9 points, the button with a 14-point font of its own.
  window_->SetProperty(kPropFontName, "Tahoma");
  window_->SetProperty(kPropFontSize, "9");
  window_->SetProperty(kPropFontSize, "9", kLabel);
  window_->SetProperty(kPropFontSize, "14", kButton);
  settings_.SetFont("Arial", false, -1, 255, 0, 0, -1, -1);

  EXPECT_EQ(settings_.OLDFONT.NAME, "Tahoma");
  EXPECT_EQ(settings_.NEWFONT.SIZE, 9);
  EXPECT_EQ(Font(kPropFontName), "Arial");
  EXPECT_EQ(Font(kPropFontSize), "9");
  EXPECT_EQ(Font(kPropFontColor), "255");
  EXPECT_EQ(Font(kPropFontSize, kLabel), "9");
  EXPECT_EQ(Font(kPropFontSize, kButton), "14");  // its own size stays
  EXPECT_EQ(Font(kPropFontName, kButton), "Arial");
  EXPECT_EQ(Font(kPropFontColor, kButton), "255");
}

TEST_F(WindowSettingsTest, NameIsKeptByTheFlagOrWhenEmpty) {
  struct Case {
    const char* name;
    bool keep_name;
    const char* expected;
  };
  for (const Case& test : {Case{"Arial", true, "Tahoma"}, Case{"", false, "Tahoma"}, Case{"Arial", false, "Arial"}}) {
    SCOPED_TRACE(test.name);
    window_->SetProperty(kPropFontName, "Tahoma");
    window_->SetProperty(kPropFontName, "Tahoma", kLabel);
    settings_.SetFont(test.name, test.keep_name, 12, -1, 0, 0, -1, -1);
    EXPECT_EQ(Font(kPropFontName), test.expected);
    EXPECT_EQ(Font(kPropFontName, kLabel), test.expected);
    EXPECT_EQ(Font(kPropFontSize), "12");
  }
}

TEST_F(WindowSettingsTest, DisabledSettingsChangeNothingUntilEnabled) {
  settings_.Disable();
  settings_.SetFont("Arial", false, 12, 0, 0, 0, 0, 0);
  EXPECT_EQ(Font(kPropFontName), "");
  settings_.Enable();
  settings_.SetFont("Arial", false, 12, 0, 0, 0, 0, 0);
  EXPECT_EQ(Font(kPropFontName), "Arial");
  EXPECT_EQ(Font(kPropFontColor), "0");  // black is a colour, not "unset"
}

TEST_F(WindowSettingsTest, WallpaperModesFollowAutoWallpaper) {
  struct Case {
    std::int32_t auto_wallpaper;
    const char* plain;
    const char* tiled;
  };
  for (const Case& test : {Case{0, "1", ""}, Case{kPropTiledWallpaper, "1", "1"}, Case{kWallpaperNone, "", ""}}) {
    SCOPED_TRACE(test.auto_wallpaper);
    window_->SetProperty(kPropWallpaper, 1L);
    window_->SetProperty(kPropTiledWallpaper, 0L);
    settings_.AUTOWALLPAPER = test.auto_wallpaper;
    settings_.SetFont("Arial", false, -1, -1, 0, 0, -1, -1);
    EXPECT_EQ(window_->Property(kPropWallpaper), test.plain);
    EXPECT_EQ(window_->Property(kPropTiledWallpaper), test.tiled);
  }
}

TEST_F(WindowSettingsTest, RatioIsAppliedOnceAfterAFontWasSet) {
  settings_.ApplyRatio();  // no font set: nothing to keep
  EXPECT_EQ(window_->PropertyNumber(kPropWidth), 400);

  settings_.SetFont("Arial", false, 12, -1, 0, 0, -1, -1);
  EXPECT_DOUBLE_EQ(settings_._WINRATIO.W, 1.0);
  settings_._WINRATIO.W = 0.5;
  settings_._WINRATIO.H = 2.0;
  window_->SetProperty(kPropMinHeight, 700L);
  window_->SetProperty(kPropXPos, -20L);
  settings_.HandleEvent(WindowSettings::kRefreshEvent);
  EXPECT_EQ(window_->PropertyNumber(kPropWidth), 200);
  EXPECT_EQ(window_->PropertyNumber(kPropHeight), 700);  // not below the minimum
  EXPECT_EQ(window_->PropertyNumber(kPropXPos), 1);
  EXPECT_EQ(window_->PropertyNumber(kPropYPos), 30);
  EXPECT_EQ(settings_.INITED, 0);

  settings_.ApplyRatio();
  EXPECT_EQ(window_->PropertyNumber(kPropWidth), 200);
}

TEST_F(WindowSettingsTest, MaximisedWindowIsMaximisedAgainAfterTheFontChange) {
  window_->SetProperty(kPropMaximize, 1L);
  settings_.SetFont("Arial", false, 12, -1, 0, 0, -1, -1);
  EXPECT_EQ(settings_._MAX, 1);
  EXPECT_EQ(window_->PropertyNumber(kPropMaximize), 1);
}

TEST_F(WindowSettingsTest, RegistryValuesAreWrittenAndReadBack) {
  setenv("QM_SETTINGS_DIR", directory_.c_str(), 1);
  const std::string key = "Software\\Quillmoor\\TdxBack";
  EXPECT_EQ(settings_.ReadRegistry(Registry::kCurrentUser, key, "Font"), "");
  EXPECT_EQ(settings_.WriteRegistry(Registry::kCurrentUser, key, "Font", "Verdana"), 0);
  EXPECT_EQ(settings_.ReadRegistry(Registry::kCurrentUser, key, "Font"), "Verdana");
  EXPECT_EQ(settings_.ReadRegistry(Registry::kLocalMachine, key, "Font"), "");
  EXPECT_NE(settings_.WriteRegistry(Registry::kCurrentUser, key, "Font", "two\nlines"), 0);
  unsetenv("QM_SETTINGS_DIR");
}

TEST_F(WindowSettingsTest, DebugWritesTaggedTrimmedTextToStandardError) {
  testing::internal::CaptureStderr();
  settings_.Debug("  sizes applied  ");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[WindowSettings] sizes applied\n");
}

}  // namespace
}  // namespace qm
