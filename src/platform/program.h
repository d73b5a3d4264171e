// Runs a program: picks the presenter, runs the program entry on logical
// thread 1 beside it, and returns the exit code.
//
// With QM_UI_SCRIPT set the script presenter drives the program; otherwise
// the desktop presenter given by the caller shows real windows, or the
// headless presenter answers every question with its default.
#pragma once

#include <functional>

#include "platform/presenter.h"

namespace qm::platform {

// A presenter that owns the process's main thread: it runs `program` (which
// must be started on another thread) and returns when the program has ended.
class DesktopPresenter : public Presenter {
 public:
  virtual int RunEventLoop(const std::function<int()>& program) = 0;
};

// `entry` returns the program's exit code. `desktop` may be null.
int RunProgram(const std::function<int()>& entry, DesktopPresenter* desktop = nullptr);

}  // namespace qm::platform
