#include "platform/qt/qt_presenter.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "framework/windows/browse_manager.h"
#include "framework/windows/window_manager.h"
#include "platform/qt/window_widget.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace qm::platform {
namespace {

using namespace std::chrono_literals;

constexpr int kNoEvent = 9999;

const char* const kRestoreFormat =
    "[18R(2)|M~#~@n3@62L(2)|M~Backup File~@s13@48R(2)|M~Date~@d17b@32R(2)|M~Time~@T1b@"
    "56R(1)|M~Size~R(2)@n-14b@]|M~Select which file to restore from please~";

// Each test body runs as the program: on logical thread 1 beside the GUI
// thread, which runs the presenter's event loop.
class QtPresenterTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QCoreApplication::instance()) {
      static int argc = 1;
      static char name[] = "qt_tests";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);  // lives as long as the process
    }
  }

  void SetUp() override { InstallPresenter(&presenter_); }
  void TearDown() override { InstallPresenter(nullptr); }

  void RunProgram(const std::function<void()>& body) {
    presenter_.RunEventLoop([&] {
      body();
      for (auto& window : OpenWindows()) window->Close();
      return 0;
    });
  }

  // Runs `work` on the GUI thread and waits for it.
  static void OnGui(const std::function<void()>& work) {
    QMetaObject::invokeMethod(qApp, work, Qt::BlockingQueuedConnection);
  }

  // Waits until `ready` (run on the GUI thread) holds; false after 5 s.
  static bool WaitFor(const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
      bool done = false;
      OnGui([&] { done = ready(); });
      if (done) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // Opens a window and waits until it is on the screen.
  std::shared_ptr<Window> OpenShown(const WindowDef& definition) {
    auto window = OpenWindow(definition);
    EXPECT_EQ(TakeEvent(*window).event, kEventOpenWindow);
    EXPECT_TRUE(WaitFor([&] { return presenter_.WindowWidget(*window) && presenter_.WindowWidget(*window)->isVisible(); }));
    return window;
  }

  // The next event queued for the window, or kNoEvent when there is none.
  static Event TakeEvent(Window& window) {
    window.Post({kNoEvent, 0, 0});
    EXPECT_TRUE(window.NextEvent());
    const Event taken{window.CurrentEvent(), window.CurrentField(), 0};
    if (taken.event != kNoEvent) {
      while (window.NextEvent() && window.CurrentEvent() != kNoEvent) {
      }
    }
    return taken;
  }

  template <class T>
  T* ControlOf(const Window& window, int control) {
    return dynamic_cast<T*>(presenter_.ControlWidget(window, control));
  }

  static QMessageBox* OpenMessageBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) return box;
    }
    return nullptr;
  }

  QtPresenter presenter_;
};

WindowDef BackupWindow() {
  return {.id = "Test$Backup",
          .caption = "Make a Backup",
          .icon = "Backup.ico",
          .controls = {{1, ControlKind::kPrompt, "Backup Data .:"},
                       {2, ControlKind::kString, "", "@s20"},
                       {3, ControlKind::kButton, "&Backup", "", "Backup.ico"},
                       {4, ControlKind::kButton, "Cancel", "", "Cancel.ico"}}};
}

WindowDef RestoreWindow() {
  return {.id = "Test$Restore",
          .caption = "Restore a Backup",
          .resizable = true,
          .controls = {{1, ControlKind::kList, "", kRestoreFormat}, {2, ControlKind::kButton, "&Restore"}}};
}

WindowDef FrameWindow() {
  return {.id = "Test$Frame",
          .caption = "Quillmoor Backup / Restore",
          .is_frame = true,
          .controls = {{-1, ControlKind::kMenu, "&File"},
                       {-2, ControlKind::kMenuItem, "&Backup /Rugsteun", "", "", "", -1},
                       {-20, ControlKind::kSeparator, "", "", "", "", -1},
                       {-5, ControlKind::kMenuItem, "E&xit", "", "", "Exit this application", -1},
                       {-9, ControlKind::kToolButton, "&Backup", "", "Backup.ico"},
                       {-10, ControlKind::kToolButton, "&Restore", "", "Restore.ico"}}};
}

