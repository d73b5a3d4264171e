// TdxBack, the backup / restore utility: the program entry.
#include <cstdlib>

#include "backup/main_frame.h"
#include "backup/register_file.h"
#include "backup/settings.h"
#include "framework/errors/error_manager.h"
#include "framework/settings/ini_manager.h"
#include "framework/text/text_matcher.h"
#include "framework/windows/application.h"
#include "platform/qt/qt_presenter.h"
#include "platform/window.h"

namespace {

int ProgramEntry() {
  using namespace qm::backup;
  qm::GlobalErrorManager().Start(qm::GlobalErrorStatus());
  qm::GlobalTextMatcher().Init();
  qm::GlobalTextMatcher().SetOption(1, true);
  qm::GlobalTextMatcher().SetOption(2, false);
  qm::GlobalIniManager().Setup("./TdxBack.INI", 0, 0);
  InstallRegisterThreadHooks();
  BuildRegisterManagers();
  Main();
  // With the frame gone the program ends: every other window is asked to
  // close, and does once it has finished what it is doing, a running
  // archiver included.
  for (const auto& window : qm::platform::OpenWindows()) window->Post({qm::platform::kEventCloseDown});
  qm::platform::JoinThreads();
  TearDownRegisterManagers();
  qm::GlobalIniManager().FinishHook();
  qm::GlobalIniManager().Finish();
  qm::GlobalTextMatcher().Kill();
  return 0;
}

}  // namespace

int main() {
  // The busy window shows how far QmZip has got from its progress lines;
  // set before any thread starts, and inherited by every QmZip it runs.
  ::setenv("QMZIP_PROGRESS", "1", 1);
  qm::platform::QtPresenter desktop;
  return qm::RunApplication(ProgramEntry, &desktop);
}
