// The desktop presenter: real windows with Qt 6 Widgets.
//
// RunEventLoop owns the process's main thread: it opens the display, runs
// the program on another thread and Qt's event loop here until the program
// has ended. Every widget lives on this GUI thread; the Presenter calls come
// from logical threads and are marshalled to it: updates are queued, and a
// message box, directory dialog or popup menu blocks only the logical thread
// that asked, while every other window stays live. What the user does comes
// back as events posted to the window's queue: a button, menu item or tool
// button {kEventAccepted, control}, the close box {kEventCloseWindow, 0}, a
// new list row {kEventNewSelection, control} after SetSelectedRow. Position,
// size, maximised and minimised state are kept in the window's properties
// both ways, so the INI manager can store and restore them.
//
// With no display to open, RunEventLoop prints one line saying so and ends
// the process with exit code 2.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/program.h"

class QWidget;
class QAction;

namespace qm::platform {

inline constexpr int kNoDisplayExitCode = 2;

class QtPresenter : public DesktopPresenter {
 public:
  QtPresenter();
  ~QtPresenter() override;
  QtPresenter(const QtPresenter&) = delete;
  QtPresenter& operator=(const QtPresenter&) = delete;

  // Uses the QApplication that exists, or makes one for the run. Returns
  // the program's exit code.
  int RunEventLoop(const std::function<int()>& program) override;

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

  // The widgets that show a window, for tests and screenshots. GUI thread
  // only; null when the window is not shown (yet) or has no such control.
  QWidget* WindowWidget(const Window& window) const;
  QWidget* ControlWidget(const Window& window, int control) const;
  // Menu items and tool buttons are actions.
  QAction* ControlAction(const Window& window, int control) const;

 private:
  class Gui;
  std::unique_ptr<Gui> gui_;
};

}  // namespace qm::platform
