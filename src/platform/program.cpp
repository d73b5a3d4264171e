#include "platform/program.h"

#include <thread>

#include "platform/headless_presenter.h"
#include "platform/script_presenter.h"
#include "platform/threads.h"

namespace qm::platform {
namespace {

// The program entry runs on logical thread 1; every thread it starts has
// ended before its exit code is returned.
int RunEntry(const std::function<int()>& entry) {
  BindCurrentThread(1);
  const int exit_code = entry();
  JoinThreads();
  return exit_code;
}

}  // namespace

int RunProgram(const std::function<int()>& entry, DesktopPresenter* desktop) {
  if (auto script = ScriptPresenter::FromEnvironment()) {
    InstallPresenter(script.get());
    int exit_code = 0;
    std::thread program([&] { exit_code = RunEntry(entry); });
    script->RunSteps();
    program.join();
    InstallPresenter(nullptr);
    return exit_code;
  }
  if (desktop) {
    InstallPresenter(desktop);
    const int exit_code = desktop->RunEventLoop([&] { return RunEntry(entry); });
    InstallPresenter(nullptr);
    return exit_code;
  }
  HeadlessPresenter headless;
  InstallPresenter(&headless);
  const int exit_code = RunEntry(entry);
  InstallPresenter(nullptr);
  return exit_code;
}

}  // namespace qm::platform