TEST_F(QtPresenterTest, WindowComesUpWithItsControlsAndTexts) {
  RunProgram([&] {
    auto window = OpenWindow(BackupWindow());
    window->SetControlText(2, "/srv/farm/data");
    window->SetControlEnabled(4, false);
    ASSERT_TRUE(WaitFor([&] { return presenter_.WindowWidget(*window) && presenter_.WindowWidget(*window)->isVisible(); }));
    OnGui([&] {
      EXPECT_EQ(presenter_.WindowWidget(*window)->windowTitle(), "Make a Backup");
      EXPECT_EQ(ControlOf<QLabel>(*window, 1)->text(), "Backup Data .:");
      EXPECT_EQ(ControlOf<QLabel>(*window, 2)->text(), "/srv/farm/data");
      auto* backup = ControlOf<QPushButton>(*window, 3);
      EXPECT_EQ(backup->text(), "&Backup");
      EXPECT_TRUE(backup->isEnabled());
      EXPECT_FALSE(ControlOf<QPushButton>(*window, 4)->isEnabled());
      if (QImageReader::supportedImageFormats().contains("svg")) {
        EXPECT_FALSE(backup->icon().pixmap(16, 16).isNull());
      }
    });
    // Later changes reach the screen too.
    window->SetControlText(2, "/mnt/usb");
    window->SetControlVisible(3, false);
    EXPECT_TRUE(WaitFor([&] {
      return ControlOf<QLabel>(*window, 2)->text() == "/mnt/usb" && ControlOf<QPushButton>(*window, 3)->isHidden();
    }));
  });
}

TEST_F(QtPresenterTest, ListShowsGroupColumnsAndRows) {
  RunProgram([&] {
    auto window = OpenShown(RestoreWindow());
    window->SetListRows(1, {{"  1", "TDX01.ZIP", "10/12/2026", "10:30", "2,431"}, {"  4", "Ext drive", "", "", ""}});
    window->SetSelectedRow(1, 2);
    ASSERT_TRUE(WaitFor([&] { return ControlOf<QTreeWidget>(*window, 1)->topLevelItemCount() == 2; }));
    OnGui([&] {
      auto* list = ControlOf<QTreeWidget>(*window, 1);
      ASSERT_EQ(list->columnCount(), 5);
      EXPECT_EQ(list->headerItem()->text(1).trimmed(), "Backup File");
      EXPECT_EQ(list->headerItem()->text(4).trimmed(), "Size");
      EXPECT_EQ(list->header()->sectionResizeMode(0), QHeaderView::Interactive);
      EXPECT_GT(list->columnWidth(1), list->columnWidth(0));  // 62 units against 18
      auto* group = presenter_.WindowWidget(*window)->findChild<QLabel*>("group");
      ASSERT_TRUE(group);
      EXPECT_EQ(group->text(), "Select which file to restore from please");
      EXPECT_EQ(list->topLevelItem(0)->text(0), "1");
      EXPECT_TRUE(list->topLevelItem(0)->textAlignment(0) & Qt::AlignRight);
      EXPECT_TRUE(list->topLevelItem(0)->textAlignment(1) & Qt::AlignLeft);
      EXPECT_EQ(list->topLevelItem(1)->text(1), "Ext drive");
      EXPECT_EQ(list->topLevelItem(1)->text(2), "");
      EXPECT_EQ(list->currentItem(), list->topLevelItem(1));
    });
  });
}

