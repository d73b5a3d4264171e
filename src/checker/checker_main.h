// TdxConv's program: its entry (the global managers, the registration with
// the upgrade library, the per-thread files) and its one procedure Main,
// which checks every data file, runs the sign conversion when the data are
// older than this checker, and then shows the report in its frame.
#pragma once

#include <memory>
#include <string>

#include "checker/check_report.h"
#include "checker/checker_start.h"
#include "framework/windows/procedure_window.h"
#include "framework/windows/toolbar_manager.h"
#include "platform/window.h"

namespace qm::checker {

class CheckerFiles;

// The frame's controls.
inline constexpr int kReportList = 1;
inline constexpr int kSummary = 2;
inline constexpr int kClose = 3;

// The progress window's controls.
inline constexpr int kProgressFile = 2;
inline constexpr int kProgressStep = 3;
inline constexpr int kProgressCount = 4;

class CheckerMain : public ProcedureWindow {
 public:
  CheckerMain(CheckerFiles& files, CheckReport& report);

  ErrorLevel Init() override;

  const CheckerSettings& Settings() const { return settings_; }
  bool Converted() const { return converted_; }
  const SignConversionResult& Conversion() const { return conversion_; }

 protected:
  ToolbarManager* WindowToolbar() override { return &toolbar_; }
  ErrorLevel OpenFiles() override;
  void CloseFiles() override;
  // The sign conversion, once the files are open and before the frame.
  void InitComponents() override;
  ErrorLevel SetupWindow() override;

 private:
  void OpenProgress();
  void CloseProgress();

  CheckerFiles& files_;
  CheckReport& report_;
  ToolbarManager toolbar_;
  CheckerSettings settings_;
  bool converted_ = false;
  SignConversionResult conversion_;
  std::shared_ptr<platform::Window> progress_;
};

// The program entry: runs the check on the calling logical thread and
// answers the exit code.
int ProgramEntry();

}  // namespace qm::checker
