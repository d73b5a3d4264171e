// The program's global managers and its start and end, shared by both
// programs.
#pragma once

#include <functional>

#include "framework/errors/error_status.h"
#include "platform/program.h"
#include "platform/threads.h"

namespace qm {

class ErrorManager;
class IniManager;

// The one error manager and INI manager of the process, and the per-thread
// error status the error manager is started with. They live as long as the
// process: threads may still use them while it ends.
ErrorManager& GlobalErrorManager();
IniManager& GlobalIniManager();
platform::PerThread<ErrorStatus>& GlobalErrorStatus();

// Runs a program entry on logical thread 1 under the presenter the
// environment asks for (see platform/program.h); at the end the INI manager
// and then the error manager are shut down. Returns the exit code.
int RunApplication(const std::function<int()>& program_entry,
                   platform::DesktopPresenter* desktop = nullptr);

}  // namespace qm
