// The headless presenter: no window is drawn. Tests drive it in-process:
// they press controls, select rows, close windows, queue the answers to the
// next message boxes and dialogs, and read what each control shows.
//
// A message box or dialog with no queued answer is answered with its
// default button (a dialog: cancelled). Every question asked is recorded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/presenter.h"
#include "platform/window.h"

namespace qm::platform {

struct ShownMessage {
  MessageBoxRequest request;
  unsigned answer = 0;
  bool by_default = false;
};

struct ShownDialog {
  std::string title;
  std::string initial_directory;
  std::optional<std::string> answer;
  bool by_default = false;
};

class HeadlessPresenter : public Presenter {
 public:
  HeadlessPresenter() = default;

  // Presenter
  void WindowOpened(Window& window) override;
  void WindowClosed(Window& window) override;
  void ControlChanged(Window& window, int control) override;
  void FocusMoved(Window& window, int control) override;
  unsigned ShowMessage(const MessageBoxRequest& request) override;
  std::optional<std::string> ChooseDirectory(const std::string& title,
                                             const std::string& initial_directory) override;
  int PopupMenu(Window& window, const std::string& menu_text) override;
  void SetCursor(Window* window, Cursor cursor) override;
  void Beep(int frequency, int duration) override;
  void ProgramRan(const std::string& command_line, int exit_code) override;

  // The open window with this caption that was opened last; null when none.
  std::shared_ptr<Window> FindWindow(const std::string& caption) const;
  // Waits up to `timeout` for such a window.
  std::shared_ptr<Window> WaitForWindow(const std::string& caption,
                                        std::chrono::milliseconds timeout) const;

  // User actions. Each returns false when the window or control does not
  // exist or the control is disabled, hidden or of the wrong kind.
  bool Press(Window& window, int control);          // button, menu item, tool button
  bool Press(Window& window, const std::string& control_text);
  bool SelectRow(Window& window, int control, int row);
  void CloseBox(Window& window);                   // as with the close box

  // Answers for the next message boxes and dialogs, in order.
  void QueueAnswer(unsigned button);
  void QueueDialogAnswer(std::optional<std::string> directory);
  void QueuePopupChoice(int item);

  // What was shown so far.
  std::vector<ShownMessage> Messages() const;
  std::vector<ShownDialog> Dialogs() const;
  std::vector<std::string> ProgramsRun() const;   // "command -> code"
  int BeepCount() const;
  int FocusOf(const Window& window) const;        // the control the program focused last
  Cursor CursorOf(const Window& window) const;

  // The control's number for a text exactly as declared ("&Backup"); 0 if none.
  static int ControlByText(const Window& window, const std::string& text);

 protected:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<unsigned> queued_answers_;                       // Protected by mutex_
  std::deque<std::optional<std::string>> queued_dialogs_;     // Protected by mutex_
  std::deque<int> queued_popup_choices_;                      // Protected by mutex_
  std::vector<ShownMessage> messages_;                        // Protected by mutex_
  std::vector<ShownDialog> dialogs_;                          // Protected by mutex_
  std::vector<std::string> programs_;                         // Protected by mutex_
  std::vector<std::pair<const Window*, int>> focus_;          // Protected by mutex_
  std::vector<std::pair<const Window*, Cursor>> cursors_;     // Protected by mutex_
  int beeps_ = 0;                                             // Protected by mutex_
};

}  // namespace qm::platform
