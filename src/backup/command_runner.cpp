#include "backup/command_runner.h"

#include <cstdio>

#include "framework/settings/ini_manager.h"
#include "framework/windows/styled_window.h"
#include "platform/process.h"

namespace qm::backup {
namespace {

using platform::ControlKind;

// How far the archiver has got, from its progress lines
// "QMZIP-PROGRESS <done> <total>"; empty for any other line.
std::string ProgressText(const std::string& line) {
  unsigned long long done = 0, total = 0;
  if (std::sscanf(line.c_str(), "QMZIP-PROGRESS %llu %llu", &done, &total) != 2 || total == 0) return "";
  return std::to_string(done * 100 / total) + " % done";
}

class BusyWindow : public StyledWindow {
 public:
  static constexpr int kProgress = 2;

  explicit BusyWindow(std::string command_line)
      : StyledWindow("fcBackupRestore", {.id = "TdxBack$TdxBack005",
                                         .caption = "Backup / Restore",
                                         .icon = "Backup.ico",
                                         // wide enough for the whole caption beside the title bar's buttons
                                         .width = 300,
                                         .height = 110,
                                         .controls = {{1, ControlKind::kPrompt,
                                                       "System busy ...... please wait"},
                                                      {kProgress, ControlKind::kPrompt, ""}}}),
        command_line_(std::move(command_line)) {}

  std::int16_t Result() const { return result_; }

 protected:
  ErrorLevel SetupWindow() override {
    platform::SetCursor(MYWINDOW.get(), platform::Cursor::kWait);
    return LevelNone;
  }

  ErrorLevel OnWindowEvent() override {
    const ErrorLevel level = StyledWindow::OnWindowEvent();
    if (MYWINDOW->CurrentEvent() == platform::kEventOpenWindow) {
      result_ = static_cast<std::int16_t>(platform::RunAndWait(command_line_, [this](const std::string& line) {
        if (const std::string text = ProgressText(line); !text.empty()) MYWINDOW->SetControlText(kProgress, text);
      }));
      MYWINDOW->Post({platform::kEventCloseWindow});
    }
    return level;
  }

 private:
  const std::string command_line_;
  std::int16_t result_ = 0;
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