TEST_F(QtPresenterTest, FrameHasMenusToolbarAndHelpTexts) {
  RunProgram([&] {
    auto window = OpenShown(FrameWindow());
    OnGui([&] {
      auto* frame = qobject_cast<QMainWindow*>(presenter_.WindowWidget(*window));
      ASSERT_TRUE(frame);
      ASSERT_EQ(frame->menuBar()->actions().size(), 1);
      QAction* file = frame->menuBar()->actions()[0];
      EXPECT_EQ(file->text(), "&File");
      ASSERT_TRUE(file->menu());
      const auto items = file->menu()->actions();
      ASSERT_EQ(items.size(), 3);
      EXPECT_EQ(items[0]->text(), "&Backup /Rugsteun");
      EXPECT_TRUE(items[1]->isSeparator());
      EXPECT_EQ(items[2]->statusTip(), "Exit this application");
      EXPECT_TRUE(frame->statusBar());
      auto* toolbar = frame->findChild<QToolBar*>();
      ASSERT_TRUE(toolbar);
      QWidget* backup = toolbar->widgetForAction(presenter_.ControlAction(*window, -9));
      QWidget* restore = toolbar->widgetForAction(presenter_.ControlAction(*window, -10));
      ASSERT_TRUE(backup && restore);
      EXPECT_EQ(backup->width(), restore->width());
      EXPECT_LT(backup->x(), restore->x());
    });
  });
}

// What the user does becomes one event on the window's queue.
TEST_F(QtPresenterTest, UserInputBecomesEventsOfTheOwningThread) {
  struct InputCase {
    const char* what;
    std::function<void(QtPresenter&, Window&)> act;  // on the GUI thread
    Event expected;
  };
  const InputCase cases[] = {
      {"button", [](QtPresenter& p, Window& w) { QTest::mouseClick(p.ControlWidget(w, 2), Qt::LeftButton); },
       {kEventAccepted, 2}},
      {"menu item", [](QtPresenter& p, Window& w) { p.ControlAction(w, -2)->trigger(); }, {kEventAccepted, -2}},
      {"tool button",
       [](QtPresenter& p, Window& w) {
         auto* toolbar = p.WindowWidget(w)->findChild<QToolBar*>();
         QTest::mouseClick(toolbar->widgetForAction(p.ControlAction(w, -9)), Qt::LeftButton);
       },
       {kEventAccepted, -9}},
      {"close box", [](QtPresenter& p, Window& w) { p.WindowWidget(w)->close(); }, {kEventCloseWindow, 0}},
  };
  WindowDef definition = FrameWindow();
  definition.controls.push_back({2, ControlKind::kButton, "&Go"});
  RunProgram([&] {
    int event_thread = 0;
    std::shared_ptr<Window> window;
    // The window belongs to logical thread 2; its events reach that thread.
    StartThread([&] {
      window = OpenShown(definition);
      for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        OnGui([&] { test.act(presenter_, *window); });
        const Event event = TakeEvent(*window);
        EXPECT_EQ(event.event, test.expected.event);
        EXPECT_EQ(event.control, test.expected.control);
      }
      EXPECT_TRUE(window->IsOpen());  // the close box only asks
      event_thread = CurrentThread();
      window->Close();
    });
    JoinThreads();
    EXPECT_EQ(event_thread, 2);
  });
}

TEST_F(QtPresenterTest, ChoosingARowSelectsItThenPostsNewSelection) {
  RunProgram([&] {
    auto window = OpenShown(RestoreWindow());
    window->SetListRows(1, {{"1", "TDX01.ZIP"}, {"2", "TDX02.ZIP"}, {"3", "TDX03.ZIP"}});
    ASSERT_TRUE(WaitFor([&] { return ControlOf<QTreeWidget>(*window, 1)->topLevelItemCount() == 3; }));
    OnGui([&] {
      auto* list = ControlOf<QTreeWidget>(*window, 1);
      const QRect row = list->visualItemRect(list->topLevelItem(2));
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    });
    const Event event = TakeEvent(*window);
    EXPECT_EQ(event.event, kEventNewSelection);
    EXPECT_EQ(event.control, 1);
    EXPECT_EQ(window->SelectedRow(1), 3);
    // A row the program selects posts nothing.
    window->SetSelectedRow(1, 1);
    ASSERT_TRUE(WaitFor([&] {
      auto* list = ControlOf<QTreeWidget>(*window, 1);
      return list->currentItem() == list->topLevelItem(0);
    }));
    EXPECT_EQ(TakeEvent(*window).event, kNoEvent);
  });
}

