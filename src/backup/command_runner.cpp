#include "backup/command_runner.h"

#include "framework/windows/procedure_window.h"
#include "framework/windows/window_settings.h"
#include "framework/settings/ini_manager.h"
#include "framework/windows/application.h"
#include "platform/process.h"

namespace qm::backup {
namespace {

using platform::ControlKind;

class BusyWindow : public ProcedureWindow {
 public:
  explicit BusyWindow(std::string command_line)
      : ProcedureWindow("fcBackupRestore", {.id = "TdxBack$TdxBack005",
                                            .caption = "Backup / Restore",
                                            .icon = "Backup.ico",
                                            .controls = {{1, ControlKind::kPrompt,
                                                          "System busy ...... please wait"}}}),
        command_line_(std::move(command_line)) {}

  ErrorLevel Teardown() override {
    const ErrorLevel level = ProcedureWindow::Teardown();
    settings_.Teardown();
    return level;
  }

  std::int16_t Result() const { return result_; }

 protected:
  void SetupFonts() override {
    settings_.Init(*MYWINDOW);
    settings_.SetupFonts(GlobalIniManager());
  }
  void ApplySizeRatio() override { settings_.ApplyRatio(); }

  ErrorLevel SetupWindow() override {
    platform::SetCursor(MYWINDOW.get(), platform::Cursor::kWait);
    return LevelNone;
  }

  ErrorLevel OnWindowEvent() override {
    const ErrorLevel level = ProcedureWindow::OnWindowEvent();
    if (MYWINDOW->CurrentEvent() == platform::kEventOpenWindow) {
      result_ = static_cast<std::int16_t>(platform::RunAndWait(command_line_));
      MYWINDOW->Post({platform::kEventCloseWindow});
    }
    return level;
  }

 private:
  const std::string command_line_;
  std::int16_t result_ = 0;
  WindowSettings settings_;
};

}  // namespace

std::int16_t fcBackupRestore(const std::string& command_line) {
  BusyWindow window(command_line);
  window.Run();
  return window.Result();
}

std::string QuoteIfBlank(const std::string& word) {
  if (word.find(' ') == std::string::npos && word.find('\t') == std::string::npos) return word;
  return "\"" + word + "\"";
}

}  // namespace qm::backup
