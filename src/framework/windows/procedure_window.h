// The standard frame of a procedure window: the fixed order in which every
// procedure of both programs starts and ends. A procedure derives from it,
// fills in the steps it needs and inherits the order:
//
//   Init: push the procedure name; take the pending request; base Init;
//   first field, navigation request, error manager; the toolbar; open the
//   files; bind components; open the window; fonts; set up controls and
//   buttons; restore the window's placement; late components; alerts.
//
//   Teardown: base Teardown; close the files; store the window's placement;
//   apply the size ratio; pop the procedure name.
#pragma once

#include <string>

#include "framework/windows/window_manager.h"

namespace qm {

class ProcedureWindow : public WindowManager {
 public:
  ProcedureWindow(std::string procedure_name, platform::WindowDef window);

  ErrorLevel Init() override;
  ErrorLevel Teardown() override;

  const std::string& ProcedureName() const { return procedure_name_; }
  const platform::WindowDef& WindowDefinition() const { return window_; }

 protected:
  // The toolbar of the window, when it has one.
  virtual ToolbarManager* WindowToolbar() { return nullptr; }
  // Opens the procedure's files; anything but 0 abandons the procedure.
  virtual ErrorLevel OpenFiles() { return LevelNone; }
  virtual void CloseFiles() {}
  // Components bound to the window's controls, before the window opens.
  virtual void InitComponents() {}
  // The user's font preference, once the window is open.
  virtual void SetupFonts() {}
  // Controls, queues, BUTTONS, OKCONTROL and components; anything but 0
  // abandons the procedure.
  virtual ErrorLevel SetupWindow() { return LevelNone; }
  // Components added after the placement was restored.
  virtual void AddLateComponents() {}
  // The window settings' size ratio, after the placement was stored.
  virtual void ApplySizeRatio() {}

 private:
  const std::string procedure_name_;
  const platform::WindowDef window_;
};

}  // namespace qm