TEST_F(QtPresenterTest, ListReportsTheRowsItShowsAndTheRowRightClicked) {
  RunProgram([&] {
    auto window = OpenShown(RestoreWindow());
    std::vector<std::vector<std::string>> rows;
    for (int i = 1; i <= 40; ++i) rows.push_back({std::to_string(i), "TDX" + std::to_string(i) + ".ZIP"});
    window->SetListRows(1, rows);
    ASSERT_TRUE(WaitFor([&] { return ControlOf<QTreeWidget>(*window, 1)->topLevelItemCount() == 40; }));
    int whole_rows = 0;
    OnGui([&] {
      auto* list = ControlOf<QTreeWidget>(*window, 1);
      const int row_height = list->visualItemRect(list->topLevelItem(0)).height();
      list->setFixedHeight(list->height() - list->viewport()->height() + row_height * 7 + row_height / 2);
    });
    ASSERT_TRUE(WaitFor([&] {
      auto* list = ControlOf<QTreeWidget>(*window, 1);
      whole_rows = 0;
      for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QRect row = list->visualItemRect(list->topLevelItem(i));
        if (row.top() >= 0 && row.bottom() < list->viewport()->height()) ++whole_rows;
      }
      return whole_rows == 7 && window->PropertyNumber(kPropListItems, 1) == 7;
    })) << "shows " << whole_rows << " rows, reports " << window->PropertyNumber(kPropListItems, 1);

    window->SetAlertKey(1, 249, kKeyMouseRight);
    OnGui([&] {
      auto* list = ControlOf<QTreeWidget>(*window, 1);
      const QPoint inside = list->visualItemRect(list->topLevelItem(2)).center();
      QContextMenuEvent click(QContextMenuEvent::Mouse, inside, list->viewport()->mapToGlobal(inside));
      QApplication::sendEvent(list->viewport(), &click);
    });
    EXPECT_EQ(window->PropertyNumber(kPropListMouseRow, 1), 3);
    // The list may take the focus, and with it a current row, at any moment
    // after it is shown; that new selection may be queued before the key.
    window->Post({kNoEvent, 0, 0});
    bool alerted = false;
    while (window->NextEvent() && window->CurrentEvent() != kNoEvent) {
      if (window->CurrentEvent() == kEventAlertKey) {
        alerted = true;
        EXPECT_EQ(KeyCode(), kKeyMouseRight);
      }
    }
    EXPECT_TRUE(alerted);

    // A browse pages by the rows the list reports.
    WindowManager procedure;
    procedure.MYWINDOW = window;
    BrowseManager browse;
    browse.WINDOW = &procedure;
    browse.ILC = 1;
    browse.FILELOADED = 1;
    browse.LOADED = 1;
    browse.ROWS.resize(40);
    browse.CURRENTCHOICE = 1;
    browse.ScrollEvent(kEventListPageDown);
    EXPECT_EQ(browse.CurrentChoice(), 8);
    EXPECT_EQ(window->SelectedRow(1), 8);
    procedure.MYWINDOW.reset();
  });
}

struct MessageCase {
  const char* name;
  unsigned buttons;
  unsigned default_button;
  const char* press;  // a button's object name, or "Escape"
  unsigned expected;
};

class QtMessageBoxTest : public QtPresenterTest, public testing::WithParamInterface<MessageCase> {};

