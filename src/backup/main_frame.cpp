#include "backup/main_frame.h"

#include "backup/make_backups.h"
#include "backup/restore_backups.h"
#include "backup/settings.h"
#include "framework/errors/error_manager.h"
#include "framework/settings/ini_manager.h"
#include "framework/windows/styled_window.h"
#include "platform/threads.h"

namespace qm::backup {
namespace {

using platform::ControlKind;

constexpr int kMenuBackup = -2;
constexpr int kMenuRestore = -3;
constexpr int kMenuExit = -5;
constexpr int kToolBackup = -9;
constexpr int kToolRestore = -10;

class Frame : public StyledWindow {
 public:
  Frame()
      : StyledWindow(
            "Main",
            {.id = "TdxBack$TdxBack001",
             .caption = "Quillmoor Backup / Restore",
             .icon = "Backup.ico",
             .is_frame = true,
             .controls = {
                 {-1, ControlKind::kMenu, "&File"},
                 {kMenuBackup, ControlKind::kMenuItem, "&Backup /Rugsteun", "", "", "", -1},
                 {kMenuRestore, ControlKind::kMenuItem, "&Restore /Herstel", "", "", "", -1},
                 {-11, ControlKind::kSeparator, "", "", "", "", -1},
                 {-4, ControlKind::kMenuItem, "P&rint Setup...", "", "", "Setup Printer", -1},
                 {-12, ControlKind::kSeparator, "", "", "", "", -1},
                 {kMenuExit, ControlKind::kMenuItem, "E&xit", "", "", "Exit this application", -1},
                 {-13, ControlKind::kMenu, "&Help", "", "", "Windows Help"},
                 {-6, ControlKind::kMenuItem, "&Contents", "", "", "View the contents of the help file", -13},
                 {-7, ControlKind::kMenuItem, "&Search for Help On...", "", "", "Search for help on a subject", -13},
                 {-8, ControlKind::kMenuItem, "&How to Use Help", "", "", "How to use Windows Help", -13},
                 {kToolBackup, ControlKind::kToolButton, "&Backup", "", "Backup.ico"},
                 {kToolRestore, ControlKind::kToolButton, "&Restore", "", "Restore.ico"},
             }}) {}

  ErrorLevel Init() override {
    ReadSharedSettings();
    return StyledWindow::Init();
  }

 protected:
  ErrorLevel SetupWindow() override {
    BUTTONS->push_back({kMenuExit, ResponseCompleted});
    MYWINDOW->SetProperty(30976, 0L);
    RecoverUnfinishedBackup();
    return LevelNone;
  }

  ErrorLevel OnAccepted() override {
    const int accepted = MYWINDOW->Accepted();
    if (accepted == kMenuBackup) platform::StartThread(MakeBackups);
    if (accepted == kMenuRestore) platform::StartThread(RestoreBackups);
    const ErrorLevel level = StyledWindow::OnAccepted();
    if (accepted == kToolBackup) platform::StartThread(MakeBackups);
    if (accepted == kToolRestore) platform::StartThread(RestoreBackups);
    return level;
  }

 private:
};

}  // namespace

void Main() { LastResponse() = Frame().Run(); }

}  // namespace qm::backup
