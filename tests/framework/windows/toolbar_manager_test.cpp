// The toolbar and its browse target on a headless window: which buttons it
// shows, and what their presses turn into.
#include "framework/windows/toolbar_manager.h"

#include <gtest/gtest.h>

#include <memory>

#include "framework/windows/browse_toolbar_target.h"
#include "framework/windows/window_manager.h"
#include "platform/headless_presenter.h"

namespace qm {
namespace {

using namespace qm::platform;

constexpr int kList = 1;
constexpr int kInsert = 2;
constexpr int kChange = 3;
constexpr int kDelete = 4;
constexpr int kSelect = 5;
constexpr int kHelp = 6;
constexpr int kLocate = 7;
constexpr int kOtherList = 8;
constexpr int kNoEvent = 9999;

WindowDef BrowseWindow() {
  WindowDef window{.id = "Test$Browse", .caption = "Browse"};
  window.controls = {{kList, ControlKind::kList},
                     {kInsert, ControlKind::kButton, "&Insert"},
                     {kChange, ControlKind::kButton, "&Change"},
                     {kDelete, ControlKind::kButton, "&Delete"},
                     {kSelect, ControlKind::kButton, "&Select"},
                     {kHelp, ControlKind::kButton, "&Help"},
                     {kLocate, ControlKind::kButton, "&Query"},
                     {kOtherList, ControlKind::kList}};
  for (int button = kToolbarInsert; button <= kToolbarHelp; ++button) {
    window.controls.push_back({button, ControlKind::kToolButton});
  }
  return window;
}

class CountingManager : public WindowManager {
 public:
  void Update() override { ++updates; }
  int updates = 0;
};

class ToolbarTest : public testing::Test {
 protected:
  void SetUp() override {
    InstallPresenter(&presenter_);
    manager_.MYWINDOW = OpenWindow(BrowseWindow());
    TakeEvent();  // window opened
    target_ = MakeTarget();
    toolbar_.Init();
  }
  void TearDown() override {
    manager_.MYWINDOW->Close();
    InstallPresenter(nullptr);
  }

  std::unique_ptr<BrowseToolbarTarget> MakeTarget() {
    auto target = std::make_unique<BrowseToolbarTarget>(window());
    target->INSERTBUTTON = kInsert;
    target->CHANGEBUTTON = kChange;
    target->DELETEBUTTON = kDelete;
    target->SELECTBUTTON = kSelect;
    target->HELPBUTTON = kHelp;
    target->LOCATEBUTTON = kLocate;
    return target;
  }

  Window& window() { return *manager_.MYWINDOW; }

  // The next queued event, or kNoEvent.
  Event TakeEvent() {
    window().Post({kNoEvent, 0, 0});
    window().NextEvent();
    const Event taken{window().CurrentEvent(), window().CurrentField(), KeyCode()};
    if (taken.event != kNoEvent) {
      while (window().NextEvent() && window().CurrentEvent() != kNoEvent) {
      }
    }
    return taken;
  }

  // Presses a toolbar button as the window manager hands it on; gives the
  // navigation request it left, -1 when it left it alone.
  std::int32_t Press(int control) {
    window().Post({kEventAccepted, control, 0});
    window().NextEvent();
    std::int32_t request = -1;
    toolbar_.HandleEvent(request, manager_);
    return request;
  }