TEST_P(QtMessageBoxTest, AnswersTheValueOfThePressedButton) {
  const MessageCase& test = GetParam();
  RunProgram([&] {
    auto window = OpenShown(BackupWindow());
    unsigned answer = 0;
    std::thread asking([&] {
      BindCurrentThread(1);
      answer = presenter_.ShowMessage({"Insert the disk|then press a button", "Backup", kIconQuestion,
                                       test.buttons, test.default_button});
    });
    ASSERT_TRUE(WaitFor([&] { return OpenMessageBox() != nullptr; }));
    OnGui([&] {
      QMessageBox* box = OpenMessageBox();
      EXPECT_EQ(box->windowTitle(), "Backup");
      EXPECT_EQ(box->text(), "Insert the disk\nthen press a button");
      EXPECT_EQ(box->icon(), QMessageBox::Question);
      QStringList captions;
      for (QAbstractButton* button : box->buttons()) captions << button->objectName();
      EXPECT_EQ(int(captions.size()), std::popcount(test.buttons)) << captions.join(",").toStdString();
      EXPECT_EQ(box->defaultButton()->objectName(), QString::fromStdString(ButtonName(test.default_button)));
      if (std::string(test.press) == "Escape") {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        box->findChild<QPushButton*>(test.press)->click();
      }
    });
    asking.join();
    EXPECT_EQ(answer, test.expected);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, QtMessageBoxTest,
    testing::Values(MessageCase{"YesNoPressNo", kButtonYes | kButtonNo, kButtonYes, "No", kButtonNo},
                    MessageCase{"OkOnly", kButtonOk, kButtonOk, "Ok", kButtonOk},
                    MessageCase{"AbortRetryIgnore", kButtonAbort | kButtonRetry | kButtonIgnore, kButtonRetry,
                                "Ignore", kButtonIgnore},
                    MessageCase{"EscapeIsCancel", kButtonOk | kButtonCancel, kButtonOk, "Escape", kButtonCancel},
                    MessageCase{"EscapeIsNo", kButtonYes | kButtonNo, kButtonYes, "Escape", kButtonNo}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QtPresenterTest, WindowOfOneThreadStaysLiveWhileAnotherWaitsInAMessageBox) {
  RunProgram([&] {
    auto main_window = OpenShown(BackupWindow());
    unsigned answer = 0;
    StartThread([&] {
      WindowDef other = BackupWindow();
      other.caption = "Restore a Backup";
      auto window = OpenShown(other);
      answer = presenter_.ShowMessage({"Restore over the data?", "Restore", kIconQuestion, kButtonYes | kButtonNo,
                                       kButtonNo});
      window->Close();
    });
    ASSERT_TRUE(WaitFor([&] { return OpenMessageBox() != nullptr; }));
    // A click through the window system, which a modal box would swallow.
    OnGui([&] {
      QWidget* button = presenter_.ControlWidget(*main_window, 3);
      QWidget* top = button->window();
      QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, button->mapTo(top, button->rect().center()));
    });
    const Event event = TakeEvent(*main_window);
    EXPECT_EQ(event.event, kEventAccepted);
    EXPECT_EQ(event.control, 3);
    EXPECT_EQ(answer, 0u);  // still waiting
    OnGui([&] { OpenMessageBox()->findChild<QPushButton*>("Yes")->click(); });
    JoinThreads();
    EXPECT_EQ(answer, unsigned{kButtonYes});
  });
}

TEST_F(QtPresenterTest, TwoThreadsInMessageBoxesAreAnsweredInAnyOrder) {
  RunProgram([&] {
    unsigned first = 0;
    unsigned second = 0;
    StartThread([&] { first = presenter_.ShowMessage({"First", "One", "", kButtonOk, kButtonOk}); });
    ASSERT_TRUE(WaitFor([&] { return OpenMessageBox() != nullptr; }));
    StartThread([&] { second = presenter_.ShowMessage({"Second", "Two", "", kButtonOk | kButtonCancel, kButtonOk}); });
    ASSERT_TRUE(WaitFor([&] {
      int boxes = 0;
      for (QWidget* widget : QApplication::topLevelWidgets()) boxes += widget->isVisible() && qobject_cast<QMessageBox*>(widget);
      return boxes == 2;
    }));
    // The first box is answered while the second is still open.
    OnGui([&] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && box->isVisible() && box->windowTitle() == "One") box->findChild<QPushButton*>("Ok")->click();
      }
    });
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (first == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(first, unsigned{kButtonOk});
    EXPECT_EQ(second, 0u);
    OnGui([&] { OpenMessageBox()->findChild<QPushButton*>("Cancel")->click(); });
    JoinThreads();
    EXPECT_EQ(second, unsigned{kButtonCancel});
  });
}

