// The window manager's event loop and dispatch, driven headless: events are
// queued on the procedure's window before its loop runs.
#include "framework/windows/window_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/windows/window_component.h"
#include "platform/headless_presenter.h"

namespace qm {
namespace {

using namespace qm::platform;

constexpr int kOkButton = 1;
constexpr int kCancelButton = 2;
constexpr int kList = 3;

WindowDef TestWindow() {
  WindowDef window;
  window.id = "Test$Window";
  window.caption = "Test Window";
  window.controls = {
      {kOkButton, ControlKind::kButton, "&OK"},
      {kCancelButton, ControlKind::kButton, "Cancel"},
      {kList, ControlKind::kList, ""},
  };
  return window;
}

// Writes every call into a shared log so that tests can check the order.
class RecordingComponent : public WindowComponent {
 public:
  explicit RecordingComponent(std::vector<std::string>& log) : log_(log) {}
  void Teardown() override { log_.push_back("component Teardown"); }
  void Reset(int force) override { log_.push_back("component Reset " + std::to_string(force)); }
  bool ResetRequired() override {
    log_.push_back("component ResetRequired");
    return reset_required;
  }
  void RegisterAlerts() override {}
  ErrorLevel HandleEvent() override {
    log_.push_back("component HandleEvent");
    return event_level;
  }
  void Update() override {}
  void UpdateWindow() override {}

  bool reset_required = true;
  ErrorLevel event_level = LevelNone;

 private:
  std::vector<std::string>& log_;
};

class TestProcedure : public WindowManager {
 public:
  explicit TestProcedure(std::vector<std::string>& log) : log_(log), component_(log) {}

  ErrorLevel Init() override {
    if (const ErrorLevel level = WindowManager::Init(); level != LevelNone) return level;
    AddItem(component_);
    OpenWindow(TestWindow(), nullptr);
    for (const auto& event : events) MYWINDOW->Post(event);
    return init_level;
  }
  ErrorLevel OnAccepted() override {
    log_.push_back("OnAccepted " + std::to_string(MYWINDOW->Accepted()));
    const ErrorLevel level = WindowManager::OnAccepted();
    return level != LevelNone ? level : accepted_level;
  }
  ErrorLevel OnControlEvent() override {
    log_.push_back("OnControlEvent");
    return LevelNone;
  }
  ErrorLevel OnCompleted() override {
    log_.push_back("OnCompleted");
    return LevelNone;
  }
  void Open() override {
    log_.push_back("Open");
    WindowManager::Open();
  }

  std::vector<Event> events;
  ErrorLevel init_level = LevelNone;
  ErrorLevel accepted_level = LevelNone;
  RecordingComponent& component() { return component_; }

 private:
  std::vector<std::string>& log_;
  RecordingComponent component_;
};

class WindowManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallPresenter(&presenter_); }
  void TearDown() override { InstallPresenter(nullptr); }

  // Runs the procedure with `events` queued after the window-opened event
  // and a close event after them; returns what Run returned.
  std::uint8_t RunWith(std::vector<Event> events) {
    events.push_back({kEventCloseWindow, 0, 0});
    procedure_.events = std::move(events);
    return procedure_.Run();
  }

  // The log from the first entry that starts with `from`.
  std::vector<std::string> LogFrom(const std::string& from) const {
    for (size_t i = 0; i < log_.size(); ++i) {
      if (log_[i].rfind(from, 0) == 0) return {log_.begin() + i, log_.end()};
    }
    return {};
  }

  HeadlessPresenter presenter_;
  std::vector<std::string> log_;
  TestProcedure procedure_{log_};
};

TEST_F(WindowManagerTest, AcceptedEventGoesThroughHandlersInFixedOrder) {
  RunWith({{kEventAccepted, kOkButton, 0}});
  const std::vector<std::string> expected = {
      "OnAccepted 1",          "OnControlEvent",        "component HandleEvent",
      "component ResetRequired", "component Reset 0",   "component HandleEvent",
  };
  auto log = LogFrom("OnAccepted");
  log.resize(expected.size());
  EXPECT_EQ(log, expected);
}

TEST_F(WindowManagerTest, HandledLevelSkipsTheRemainingHandlers) {
  procedure_.accepted_level = LevelNotify;
  RunWith({{kEventAccepted, kOkButton, 0}});
  const auto log = LogFrom("OnAccepted");
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[1], "component HandleEvent") << "the next entry belongs to the close event";
  EXPECT_EQ(std::count(log.begin(), log.end(), "OnControlEvent"), 0);
}

