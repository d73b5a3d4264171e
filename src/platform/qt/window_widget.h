// One runtime window on the desktop: a Qt main window built from the
// window's declaration, showing its control state and turning what the user
// does into events on the window's queue. GUI thread only.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <map>
#include <memory>

#include "platform/qt/list_format.h"
#include "platform/window.h"

class QAction;
class QMenu;
class QTimer;
class QTreeWidget;

namespace qm::platform {

// Font properties of a window (control 0) or a control: name, size in
// points, colour 0x00BBGGRR, style (weight plus the flags below), charset.
inline constexpr int kPropFontName = 31760;
inline constexpr int kPropFontSize = 31761;
inline constexpr int kPropFontColor = 31762;
inline constexpr int kPropFontStyle = 31763;
inline constexpr int kPropFontCharset = 31764;
inline constexpr int kFontStyleItalic = 0x1000;
inline constexpr int kFontStyleUnderline = 0x2000;
inline constexpr int kFontStyleStrikeOut = 0x4000;

// The icon a declaration names: "Backup.ico" is the product's own SVG icon
// compiled in as ":/icons/backup.svg", the message-box designators are the
// style's icons, and any other name is taken as a file. Null when none.
QIcon IconFor(const std::string& name);

class WindowWidget : public QMainWindow {
 public:
  // `owner` is the widget of the owning window, or null.
  WindowWidget(std::shared_ptr<Window> window, QWidget* owner);
  ~WindowWidget() override;

  Window& RuntimeWindow() const { return *window_; }

  // Shows the control's current state; 0 is the window itself.
  void Sync(int control);
  // Shows the window once its thread waits for events (its set-up is done,
  // so it appears where the program placed it), or after a short while.
  void ShowWhenReady();
  bool HasBeenShown() const { return shown_; }
  // The program closed the window: it goes away without another event.
  void CloseByProgram();
  void SetWaitCursor(bool wait);
  void FocusControl(int control);

  QWidget* Control(int control) const;
  QAction* Action(int control) const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  // Lists: the rows they show, right clicks, the menu key.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolbar();
  void BuildBody();
  QWidget* MakeControl(const ControlDef& control);
  QTreeWidget* MakeList(const ControlDef& control);
  void SyncWindow();
  void SyncControl(const ControlDef& control);
  void SyncList(QTreeWidget& list, const ControlDef& control);
  void SyncFont(QWidget& widget, int control);
  // Writes how many rows the list shows whole, when that changed.
  void ReportRowsShown(const QTreeWidget& list, int control);
  // Posts an alert key on the list when the program registered it.
  void PostListKey(int control, int key_code);
  void ShowNow();
  void ReportGeometry();

  const std::shared_ptr<Window> window_;
  std::map<int, QWidget*> controls_;
  std::map<int, QAction*> actions_;
  std::map<int, QMenu*> menus_;
  std::map<int, ListFormat> list_formats_;
  QTimer* show_timer_ = nullptr;
  int show_waited_ms_ = 0;
  bool shown_ = false;
  bool closing_by_program_ = false;
  // True while this widget writes a user's change back into the window,
  // or shows the program's change: neither must echo the other.
  bool syncing_ = false;
  // The position and size that the window's properties hold now.
  QPoint known_position_;
  QSize known_size_;
};

}  // namespace qm::platform