TEST_F(QtPresenterTest, DirectoryDialogReturnsTheChosenDirectoryOrNothing) {
  const std::string directory = testing::TempDir();
  RunProgram([&] {
    for (bool accept : {true, false}) {
      SCOPED_TRACE(accept);
      std::optional<std::string> chosen = "unset";
      std::thread asking([&] { chosen = presenter_.ChooseDirectory("Pick a drive", directory); });
      QFileDialog* dialog = nullptr;
      ASSERT_TRUE(WaitFor([&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
          if (auto* found = qobject_cast<QFileDialog*>(widget); found && found->isVisible()) dialog = found;
        }
        return dialog != nullptr;
      }));
      OnGui([&] {
        EXPECT_EQ(dialog->windowTitle(), "Pick a drive");
        if (accept) {
          dialog->selectFile(QString::fromStdString(directory));
          static_cast<QDialog*>(dialog)->accept();
        } else {
          dialog->reject();
        }
      });
      asking.join();
      if (accept) {
        ASSERT_TRUE(chosen);
        EXPECT_EQ(QDir(QString::fromStdString(*chosen)).canonicalPath(),
                  QDir(QString::fromStdString(directory)).canonicalPath());
      } else {
        EXPECT_FALSE(chosen);
      }
    }
  });
}

// Position, size and state are kept in the window's properties both ways,
// which is what SaveWindow and RestoreWindow read and write.
TEST_F(QtPresenterTest, PlacementFollowsThePropertiesBothWays) {
  RunProgram([&] {
    auto window = OpenShown(RestoreWindow());
    window->SetProperty(kPropXPos, 140L);
    window->SetProperty(kPropYPos, 90L);
    window->SetProperty(kPropWidth, 610L);
    window->SetProperty(kPropHeight, 330L);
    EXPECT_TRUE(WaitFor([&] {
      QWidget* widget = presenter_.WindowWidget(*window);
      return widget->pos() == QPoint(140, 90) && widget->size() == QSize(610, 330);
    }));
    // The user resizes and moves it.
    OnGui([&] {
      QWidget* widget = presenter_.WindowWidget(*window);
      widget->resize(700, 400);
      widget->move(20, 30);
    });
    EXPECT_TRUE(WaitFor([&] {
      return window->PropertyNumber(kPropWidth) == 700 && window->PropertyNumber(kPropHeight) == 400 &&
             window->PropertyNumber(kPropXPos) == 20 && window->PropertyNumber(kPropYPos) == 30;
    }));
    window->SetProperty(kPropMaximize, 1L);
    EXPECT_TRUE(WaitFor([&] { return presenter_.WindowWidget(*window)->isMaximized(); }));
    window->SetProperty(kPropMaximize, 0L);
    EXPECT_TRUE(WaitFor([&] { return !presenter_.WindowWidget(*window)->isMaximized(); }));
    OnGui([&] { presenter_.WindowWidget(*window)->showMinimized(); });
    EXPECT_TRUE(WaitFor([&] { return window->PropertyNumber(kPropIconize) == 1; }));
  });
}

TEST_F(QtPresenterTest, FixedSizeWindowCannotBeResizedByTheUser) {
  RunProgram([&] {
    auto window = OpenShown(BackupWindow());
    OnGui([&] {
      QWidget* widget = presenter_.WindowWidget(*window);
      EXPECT_EQ(widget->minimumSize(), widget->maximumSize());
    });
  });
}

