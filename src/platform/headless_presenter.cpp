#include "platform/headless_presenter.h"

#include <algorithm>

namespace qm::platform {

void HeadlessPresenter::WindowOpened(Window&) { changed_.notify_all(); }

void HeadlessPresenter::WindowClosed(Window& window) {
  {
    std::lock_guard lock(mutex_);
    std::erase_if(focus_, [&](const auto& entry) { return entry.first == &window; });
    std::erase_if(cursors_, [&](const auto& entry) { return entry.first == &window; });
  }
  changed_.notify_all();
}

void HeadlessPresenter::ControlChanged(Window&, int) {}

void HeadlessPresenter::FocusMoved(Window& window, int control) {
  std::lock_guard lock(mutex_);
  std::erase_if(focus_, [&](const auto& entry) { return entry.first == &window; });
  focus_.emplace_back(&window, control);
}

unsigned HeadlessPresenter::ShowMessage(const MessageBoxRequest& request) {
  std::lock_guard lock(mutex_);
  ShownMessage shown{request, request.default_button, true};
  if (!queued_answers_.empty()) {
    shown.answer = queued_answers_.front();
    shown.by_default = false;
    queued_answers_.pop_front();
  }
  messages_.push_back(shown);
  return shown.answer;
}

std::optional<std::string> HeadlessPresenter::ChooseDirectory(const std::string& title,
                                                              const std::string& initial_directory) {
  std::lock_guard lock(mutex_);
  ShownDialog shown{title, initial_directory, std::nullopt, true};
  if (!queued_dialogs_.empty()) {
    shown.answer = queued_dialogs_.front();
    shown.by_default = false;
    queued_dialogs_.pop_front();
  }
  dialogs_.push_back(shown);
  return shown.answer;
}

int HeadlessPresenter::PopupMenu(Window&, const std::string&) {
  std::lock_guard lock(mutex_);
  if (queued_popup_choices_.empty()) return 0;
  const int choice = queued_popup_choices_.front();
  queued_popup_choices_.pop_front();
  return choice;
}

void HeadlessPresenter::SetCursor(Window* window, Cursor cursor) {
  std::lock_guard lock(mutex_);
  std::erase_if(cursors_, [&](const auto& entry) { return entry.first == window; });
  cursors_.emplace_back(window, cursor);
}

void HeadlessPresenter::Beep(int, int) {
  std::lock_guard lock(mutex_);
  ++beeps_;
}

void HeadlessPresenter::ProgramRan(const std::string& command_line, int exit_code) {
  std::lock_guard lock(mutex_);
  programs_.push_back(command_line + " -> " + std::to_string(exit_code));
}

std::shared_ptr<Window> HeadlessPresenter::FindWindow(const std::string& caption) const {
  const auto windows = OpenWindows();
  for (auto window = windows.rbegin(); window != windows.rend(); ++window) {
    if ((*window)->Caption() == caption) return *window;
  }
  return nullptr;
}

std::shared_ptr<Window> HeadlessPresenter::WaitForWindow(const std::string& caption,
                                                         std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (auto window = FindWindow(caption)) return window;
    if (std::chrono::steady_clock::now() >= deadline) return nullptr;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(20));
  }
}

bool HeadlessPresenter::Press(Window& window, int control) {
  const auto* definition = window.FindControl(control);
  if (!definition || !window.IsOpen()) return false;
  switch (definition->kind) {
    case ControlKind::kButton:
    case ControlKind::kMenuItem:
    case ControlKind::kToolButton: break;
    default: return false;
  }
  if (!window.ControlEnabled(control) || !window.ControlVisible(control)) return false;
  window.Post({kEventAccepted, control, 0});
  return true;
}

bool HeadlessPresenter::Press(Window& window, const std::string& control_text) {
  const int control = ControlByText(window, control_text);
  return control != 0 && Press(window, control);
}

bool HeadlessPresenter::SelectRow(Window& window, int control, int row) {
  const auto* definition = window.FindControl(control);
  if (!definition || definition->kind != ControlKind::kList || !window.IsOpen()) return false;
  if (row < 1 || row > static_cast<int>(window.ListRows(control).size())) return false;
  window.SetSelectedRow(control, row);
  window.Post({kEventNewSelection, control, 0});
  return true;
}

void HeadlessPresenter::CloseBox(Window& window) { window.Post({kEventCloseWindow, 0, 0}); }

void HeadlessPresenter::QueueAnswer(unsigned button) {
  std::lock_guard lock(mutex_);
  queued_answers_.push_back(button);
}

void HeadlessPresenter::QueueDialogAnswer(std::optional<std::string> directory) {
  std::lock_guard lock(mutex_);
  queued_dialogs_.push_back(std::move(directory));
}

void HeadlessPresenter::QueuePopupChoice(int item) {
  std::lock_guard lock(mutex_);
  queued_popup_choices_.push_back(item);
}

std::vector<ShownMessage> HeadlessPresenter::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<ShownDialog> HeadlessPresenter::Dialogs() const {
  std::lock_guard lock(mutex_);
  return dialogs_;
}

std::vector<std::string> HeadlessPresenter::ProgramsRun() const {
  std::lock_guard lock(mutex_);
  return programs_;
}

int HeadlessPresenter::BeepCount() const {
  std::lock_guard lock(mutex_);
  return beeps_;
}

int HeadlessPresenter::FocusOf(const Window& window) const {
  std::lock_guard lock(mutex_);
  for (const auto& [focused, control] : focus_) {
    if (focused == &window) return control;
  }
  return 0;
}

Cursor HeadlessPresenter::CursorOf(const Window& window) const {
  std::lock_guard lock(mutex_);
  for (const auto& [target, cursor] : cursors_) {
    if (target == &window) return cursor;
  }
  return Cursor::kNormal;
}

int HeadlessPresenter::ControlByText(const Window& window, const std::string& text) {
  for (const auto& control : window.Definition().controls) {
    if (control.text == text) return control.number;
  }
  return 0;
}

}  // namespace qm::platform
