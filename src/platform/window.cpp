#include "platform/window.h"

#include <algorithm>
#include <charconv>

#include "platform/pictures.h"
#include "platform/threads.h"

namespace qm::platform {
namespace {

struct WindowRegistry {
  std::mutex mutex;
  std::vector<std::shared_ptr<Window>> open;  // Protected by mutex; in opening order
};

WindowRegistry& Registry() {
  static auto* registry = new WindowRegistry;  // outlives every thread
  return *registry;
}

thread_local int current_key_code = 0;

}  // namespace

int TypeCodeOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kPrompt: return kTypePrompt;
    case ControlKind::kString: return kTypeString;
    case ControlKind::kEntry: return kTypeEntry;
    case ControlKind::kButton: return kTypeButton;
    case ControlKind::kList: return kTypeList;
    case ControlKind::kImage: return kTypeImage;
    case ControlKind::kMenu: return kTypeMenu;
    case ControlKind::kMenuItem:
    case ControlKind::kSeparator: return kTypeMenuItem;
    case ControlKind::kToolButton: return kTypeToolButton;
  }
  return 0;
}

Window::Window(const WindowDef& definition, int thread, Window* owner)
    : definition_(definition), thread_(thread), owner_(owner) {
  auto& window = controls_[0];
  window.text = definition_.caption;
  window.properties[kPropXPos] = std::to_string(definition_.x);
  window.properties[kPropYPos] = std::to_string(definition_.y);
  window.properties[kPropWidth] = std::to_string(definition_.width);
  window.properties[kPropHeight] = std::to_string(definition_.height);
  if (definition_.resizable) window.properties[kPropResize] = "1";
  window.properties[kPropThread] = std::to_string(thread_);
  for (const auto& control : definition_.controls) {
    auto& state = controls_[control.number];
    state.text = control.text;
    state.enabled = !control.disabled;
    state.visible = !control.hidden;
    state.properties[kPropType] = std::to_string(TypeCodeOf(control.kind));
  }
}

bool Window::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

bool Window::HasControl(int control) const { return control == 0 || FindControl(control) != nullptr; }

const ControlDef* Window::FindControl(int control) const {
  for (const auto& candidate : definition_.controls) {
    if (candidate.number == control) return &candidate;
  }
  return nullptr;
}

Window::ControlState& Window::StateOf(int control) { return controls_[control]; }

const Window::ControlState* Window::StateOf(int control) const {
  auto found = controls_.find(control);
  return found == controls_.end() ? nullptr : &found->second;
}

void Window::Changed(int control) { CurrentPresenter().ControlChanged(*this, control); }

std::string Window::ControlText(int control) const {
  std::lock_guard lock(mutex_);
  const auto* state = StateOf(control);
  return state ? state->text : std::string();
}

void Window::SetControlText(int control, const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    StateOf(control).text = text;
  }
  Changed(control);
}

bool Window::ControlEnabled(int control) const {
  std::lock_guard lock(mutex_);
  const auto* state = StateOf(control);
  return state && state->enabled;
}

void Window::SetControlEnabled(int control, bool enabled) {
  {
    std::lock_guard lock(mutex_);
    StateOf(control).enabled = enabled;
  }
  Changed(control);
}

bool Window::ControlVisible(int control) const {
  std::lock_guard lock(mutex_);
  const auto* state = StateOf(control);
  return state && state->visible;
}

void Window::SetControlVisible(int control, bool visible) {
  {
    std::lock_guard lock(mutex_);
    StateOf(control).visible = visible;
  }
  Changed(control);
}

std::string Window::ControlShows(int control) const {
  const std::string text = ControlText(control);
  const auto* definition = FindControl(control);
  if (definition && definition->kind == ControlKind::kString && !definition->picture.empty()) {
    return FormatPicture(definition->picture, text);
  }
  return text;
}

std::vector<std::vector<std::string>> Window::ListRows(int control) const {
  std::lock_guard lock(mutex_);
  const auto* state = StateOf(control);
  return state ? state->rows : std::vector<std::vector<std::string>>{};
}

void Window::SetListRows(int control, std::vector<std::vector<std::string>> rows) {
  {
    std::lock_guard lock(mutex_);
    auto& state = StateOf(control);
    state.rows = std::move(rows);
    state.selected_row = std::min<int>(state.selected_row, static_cast<int>(state.rows.size()));
  }
  Changed(control);
}

int Window::SelectedRow(int control) const {
  std::lock_guard lock(mutex_);
  const auto* state = StateOf(control);
  return state ? state->selected_row : 0;
}

void Window::SetSelectedRow(int control, int row) {
  {
    std::lock_guard lock(mutex_);
    StateOf(control).selected_row = row;
  }
  Changed(control);
}

std::string Window::Property(int property, int control) const {
  std::lock_guard lock(mutex_);
  const auto* state = StateOf(control);
  if (!state) return {};
  // Caption, disabled state and icon are the control's own state, read
  // through properties too.
  if (property == kPropText) return state->text;
  if (property == kPropDisable) return state->enabled ? std::string() : std::string("1");
  if (property == kPropIcon && state->properties.find(kPropIcon) == state->properties.end()) {
    const auto* definition = FindControl(control);
    return definition ? definition->icon : std::string();
  }
  auto found = state->properties.find(property);
  return found == state->properties.end() ? std::string() : found->second;
}

