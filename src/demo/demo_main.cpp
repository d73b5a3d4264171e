// QmDemo: the framework's procedure frame at work until the utilities
// exist. The main frame starts a greeting window on a new logical thread;
// the greeting asks its question through the error manager's table. Its
// menu and toolbar open a backup and a restore window laid out like the
// utility's, with sample data and no archives written.
//
// With QM_DEMO_OPEN_ALL set, the frame opens both of those at once, so a
// screenshot can show them side by side.
#include <cstdlib>

#include "framework/errors/error_manager.h"
#include "framework/settings/ini_manager.h"
#include "framework/windows/application.h"
#include "framework/windows/procedure_window.h"
#include "framework/windows/window_settings.h"
#include "platform/file_system.h"
#include "platform/pictures.h"
#include "platform/presenter.h"
#include "platform/qt/qt_presenter.h"
#include "platform/threads.h"

namespace qm::demo {
namespace {

using platform::ControlKind;

constexpr std::uint16_t kGreetQuestion = 1000;

// A procedure window that applies the user's font preference.
class DemoWindow : public ProcedureWindow {
 public:
  using ProcedureWindow::ProcedureWindow;

  ErrorLevel Teardown() override {
    const ErrorLevel level = ProcedureWindow::Teardown();
    settings_.Teardown();
    return level;
  }

 protected:
  void SetupFonts() override {
    settings_.Init(*MYWINDOW);
    settings_.SetupFonts(GlobalIniManager());
  }
  void ApplySizeRatio() override { settings_.ApplyRatio(); }

  // Shows one of the demo's own notes, with OK only.
  static void Note(const std::string& title, const std::string& text) {
    platform::CurrentPresenter().ShowMessage({text, title, "", platform::kButtonOk, platform::kButtonOk});
  }

  WindowSettings settings_;
};

class Greeting : public DemoWindow {
 public:
  static constexpr int kText = 1;
  static constexpr int kAsk = 2;
  static constexpr int kClose = 3;

  Greeting()
      : DemoWindow("Greeting", {.id = "QmDemo$Greeting",
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
    if (const ErrorLevel level = DemoWindow::OnAccepted(); level != LevelNone) return level;
    if (MYWINDOW->Accepted() == kAsk) {
      const bool yes = ERRORS->RaiseWithText(kGreetQuestion, "the farm office") == LevelNone;
      MYWINDOW->SetControlText(kText, yes ? "Hello, farm office!" : "Maybe later.");
    }
    return LevelNone;
  }
};

class BackupDemo : public DemoWindow {
 public:
  static constexpr int kData = 2;
  static constexpr int kDrive = 4;
  static constexpr int kTarget = 5;
  static constexpr int kBackup = 6;
  static constexpr int kCancel = 7;

  BackupDemo()
      : DemoWindow("MakeBackups", {.id = "QmDemo$Backup",
                                   .caption = "Make a Backup",
                                   .icon = "Backup.ico",
                                   .x = 24,
                                   .y = 230,
                                   .controls = {{1, ControlKind::kPrompt, "Backup Data .:"},
                                                {kData, ControlKind::kString, "", "@s128"},
                                                {3, ControlKind::kPrompt, "Backup To ? .:"},
                                                {kDrive, ControlKind::kButton, "Drive"},
                                                {kTarget, ControlKind::kString, "", "@s50"},
                                                {kBackup, ControlKind::kButton, "&Backup", "", "Backup.ico"},
                                                {kCancel, ControlKind::kButton, "Cancel", "", "Cancel.ico"}}}) {}

 protected:
  ErrorLevel SetupWindow() override {
    BUTTONS->push_back({kCancel, ResponseCancelled});
    MYWINDOW->SetControlText(kData, platform::CurrentDirectory().value_or(""));
    MYWINDOW->SetControlText(kTarget, "/media/usb/");
    return LevelNone;
  }

  ErrorLevel OnAccepted() override {
    const int accepted = MYWINDOW->Accepted();
    if (accepted == kDrive) {
      const std::string start = MYWINDOW->ControlText(kTarget);
      if (auto chosen = platform::CurrentPresenter().ChooseDirectory("Backup To", start)) {
        MYWINDOW->SetControlText(kTarget, *chosen);
      }
    } else if (accepted == kBackup) {
      Note("Backup", "This demonstration writes no archive.|TdxBack makes the real backup.");
    }
    return DemoWindow::OnAccepted();
  }
};

class RestoreDemo : public DemoWindow {
 public:
  static constexpr int kList = 1;
  static constexpr int kDrive = 2;
  static constexpr int kSource = 3;
  static constexpr int kRestore = 5;
  static constexpr int kCancel = 6;

  RestoreDemo()
      : DemoWindow("RestoreBackups",
                   {.id = "QmDemo$Restore",
                    .caption = "Restore a Backup",
                    .icon = "Restore.ico",
                    .resizable = true,
                    .x = 560,
                    .y = 24,
                    .width = 470,
                    .height = 330,
                    .controls = {{kList, ControlKind::kList, "",
                                  "[18R(2)|M~#~@n3@62L(2)|M~Backup File~@s13@48R(2)|M~Date~@d17b@32R(2)|M~Time~@T1b@"
                                  "56R(1)|M~Size~R(2)@n-14b@]|M~Select which file to restore from please~"},
                                 {kDrive, ControlKind::kButton, "Drive"},
                                 {kSource, ControlKind::kString, "", "@s50"},
                                 {4, ControlKind::kPrompt, "Restore From ? .:"},
                                 {kRestore, ControlKind::kButton, "&Restore", "", "Restore.ico"},
                                 {kCancel, ControlKind::kButton, "Cancel", "", "Cancel.ico"}}}) {}

