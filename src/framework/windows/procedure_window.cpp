#include "framework/windows/procedure_window.h"

#include "framework/errors/error_manager.h"
#include "framework/settings/ini_manager.h"
#include "framework/windows/application.h"

namespace qm {

ProcedureWindow::ProcedureWindow(std::string procedure_name, platform::WindowDef window)
    : procedure_name_(std::move(procedure_name)), window_(std::move(window)) {}

ErrorLevel ProcedureWindow::Init() {
  GlobalErrorManager().PushProcedureName(procedure_name_);
  REQUEST = PendingRequest();
  if (const ErrorLevel level = WindowManager::Init(); level != LevelNone) return level;
  for (const auto& control : window_.controls) {
    if (control.number > 0) {
      FIRSTFIELD = control.number;
      break;
    }
  }
  VCRREQUEST = &NavigationRequest();
  ERRORS = &GlobalErrorManager();
  PendingRequest() = 0;
  LastResponse() = 0;
  if (ToolbarManager* toolbar = WindowToolbar()) AddItem(*toolbar);
  if (const ErrorLevel level = OpenFiles(); level != LevelNone) return level;
  FILESOPENED = 1;
  InitComponents();
  OpenWindow(window_, nullptr);
  SetupFonts();
  if (const ErrorLevel level = SetupWindow(); level != LevelNone) return level;
  GlobalIniManager().RestoreWindow(procedure_name_, *MYWINDOW);
  AddLateComponents();
  RegisterAlerts();
  return LevelNone;
}

ErrorLevel ProcedureWindow::Teardown() {
  if (const ErrorLevel level = WindowManager::Teardown(); level != LevelNone) return level;
  if (FILESOPENED) CloseFiles();
  if (OPENED) GlobalIniManager().SaveWindow(procedure_name_, *MYWINDOW);
  ApplySizeRatio();
  GlobalErrorManager().PopProcedureName();
  return LevelNone;
}

}  // namespace qm
