#include "platform/qt/qt_presenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "platform/qt/window_widget.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace qm::platform {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

// While the display is being opened, Qt's complaints about a missing one
// become one line of ours; its fatal error ends the program with code 2
// instead of an abort.
std::atomic<bool> opening_display{false};
QtMessageHandler previous_handler = nullptr;

void OpeningDisplayHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (!opening_display.load()) {
    if (previous_handler) previous_handler(type, context, message);
    return;
  }
  if (type != QtFatalMsg) return;
  std::fprintf(stderr, "%s: no display to open windows on; set DISPLAY or start it on a desktop\n",
               program_invocation_short_name);
  std::fflush(stderr);
  std::_Exit(kNoDisplayExitCode);
}

QMessageBox::ButtonRole RoleOf(unsigned button) {
  switch (button) {
    case kButtonOk:
    case kButtonYes:
    case kButtonRetry: return QMessageBox::AcceptRole;
    case kButtonNo: return QMessageBox::NoRole;
    case kButtonAbort:
    case kButtonCancel: return QMessageBox::RejectRole;
    case kButtonIgnore: return QMessageBox::ActionRole;
    case kButtonHelp: return QMessageBox::HelpRole;
    default: return QMessageBox::ActionRole;
  }
}

// An answer given once, from the GUI thread, to the logical thread waiting
// for it.
template <class T>
struct Answer {
  std::promise<T> promise;
  bool given = false;  // GUI thread only
  void Give(T value) {
    if (given) return;
    given = true;
    promise.set_value(std::move(value));
  }
};

using Widget = qm::platform::WindowWidget;

}  // namespace

class QtPresenter::Gui {
 public:
  // Makes the context that queued calls run in; GUI thread.
  void Start() {
    std::lock_guard lock(mutex_);
    context_ = new QObject;
    gui_thread_ = QThread::currentThread();
  }

  // Drops every window still shown; GUI thread.
  void Stop() {
    QObject* context = nullptr;
    {
      std::lock_guard lock(mutex_);
      context = context_;
      context_ = nullptr;
    }
    for (auto& [window, widget] : widgets_) delete widget.data();
    widgets_.clear();
    delete context;
  }

  bool OnGuiThread() const { return QThread::currentThread() == gui_thread_.load(); }

  // Runs `work` on the GUI thread after what was queued before; dropped
  // when no event loop runs.
  template <class Work>
  bool Queue(Work work) {
    std::lock_guard lock(mutex_);
    if (!context_) return false;
    return QMetaObject::invokeMethod(context_, std::move(work), Qt::QueuedConnection);
  }

  Widget* WidgetOf(const Window* window) const {
    auto found = widgets_.find(window);
    return found == widgets_.end() ? nullptr : found->second.data();
  }

  void Open(std::shared_ptr<Window> window) {
    QWidget* owner = WidgetOf(window->Owner());
    auto* widget = new Widget(window, owner);
    widgets_[window.get()] = widget;
    widget->ShowWhenReady();
  }

  void Close(const Window* window) {
    auto found = widgets_.find(window);
    if (found == widgets_.end()) return;
    if (Widget* widget = found->second.data()) widget->CloseByProgram();
    widgets_.erase(found);
  }