 protected:
  ErrorLevel SetupWindow() override {
    BUTTONS->push_back({kCancel, ResponseCancelled});
    struct Sample {
      long number;
      const char* name;
      long days_ago;
      long time;
      long size;
    };
    const long today = platform::Today();
    const Sample samples[] = {
        {1, "TDX01.ZIP", 0, platform::TimeOfDay(10, 30, 0), 2431877},
        {2, "TDX02.ZIP", 1, platform::TimeOfDay(17, 5, 0), 2398210},
        {3, "TDX03.ZIP", 7, platform::TimeOfDay(9, 12, 0), 2290114},
        {4, "Ext drive", -1, 0, 0},
    };
    std::vector<std::vector<std::string>> rows;
    for (const Sample& sample : samples) {
      const std::string date = sample.days_ago < 0 ? "0" : std::to_string(today - sample.days_ago);
      rows.push_back({platform::FormatPicture("@n3", std::to_string(sample.number)), sample.name,
                      platform::FormatPicture("@d17b", date),
                      platform::FormatPicture("@T1b", std::to_string(sample.time)),
                      platform::FormatPicture("@n-14b", std::to_string(sample.size))});
    }
    MYWINDOW->SetListRows(kList, std::move(rows));
    MYWINDOW->SetSelectedRow(kList, 1);
    MYWINDOW->SetControlText(kSource, "/media/usb/");
    return LevelNone;
  }

  ErrorLevel OnAccepted() override {
    const int accepted = MYWINDOW->Accepted();
    if (accepted == kDrive) {
      if (auto chosen = platform::CurrentPresenter().ChooseDirectory("Restore From", MYWINDOW->ControlText(kSource))) {
        MYWINDOW->SetControlText(kSource, *chosen);
      }
    } else if (accepted == kRestore) {
      const auto rows = MYWINDOW->ListRows(kList);
      const int row = MYWINDOW->SelectedRow(kList);
      const std::string name = row >= 1 && row <= int(rows.size()) ? rows[std::size_t(row - 1)][1] : "nothing";
      Note("Restore", "This demonstration restores nothing.|You chose " + name + ".");
    }
    return DemoWindow::OnAccepted();
  }
};

class DemoMain : public DemoWindow {
 public:
  static constexpr int kGreet = 1;
  static constexpr int kClose = 2;
  static constexpr int kMenuBackup = -2;
  static constexpr int kMenuRestore = -3;
  static constexpr int kMenuExit = -5;
  static constexpr int kToolBackup = -9;
  static constexpr int kToolRestore = -10;

  DemoMain()
      : DemoWindow("Main", {.id = "QmDemo$Main",
                            .caption = "Quillmoor Demo",
                            .icon = "Backup.ico",
                            .is_frame = true,
                            .x = 24,
                            .y = 24,
                            .controls = {{kGreet, ControlKind::kButton, "&Greet"},
                                         {kClose, ControlKind::kButton, "&Close"},
                                         {-1, ControlKind::kMenu, "&File"},
                                         {kMenuBackup, ControlKind::kMenuItem, "&Backup /Rugsteun", "", "",
                                          "Open the backup window", -1},
                                         {kMenuRestore, ControlKind::kMenuItem, "&Restore /Herstel", "", "",
                                          "Open the restore window", -1},
                                         {-4, ControlKind::kSeparator, "", "", "", "", -1},
                                         {kMenuExit, ControlKind::kMenuItem, "E&xit", "", "",
                                          "Exit this application", -1},
                                         {kToolBackup, ControlKind::kToolButton, "&Backup", "", "Backup.ico",
                                          "Open the backup window"},
                                         {kToolRestore, ControlKind::kToolButton, "&Restore", "", "Restore.ico",
                                          "Open the restore window"}}}) {}

 protected:
  ErrorLevel SetupWindow() override {
    BUTTONS->push_back({kClose, ResponseCompleted});
    BUTTONS->push_back({kMenuExit, ResponseCompleted});
    if (std::getenv("QM_DEMO_OPEN_ALL")) {
      StartBackup();
      StartRestore();
    }
    return LevelNone;
  }

  ErrorLevel OnAccepted() override {
    if (const ErrorLevel level = DemoWindow::OnAccepted(); level != LevelNone) return level;
    switch (MYWINDOW->Accepted()) {
      case kGreet: platform::StartThread([] { LastResponse() = Greeting().Run(); }); break;
      case kMenuBackup:
      case kToolBackup: StartBackup(); break;
      case kMenuRestore:
      case kToolRestore: StartRestore(); break;
      default: break;
    }
    return LevelNone;
  }

 private:
  static void StartBackup() {
    platform::StartThread([] { LastResponse() = BackupDemo().Run(); });
  }
  static void StartRestore() {
    platform::StartThread([] { LastResponse() = RestoreDemo().Run(); });
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

int main() {
  qm::platform::QtPresenter desktop;
  return qm::RunApplication(qm::demo::ProgramEntry, &desktop);
}