TEST_F(WindowManagerTest, ComponentLevelFatalLeavesTheLoop) {
  procedure_.component().event_level = LevelFatal;
  procedure_.events = {{kEventAccepted, kOkButton, 0}};
  EXPECT_EQ(procedure_.Run(), ResponseCancelled);
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "OnAccepted 1"), 0)
      << "the loop ended on the window-opened event";
  EXPECT_FALSE(procedure_.MYWINDOW->IsOpen());
}

TEST_F(WindowManagerTest, ButtonsEntryClosesBeforeOkControlIsExamined) {
  struct Procedure : TestProcedure {
    using TestProcedure::TestProcedure;
    ErrorLevel Init() override {
      const ErrorLevel level = TestProcedure::Init();
      BUTTONS->push_back({kOkButton, ResponseCompleted});
      OKCONTROL = kOkButton;
      return level;
    }
  } procedure(log_);
  procedure.events = {{kEventAccepted, kOkButton, 0}};
  EXPECT_EQ(procedure.Run(), ResponseCompleted);
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "OnCompleted"), 0);
}

TEST_F(WindowManagerTest, OkControlCompletesThroughEvent549) {
  struct Procedure : TestProcedure {
    using TestProcedure::TestProcedure;
    ErrorLevel Init() override {
      const ErrorLevel level = TestProcedure::Init();
      OKCONTROL = kOkButton;
      return level;
    }
    ErrorLevel OnCompleted() override {
      TestProcedure::OnCompleted();
      CloseWithResponse(ResponseCompleted);
      return LevelNone;
    }
  } procedure(log_);
  procedure.events = {{kEventAccepted, kOkButton, 0}};
  EXPECT_EQ(procedure.Run(), ResponseCompleted);
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "OnCompleted"), 1);
}

TEST_F(WindowManagerTest, RunWithoutResponseReturnsCancelled) {
  EXPECT_EQ(RunWith({}), ResponseCancelled);
  EXPECT_EQ(procedure_.DEAD, 1);
}

TEST_F(WindowManagerTest, FailedInitSkipsTheLoopButStillTearsDown) {
  procedure_.init_level = LevelFatal;
  procedure_.events = {{kEventAccepted, kOkButton, 0}};
  EXPECT_EQ(procedure_.Run(), ResponseCancelled);
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "OnAccepted 1"), 0);
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "component Teardown"), 1);
  EXPECT_FALSE(procedure_.MYWINDOW->IsOpen()) << "an abandoned procedure leaves no window behind";
}

TEST_F(WindowManagerTest, AutoRefreshOffNeverPollsComponents) {
  struct Procedure : TestProcedure {
    using TestProcedure::TestProcedure;
    ErrorLevel Init() override {
      const ErrorLevel level = TestProcedure::Init();
      AUTOREFRESH = 0;
      return level;
    }
  } procedure(log_);
  procedure.events = {{kEventAccepted, kOkButton, 0}, {kEventCloseWindow, 0, 0}};
  procedure.Run();
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "component ResetRequired"), 0);
}

TEST_F(WindowManagerTest, QuietEventsAreNotFollowedByAPoll) {
  struct Case {
    Event event;
    bool immediate;
    bool polled;
  };
  const Case cases[] = {
      {{kEventLoseFocus, 0, 0}, false, false},
      {{3, kList, 0}, false, true},  // scrolling one row is quiet only on an immediate control
      {{3, kList, 0}, true, false},
      {{kEventAccepted, kOkButton, 0}, false, true},
  };
  for (const auto& test : cases) {
    std::vector<std::string> log;
    struct Procedure : TestProcedure {
      using TestProcedure::TestProcedure;
      bool immediate = false;
      ErrorLevel Init() override {
        const ErrorLevel level = TestProcedure::Init();
        if (immediate) MYWINDOW->SetProperty(kPropImmediate, "1", kList);
        return level;
      }
    } procedure(log);
    procedure.immediate = test.immediate;
    // The window-opened event is polled too; count only what the tested event adds.
    procedure.events = {test.event};
    procedure.component().event_level = LevelNone;
    procedure.Init();
    procedure.MYWINDOW->NextEvent();
    procedure.HandleEvent();
    procedure.MYWINDOW->EndEvent(0);
    log.clear();
    procedure.MYWINDOW->NextEvent();
    procedure.HandleEvent();
    const bool polled = std::count(log.begin(), log.end(), "component ResetRequired") > 0;
    EXPECT_EQ(polled, test.polled) << "event " << test.event.event << " immediate " << test.immediate;
    procedure.Teardown();
  }
}

