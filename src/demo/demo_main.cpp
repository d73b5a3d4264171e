// QmDemo: the framework's procedure frame at work until the utilities
// exist. The main window starts a greeting window on a new logical thread;
// the greeting asks its question through the error manager's table.
#include "framework/errors/error_manager.h"
#include "framework/settings/ini_manager.h"
#include "framework/windows/application.h"
#include "framework/windows/procedure_window.h"
#include "platform/threads.h"

namespace qm::demo {
namespace {

using platform::ControlKind;

constexpr std::uint16_t kGreetQuestion = 1000;

class Greeting : public ProcedureWindow {
 public:
  static constexpr int kText = 1;
  static constexpr int kAsk = 2;
  static constexpr int kClose = 3;

  Greeting()
      : ProcedureWindow("Greeting", {.id = "QmDemo$Greeting",
                                     .caption = "Greeting",
                                     .controls = {{kText, ControlKind::kString, "", "@s40"},
                                                  {kAsk, ControlKind::kButton, "&Ask"},
                                                  {kClose, ControlKind::kButton, "Close"}}}) {}

 protected:
  ErrorLevel SetupWindow() override {
    BUTTONS->push_back({kClose, ResponseCompleted});
    MYWINDOW->SetControlText(kText, "Not asked yet");
    return LevelNone;
  }

  ErrorLevel OnAccepted() override {
    if (const ErrorLevel level = ProcedureWindow::OnAccepted(); level != LevelNone) return level;
    if (MYWINDOW->Accepted() == kAsk) {
      const bool yes = ERRORS->RaiseWithText(kGreetQuestion, "the farm office") == LevelNone;
      MYWINDOW->SetControlText(kText, yes ? "Hello, farm office!" : "Maybe later.");
    }
    return LevelNone;
  }
};

class DemoMain : public ProcedureWindow {
 public:
  static constexpr int kGreet = 1;
  static constexpr int kClose = 2;

  DemoMain()
      : ProcedureWindow("Main", {.id = "QmDemo$Main",
                                 .caption = "Quillmoor Demo",
                                 .controls = {{kGreet, ControlKind::kButton, "&Greet"},
                                              {kClose, ControlKind::kButton, "&Close"}}}) {}

 protected:
  ErrorLevel SetupWindow() override {
    BUTTONS->push_back({kClose, ResponseCompleted});
    return LevelNone;
  }

  ErrorLevel OnAccepted() override {
    if (const ErrorLevel level = ProcedureWindow::OnAccepted(); level != LevelNone) return level;
    if (MYWINDOW->Accepted() == kGreet) {
      platform::StartThread([] { LastResponse() = Greeting().Run(); });
    }
    return LevelNone;
  }
};

int ProgramEntry() {
  GlobalErrorManager().Start(GlobalErrorStatus());
  GlobalErrorManager().AddError(kGreetQuestion, "Do you want to say hello to %Message?", "Greeting",
                                LevelQuestion, "");
  GlobalIniManager().Setup("./QmDemo.INI", 0, 0);
  LastResponse() = DemoMain().Run();
  GlobalIniManager().Finish();
  return 0;
}

}  // namespace
}  // namespace qm::demo

int main() { return qm::RunApplication(qm::demo::ProgramEntry); }
