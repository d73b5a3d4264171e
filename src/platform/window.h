// The runtime's windows: declared once as data, opened by a logical thread,
// driven by one event queue.
//
// A window belongs to the logical thread that opened it; only that thread
// runs its event loop. The presenter and other threads reach it through the
// thread-safe operations below (post an event, read or set control state).
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/events.h"
#include "platform/presenter.h"

namespace qm::platform {

enum class ControlKind {
  kPrompt,      // static text
  kString,      // display-only text shown through its picture
  kEntry,
  kButton,
  kList,        // rows of cells; the picture holds the list format
  kImage,
  kMenu,        // a menu of the frame's menu bar; items name it as parent
  kMenuItem,
  kSeparator,   // a line between menu items
  kToolButton,  // a button of the frame's toolbar
};

// Type code of a kind, as property kPropType answers it.
int TypeCodeOf(ControlKind kind);

struct ControlDef {
  int number = 0;           // from 1 in declaration order; menus and toolbar negative
  ControlKind kind = ControlKind::kPrompt;
  std::string text;         // caption, with "&" before the accelerator
  std::string picture;      // display picture or list format
  std::string icon;
  std::string help;         // status-bar text of a menu item or tool button
  int parent = 0;           // the menu a menu item or submenu belongs to
  bool disabled = false;
  bool hidden = false;
  bool is_default = false;  // the button pressed by Enter
};

struct WindowDef {
  std::string id;       // e.g. "TdxBack$TdxBack002"
  std::string caption;
  std::string icon;
  bool is_frame = false;   // an application frame with menu bar and toolbar
  bool resizable = false;
  bool modal = false;
  int x = 0, y = 0, width = 0, height = 0;
  std::vector<ControlDef> controls;
};

struct Event {
  int event = 0;
  int control = 0;    // 0: the event concerns the window
  int key_code = 0;
};

struct Notification {
  int event = 0;
  int control = 0;
  int thread = 0;   // the sending thread
};

class Window {
 public:
  Window(const WindowDef& definition, int thread, Window* owner);
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  const WindowDef& Definition() const { return definition_; }
  const std::string& Caption() const { return definition_.caption; }
  int Thread() const { return thread_; }
  Window* Owner() const { return owner_; }
  bool IsOpen() const;
  bool HasControl(int control) const;
  const ControlDef* FindControl(int control) const;

  // Control state. Setters tell the presenter; all are thread-safe.
  std::string ControlText(int control) const;
  void SetControlText(int control, const std::string& text);
  bool ControlEnabled(int control) const;
  void SetControlEnabled(int control, bool enabled);
  bool ControlVisible(int control) const;
  void SetControlVisible(int control, bool visible);
  // What the control shows: its text, through its picture for a kString.
  std::string ControlShows(int control) const;

  // Rows of a list control, each a vector of cells already formatted.
  std::vector<std::vector<std::string>> ListRows(int control) const;
  void SetListRows(int control, std::vector<std::vector<std::string>> rows);
  int SelectedRow(int control) const;   // from 1; 0 when none
  void SetSelectedRow(int control, int row);

  // Numbered properties of the window (control 0) or a control; unset
  // properties read as empty text.
  std::string Property(int property, int control = 0) const;
  int PropertyNumber(int property, int control = 0) const;
  void SetProperty(int property, const std::string& value, int control = 0);
  void SetProperty(int property, long value, int control = 0);
  // Alert keys of a control: property kPropAlertKey with an index.
  void SetAlertKey(int control, int index, int key_code);
  std::vector<int> AlertKeys(int control) const;

  // Queues an event, from any thread. `to_front` puts it before the others.
  void Post(const Event& event, bool to_front = false);
  // Queues event 522 with a notification for the window's thread.
  void PostNotification(const Notification& notification);

  // Event loop, owner thread only. NextEvent waits for the next event and
  // makes it current; it returns false when the window has closed.
  // EndEvent finishes the current event: -1 leaves the loop, 1 skips the
  // default processing, 0 lets it run (a close event closes the window).
  // It returns true when the loop has ended.
  bool NextEvent();
  bool EndEvent(int flag);
  int CurrentEvent() const { return current_.event; }
  int CurrentField() const { return current_.control; }
  int Accepted() const;
  int Focus() const;
  std::optional<Notification> TakeNotification();

  // Gives focus to a control; with control 0 the whole window is selected,
  // which validates every control and then delivers event 549.
  void Select(int control = 0);
  void Display(int control = 0);

  // Closes the window now (the loop's end, or a window that never ran one).
  void Close();

  // True while the owner thread waits in NextEvent with the queue empty:
  // presenters use it to tell an idle window from a busy one.
  bool WaitingForEvent() const;

 private:
  struct ControlState {
    std::string text;
    bool enabled = true;
    bool visible = true;
    std::vector<std::vector<std::string>> rows;
    int selected_row = 0;
    std::map<int, std::string> properties;
    std::map<int, int> alert_keys;
  };
  ControlState& StateOf(int control);  // mutex_ held
  const ControlState* StateOf(int control) const;
  void Changed(int control);           // mutex_ not held

  const WindowDef definition_;
  const int thread_;
  Window* const owner_;

  mutable std::mutex mutex_;
  std::condition_variable event_arrived_;
  std::deque<Event> queue_;                  // Protected by mutex_
  std::deque<Notification> notifications_;   // Protected by mutex_
  std::map<int, ControlState> controls_;     // Protected by mutex_; 0 is the window
  bool open_ = true;                         // Protected by mutex_
  bool waiting_ = false;                     // Protected by mutex_
  int accepted_ = 0;                         // Protected by mutex_
  int focus_ = 0;                            // Protected by mutex_
  Event current_;                            // owner thread only
};

// Opens a window for the calling logical thread, alone or owned by another
// window, tells the presenter, and queues event 515 (window opened).
std::shared_ptr<Window> OpenWindow(const WindowDef& definition, Window* owner = nullptr);

// The windows open now, in the order they were opened.
std::vector<std::shared_ptr<Window>> OpenWindows();

// The window most recently opened by a thread that is still open.
std::shared_ptr<Window> ActiveWindowOf(int thread);

// Posts an event to the active window of `thread` (the calling thread when 0).
// Returns false when that thread has no open window.
bool PostToThread(int thread, const Event& event, bool to_front = false);

// Sends a notification: event 522 on the active window of `thread`.
bool NotifyThread(int thread, int event, int control = 0);

// The calling thread's last key code, as events carry it.
int KeyCode();
void SetKeyCode(int key_code);

void Beep(int frequency, int duration);
void SetCursor(Window* window, Cursor cursor);

}  // namespace qm::platform