TEST_F(QtPresenterTest, FontPropertiesReachTheWidgets) {
  RunProgram([&] {
    auto window = OpenShown(BackupWindow());
    window->SetProperty(kPropFontSize, 15L);
    window->SetProperty(kPropFontStyle, 700L, 1);
    EXPECT_TRUE(WaitFor([&] {
      return presenter_.WindowWidget(*window)->font().pointSize() == 15 && ControlOf<QLabel>(*window, 1)->font().bold();
    }));
    OnGui([&] { EXPECT_FALSE(ControlOf<QPushButton>(*window, 3)->font().bold()); });
  });
}

TEST_F(QtPresenterTest, ClosedWindowLeavesTheScreen) {
  RunProgram([&] {
    auto window = OpenShown(BackupWindow());
    window->Close();
    EXPECT_TRUE(WaitFor([&] { return presenter_.WindowWidget(*window) == nullptr; }));
    EXPECT_TRUE(WaitFor([&] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == "Make a Backup") return false;
      }
      return true;
    }));
  });
}

TEST_F(QtPresenterTest, PopupMenuAnswersTheChosenItemOrNothing) {
  RunProgram([&] {
    auto window = OpenShown(BackupWindow());
    struct Case {
      const char* what;
      std::function<void(QMenu&)> act;
      int expected;
    };
    const Case cases[] = {
        // The separator and the disabled item count as items too, apart from the separator.
        {"third item", [](QMenu& menu) { menu.actions()[3]->trigger(); }, 3},
        {"escape", [](QMenu& menu) { QTest::keyClick(&menu, Qt::Key_Escape); }, 0},
    };
    for (const auto& test : cases) {
      SCOPED_TRACE(test.what);
      int chosen = -1;
      std::thread asking([&] { chosen = presenter_.PopupMenu(*window, "&Insert|~&Change|-|&Delete"); });
      QMenu* menu = nullptr;
      ASSERT_TRUE(WaitFor([&] {
        menu = presenter_.WindowWidget(*window)->findChild<QMenu*>("popup");
        return menu && menu->isVisible();
      }));
      OnGui([&] {
        ASSERT_EQ(menu->actions().size(), 4);
        EXPECT_FALSE(menu->actions()[1]->isEnabled());
        EXPECT_TRUE(menu->actions()[2]->isSeparator());
        test.act(*menu);
        menu->hide();
      });
      asking.join();
      EXPECT_EQ(chosen, test.expected);
      ASSERT_TRUE(WaitFor([&] { return presenter_.WindowWidget(*window)->findChild<QMenu*>("popup") == nullptr; }));
    }
  });
}

TEST_F(QtPresenterTest, WaitCursorIsPerWindow) {
  RunProgram([&] {
    auto busy = OpenShown(BackupWindow());
    auto other = OpenShown(RestoreWindow());
    SetCursor(busy.get(), Cursor::kWait);
    EXPECT_TRUE(WaitFor([&] { return presenter_.WindowWidget(*busy)->cursor().shape() == Qt::WaitCursor; }));
    OnGui([&] { EXPECT_EQ(presenter_.WindowWidget(*other)->cursor().shape(), Qt::ArrowCursor); });
    SetCursor(busy.get(), Cursor::kNormal);
    EXPECT_TRUE(WaitFor([&] { return presenter_.WindowWidget(*busy)->cursor().shape() == Qt::ArrowCursor; }));
  });
}

TEST(QtPresenterNoDisplayTest, SaysSoInOneLineAndExitsWithTwo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        QtPresenter presenter;
        presenter.RunEventLoop([] { return 0; });
      },
      testing::ExitedWithCode(kNoDisplayExitCode), "^[^\n]*no display to open windows on[^\n]*\n$");
}

}  // namespace
}  // namespace qm::platform
