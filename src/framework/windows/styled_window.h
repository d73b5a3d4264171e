// A procedure window dressed in the user's font preference: the fonts are
// applied once the window is open, and the window keeps its size ratio
// across the font change when it closes.
#pragma once

#include "framework/windows/application.h"
#include "framework/windows/procedure_window.h"
#include "framework/windows/window_settings.h"

namespace qm {

class StyledWindow : public ProcedureWindow {
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

 private:
  WindowSettings settings_;
};

}  // namespace qm
