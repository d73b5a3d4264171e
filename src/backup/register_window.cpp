#include "backup/register_window.h"

#include <utility>

#include "backup/register_file.h"
#include "platform/file_system.h"
#include "platform/presenter.h"

namespace qm::backup {

std::string ClipTrailingBlanks(std::string value) {
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value;
}

void Tell(const char* caption, const std::string& text) {
  platform::CurrentPresenter().ShowMessage({text, caption, "", platform::kButtonOk, platform::kButtonOk});
}

RegisterWindow::RegisterWindow(const char* procedure, platform::WindowDef definition, const char* caption)
    : StyledWindow(procedure, std::move(definition)), caption_(caption) {}

ErrorLevel RegisterWindow::OpenFiles() {
  if (RegisterRelations()) RegisterRelations()->OpenRelations();
  FILESOPENED = 1;
  return LevelNone;
}

void RegisterWindow::CloseFiles() {
  if (FILESOPENED && RegisterRelations()) RegisterRelations()->CloseRelations();
}


void RegisterWindow::ChooseDrive(std::string& drive, int shown_control) {
  const std::string saved = platform::CurrentDirectory().value_or("");
  auto chosen = platform::CurrentPresenter().ChooseDirectory("", drive);
  if (!saved.empty()) platform::SetCurrentDirectory(saved);
  if (!chosen || chosen->empty()) return;
  drive = *chosen;
  if (drive.back() != platform::kPathSeparator) drive += platform::kPathSeparator;
  MYWINDOW->SetControlText(shown_control, drive);
}

bool RegisterWindow::LockDataDirectory(ArchiveGuard& guard, const std::string& directory,
                                       const std::string& failure) {
  if (guard.TryAcquire(directory)) return true;
  if (guard.RefusedAsBusy()) {
    Say(kBusyMessage);
  } else {
    Say(failure);
    MYWINDOW->Post({platform::kEventCloseWindow});
  }
  return false;
}

}  // namespace qm::backup