  HeadlessPresenter presenter_;
  CountingManager manager_;
  ToolbarManager toolbar_;
  std::unique_ptr<BrowseToolbarTarget> target_;
};

TEST_F(ToolbarTest, WithoutBrowseTheToolbarIgnoresItsButtons) {
  for (int button : {kToolbarDown, kToolbarSelect, kToolbarInsert}) {
    SCOPED_TRACE(button);
    EXPECT_EQ(Press(button), -1);
    EXPECT_EQ(TakeEvent().event, kNoEvent);
  }
  EXPECT_EQ(manager_.updates, 0);
}

TEST_F(ToolbarTest, ButtonIsShownDisabledWhenItsWindowButtonIsMissingOrDisabled) {
  struct Case {
    int toolbar_button;
    std::int32_t BrowseToolbarTarget::*field;
    int window_button;
  };
  const Case cases[] = {
      {kToolbarSelect, &BrowseToolbarTarget::SELECTBUTTON, kSelect},
      {kToolbarDelete, &BrowseToolbarTarget::DELETEBUTTON, kDelete},
      {kToolbarChange, &BrowseToolbarTarget::CHANGEBUTTON, kChange},
      {kToolbarInsert, &BrowseToolbarTarget::INSERTBUTTON, kInsert},
      {kToolbarHelp, &BrowseToolbarTarget::HELPBUTTON, kHelp},
      {kToolbarLocate, &BrowseToolbarTarget::LOCATEBUTTON, kLocate},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.toolbar_button);
    auto target = MakeTarget();
    target->DisplayButtons();
    EXPECT_TRUE(window().ControlEnabled(test.toolbar_button));

    window().SetControlEnabled(test.window_button, false);
    target->DisplayButtons();
    EXPECT_FALSE(window().ControlEnabled(test.toolbar_button)) << "window button disabled";
    window().SetControlEnabled(test.window_button, true);

    (*target).*test.field = 0;
    target->DisplayButtons();
    EXPECT_FALSE(window().ControlEnabled(test.toolbar_button)) << "no window button";

    (*target).*test.field = 99;  // names a control the window does not have
    target->DisplayButtons();
    EXPECT_FALSE(window().ControlEnabled(test.toolbar_button)) << "window button missing";
  }
}

TEST_F(ToolbarTest, NavigationButtonsAreEnabledAndHistoryIsNot) {
  window().SetControlEnabled(kToolbarDown, false);
  window().SetControlEnabled(kToolbarHistory, true);
  target_->LOCATEBUTTON = 0;
  target_->DisplayButtons();
  for (int button = kToolbarBottom; button <= kToolbarUp; ++button) {
    EXPECT_TRUE(window().ControlEnabled(button)) << button;
  }
  EXPECT_FALSE(window().ControlEnabled(kToolbarLocate));
  EXPECT_FALSE(window().ControlEnabled(kToolbarHistory));
}

TEST_F(ToolbarTest, PressesBecomeListEventsOrTheWindowsButtons) {
  struct Case {
    int button;
    std::int32_t request;
    Event posted;
  };
  const Case cases[] = {
      {kToolbarBottom, 8, {8, kList}},
      {kToolbarTop, 7, {7, kList}},
      {kToolbarPageDown, 6, {6, kList}},
      {kToolbarPageUp, 5, {5, kList}},
      {kToolbarDown, 4, {4, kList}},
      {kToolbarUp, 3, {3, kList}},
      {kToolbarLocate, 9, {9, kList}},
      {kToolbarInsert, 1, {kEventAccepted, kInsert}},
      {kToolbarChange, 1, {kEventAccepted, kChange}},
      {kToolbarDelete, 1, {kEventAccepted, kDelete}},
      {kToolbarHelp, 1, {kEventAlertKey, 0, 112}},
      {kToolbarHistory, kToolbarHistory, {kNoEvent}},
      {kInsert, kInsert, {kNoEvent}},  // the window's own button is not the toolbar's
  };
  toolbar_.AddTarget(*target_, kList);
  toolbar_.SetTarget(kList);
  for (const auto& test : cases) {
    SCOPED_TRACE(test.button);
    EXPECT_EQ(Press(test.button), test.request);
    const Event posted = TakeEvent();
    EXPECT_EQ(posted.event, test.posted.event);
    if (test.posted.event != kNoEvent) {
      EXPECT_EQ(posted.control, test.posted.control);
    }
    if (test.posted.key_code != 0) {
      EXPECT_EQ(posted.key_code, test.posted.key_code);
    }
  }
  EXPECT_EQ(manager_.updates, 0);
}

TEST_F(ToolbarTest, SelectUpdatesAndClosesWithCompleted) {
  toolbar_.AddTarget(*target_, kList);
  toolbar_.SetTarget(kList);
  EXPECT_EQ(Press(kToolbarSelect), 1);
  EXPECT_EQ(manager_.updates, 1);
  EXPECT_EQ(manager_.RESPONSE, ResponseCompleted);
  EXPECT_EQ(TakeEvent().event, kEventCloseWindow);
}

TEST_F(ToolbarTest, TargetOfTheVisibleListBecomesCurrentWithItsTips) {
  auto other = MakeTarget();
  other->INSERTBUTTON = 0;
  toolbar_.AddTarget(*target_, kList);
  toolbar_.AddTarget(*other, kOtherList);
  EXPECT_EQ(other->CONTROL, kOtherList);

  // Both lists visible: the last target that answers wins.
  toolbar_.SetTarget(0);
  EXPECT_FALSE(window().ControlEnabled(kToolbarInsert));
  EXPECT_EQ(window().Property(kPropTip, kToolbarDown), "Go to the Next Record");
  EXPECT_EQ(window().Property(kPropTip, kToolbarInsert), "Insert a new Record");
  EXPECT_EQ(window().Property(kPropTip, kToolbarTop), "Go to the First Page");

  window().SetControlVisible(kOtherList, false);
  toolbar_.SetTarget(0);
  EXPECT_TRUE(window().ControlEnabled(kToolbarInsert));
  EXPECT_EQ(Press(kToolbarInsert), 1);
  EXPECT_EQ(TakeEvent().control, kInsert);

  // Naming a list makes its target current even when hidden.
  toolbar_.SetTarget(kOtherList);
  EXPECT_FALSE(window().ControlEnabled(kToolbarInsert));
  EXPECT_EQ(Press(kToolbarDown), 4);
  EXPECT_EQ(TakeEvent().control, kOtherList);
}

TEST_F(ToolbarTest, AfterTeardownButtonsAreIgnoredAgain) {
  toolbar_.AddTarget(*target_, kList);
  toolbar_.SetTarget(kList);
  toolbar_.Teardown();
  EXPECT_EQ(Press(kToolbarDown), -1);
  EXPECT_EQ(TakeEvent().event, kNoEvent);
}

}  // namespace
}  // namespace qm
