// The browse over a small items file, driven headless: events are posted to
// the window and handed to the browse one by one, as the window manager's
// loop would.
#include "framework/windows/browse_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/errors/error_manager.h"
#include "framework/files/file_manager.h"
#include "framework/files/relation_manager.h"
#include "framework/windows/toolbar_manager.h"
#include "framework/windows/window_manager.h"
#include "platform/headless_presenter.h"
#include "platform/record_fields.h"
#include "platform/record_file.h"
#include "platform/runtime_error.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::platform;

constexpr int kList = 1;
constexpr int kInsertButton = 2;
constexpr int kChangeButton = 3;
constexpr int kDeleteButton = 4;
constexpr int kViewButton = 5;
constexpr int kSelectButton = 6;
constexpr int kNumberField = 1;
constexpr int kNameField = 2;
constexpr int kNameKey = 1;
constexpr int kNumberKey = 2;

RecordDeclaration ItemsDeclaration() {
  RecordDeclaration declaration;
  declaration.label = "Items";
  declaration.disk_name = "ITEMS";
  declaration.prefix = "ITM";
  const int number = declaration.AddField("ITM:NUMBER", FieldEncoding::kU32);
  const int name = declaration.AddField("ITM:NAME", FieldEncoding::kText, 10);
  declaration.keys.push_back({"ITM:NameKey", {name}, true});
  declaration.keys.push_back({"ITM:NumberKey", {number}, false});
  return declaration;
}

class ItemsManager : public FileManager {
 public:
  ItemsManager(RecordFile& file, ErrorManager& errors) : file_(file), errors_(errors) {}
  void Setup() override {
    FILENAMEVALUE = "Items";
    ERRORS = &errors_;
    FILE = &file_;
    FileManager::Setup();
  }
  ErrorLevel EnsureOpen(int usage) override {
    if (usage != kUsageInitialize) {
      EnsureOpen(kUsageInitialize);
    } else if (!INITIALIZED) {
      Attach(file_, errors_);
      for (const KeyDeclaration& key : file_.Declaration().keys) AddKey(key.name, key.name, false);
    }
    return FileManager::EnsureOpen(usage);
  }

 private:
  RecordFile& file_;
  ErrorManager& errors_;
};

WindowDef BrowseWindow() {
  WindowDef window{.id = "Test$Browse", .caption = "Browse"};
  window.controls = {{kList, ControlKind::kList, ""},
                     {kInsertButton, ControlKind::kButton, "&Insert"},
                     {kChangeButton, ControlKind::kButton, "&Change"},
                     {kDeleteButton, ControlKind::kButton, "&Delete"},
                     {kViewButton, ControlKind::kButton, "&View"},
                     {kSelectButton, ControlKind::kButton, "&Select"},
                     {kToolbarChange, ControlKind::kToolButton, "Change"},
                     {kToolbarPageDown, ControlKind::kToolButton, "Page down"}};
  return window;
}

// Runs no update procedure: records each request and hands back what
// `on_run` decides.
class AskingProcedure : public WindowManager {
 public:
  std::uint8_t RunProcedure(int, std::uint8_t request) override {
    if (on_run) on_run(request);
    return ResponseCompleted;
  }
  std::function<void(std::uint8_t)> on_run;
};

class BrowseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_directory_ = fs::current_path();
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("qm-browse-") + test->test_suite_name() + "-" + test->name();
    std::replace(name.begin(), name.end(), '/', '_');
    directory_ = fs::temp_directory_path() / name;
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fs::current_path(directory_);
    InstallPresenter(&presenter_);
    ClearRuntimeError();
    errors_.Start(status_);
  }
  void TearDown() override {
    browse_->Teardown();
    relations_.reset();
    manager_.reset();
    procedure_.reset();
    file_.reset();
    errors_.Shutdown();
    InstallPresenter(nullptr);
    fs::current_path(previous_directory_);
    fs::remove_all(directory_);
  }

  // Items named "A01", "A02", ... numbered 1, 2, ... in record order.
  void MakeItems(int count) {
    RecordFile file(ItemsDeclaration());
    ASSERT_EQ(file.Create(), 0);
    ASSERT_EQ(file.Open(), 0);
    for (int i = 1; i <= count; ++i) {
      file.Clear();
      SetField(file, kNumberField, std::to_string(i));
      SetField(file, kNameField, Name(i));
      ASSERT_EQ(file.Add(), 0);
    }
  }
  static std::string Name(int i) { return (i < 10 ? "A0" : "A") + std::to_string(i); }
  static void SetField(RecordFile& file, int field, const std::string& value) {
    SetFieldText(file.Declaration().fields[static_cast<std::size_t>(field - 1)], file.Record(), value);
  }
  std::string BufferField(int field) const {
    return FieldText(file_->Declaration().fields[static_cast<std::size_t>(field - 1)], file_->Record());
  }

  // Opens the window and initialises a browse on it showing NUMBER and NAME,
  // `page` rows to the control.
  void OpenBrowse(bool loaded, int page, int key = 0, std::uint8_t request = 0) {
    file_ = std::make_unique<RecordFile>(ItemsDeclaration());
    manager_ = std::make_unique<ItemsManager>(*file_, errors_);
    manager_->Setup();
    relations_ = std::make_unique<RelationManager>();
    relations_->Attach(*manager_, false);
    ASSERT_EQ(manager_->Open(), LevelNone);
    procedure_ = std::make_unique<AskingProcedure>();
    procedure_->CL = std::make_unique<std::vector<WindowManager::ComponentEntry>>();
    procedure_->REQUEST = request;
    procedure_->OpenWindow(BrowseWindow(), nullptr);
    window_ = procedure_->MYWINDOW.get();
    window_->SetProperty(kPropListItems, static_cast<long>(page), kList);
    ASSERT_EQ(browse_->Init(kList, *procedure_, *relations_), LevelNone);
    browse_->AddOrder(key);
    browse_->AddField(kNumberField, "@n9.2");
    browse_->AddField(kNameField);
    browse_->FILELOADED = loaded ? 1 : 0;
    browse_->INSERTCONTROL = kInsertButton;
    browse_->CHANGECONTROL = kChangeButton;
    browse_->DELETECONTROL = kDeleteButton;
    browse_->VIEWCONTROL = kViewButton;
    browse_->SELECTCONTROL = kSelectButton;
    browse_->RegisterAlerts();
    browse_->ResetRequired();
    procedure_->Reset(0);
    Drain();
  }

  // Posts an event on the list and hands it, and what it posts, to the browse.
  void Send(int event, int key_code = 0) {
    window_->Post({event, kList, key_code});
    Pump();
  }
  void Pump() {
    window_->Post({-1, 0, 0});
    for (;;) {
      window_->NextEvent();
      if (window_->CurrentEvent() == -1) return;
      browse_->HandleEvent();
    }
  }
  // Hands an alert key on the list to the browse; answers what it posted.
  // The events a key queued, as {event, control}, without the new
  // selection of the list that follows a key's work (key_selected_ tells
  // whether it came).
  std::vector<std::pair<int, int>> Key(int key_code) {
    window_->Post({kEventAlertKey, kList, key_code});
    window_->NextEvent();
    browse_->HandleEvent();
    std::vector<std::pair<int, int>> events = Drain();
    key_selected_ = !events.empty() && events.back() == std::pair<int, int>{kEventNewSelection, kList};
    if (key_selected_) events.pop_back();
    return events;
  }
  // The events queued on the window, as {event, control}, leaving it empty.
  std::vector<std::pair<int, int>> Drain() {
    std::vector<std::pair<int, int>> events;
    window_->Post({-1, 0, 0});
    for (;;) {
      window_->NextEvent();
      if (window_->CurrentEvent() == -1) return events;
      events.emplace_back(window_->CurrentEvent(), window_->CurrentField());
    }
  }
  // The names the list control shows, top to bottom.
  std::vector<std::string> ShownNames() const {
    std::vector<std::string> names;
    for (const auto& row : window_->ListRows(kList)) names.push_back(row.at(1));
    return names;
  }
  std::vector<std::string> Names(int first, int last) const {
    std::vector<std::string> names;
    for (int i = first; i <= last; ++i) names.push_back(Name(i));
    return names;
  }
  std::string CurrentName() const {
    const auto rows = window_->ListRows(kList);
    const int row = window_->SelectedRow(kList);
    return row >= 1 && row <= static_cast<int>(rows.size()) ? rows[row - 1].at(1) : "";
  }

  fs::path previous_directory_;
  fs::path directory_;
  HeadlessPresenter presenter_;
  PerThread<ErrorStatus> status_;
  ErrorManager errors_;
  std::unique_ptr<RecordFile> file_;
  std::unique_ptr<ItemsManager> manager_;
  std::unique_ptr<RelationManager> relations_;
  std::unique_ptr<AskingProcedure> procedure_;
  Window* window_ = nullptr;
  std::unique_ptr<BrowseManager> browse_ = std::make_unique<BrowseManager>();
  bool key_selected_ = false;
};