  void OpenMessageBox(const MessageBoxRequest& request, const Window* asking,
                      std::shared_ptr<Answer<unsigned>> answer) {
    QWidget* parent = WidgetOf(asking);
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::NonModal);
    box->setWindowTitle(Text(request.title));
    box->setText(Text(request.text).replace('|', '\n'));
    if (request.icon == kIconQuestion) {
      box->setIcon(QMessageBox::Question);
    } else if (request.icon == kIconStop) {
      box->setIcon(QMessageBox::Critical);
    }
    const unsigned buttons = request.buttons == 0 ? unsigned{kButtonOk} : request.buttons;
    auto values = std::make_shared<std::map<QAbstractButton*, unsigned>>();
    QPushButton* escape = nullptr;
    unsigned escape_rank = 0;
    for (unsigned bit = kButtonOk; bit <= kButtonHelp; bit <<= 1) {
      if (!(buttons & bit)) continue;
      QPushButton* button = box->addButton(Text(ButtonCaption(bit)), RoleOf(bit));
      button->setObjectName(Text(ButtonName(bit)));
      (*values)[button] = bit;
      if (bit == request.default_button) box->setDefaultButton(button);
      // Escape answers the most cautious button there is.
      const unsigned rank = bit == kButtonCancel ? 4 : bit == kButtonNo ? 3 : bit == kButtonAbort ? 2 : 1;
      if (rank > escape_rank && (bit != kButtonOk || buttons == kButtonOk)) {
        escape = button;
        escape_rank = rank;
      }
    }
    if (escape) box->setEscapeButton(escape);
    const unsigned fallback = request.default_button;
    QObject::connect(box, &QMessageBox::buttonClicked, box, [answer, values](QAbstractButton* button) {
      if (auto found = values->find(button); found != values->end()) answer->Give(found->second);
    });
    QObject::connect(box, &QDialog::finished, box, [answer, fallback] { answer->Give(fallback); });
    box->show();
  }

  void OpenDirectoryDialog(const std::string& title, const std::string& initial, const Window* asking,
                           std::shared_ptr<Answer<std::optional<std::string>>> answer) {
    QWidget* parent = WidgetOf(asking);
    auto* dialog = new QFileDialog(parent, Text(title), Text(initial));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("directory"));
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::NonModal);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [answer](const QString& path) {
      answer->Give(path.toStdString());
    });
    QObject::connect(dialog, &QDialog::finished, dialog, [answer] { answer->Give(std::nullopt); });
    dialog->show();
  }

  void OpenPopup(const std::string& menu_text, const Window* asking, std::shared_ptr<Answer<int>> answer) {
    auto* menu = new QMenu(WidgetOf(asking));
    menu->setObjectName(QStringLiteral("popup"));
    int number = 0;
    for (const QString& item : Text(menu_text).split('|')) {
      if (item == QStringLiteral("-")) {
        menu->addSeparator();
        continue;
      }
      QString text = item;
      const bool disabled = text.startsWith('~');
      if (disabled) text.remove(0, 1);
      QAction* action = menu->addAction(text);
      action->setEnabled(!disabled);
      const int chosen = ++number;
      QObject::connect(action, &QAction::triggered, menu, [answer, chosen] { answer->Give(chosen); });
    }
    // The menu hides before its action triggers; "nothing chosen" and the
    // menu's end wait until the action had its turn.
    QObject::connect(menu, &QMenu::aboutToHide, menu, [menu, answer] {
      QTimer::singleShot(0, menu, [menu, answer] {
        answer->Give(0);
        menu->deleteLater();
      });
    });
    menu->popup(QCursor::pos());
  }

  // The widgets of the windows shown, by window. GUI thread only.
  std::map<const Window*, QPointer<Widget>> widgets_;

 private:
  std::mutex mutex_;
  QObject* context_ = nullptr;  // Protected by mutex_; lives on the GUI thread
  std::atomic<QThread*> gui_thread_{nullptr};
};

QtPresenter::QtPresenter() : gui_(std::make_unique<Gui>()) {}
QtPresenter::~QtPresenter() = default;