TEST_F(WindowManagerTest, FirstSizedEventOnlyMarksTheWindow) {
  procedure_.component().reset_required = false;
  procedure_.Init();
  procedure_.MYWINDOW->Post({kEventSized, 0, 0});
  procedure_.MYWINDOW->Post({kEventSized, 0, 0});
  ASSERT_TRUE(procedure_.MYWINDOW->NextEvent());  // window opened
  procedure_.HandleEvent();
  log_.clear();

  ASSERT_TRUE(procedure_.MYWINDOW->NextEvent());
  procedure_.HandleEvent();
  EXPECT_TRUE(procedure_.INITED & WindowManager::kInitedSized);
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "component Reset 0"), 0);

  ASSERT_TRUE(procedure_.MYWINDOW->NextEvent());
  EXPECT_EQ(procedure_.MYWINDOW->CurrentEvent(), kEventDoResize) << "posted before the rest";
  ASSERT_TRUE(procedure_.MYWINDOW->NextEvent());
  EXPECT_EQ(procedure_.MYWINDOW->CurrentEvent(), kEventSized);
  procedure_.HandleEvent();
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "component Reset 0"), 1);
  procedure_.Teardown();
}

TEST_F(WindowManagerTest, ForcedResetIsRequestedByFocusLossAndConsumedOnce) {
  procedure_.component().reset_required = false;
  procedure_.RESETONGAINFOCUS = 1;
  procedure_.Init();
  procedure_.MYWINDOW->Post({kEventLoseFocus, 0, 0});
  procedure_.MYWINDOW->Post({kEventGainFocus, 0, 0});
  procedure_.MYWINDOW->Post({kEventGainFocus, 0, 0});
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(procedure_.MYWINDOW->NextEvent());
    procedure_.HandleEvent();
  }
  const auto log = LogFrom("component Reset 1");
  ASSERT_FALSE(log.empty()) << "the first reset after the focus loss is forced";
  EXPECT_EQ(std::count(log.begin(), log.end(), "component Reset 0"), 1) << "and only that one";
  procedure_.Teardown();
}

TEST_F(WindowManagerTest, WithoutResetOnGainFocusFocusLossForcesNothing) {
  procedure_.component().reset_required = false;
  procedure_.Init();
  procedure_.MYWINDOW->Post({kEventLoseFocus, 0, 0});
  procedure_.MYWINDOW->Post({kEventGainFocus, 0, 0});
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(procedure_.MYWINDOW->NextEvent());
    procedure_.HandleEvent();
  }
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "component Reset 1"), 0);
  procedure_.Teardown();
}

TEST_F(WindowManagerTest, SecondTeardownReturnsNotifyAndDoesNothing) {
  RunWith({});
  EXPECT_EQ(procedure_.Teardown(), LevelNotify);
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "component Teardown"), 1);
  procedure_.Ask();  // after Teardown the loop does nothing, and does not block
}

TEST_F(WindowManagerTest, OpenRunsOnceOnTheFirstWindowOpenedEvent) {
  procedure_.FIRSTFIELD = kCancelButton;
  RunWith({{kEventOpenWindow, 0, 0}, {kEventGainFocus, 0, 0}});
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "Open"), 1);
  EXPECT_EQ(procedure_.MYWINDOW->Focus(), kCancelButton);
}

TEST_F(WindowManagerTest, NotificationOfGainFocusReactivatesTheWindow) {
  procedure_.Init();
  procedure_.MYWINDOW->SetProperty(kPropIconize, "1");
  procedure_.MYWINDOW->PostNotification({kEventGainFocus, 0, 7});
  ASSERT_TRUE(procedure_.MYWINDOW->NextEvent());  // window opened
  procedure_.HandleEvent();
  ASSERT_TRUE(procedure_.MYWINDOW->NextEvent());
  ASSERT_EQ(procedure_.MYWINDOW->CurrentEvent(), kEventNotify);
  procedure_.HandleEvent();
  EXPECT_EQ(procedure_.MYWINDOW->Property(kPropIconize), "");
  EXPECT_EQ(procedure_.MYWINDOW->Property(kPropActive), "1");
  ASSERT_TRUE(procedure_.MYWINDOW->NextEvent());
  EXPECT_EQ(procedure_.MYWINDOW->CurrentEvent(), kEventGainFocus);
  procedure_.Teardown();
}

}  // namespace
}  // namespace qm