int Window::PropertyNumber(int property, int control) const {
  const std::string text = Property(property, control);
  int number = 0;
  std::from_chars(text.data(), text.data() + text.size(), number);
  return number;
}

void Window::SetProperty(int property, const std::string& value, int control) {
  if (property == kPropText) return SetControlText(control, value);
  if (property == kPropDisable) return SetControlEnabled(control, value.empty() || value == "0");
  {
    std::lock_guard lock(mutex_);
    auto& properties = StateOf(control).properties;
    if (value.empty()) {
      properties.erase(property);
    } else {
      properties[property] = value;
    }
  }
  Changed(control);
}

void Window::SetProperty(int property, long value, int control) {
  // A flag set to 0 reads back as empty, as the runtime's flags do; a
  // position or size of 0 is a real value.
  const bool measure = property == kPropXPos || property == kPropYPos ||
                       property == kPropWidth || property == kPropHeight;
  SetProperty(property, value == 0 && !measure ? std::string() : std::to_string(value), control);
}

void Window::SetAlertKey(int control, int index, int key_code) {
  std::lock_guard lock(mutex_);
  StateOf(control).alert_keys[index] = key_code;
}

std::vector<int> Window::AlertKeys(int control) const {
  std::lock_guard lock(mutex_);
  std::vector<int> keys;
  if (const auto* state = StateOf(control)) {
    for (const auto& [index, key] : state->alert_keys) keys.push_back(key);
  }
  return keys;
}

void Window::Post(const Event& event, bool to_front) {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    if (to_front) {
      queue_.push_front(event);
    } else {
      queue_.push_back(event);
    }
  }
  event_arrived_.notify_all();
}

void Window::PostNotification(const Notification& notification) {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    notifications_.push_back(notification);
  }
  Post({kEventNotify, 0, 0});
}

bool Window::NextEvent() {
  std::unique_lock lock(mutex_);
  waiting_ = true;
  event_arrived_.wait(lock, [this] { return !queue_.empty() || !open_; });
  waiting_ = false;
  if (!open_) return false;
  current_ = queue_.front();
  queue_.pop_front();
  if (current_.event == kEventAccepted) accepted_ = current_.control;
  if (current_.key_code != 0) current_key_code = current_.key_code;
  return true;
}

bool Window::EndEvent(int flag) {
  const bool closes = flag == -1 || (flag == 0 && (current_.event == kEventCloseWindow ||
                                                   current_.event == kEventCloseDown));
  if (closes) Close();
  return !IsOpen();
}

int Window::Accepted() const {
  std::lock_guard lock(mutex_);
  return accepted_;
}

int Window::Focus() const {
  std::lock_guard lock(mutex_);
  return focus_;
}

std::optional<Notification> Window::TakeNotification() {
  std::lock_guard lock(mutex_);
  if (notifications_.empty()) return std::nullopt;
  Notification notification = notifications_.front();
  notifications_.pop_front();
  return notification;
}

void Window::Select(int control) {
  if (control == 0) {
    // Nothing on our windows needs validating before completion.
    Post({kEventCompleted, 0, 0});
    return;
  }
  {
    std::lock_guard lock(mutex_);
    focus_ = control;
  }
  CurrentPresenter().FocusMoved(*this, control);
}

void Window::Display(int control) { Changed(control); }

void Window::Close() {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    open_ = false;
    queue_.clear();
  }
  event_arrived_.notify_all();
  std::shared_ptr<Window> keep_alive;
  {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    auto found = std::find_if(registry.open.begin(), registry.open.end(),
                              [this](const auto& window) { return window.get() == this; });
    if (found != registry.open.end()) {
      keep_alive = *found;
      registry.open.erase(found);
    }
  }
  CurrentPresenter().WindowClosed(*this);
}

bool Window::WaitingForEvent() const {
  std::lock_guard lock(mutex_);
  return waiting_ && queue_.empty();
}

std::shared_ptr<Window> OpenWindow(const WindowDef& definition, Window* owner) {
  auto window = std::make_shared<Window>(definition, CurrentThread(), owner);
  {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    registry.open.push_back(window);
  }
  window->Post({kEventOpenWindow, 0, 0});
  CurrentPresenter().WindowOpened(*window);
  return window;
}

std::vector<std::shared_ptr<Window>> OpenWindows() {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  return registry.open;
}

std::shared_ptr<Window> ActiveWindowOf(int thread) {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  for (auto window = registry.open.rbegin(); window != registry.open.rend(); ++window) {
    if ((*window)->Thread() == thread) return *window;
  }
  return nullptr;
}

bool PostToThread(int thread, const Event& event, bool to_front) {
  auto window = ActiveWindowOf(thread == 0 ? CurrentThread() : thread);
  if (!window) return false;
  window->Post(event, to_front);
  return true;
}

bool NotifyThread(int thread, int event, int control) {
  auto window = ActiveWindowOf(thread);
  if (!window) return false;
  window->PostNotification({event, control, CurrentThread()});
  return true;
}

int KeyCode() { return current_key_code; }
void SetKeyCode(int key_code) { current_key_code = key_code; }

void Beep(int frequency, int duration) { CurrentPresenter().Beep(frequency, duration); }
void SetCursor(Window* window, Cursor cursor) { CurrentPresenter().SetCursor(window, cursor); }

}  // namespace qm::platform