int QtPresenter::RunEventLoop(const std::function<int()>& program) {
  std::unique_ptr<QApplication> application;
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static char* argv[] = {program_invocation_short_name, nullptr};
    previous_handler = qInstallMessageHandler(OpeningDisplayHandler);
    opening_display.store(true);
    application = std::make_unique<QApplication>(argc, argv);
    opening_display.store(false);
  }
  QApplication::setQuitOnLastWindowClosed(false);
  gui_->Start();
  QEventLoop loop;
  int exit_code = 0;
  std::thread runner([&] {
    exit_code = program();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  runner.join();
  gui_->Stop();
  return exit_code;
}

void QtPresenter::WindowOpened(Window& window) {
  // The registry holds the window until it closes; the GUI side keeps it
  // alive until the widget is gone.
  std::shared_ptr<Window> shared;
  for (auto& open : OpenWindows()) {
    if (open.get() == &window) shared = open;
  }
  if (!shared) return;
  gui_->Queue([this, shared] { gui_->Open(shared); });
}

void QtPresenter::WindowClosed(Window& window) {
  const Window* closed = &window;
  gui_->Queue([this, closed] { gui_->Close(closed); });
}

void QtPresenter::ControlChanged(Window& window, int control) {
  const Window* changed = &window;
  gui_->Queue([this, changed, control] {
    if (Widget* widget = gui_->WidgetOf(changed)) widget->Sync(control);
  });
}

void QtPresenter::FocusMoved(Window& window, int control) {
  const Window* focused = &window;
  gui_->Queue([this, focused, control] {
    if (Widget* widget = gui_->WidgetOf(focused)) widget->FocusControl(control);
  });
}

unsigned QtPresenter::ShowMessage(const MessageBoxRequest& request) {
  if (gui_->OnGuiThread()) return request.default_button;
  auto answer = std::make_shared<Answer<unsigned>>();
  auto given = answer->promise.get_future();
  auto asking = ActiveWindowOf(CurrentThread());
  if (!gui_->Queue([this, request, asking, answer] { gui_->OpenMessageBox(request, asking.get(), answer); }))
    return request.default_button;
  return given.get();
}

std::optional<std::string> QtPresenter::ChooseDirectory(const std::string& title,
                                                        const std::string& initial_directory) {
  if (gui_->OnGuiThread()) return std::nullopt;
  auto answer = std::make_shared<Answer<std::optional<std::string>>>();
  auto given = answer->promise.get_future();
  auto asking = ActiveWindowOf(CurrentThread());
  if (!gui_->Queue([this, title, initial_directory, asking, answer] {
        gui_->OpenDirectoryDialog(title, initial_directory, asking.get(), answer);
      }))
    return std::nullopt;
  return given.get();
}

int QtPresenter::PopupMenu(Window& window, const std::string& menu_text) {
  if (gui_->OnGuiThread()) return 0;
  auto answer = std::make_shared<Answer<int>>();
  auto given = answer->promise.get_future();
  const Window* asking = &window;
  if (!gui_->Queue([this, menu_text, asking, answer] { gui_->OpenPopup(menu_text, asking, answer); })) return 0;
  return given.get();
}

void QtPresenter::SetCursor(Window* window, Cursor cursor) {
  const Window* target = window;
  const bool wait = cursor == Cursor::kWait;
  gui_->Queue([this, target, wait] {
    if (!target) {
      if (wait) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
      } else if (QApplication::overrideCursor()) {
        QApplication::restoreOverrideCursor();
      }
      return;
    }
    if (Widget* widget = gui_->WidgetOf(target)) widget->SetWaitCursor(wait);
  });
}

void QtPresenter::Beep(int, int) {
  gui_->Queue([] { QApplication::beep(); });
}

void QtPresenter::ProgramRan(const std::string&, int) {}

QWidget* QtPresenter::WindowWidget(const Window& window) const {
  Widget* widget = gui_->WidgetOf(&window);
  return widget && widget->HasBeenShown() ? widget : nullptr;
}

QWidget* QtPresenter::ControlWidget(const Window& window, int control) const {
  Widget* widget = gui_->WidgetOf(&window);
  return widget ? widget->Control(control) : nullptr;
}

QAction* QtPresenter::ControlAction(const Window& window, int control) const {
  Widget* widget = gui_->WidgetOf(&window);
  return widget ? widget->Action(control) : nullptr;
}

}  // namespace qm::platform
