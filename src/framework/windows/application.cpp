#include "framework/windows/application.h"

#include "framework/errors/error_manager.h"
#include "framework/settings/ini_manager.h"

namespace qm {

ErrorManager& GlobalErrorManager() {
  static auto* manager = new ErrorManager;
  return *manager;
}

IniManager& GlobalIniManager() {
  static auto* manager = new IniManager;
  return *manager;
}

platform::PerThread<ErrorStatus>& GlobalErrorStatus() {
  static auto* status = new platform::PerThread<ErrorStatus>;
  return *status;
}

int RunApplication(const std::function<int()>& program_entry, platform::DesktopPresenter* desktop) {
  // Made before any thread starts, so that no two threads race to make them.
  GlobalErrorManager();
  GlobalIniManager();
  GlobalErrorStatus();
  const int exit_code = platform::RunProgram(program_entry, desktop);
  GlobalIniManager().Shutdown();
  GlobalErrorManager().Shutdown();
  return exit_code;
}

}  // namespace qm
