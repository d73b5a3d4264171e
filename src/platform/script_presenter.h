// The script presenter: the headless presenter driven by a text script of
// user actions, writing a transcript of what the user would have seen.
//
// The program runs on its logical threads while RunSteps runs the script
// on the calling thread. A message box or dialog is answered by the
// script's `answer` or `dialog` step when one is waiting for it, and with its
// default otherwise. A step that cannot be done writes an `error` line and
// ends the program with exit code 125.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/headless_presenter.h"

namespace qm::platform {

inline constexpr int kScriptErrorExitCode = 125;

class ScriptPresenter : public HeadlessPresenter {
 public:
  // `transcript` receives one line per event; the presenter does not close it.
  ScriptPresenter(std::vector<std::string> script_lines, std::FILE* transcript,
                  std::chrono::milliseconds timeout);
  ~ScriptPresenter() override;

  // Made from QM_UI_SCRIPT, QM_UI_TRANSCRIPT and QM_UI_TIMEOUT; null when
  // QM_UI_SCRIPT is not set. A script or transcript that cannot be opened
  // ends the program with exit code 125.
  static std::unique_ptr<ScriptPresenter> FromEnvironment();

  // Runs every step, then closes the windows still open, the last opened
  // first. Returns 0, or ends the program with 125 on a failed step.
  int RunSteps();

  void WindowOpened(Window& window) override;
  void WindowClosed(Window& window) override;
  void FocusMoved(Window& window, int control) override;
  unsigned ShowMessage(const MessageBoxRequest& request) override;
  std::optional<std::string> ChooseDirectory(const std::string& title,
                                             const std::string& initial_directory) override;
  void ProgramRan(const std::string& command_line, int exit_code) override;

  // A text in double quotes with `\"` and `\\` escaped, as the script and
  // transcript write it.
  static std::string Quote(const std::string& text);

 private:
  struct Step;
  void RunStep(const std::string& line);
  [[noreturn]] void Fail(const std::string& line, const std::string& reason);
  std::shared_ptr<Window> AwaitWindow(const std::string& line, const std::string& caption);
  int AwaitControl(const std::string& line, Window& window, const std::string& control);
  void AwaitIdle(Window& window);
  // Checks `done` every `interval` until it holds; after the step time-out
  // the step fails with `reason`.
  void PollUntil(const std::string& line, const std::function<bool()>& done,
                 const std::string& reason, std::chrono::milliseconds interval);
  void Write(const std::string& line);
  void SetRunnerWaiting(bool waiting);

  const std::vector<std::string> script_lines_;
  std::FILE* const transcript_;
  const std::chrono::milliseconds timeout_;
  std::mutex transcript_mutex_;

  // Whether the runner is inside a waiting step (or finished): a question
  // asked while it is busy between steps waits to see whether the next step
  // answers it. Protected by mutex_.
  bool runner_waiting_ = false;
  std::optional<unsigned> waiting_answer_;                   // Protected by mutex_
  std::optional<std::optional<std::string>> waiting_dialog_;  // Protected by mutex_
};

}  // namespace qm::platform
