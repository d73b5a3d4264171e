// Popup menus: names, flags, the menu string, choices and mirror items.
#include "framework/windows/popup_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/headless_presenter.h"
#include "platform/window.h"

namespace qm {
namespace {

using namespace qm::platform;

constexpr int kInsertButton = 5;
constexpr int kChangeButton = 6;

class PopupManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallPresenter(&presenter_);
    WindowDef definition{.id = "Test$Browse", .caption = "Browse"};
    definition.controls = {{kInsertButton, ControlKind::kButton, "&Insert"},
                           {kChangeButton, ControlKind::kButton, ""}};
    window_ = OpenWindow(definition);
    window_->NextEvent();  // window opened
    popup_.Init();
  }
  void TearDown() override {
    popup_.Teardown();
    window_->Close();
    InstallPresenter(nullptr);
  }

  // The next event queued on the window, as {event, control}.
  std::pair<int, int> NextEvent() {
    window_->Post({-1, 0, 0});  // a marker, so that an empty queue never blocks
    window_->NextEvent();
    const std::pair<int, int> event{window_->CurrentEvent(), window_->CurrentField()};
    while (window_->CurrentEvent() != -1) window_->NextEvent();
    return event;
  }

  HeadlessPresenter presenter_;
  std::shared_ptr<Window> window_;
  PopupManager popup_;
};

TEST_F(PopupManagerTest, AskOnAnEmptyPopupAnswersNothing) {
  popup_.LASTSELECTION = "Old";
  EXPECT_EQ(popup_.Ask(), "");
  EXPECT_EQ(popup_.GetLastSelection(), "");
}

TEST_F(PopupManagerTest, NamesAreUniqueAndFlagsAreTakenFromTheText) {
  EXPECT_EQ(popup_.AddItem("&Insert"), "Insert");
  EXPECT_EQ(popup_.AddItem("&Insert"), "Insert1");
  EXPECT_EQ(popup_.AddItem("-"), "Separator");
  EXPECT_EQ(popup_.AddItem("-"), "Separator1");
  const std::string flagged = popup_.AddItem("~+Sort by &Date ");
  EXPECT_EQ(flagged, "SortbyDate");
  const auto* item = popup_.FindItem(flagged);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->TEXT, "Sort by &Date ");
  EXPECT_EQ(item->DISABLED, 1);
  EXPECT_EQ(item->CHECK, 1);
  EXPECT_EQ(popup_.FindItem(popup_.AddItem("-Ascending"))->CHECK, 2);
  EXPECT_EQ(popup_.FindItem("Separator")->TEXT, "-");
}

TEST_F(PopupManagerTest, MenuTextNestsLevelsAndMarksStates) {
  popup_.AddMenuText("&Insert|Sort{By &Name|By &Date}-|E&xit", "");
  popup_.SetItemEnabled("ByDate", false);
  popup_.SetItemEnabled("Separator", false);  // separators are left alone
  EXPECT_EQ(popup_.MenuText(), "&Insert|Sort{By &Name|~By &Date}-|E&xit");
  EXPECT_EQ(popup_.GetItems(false), 6);
  EXPECT_EQ(popup_.GetItems(true), 4) << "neither the separator nor the sub-menu header";
}

TEST_F(PopupManagerTest, ItemsAreInsertedAfterTheirNamedItemAtItsDepth) {
  popup_.AddItem("First");
  popup_.AddItem("Last");
  popup_.AddNestedMenu("Middle", "One|Two", "First");
  EXPECT_EQ(popup_.MenuText(), "First|Middle{One|Two}Last");
}

TEST_F(PopupManagerTest, ChosenNumberSkipsSeparatorsAndHeaders) {
  popup_.AddMenuText("Alpha|-|Sub{Beta}Gamma", "");
  struct Case {
    int number;
    std::string name;
  };
  const Case cases[] = {{1, "Alpha"}, {2, "Beta"}, {3, "Gamma"}, {0, ""}, {9, ""}};
  for (const auto& test : cases) {
    presenter_.QueuePopupChoice(test.number);
    EXPECT_EQ(popup_.Ask(), test.name) << test.number;
    EXPECT_EQ(popup_.LASTNUMBERSELECTION, test.number);
  }
}

TEST_F(PopupManagerTest, MirrorItemFollowsItsButtonAndPressesIt) {
  popup_.AddMirrorItem("!&Insert", kInsertButton);
  popup_.AddMirrorItem("!&Change", kChangeButton);
  window_->SetControlEnabled(kInsertButton, false);
  EXPECT_EQ(popup_.MenuText(), "~&Insert|&Change")
      << "a button without a caption leaves the item its own text, without the \"!\"";

  presenter_.QueuePopupChoice(2);
  EXPECT_EQ(popup_.Ask(), "Change");
  EXPECT_EQ(NextEvent(), std::make_pair(kEventAccepted, kChangeButton));
}

TEST_F(PopupManagerTest, MirrorItemTakesItsButtonsStateAtEveryDisplay) {
  popup_.AddMirrorItem("!&Insert", kInsertButton);
  for (const bool enabled : {false, true, false, true}) {
    window_->SetControlEnabled(kInsertButton, enabled);
    EXPECT_EQ(popup_.MenuText(), enabled ? "&Insert" : "~&Insert") << enabled;
  }
}

TEST_F(PopupManagerTest, MirroringAControlAgainKeepsItsOneItem) {
  EXPECT_EQ(popup_.AddMirrorItem("!&Insert", kInsertButton), "Insert");
  EXPECT_EQ(popup_.AddMirrorItem("!&Insert", kInsertButton), "Insert");
  EXPECT_EQ(popup_.GetItems(false), 1);
}

TEST_F(PopupManagerTest, ItemWithAnEventPostsItToItsControl) {
  const std::string name = popup_.AddItem("&Refresh");
  popup_.SetItemEvent(name, 1400, kInsertButton);
  presenter_.QueuePopupChoice(1);
  EXPECT_EQ(popup_.Ask(), "Refresh");
  EXPECT_EQ(NextEvent(), std::make_pair(1400, kInsertButton));
}

TEST_F(PopupManagerTest, ToolboxButtonsPressTheirControlsOnThePopupsThread) {
  popup_.AddMirrorItem("!&Insert", kInsertButton);
  popup_.AddItem("&Other", "Other");
  popup_.SetItemEvent("Other", 1400, kChangeButton);
  popup_.ShowToolbox("Browse Actions");
  auto toolbox = presenter_.WaitForWindow("Browse Actions", std::chrono::seconds(5));
  ASSERT_NE(toolbox, nullptr);
  EXPECT_FALSE(window_->ControlEnabled(kChangeButton)) << "controls not on the toolbox are disabled";
  ASSERT_TRUE(presenter_.Press(*toolbox, 1));
  ASSERT_TRUE(window_->NextEvent()) << "waits for the toolbox thread to post the choice";
  EXPECT_EQ(window_->CurrentEvent(), kEventAccepted);
  EXPECT_EQ(window_->CurrentField(), kInsertButton);
  presenter_.CloseBox(*toolbox);
  for (int i = 0; i < 500 && popup_.INTOOLBOX; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(popup_.INTOOLBOX, 0);
  EXPECT_TRUE(window_->ControlEnabled(kChangeButton));
}

}  // namespace
}  // namespace qm