TEST_F(BrowseTest, LoadedListHoldsTheWholeFileFormattedWithTheBufferOnRowOne) {
  MakeItems(12);
  OpenBrowse(true, 4);
  EXPECT_EQ(ShownNames(), Names(1, 12));
  EXPECT_NE(window_->ListRows(kList).front().front().find("1.00"), std::string::npos)
      << "the column shows the field through its picture";
  EXPECT_EQ(window_->SelectedRow(kList), 1);
  EXPECT_EQ(BufferField(kNameField), "A01");
  EXPECT_TRUE(browse_->HasRecord());
}

struct ScrollCase {
  const char* name;
  int from;
  int event;
  int to;
};

class LoadedScrollTest : public BrowseTest, public ::testing::WithParamInterface<ScrollCase> {};

TEST_P(LoadedScrollTest, MovesWithinTheListAndKeepsTheBufferOnTheRow) {
  const ScrollCase& c = GetParam();
  MakeItems(10);
  OpenBrowse(true, 4);
  ASSERT_TRUE(presenter_.SelectRow(*window_, kList, c.from));
  Pump();
  Send(c.event);
  EXPECT_EQ(browse_->CurrentChoice(), c.to);
  EXPECT_EQ(window_->SelectedRow(kList), c.to);
  EXPECT_EQ(BufferField(kNameField), Name(c.to));
  EXPECT_EQ(ShownNames(), Names(1, 10)) << "scrolling a loaded list reads nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Events, LoadedScrollTest,
    ::testing::Values(ScrollCase{"UpOnRowOneDoesNothing", 1, kEventListScrollUp, 1},
                      ScrollCase{"Up", 5, kEventListScrollUp, 4},
                      ScrollCase{"DownOnTheLastRowStays", 10, kEventListScrollDown, 10},
                      ScrollCase{"Down", 5, kEventListScrollDown, 6},
                      ScrollCase{"PageDown", 2, kEventListPageDown, 6},
                      ScrollCase{"PageDownOnTheLastPageStaysOnTheLastRow", 8, kEventListPageDown, 10},
                      ScrollCase{"PageUpClampsToRowOne", 3, kEventListPageUp, 1},
                      ScrollCase{"Top", 7, kEventListScrollTop, 1},
                      ScrollCase{"Bottom", 2, kEventListScrollBottom, 10}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BrowseTest, PageAtATimeHoldsOnePageAndReadsMoreAtEitherEnd) {
  MakeItems(12);
  OpenBrowse(false, 5);
  EXPECT_EQ(ShownNames(), Names(1, 5));

  Send(kEventListPageDown);
  EXPECT_EQ(ShownNames(), Names(6, 10));
  EXPECT_EQ(CurrentName(), "A06");
  Send(kEventListPageDown);
  EXPECT_EQ(ShownNames(), Names(8, 12));
  EXPECT_EQ(CurrentName(), "A11");
  Send(kEventListPageDown);
  EXPECT_EQ(ShownNames(), Names(8, 12));
  EXPECT_EQ(CurrentName(), "A12") << "page down on the last page stays on the last row";
  EXPECT_EQ(BufferField(kNameField), "A12");
  EXPECT_EQ(window_->PropertyNumber(kPropListThumb, kList), 100);

  Send(kEventListScrollTop);
  EXPECT_EQ(ShownNames(), Names(1, 5));
  EXPECT_EQ(CurrentName(), "A01");
  Send(kEventListScrollUp);
  EXPECT_EQ(ShownNames(), Names(1, 5)) << "nothing above the first record";
  EXPECT_EQ(CurrentName(), "A01");

  Send(kEventListScrollBottom);
  EXPECT_EQ(ShownNames(), Names(8, 12));
  EXPECT_EQ(CurrentName(), "A12");
  Send(kEventListScrollDown);
  EXPECT_EQ(ShownNames(), Names(8, 12));

  ASSERT_TRUE(presenter_.SelectRow(*window_, kList, 1));
  Pump();
  Send(kEventListScrollUp);
  EXPECT_EQ(ShownNames(), Names(7, 11)) << "one row read above the page";
  EXPECT_EQ(CurrentName(), "A07");
  Send(kEventListPageUp);
  EXPECT_EQ(ShownNames(), Names(2, 6));
  EXPECT_EQ(CurrentName(), "A02");
  EXPECT_EQ(BufferField(kNameField), "A02");
}

TEST_F(BrowseTest, AShortFileFillsWhatItCanAndAKeyOrderSortsIt) {
  RecordFile file(ItemsDeclaration());
  ASSERT_EQ(file.Create(), 0);
  ASSERT_EQ(file.Open(), 0);
  for (const char* name : {"Pear", "Apple", "Fig"}) {
    file.Clear();
    SetField(file, kNameField, name);
    ASSERT_EQ(file.Add(), 0);
  }
  file.Close();
  OpenBrowse(false, 5, kNameKey);
  EXPECT_EQ(ShownNames(), (std::vector<std::string>{"Apple", "Fig", "Pear"}));
  Send(kEventListPageDown);
  EXPECT_EQ(CurrentName(), "Pear");
}

TEST_F(BrowseTest, RangesAndFiltersChooseTheRows) {
  MakeItems(10);
  OpenBrowse(true, 4);
  browse_->AddRange(kNumberField, "3", "8");
  browse_->AddFilter([this] { return BufferField(kNameField) != "A05"; });
  browse_->ResetFromFile();
  browse_->UpdateWindow();
  EXPECT_EQ(ShownNames(), (std::vector<std::string>{"A03", "A04", "A06", "A07", "A08"}));

  browse_->ORDER->RANGELIST = {{kNameField, "A09", ""}};
  browse_->ORDER->FILTER.clear();
  browse_->ResetFromFile();
  browse_->UpdateWindow();
  EXPECT_EQ(ShownNames(), (std::vector<std::string>{"A09"}));
}

// Counts the records the view looks at.
class CountingBrowse : public BrowseManager {
 public:
  int ValidateRecord() override {
    ++looked_at;
    return BrowseManager::ValidateRecord();
  }
  int looked_at = 0;
};

// A range on the order's leading key field starts the view at its low value
// and ends it past its high value, in either direction, instead of reading
// the rest of the file.
TEST_F(BrowseTest, ARangeOnTheLeadingKeyFieldReadsOnlyWhatItHolds) {
  MakeItems(30);
  auto counting = std::make_unique<CountingBrowse>();
  CountingBrowse& browse = *counting;
  browse_ = std::move(counting);
  OpenBrowse(false, 4, kNumberKey);
  browse.AddRange(kNumberField, "13", "14");
  browse.looked_at = 0;
  browse.ResetFromFile();
  browse.UpdateWindow();
  EXPECT_EQ(ShownNames(), Names(13, 14));
  EXPECT_LE(browse.looked_at, 6) << "the range and a record past either end, not the rest of the file";

  browse.looked_at = 0;
  Send(kEventListScrollBottom);
  EXPECT_EQ(ShownNames(), Names(13, 14));
  Send(kEventListScrollTop);
  EXPECT_EQ(ShownNames(), Names(13, 14));
  EXPECT_LE(browse.looked_at, 6);
}

TEST_F(BrowseTest, WithNoRecordTheRecordButtonsAreDisabledAndOnlyInsertAnswers) {
  MakeItems(0);
  OpenBrowse(true, 4);
  file_->Clear();
  SetField(*file_, kNameField, "Left over");
  browse_->UpdateWindow();
  EXPECT_FALSE(browse_->HasRecord());
  EXPECT_EQ(BufferField(kNameField), "") << "the file buffer is cleared";
  for (int button : {kChangeButton, kDeleteButton, kViewButton, kSelectButton}) {
    EXPECT_FALSE(window_->ControlEnabled(button)) << button;
  }
  EXPECT_TRUE(window_->ControlEnabled(kInsertButton));
  for (int key : {kKeyMouseLeft2, kKeyCtrlEnter, kKeyDelete, kKeyShiftEnter}) {
    EXPECT_TRUE(Key(key).empty()) << key;
  }
  EXPECT_EQ(Key(kKeyInsert), (std::vector<std::pair<int, int>>{{kEventAccepted, kInsertButton}}));
}

struct KeyCase {
  const char* name;
  int key;
  int button;  // the button accepted
};

class BrowseKeyTest : public BrowseTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(BrowseKeyTest, RecordKeysAcceptTheirButtons) {
  MakeItems(3);
  OpenBrowse(true, 4);
  EXPECT_TRUE(window_->ControlEnabled(kChangeButton));
  EXPECT_EQ(Key(GetParam().key),
            (std::vector<std::pair<int, int>>{{kEventAccepted, GetParam().button}}));
  // The window then follows the list's row, as after a selection the user made.
  EXPECT_TRUE(key_selected_);
}

INSTANTIATE_TEST_SUITE_P(Keys, BrowseKeyTest,
                         ::testing::Values(KeyCase{"DoubleClickChanges", kKeyMouseLeft2, kChangeButton},
                                           KeyCase{"CtrlEnterChanges", kKeyCtrlEnter, kChangeButton},
                                           KeyCase{"Insert", kKeyInsert, kInsertButton},
                                           KeyCase{"Delete", kKeyDelete, kDeleteButton},
                                           KeyCase{"ShiftEnterViews", kKeyShiftEnter, kViewButton}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BrowseTest, ADisabledButtonIsNotAcceptedByItsKey) {
  MakeItems(3);
  OpenBrowse(true, 4);
  window_->SetControlEnabled(kChangeButton, false);
  EXPECT_TRUE(Key(kKeyMouseLeft2).empty());
}

// A popup item posts "accepted" for its button whatever the button's state.
TEST_F(BrowseTest, AnAcceptedDisabledButtonRunsNoRequest) {
  MakeItems(3);
  OpenBrowse(true, 4);
  browse_->ASKPROCEDURE = 7;
  std::vector<std::uint8_t> runs;
  procedure_->on_run = [&](std::uint8_t request) { runs.push_back(request); };
  for (int button : {kInsertButton, kChangeButton, kDeleteButton, kViewButton}) {
    window_->SetControlEnabled(button, false);
    window_->Post({kEventAccepted, button, 0});
    Pump();
  }
  EXPECT_TRUE(runs.empty());
  window_->SetControlEnabled(kViewButton, true);
  window_->Post({kEventAccepted, kViewButton, 0});
  Pump();
  EXPECT_EQ(runs, std::vector<std::uint8_t>{RequestView});
}

TEST_F(BrowseTest, RightClickMakesTheRowUnderTheMouseCurrentBeforeThePopup) {
  MakeItems(5);
  OpenBrowse(true, 4);
  window_->SetProperty(kPropListMouseRow, 3L, kList);
  presenter_.QueuePopupChoice(2);  // the "&Change" mirror, after "&Insert"
  window_->Post({kEventAlertKey, kList, kKeyMouseRight});
  window_->NextEvent();
  browse_->HandleEvent();
  EXPECT_EQ(browse_->CurrentChoice(), 3);
  EXPECT_EQ(window_->SelectedRow(kList), 3);
  EXPECT_EQ(BufferField(kNameField), "A03");
  Pump();  // the new selection opens the popup
  EXPECT_EQ(browse_->POPUP->GetLastSelection(), "Change");
  EXPECT_EQ(Drain(), (std::vector<std::pair<int, int>>{{kEventAccepted, kChangeButton}}));
  EXPECT_EQ(browse_->CurrentChoice(), 3);
}

TEST_F(BrowseTest, NewSelectionPutsTheRowIntoTheFileBuffer) {
  MakeItems(5);
  OpenBrowse(true, 4);
  ASSERT_TRUE(presenter_.SelectRow(*window_, kList, 4));
  Pump();
  EXPECT_EQ(browse_->CurrentChoice(), 4);
  EXPECT_EQ(BufferField(kNameField), "A04");
  EXPECT_EQ(BufferField(kNumberField), "4");
}

// The window manager resets the window on a new selection before the
// browse sees it: the browse must take the user's row, not redraw its own.
TEST_F(BrowseTest, ARowChosenInTheWindowStaysChosenThroughTheWindowManager) {
  MakeItems(6);
  for (const bool loaded : {true, false}) {
    SCOPED_TRACE(loaded ? "loaded" : "a page at a time");
    OpenBrowse(loaded, 4);
    ASSERT_TRUE(presenter_.SelectRow(*window_, kList, 3));
    window_->Post({-1, 0, 0});
    for (window_->NextEvent(); window_->CurrentEvent() != -1; window_->NextEvent()) {
      procedure_->HandleEvent();
    }
    EXPECT_EQ(window_->SelectedRow(kList), 3) << "the highlight stays where the user put it";
    EXPECT_EQ(browse_->CurrentChoice(), 3);
    EXPECT_EQ(BufferField(kNameField), "A03");
    browse_->Teardown();
    browse_ = std::make_unique<BrowseManager>();
  }
}

TEST_F(BrowseTest, TheToolbarDrivesTheBrowseAndItsRecordButtonsFollowTheList) {
  for (const int items : {0, 10}) {
    SCOPED_TRACE(items);
    MakeItems(items);
    OpenBrowse(true, 4);
    ToolbarManager toolbar;
    procedure_->AddItem(toolbar);
    browse_->AttachToolbar(toolbar);
    toolbar.SetTarget(kList);
    procedure_->Reset(0);
    EXPECT_EQ(window_->ControlEnabled(kToolbarChange), items > 0)
        << "the change tool button stands for a change button that needs a record";
    if (items > 0) {
      ASSERT_TRUE(presenter_.Press(*window_, kToolbarPageDown));
      for (int round = 0; round < 2; ++round) {  // the press, then the scroll it posts
        window_->Post({-1, 0, 0});
        for (window_->NextEvent(); window_->CurrentEvent() != -1; window_->NextEvent()) {
          procedure_->HandleEvent();
        }
      }
      EXPECT_EQ(browse_->CurrentChoice(), 5);
      EXPECT_EQ(BufferField(kNameField), "A05");
    }
    browse_->Teardown();
    procedure_->TOOLBAR = nullptr;
    browse_ = std::make_unique<BrowseManager>();
    file_.reset();
    fs::remove(directory_ / "ITEMS");
  }
}

TEST_F(BrowseTest, TheThumbFollowsALoadedListAndDraggingItMovesTheRow) {
  MakeItems(10);
  OpenBrowse(true, 4);
  EXPECT_EQ(window_->PropertyNumber(kPropListThumb, kList), 0);
  Send(kEventListScrollBottom);
  EXPECT_EQ(window_->PropertyNumber(kPropListThumb, kList), 100);
  window_->SetProperty(kPropListThumb, 50L, kList);
  Send(kEventListScrollDrag);
  EXPECT_EQ(browse_->CurrentChoice(), 5);
  window_->SetProperty(kPropListThumb, 0L, kList);
  Send(kEventListScrollDrag);
  EXPECT_EQ(browse_->CurrentChoice(), 1);
}

TEST_F(BrowseTest, ATypedCharacterLocatesByTheLeadingKeyField) {
  RecordFile file(ItemsDeclaration());
  ASSERT_EQ(file.Create(), 0);
  ASSERT_EQ(file.Open(), 0);
  for (const char* name : {"Pear", "Apple", "Fig", "Date", "Kiwi", "Lime", "Plum"}) {
    file.Clear();
    SetField(file, kNameField, name);
    ASSERT_EQ(file.Add(), 0);
  }
  file.Close();
  for (const bool loaded : {true, false}) {
    SCOPED_TRACE(loaded ? "loaded" : "a page at a time");
    OpenBrowse(loaded, 3, kNameKey);
    Send(kEventAlertKey, 'E');
    EXPECT_EQ(CurrentName(), "Fig");
    EXPECT_EQ(BufferField(kNameField), "Fig");
    Send(kEventAlertKey, 'Z');
    EXPECT_EQ(CurrentName(), "Plum") << "past the last: the end of the list";
    browse_->Teardown();
    browse_ = std::make_unique<BrowseManager>();
  }
}

TEST_F(BrowseTest, ATypedDigitLocatesANumberKeyByValue) {
  RecordFile file(ItemsDeclaration());
  ASSERT_EQ(file.Create(), 0);
  ASSERT_EQ(file.Open(), 0);
  for (const int number : {20, 1, 10, 2}) {
    file.Clear();
    SetField(file, kNumberField, std::to_string(number));
    SetField(file, kNameField, "N" + std::to_string(number));
    ASSERT_EQ(file.Add(), 0);
  }
  file.Close();
  struct Case {
    int key;
    const char* found;
  };
  // "10" and "20" sort after "5" as text but after 5 as numbers.
  const Case cases[] = {{'5', "N10"}, {'2', "N2"}, {'1', "N1"}, {'A', "N1"}};
  for (const bool loaded : {true, false}) {
    SCOPED_TRACE(loaded ? "loaded" : "a page at a time");
    for (const Case& c : cases) {
      SCOPED_TRACE(static_cast<char>(c.key));
      OpenBrowse(loaded, 3, kNumberKey);
      Send(kEventAlertKey, c.key);
      EXPECT_EQ(CurrentName(), c.found);
      EXPECT_EQ(BufferField(kNameField), c.found);
      browse_->Teardown();
      browse_ = std::make_unique<BrowseManager>();
    }
  }
}

TEST_F(BrowseTest, UpdateRereadsTheRowAndAGoneRecordRefillsTheList) {
  MakeItems(4);
  OpenBrowse(true, 4);
  {
    RecordFile other(ItemsDeclaration());
    ASSERT_EQ(other.Open(), 0);
    other.Set();
    ASSERT_EQ(other.Next(), 0);
    SetField(other, kNameField, "Changed");
    ASSERT_EQ(other.Put(), 0);
    ASSERT_EQ(other.Next(), 0);
    ASSERT_EQ(other.Delete(), 0);
  }
  procedure_->Update();
  browse_->UpdateWindow();
  EXPECT_EQ(CurrentName(), "Changed");

  ASSERT_TRUE(presenter_.SelectRow(*window_, kList, 2));
  Pump();
  procedure_->Update();
  EXPECT_EQ(browse_->NEEDREFRESH, 1);
  window_->Post({kEventGainFocus, 0, 0});
  Pump();
  browse_->UpdateWindow();
  EXPECT_EQ(ShownNames(), (std::vector<std::string>{"Changed", "A03", "A04"}));
}

// Every record of the items file, byte for byte, in record order.
std::vector<std::string> StoredRecords() {
  RecordFile file(ItemsDeclaration());
  std::vector<std::string> records;
  if (file.Open() != 0) return {"cannot open"};
  file.Set();
  while (file.Next() == 0) {
    records.emplace_back(reinterpret_cast<const char*>(file.Record()), file.RecordSize());
  }
  return records;
}

TEST_F(BrowseTest, ARequestOnARecordAnotherStationDeletedRefillsTheListAndTouchesNoOther) {
  struct Case {
    const char* name;
    int key;
    std::function<void()> act;  // what the update procedure does to the record
  };
  const Case cases[] = {
      {"change", kKeyCtrlEnter,
       [this] {
         SetField(*file_, kNameField, "Changed");
         manager_->Update();
       }},
      {"delete", kKeyDelete, [this] { relations_->Delete(false); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeItems(10);
    browse_ = std::make_unique<BrowseManager>();
    OpenBrowse(true, 10);
    browse_->ASKPROCEDURE = 7;
    bool ran = false;
    procedure_->on_run = [&](std::uint8_t) {
      ran = true;
      c.act();
    };
    ASSERT_TRUE(presenter_.SelectRow(*window_, kList, 3));
    Pump();
    {
      RecordFile other(ItemsDeclaration());
      ASSERT_EQ(other.Open(), 0);
      other.Clear();
      SetField(other, kNameField, "A03");
      ASSERT_EQ(other.Get(kNameKey), 0);
      ASSERT_EQ(other.Delete(), 0);
    }
    const std::vector<std::string> left = StoredRecords();
    Send(kEventAlertKey, c.key);
    Pump();  // the accepted button
    EXPECT_FALSE(ran) << "the procedure would act on another record";
    EXPECT_EQ(StoredRecords(), left);
    browse_->UpdateWindow();
    EXPECT_EQ(ShownNames(), (std::vector<std::string>{"A01", "A02", "A04", "A05", "A06", "A07", "A08", "A09",
                                                      "A10"}));
    browse_->Teardown();
    relations_.reset();
    manager_.reset();
    file_.reset();
    for (const auto& entry : fs::directory_iterator(directory_)) fs::remove_all(entry.path());
  }
}

// A driver that cannot re-read a record by its position.
class NoRegetBrowse : public BrowseManager {
 public:
  int Reget(const std::string&) override {
    SetRuntimeError(kErrNotSupported);
    return kErrNotSupported;
  }
};

TEST_F(BrowseTest, WithoutRereadByPositionTheRowIsReadFromItsPositionOn) {
  struct Case {
    const char* name;
    bool delete_first;
    std::uint8_t refresh;  // NEEDREFRESH after Update
    const char* buffer;    // the name in the file buffer after Update
  };
  for (const Case& c : {Case{"changed", false, 0, "Changed"}, Case{"gone", true, 1, "A02"}}) {
    SCOPED_TRACE(c.name);
    MakeItems(3);
    browse_ = std::make_unique<NoRegetBrowse>();
    OpenBrowse(true, 4);
    {
      RecordFile other(ItemsDeclaration());
      ASSERT_EQ(other.Open(), 0);
      other.Set();
      ASSERT_EQ(other.Next(), 0);
      if (c.delete_first) {
        ASSERT_EQ(other.Delete(), 0);
      } else {
        SetField(other, kNameField, "Changed");
        ASSERT_EQ(other.Put(), 0);
      }
    }
    procedure_->Update();
    EXPECT_EQ(browse_->NEEDREFRESH, c.refresh) << "a different record is not taken for the row";
    if (!c.refresh) {
      EXPECT_EQ(BufferField(kNameField), c.buffer);
      browse_->UpdateWindow();
      EXPECT_EQ(CurrentName(), "Changed");
    }
    browse_->Teardown();
    relations_.reset();
    manager_.reset();
    file_.reset();
    fs::current_path(previous_directory_);
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fs::current_path(directory_);
  }
}

TEST_F(BrowseTest, AnUpdateProcedureRunsOnTheRowAndAgainOnTheRowItMovesTo) {
  MakeItems(4);
  OpenBrowse(true, 4);
  browse_->ASKPROCEDURE = 7;
  std::vector<std::pair<int, std::string>> runs;
  procedure_->on_run = [&](std::uint8_t request) {
    runs.emplace_back(request, BufferField(kNameField));
    if (runs.size() == 1) NavigationRequest() = kToolbarDown;
  };
  ASSERT_TRUE(presenter_.SelectRow(*window_, kList, 2));
  Pump();
  Send(kEventAlertKey, kKeyCtrlEnter);
  Pump();  // the accepted change button
  EXPECT_EQ(runs, (std::vector<std::pair<int, std::string>>{{RequestChange, "A02"}, {RequestChange, "A03"}}));
  EXPECT_EQ(browse_->CurrentChoice(), 3);
  EXPECT_EQ(NavigationRequest(), 0);
}

TEST_F(BrowseTest, SelectingEnablesSelectAndADoubleClickSelects) {
  MakeItems(3);
  OpenBrowse(true, 4, 0, RequestSelect);
  EXPECT_EQ(browse_->SELECTING, 1);
  EXPECT_TRUE(window_->ControlEnabled(kSelectButton));
  EXPECT_EQ(Key(kKeyMouseLeft2), (std::vector<std::pair<int, int>>{{kEventAccepted, kSelectButton}}));
}

TEST_F(BrowseTest, TeardownLeavesTheWindowManagerAndASecondDoesNothing) {
  MakeItems(2);
  OpenBrowse(true, 4);
  ASSERT_EQ(procedure_->CL->size(), 1u);
  browse_->Teardown();
  EXPECT_TRUE(procedure_->CL->empty());
  browse_->Teardown();
  EXPECT_EQ(browse_->Rows(), 0);
}

}  // namespace
}  // namespace qm
