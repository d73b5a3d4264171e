#include "framework/windows/browse_manager.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "framework/files/file_manager.h"
#include "framework/files/relation_manager.h"
#include "framework/windows/thread_globals.h"
#include "framework/windows/toolbar_manager.h"
#include "framework/windows/window_manager.h"
#include "platform/pictures.h"
#include "platform/presenter.h"
#include "platform/record_fields.h"
#include "platform/runtime_error.h"
#include "platform/window.h"

namespace qm {

namespace {

constexpr std::int32_t kAllRows = std::numeric_limits<std::int32_t>::max();
// The driver's read-ahead while a fill still has this many rows or more to
// read: more would only hold records the list never shows.
constexpr int kMostReadAhead = 60;

std::string_view Clipped(std::string_view text) {
  const auto end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

// -1, 0 or 1 as the field's value is below, equal to or above `bound`.
int CompareField(const platform::FieldDeclaration& field, const std::uint8_t* record,
                 const std::string& bound) {
  if (platform::IsNumeric(field.encoding)) {
    const double value = platform::FieldNumber(field, record);
    char* end = nullptr;
    const double limit = std::strtod(bound.c_str(), &end);
    return value < limit ? -1 : (value > limit ? 1 : 0);
  }
  const std::string text = platform::FieldText(field, record);
  const int order = Clipped(text).compare(Clipped(bound));
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

// View part.

void ViewManager::InitView(FileManager& primary) {
  VIEW = &primary;
  ORDERS.clear();
  ORDER = nullptr;
  SAVEDBUFFERS.clear();
  PAGESIZE = 20;
  PAGESBEHIND = 2;
  PAGESAHEAD = 0;
  TIMEOUT = 60;
  KILLED = 0;
  INITED = 1;
}

int ViewManager::AddSortOrder(int key) {
  ORDERS.push_back({.MAINKEY = key});
  ORDER = &ORDERS.back();
  return static_cast<int>(ORDERS.size());
}

bool ViewManager::SetSort(int order) {
  if (order < 1 || order > static_cast<int>(ORDERS.size())) return false;
  ORDER = &ORDERS[static_cast<std::size_t>(order - 1)];
  return true;
}

void ViewManager::AddRange(int field, const std::string& low, const std::string& high) {
  if (ORDER) ORDER->RANGELIST.push_back({field, low, high});
}

void ViewManager::AddFilter(std::function<bool()> filter) {
  if (ORDER && filter) ORDER->FILTER.push_back(std::move(filter));
}

void ViewManager::AddResetField(int field) {
  if (ORDER) ORDER->RESETFIELDS.push_back(field);
}

ErrorLevel ViewManager::ResetToStart() { return ResetToEdge(true); }
ErrorLevel ViewManager::ResetToEnd() { return ResetToEdge(false); }

ErrorLevel ViewManager::ResetToEdge(bool start) {
  if (!VIEW) return LevelNotify;
  OPENED = 1;
  const std::vector<const Range*> bounding = BoundingRanges();
  if (bounding.empty()) return VIEW->SetOrder(MainKey()) == LevelNone ? LevelNone : LevelNotify;
  // The key value at the range's start (end) is put into the record buffer
  // only to position the view; the buffer is left as it was.
  platform::RecordFile& file = *VIEW->FILE;
  const auto& declaration = file.Declaration();
  const auto& components = declaration.keys[static_cast<std::size_t>(MainKey() - 1)].components;
  const std::vector<std::uint8_t> kept(file.Record(), file.Record() + file.RecordSize());
  for (std::size_t i = 0; i < components.size(); ++i) {
    const auto& field = declaration.fields[static_cast<std::size_t>(components[i] - 1)];
    if (i < bounding.size()) {
      const Range& range = *bounding[i];
      platform::SetFieldText(field, file.Record(), start || range.HIGH.empty() ? range.LOW : range.HIGH);
    } else if (start) {
      platform::SetFieldLowest(field, file.Record());
    } else {
      platform::SetFieldHighest(field, file.Record());
    }
  }
  const ErrorLevel level = VIEW->SetOrderAt(MainKey());
  std::copy(kept.begin(), kept.end(), file.Record());
  return level == LevelNone ? LevelNone : LevelNotify;
}

std::vector<const ViewManager::Range*> ViewManager::BoundingRanges() const {
  std::vector<const Range*> bounding;
  if (!ORDER || !VIEW || !VIEW->FILE) return bounding;
  const auto& declaration = VIEW->FILE->Declaration();
  const int key = ORDER->MAINKEY;
  if (key < 1 || key > static_cast<int>(declaration.keys.size())) return bounding;
  const platform::KeyDeclaration& declared = declaration.keys[static_cast<std::size_t>(key - 1)];
  for (const int component : declared.components) {
    const auto found = std::find_if(ORDER->RANGELIST.begin(), ORDER->RANGELIST.end(),
                                    [component](const Range& range) { return range.FIELD == component; });
    if (found == ORDER->RANGELIST.end()) break;
    // A key that ignores case orders text otherwise than a range compares it.
    const auto& field = declaration.fields[static_cast<std::size_t>(component - 1)];
    if (declared.no_case && !platform::IsNumeric(field.encoding)) break;
    bounding.push_back(&*found);
    if (!found->HIGH.empty()) break;
  }
  return bounding;
}

ErrorLevel ViewManager::ResetToPosition(const std::string& position) {
  if (!VIEW || VIEW->EnsureOpen() != LevelNone || !VIEW->FILE) return LevelNotify;
  OPENED = 1;
  return VIEW->FILE->Reset(MainKey(), position) == 0 ? LevelNone : LevelNotify;
}

ErrorLevel ViewManager::Next() { return Step(true); }
ErrorLevel ViewManager::Previous() { return Step(false); }

ErrorLevel ViewManager::Step(bool forward) {
  if (!VIEW) return LevelFatal;
  for (;;) {
    const ErrorLevel level = forward ? VIEW->NextQuiet() : VIEW->PreviousQuiet();
    if (level != LevelNone) {
      if (VIEW->AtEof()) return LevelNotify;
      if (VIEW->LASTERROR != kMsgRecordHeld) VIEW->NoteError(kMsgRetrievalError);
      VIEW->ReportError();
      return LevelFatal;
    }
    switch (ValidateRecord()) {
      case 0: return LevelNone;
      case 1: return LevelNotify;
      default: break;
    }
  }
}

int ViewManager::ValidateRecord() {
  if (!ORDER || !VIEW || !VIEW->FILE) return 0;
  const platform::RecordFile& file = *VIEW->FILE;
  const auto& fields = file.Declaration().fields;
  // Past a range on the key's leading fields the rest of the order is out
  // of range too: the read ends there.
  const std::vector<const Range*> bounding = BoundingRanges();
  bool skip = false;
  for (const Range& range : ORDER->RANGELIST) {
    if (range.FIELD < 1 || range.FIELD > static_cast<int>(fields.size())) continue;
    const auto& field = fields[static_cast<std::size_t>(range.FIELD - 1)];
    const bool outside = range.HIGH.empty() ? CompareField(field, file.Record(), range.LOW) != 0
                                            : CompareField(field, file.Record(), range.LOW) < 0 ||
                                                  CompareField(field, file.Record(), range.HIGH) > 0;
    if (!outside) continue;
    if (std::find(bounding.begin(), bounding.end(), &range) != bounding.end()) return 1;
    skip = true;
  }
  if (skip) return 2;
  for (const auto& filter : ORDER->FILTER) {
    if (!filter()) return 2;
  }
  return 0;
}

int ViewManager::Reget(const std::string& position) {
  if (!VIEW) return platform::kErrNoRecord;
  if (VIEW->RefetchQuiet(position) == LevelNone) return platform::kErrNone;
  const int code = platform::LastRuntimeError().code;
  return code != platform::kErrNone ? code : platform::kErrNoRecord;
}

std::string ViewManager::Position() const {
  return VIEW && VIEW->FILE ? VIEW->FILE->Position(MainKey()) : std::string{};
}

void ViewManager::SaveBuffers() {
  if (VIEW) SAVEDBUFFERS.push_back(VIEW->SnapshotBuffer());
}

void ViewManager::RestoreBuffers() {
  if (!VIEW || SAVEDBUFFERS.empty()) return;
  std::uint16_t id = SAVEDBUFFERS.back();
  SAVEDBUFFERS.pop_back();
  VIEW->RestoreSnapshot(id, true);
}

void ViewManager::KillView() {
  if (VIEW) {
    for (std::uint16_t id : SAVEDBUFFERS) VIEW->RestoreSnapshot(id, false);
  }
  SAVEDBUFFERS.clear();
  ORDERS.clear();
  ORDER = nullptr;
  OPENED = 0;
  KILLED = 1;
}

// Browse.

BrowseManager::BrowseManager() = default;
BrowseManager::~BrowseManager() = default;

ErrorLevel BrowseManager::Init(int list_control, WindowManager& window, RelationManager& relations) {
  if (!relations.ME) return LevelFatal;
  ILC = list_control;
  WINDOW = &window;
  PRIMARY = &relations;
  USEWAITCURSOR = 1;
  USEMRP = 1;
  PREVCHOICE = 0;
  RETAINROW = 1;
  torn_down_ = 0;
  POPUP = std::make_unique<PopupManager>();
  POPUP->Init();
  InitView(*relations.ME);
  window.AddItem(*this);
  SELECTING = window.REQUEST == RequestSelect ? 1 : 0;
  if (SELECTING) BUFFER = VIEW->SnapshotBuffer();
  return LevelNone;
}

int BrowseManager::AddOrder(int key) { return AddSortOrder(key); }

void BrowseManager::AddField(int field, const std::string& picture) {
  FIELDS.push_back({field, picture});
}

void BrowseManager::AttachToolbar(ToolbarManager& toolbar) {
  platform::Window* window = ListWindow();
  if (!window) return;
  TOOLBAR = &toolbar;
  TOOLBARITEM = std::make_unique<BrowseToolbarTarget>(*window);
  TOOLBARITEM->BROWSE = this;
  TOOLBARITEM->INSERTBUTTON = INSERTCONTROL;
  TOOLBARITEM->CHANGEBUTTON = CHANGECONTROL;
  TOOLBARITEM->DELETEBUTTON = DELETECONTROL;
  TOOLBARITEM->SELECTBUTTON = SELECTCONTROL;
  toolbar.AddTarget(*TOOLBARITEM, ILC);
}

platform::Window* BrowseManager::ListWindow() const {
  return WINDOW ? WINDOW->MYWINDOW.get() : nullptr;
}

int BrowseManager::PageRows() const {
  const platform::Window* window = ListWindow();
  const int rows = window ? window->PropertyNumber(kPropListItems, ILC) : 0;
  return std::max(rows, 1);
}

const BrowseRow* BrowseManager::CurrentRow() const {
  if (CURRENTCHOICE < 1 || CURRENTCHOICE > Rows()) return nullptr;
  return &ROWS[static_cast<std::size_t>(CURRENTCHOICE - 1)];
}

// A driver that cannot read by position is read from the row's position
// on instead, keeping the view's own reading position. The record found
// there must be the row's: another one means the row's record is gone.
bool BrowseManager::RereadRow(const BrowseRow& row) {
  const int code = Reget(row.POSITION);
  if (code == platform::kErrNone) return true;
  if (code != platform::kErrNotSupported || !VIEW || !VIEW->FILE) return false;
  std::uint16_t state = VIEW->SaveState();
  const bool read = ResetToPosition(row.POSITION) == LevelNone && Next() == LevelNone &&
                    Position() == row.POSITION;
  VIEW->RestoreState(state, false);
  return read;
}

BrowseRow BrowseManager::RowFromBuffer() const {
  BrowseRow row;
  row.POSITION = Position();
  const platform::RecordFile& file = *VIEW->FILE;
  const auto& fields = file.Declaration().fields;
  row.VALUES.reserve(FIELDS.size());
  for (const FieldPair& pair : FIELDS) {
    if (pair.FIELD < 1 || pair.FIELD > static_cast<int>(fields.size())) {
      row.VALUES.emplace_back();
      continue;
    }
    row.VALUES.push_back(
        platform::FieldText(fields[static_cast<std::size_t>(pair.FIELD - 1)], file.Record()));
  }
  return row;
}

void BrowseManager::UpdateBuffer() {
  if (!VIEW || !VIEW->FILE) return;
  platform::RecordFile& file = *VIEW->FILE;
  const BrowseRow* row = CurrentRow();
  if (!row) {
    file.Clear();
    return;
  }
  const auto& fields = file.Declaration().fields;
  for (std::size_t i = 0; i < FIELDS.size() && i < row->VALUES.size(); ++i) {
    const int number = FIELDS[i].FIELD;
    if (number < 1 || number > static_cast<int>(fields.size())) continue;
    platform::SetFieldText(fields[static_cast<std::size_t>(number - 1)], file.Record(),
                           row->VALUES[i]);
  }
}

int BrowseManager::FindRow(const std::string& position) const {
  if (position.empty()) return 0;
  for (std::size_t i = 0; i < ROWS.size(); ++i) {
    if (ROWS[i].POSITION == position) return static_cast<int>(i) + 1;
  }
  return 0;
}

void BrowseManager::Fetch(bool forward, int count) {
  if (count <= 0 || !VIEW || !VIEW->FILE) return;
  if (!ROWS.empty()) {
    if (ResetToPosition(forward ? ROWS.back().POSITION : ROWS.front().POSITION) != LevelNone) return;
  }
  platform::RecordFile& file = *VIEW->FILE;
  const bool set_read_ahead = USEMRP && file.ReadAhead() == 0;
  ITEMSTOFILL = count;
  std::vector<BrowseRow> before;  // rows read backward, nearest first
  while (ITEMSTOFILL > 0) {
    if (set_read_ahead) file.SetReadAhead(std::min<int>(ITEMSTOFILL, kMostReadAhead));
    const ErrorLevel level = forward ? Next() : Previous();
    if (level == LevelNotify) break;
    if (level != LevelNone) {
      ITEMSTOFILL = 0;
      if (set_read_ahead) file.SetReadAhead(0);
      return;
    }
    BrowseRow row = RowFromBuffer();
    if (forward) {
      if (!ROWS.empty() && ROWS.back().POSITION == row.POSITION) {
        ROWS.back() = std::move(row);
        continue;
      }
      ROWS.push_back(std::move(row));
    } else {
      const std::string& edge = before.empty() ? (ROWS.empty() ? std::string{} : ROWS.front().POSITION)
                                               : before.back().POSITION;
      if (!edge.empty() && edge == row.POSITION) {
        (before.empty() ? ROWS.front() : before.back()) = std::move(row);
        continue;
      }
      before.push_back(std::move(row));
    }
    --ITEMSTOFILL;
  }
  if (set_read_ahead) file.SetReadAhead(0);
  ITEMSTOFILL = 0;
  rows_changed_ = 1;
  if (forward) {
    const int excess = Rows() - LASTITEMS;
    if (excess > 0) {
      ROWS.erase(ROWS.begin(), ROWS.begin() + excess);
      CURRENTCHOICE -= excess;
    }
    return;
  }
  const int added = static_cast<int>(before.size());
  ROWS.insert(ROWS.begin(), std::make_move_iterator(before.rbegin()),
              std::make_move_iterator(before.rend()));
  CURRENTCHOICE += added;
  if (Rows() > LASTITEMS) ROWS.resize(static_cast<std::size_t>(LASTITEMS));
}

void BrowseManager::ResetQueue(int mode) {
  platform::Window* window = ListWindow();
  if (!window || !VIEW || !VIEW->FILE) return;
  if (!window->ControlVisible(ILC) && !ACTIVEINVISIBLE) {
    LOADPENDING = 1;
    return;
  }
  LOADED = 1;
  LOADPENDING = 0;
  if (FILELOADED) LASTITEMS = kAllRows;
  else if (LASTITEMS <= 0) LASTITEMS = PageRows();
  if (USEWAITCURSOR) platform::SetCursor(window, platform::Cursor::kWait);
  CURRENTCHOICE = std::max(CURRENTCHOICE, 1);
  std::string remembered;
  std::string start;
  if (mode == 1) {
    if (!ROWS.empty()) {
      const BrowseRow* row = CurrentRow();
      remembered = row ? row->POSITION : ROWS.back().POSITION;
      start = ROWS.front().POSITION;
    }
  } else if (const BrowseRow* row = CurrentRow()) {
    remembered = row->POSITION;
    // Keep as many rows above the current one as still fit on the page.
    const int above = RETAINROW ? std::min(CURRENTCHOICE - 1, std::max(LASTITEMS - 1, 0)) : 0;
    start = ROWS[static_cast<std::size_t>(CURRENTCHOICE - 1 - above)].POSITION;
  }
  ROWS.clear();
  rows_changed_ = 1;
  const ErrorLevel positioned = start.empty() ? ResetToStart() : ResetToPosition(start);
  if (positioned == LevelNone) {
    CURRENTCHOICE = 0;
    Fetch(true, LASTITEMS);
    CURRENTCHOICE = remembered.empty() ? 1 : FindRow(remembered);
    if (Rows() < LASTITEMS && !ALLOWUNFILLED && !ROWS.empty()) {
      Fetch(false, LASTITEMS - Rows());
      if (!remembered.empty()) CURRENTCHOICE = FindRow(remembered);
    }
  }
  CURRENTCHOICE = std::clamp(CURRENTCHOICE, std::min(1, Rows()), Rows());
  UpdateBuffer();
  SaveResetValues();
  if (USEWAITCURSOR) platform::SetCursor(window, platform::Cursor::kNormal);
}

void BrowseManager::ResetFromFile() {
  ROWS.clear();
  CURRENTCHOICE = 1;
  ResetQueue(1);
}

void BrowseManager::SaveResetValues() {
  if (!ORDER || !VIEW || !VIEW->FILE) return;
  ORDER->RESETS = ResetValues();
}

std::vector<std::string> BrowseManager::ResetValues() const {
  std::vector<std::string> values;
  if (!ORDER || !VIEW || !VIEW->FILE) return values;
  const platform::RecordFile& file = *VIEW->FILE;
  const auto& fields = file.Declaration().fields;
  for (int number : ORDER->RESETFIELDS) {
    if (number < 1 || number > static_cast<int>(fields.size())) continue;
    values.push_back(platform::FieldText(fields[static_cast<std::size_t>(number - 1)], file.Record()));
  }
  return values;
}

void BrowseManager::ScrollEvent(int event) {
  if (event < kEventListScrollUp || event > kEventListScrollBottom) return;
  CURRENTEVENT = event;
  if (!LOADED) ResetQueue(1);
  const int page = PageRows();
  last_scroll_down_ = 0;
  switch (event) {
    case kEventListScrollUp:
    case kEventListPageUp: {
      const int step = event == kEventListPageUp ? page : 1;
      if (!FILELOADED && (event == kEventListPageUp || CURRENTCHOICE <= 1)) {
        Fetch(false, step);
      }
      CURRENTCHOICE -= step;
      CURRENTCHOICE = std::max(CURRENTCHOICE, 1);
      break;
    }
    case kEventListScrollDown:
    case kEventListPageDown: {
      const int step = event == kEventListPageDown ? page : 1;
      if (!FILELOADED && (event == kEventListPageDown || CURRENTCHOICE >= Rows())) {
        Fetch(true, step);
      }
      CURRENTCHOICE = std::min(CURRENTCHOICE + step, Rows());
      last_scroll_down_ = 1;
      break;
    }
    case kEventListScrollTop:
      if (!FILELOADED) {
        ROWS.clear();
        if (ResetToStart() == LevelNone) Fetch(true, LASTITEMS);
      }
      CURRENTCHOICE = 1;
      break;
    case kEventListScrollBottom:
      if (!FILELOADED) {
        ROWS.clear();
        CURRENTCHOICE = 0;
        if (ResetToEnd() == LevelNone) Fetch(false, LASTITEMS);
      }
      CURRENTCHOICE = Rows();
      last_scroll_down_ = 1;
      break;
    default: break;
  }
  if (ROWS.empty()) CURRENTCHOICE = 0;
  UpdateBuffer();
  ShowList();
}

int BrowseManager::ThumbPosition() const {
  if (FILELOADED) {
    if (Rows() <= PageRows()) return 50;
    if (CURRENTCHOICE <= 1) return 0;
    return static_cast<int>(std::lround(100.0 * CURRENTCHOICE / Rows()));
  }
  if (last_scroll_down_ && CURRENTCHOICE == Rows() && Rows() > 0) return 100;
  return 50;
}

void BrowseManager::DragThumb() {
  platform::Window* window = ListWindow();
  if (!window) return;
  const int thumb = window->PropertyNumber(kPropListThumb, ILC);
  if (thumb <= 0) {
    ScrollEvent(kEventListScrollTop);
  } else if (thumb >= 100) {
    ScrollEvent(kEventListScrollBottom);
  } else if (FILELOADED) {
    CURRENTCHOICE = std::clamp(static_cast<int>(std::lround(thumb * Rows() / 100.0)),
                               std::min(1, Rows()), Rows());
    UpdateBuffer();
    ShowList();
  } else {
    window->Post({thumb < ThumbPosition() ? kEventListPageUp : kEventListPageDown, ILC, 0});
  }
}

bool BrowseManager::Disabled(int control) const {
  const platform::Window* window = ListWindow();
  if (!window || !window->HasControl(control)) return false;
  return !window->ControlEnabled(control) || window->PropertyNumber(platform::kPropDisable, control) != 0;
}

void BrowseManager::Accept(int control) {
  platform::Window* window = ListWindow();
  if (!window || control == 0 || !window->HasControl(control) || Disabled(control)) return;
  window->Post({platform::kEventAccepted, control, 0});
}

void BrowseManager::PostNewSelection(int key_code) {
  if (platform::Window* window = ListWindow()) {
    window->Post({platform::kEventNewSelection, ILC, key_code});
  }
}

void BrowseManager::TakeKey(int key_code) {
  platform::Window* window = ListWindow();
  if (!window) return;
  if (ROWS.empty()) {
    if (key_code == kKeyInsert) Accept(INSERTCONTROL);
    else Locate(key_code);
    AfterKeyAction();
    return;
  }
  switch (key_code) {
    case kKeyMouseRight: {
      const int row = window->PropertyNumber(kPropListMouseRow, ILC);
      if (row > 0 && row <= Rows()) {
        CURRENTCHOICE = row;
        window->SetSelectedRow(ILC, row);
        UpdateBuffer();
      }
      PostNewSelection(kKeyMouseRight);
      break;
    }
    case kKeyMouseLeft2:
      if (SELECTING) {
        Accept(SELECTCONTROL);
      } else if (window->PropertyNumber(kPropListMouseZone, ILC) != 2) {
        Accept(CHANGECONTROL);
      }
      break;
    case kKeyCtrlEnter: Accept(CHANGECONTROL); break;
    case kKeyInsert: Accept(INSERTCONTROL); break;
    case kKeyDelete: Accept(DELETECONTROL); break;
    case kKeyShiftEnter: Accept(VIEWCONTROL); break;
    case kKeyApps:
      ShowList();
      PostNewSelection(kKeyApps);
      return;
    default: Locate(key_code); break;
  }
  if (key_code != kKeyMouseRight) AfterKeyAction();
}

void BrowseManager::AfterKeyAction() {
  // The window follows the row the key left current, as after any new
  // selection the user makes.
  ShowList();
  PostNewSelection(0);
}

void BrowseManager::Locate(int key_code) {
  if (key_code < 32 || key_code > 126 || !ORDER || !VIEW || !VIEW->FILE) return;
  const int key = ORDER->MAINKEY;
  platform::RecordFile& file = *VIEW->FILE;
  if (key < 1 || key > file.KeyCount()) return;
  const auto& declaration = file.Declaration();
  const int field_number = declaration.keys[static_cast<std::size_t>(key - 1)].components.front();
  const auto& field = declaration.fields[static_cast<std::size_t>(field_number - 1)];
  // A number is located by value: a typed digit finds the first value at
  // or above it, where comparing text would put 10 before 5.
  const bool numeric = platform::IsNumeric(field.encoding);
  if (numeric ? !std::isdigit(key_code) : !platform::IsText(field.encoding)) return;
  const std::string wanted(1, static_cast<char>(key_code));
  if (FILELOADED) {
    std::size_t column = FIELDS.size();
    for (std::size_t i = 0; i < FIELDS.size(); ++i) {
      if (FIELDS[i].FIELD == field_number) column = i;
    }
    if (column == FIELDS.size()) return;
    CURRENTCHOICE = Rows();
    const char typed = static_cast<char>(std::toupper(key_code));
    auto at_or_after = [&](const std::string& value) {
      if (numeric) return std::strtod(value.c_str(), nullptr) >= key_code - '0';
      return !value.empty() && std::toupper(static_cast<unsigned char>(value.front())) >= typed;
    };
    for (std::size_t i = 0; i < ROWS.size(); ++i) {
      if (at_or_after(ROWS[i].VALUES[column])) {
        CURRENTCHOICE = static_cast<int>(i) + 1;
        break;
      }
    }
  } else {
    file.Clear();
    platform::SetFieldText(field, file.Record(), wanted);
    if (VIEW->SetOrderAt(key) != LevelNone) return;
    ROWS.clear();
    CURRENTCHOICE = 0;
    Fetch(true, LASTITEMS);
    CURRENTCHOICE = ROWS.empty() ? 0 : 1;
    if (Rows() < LASTITEMS && !ALLOWUNFILLED && !ROWS.empty()) Fetch(false, LASTITEMS - Rows());
    if (ROWS.empty() && ResetToEnd() == LevelNone) {
      Fetch(false, LASTITEMS);
      CURRENTCHOICE = Rows();
    }
  }
  UpdateBuffer();
  ShowList();
}

void BrowseManager::NewSelection(int key_code) {
  platform::Window* window = ListWindow();
  if (!window) return;
  const int chosen = window->SelectedRow(ILC);
  PREVCHOICE = CURRENTCHOICE;
  if (chosen >= 1 && chosen <= Rows()) CURRENTCHOICE = chosen;
  UpdateBuffer();
  if (key_code != kKeyMouseRight && key_code != kKeyApps) {
    WINDOW->Reset(0);
  } else if (USEPOPUP) {
    platform::SetKeyCode(0);
    POPUP->Ask();
  }
}

void BrowseManager::ShowList() {
  platform::Window* window = ListWindow();
  if (!window) return;
  if (rows_changed_) {
    std::vector<std::vector<std::string>> cells;
    cells.reserve(ROWS.size());
    for (const BrowseRow& row : ROWS) {
      std::vector<std::string> shown;
      shown.reserve(row.VALUES.size());
      for (std::size_t i = 0; i < row.VALUES.size(); ++i) {
        const std::string& picture = FIELDS[i].PICTURE;
        shown.push_back(picture.empty() ? row.VALUES[i]
                                        : platform::FormatPicture(picture, row.VALUES[i]));
      }
      cells.push_back(std::move(shown));
    }
    window->SetListRows(ILC, std::move(cells));
    rows_changed_ = 0;
  }
  window->SetSelectedRow(ILC, CURRENTCHOICE);
  window->SetProperty(kPropListThumb, static_cast<long>(ThumbPosition()), ILC);
}

void BrowseManager::Ask(std::uint8_t request) {
  NavigationRequest() = 0;
  if (platform::KeyCode() == kKeyMouseRight) platform::SetKeyCode(0);
  if (ASKPROCEDURE == 0 || !WINDOW) return;
  do {
    NavigationRequest() = 0;
    if (request == RequestInsert) VIEW->PrepareRecord();
    WINDOW->RunProcedure(ASKPROCEDURE, request);
    ResetQueue(2);
    switch (NavigationRequest()) {
      case kToolbarBottom: ScrollEvent(kEventListScrollBottom); break;
      case kToolbarTop: ScrollEvent(kEventListScrollTop); break;
      case kToolbarPageDown: ScrollEvent(kEventListPageDown); break;
      case kToolbarPageUp: ScrollEvent(kEventListPageUp); break;
      case kToolbarDown: ScrollEvent(kEventListScrollDown); break;
      case kToolbarUp: ScrollEvent(kEventListScrollUp); break;
      default: NavigationRequest() = 0; break;
    }
    if (NavigationRequest() != 0) {
      WINDOW->Reset(0);
      WINDOW->Update();
    }
  } while (NavigationRequest() != 0 && HasRecord());
}

ErrorLevel BrowseManager::HandleEvent() {
  platform::Window* window = ListWindow();
  if (!window || torn_down_) return LevelNone;
  const int event = window->CurrentEvent();
  const int control = window->CurrentField();
  if (control == ILC) {
    switch (event) {
      case platform::kEventNewSelection: NewSelection(platform::KeyCode()); break;
      case kEventListScrollUp:
      case kEventListScrollDown:
      case kEventListPageUp:
      case kEventListPageDown:
      case kEventListScrollTop:
      case kEventListScrollBottom: ScrollEvent(event); break;
      case platform::kEventAlertKey: TakeKey(platform::KeyCode()); break;
      case kEventListScrollDrag: DragThumb(); break;
      default: break;
    }
  } else if (control != 0) {
    TakeHighlight();
  }
  // A popup item or the toolbox posts "accepted" whatever the state of its
  // button: a disabled button is not pressed that way either.
  if (event == platform::kEventAccepted && control != 0 && !Disabled(control)) {
    std::uint8_t request = RequestNone;
    if (control == DELETECONTROL) request = RequestDelete;
    else if (control == CHANGECONTROL) request = RequestChange;
    else if (control == INSERTCONTROL) request = RequestInsert;
    else if (control == VIEWCONTROL) request = RequestView;
    if (request != RequestNone) {
      if (request == RequestInsert || HasRecord()) {
        WINDOW->Update();
        // A row whose record is gone leaves the file on whatever record was
        // read last: a change or delete now would act on that one.
        if (request == RequestInsert || !NEEDREFRESH) Ask(request);
      }
    } else if (control == SELECTCONTROL) {
      WINDOW->RESPONSE = ResponseCompleted;
      window->Post({platform::kEventCloseWindow, 0, 0});
    } else if (control == TOOLCONTROL) {
      POPUP->ShowToolbox("Browse Actions");
    }
  }
  if (NEEDREFRESH) {
    ResetQueue(2);
    NEEDREFRESH = 0;
  }
  if (event == platform::kEventCloseWindow && SELECTING && BUFFER != 0) {
    const bool selected = WINDOW->RESPONSE == ResponseCompleted;
    VIEW->RestoreSnapshot(BUFFER, true);
    if (selected) {
      const BrowseRow* row = CurrentRow();
      if (!SELECTWHOLERECORD || !row || !RereadRow(*row)) UpdateBuffer();
    }
  }
  return LevelNone;
}

void BrowseManager::TakeHighlight() {
  const platform::Window* window = ListWindow();
  if (!window || rows_changed_) return;
  const int chosen = window->SelectedRow(ILC);
  if (chosen < 1 || chosen > Rows() || chosen == CURRENTCHOICE) return;
  CURRENTCHOICE = chosen;
  UpdateBuffer();
}

void BrowseManager::Reset(int force) {
  if (torn_down_) return;
  TakeHighlight();
  if (force || LOADPENDING || !LOADED) ResetQueue(LOADED ? 2 : 1);
}

bool BrowseManager::ResetRequired() {
  if (torn_down_) return false;
  bool reset = false;
  if (const platform::Window* window = ListWindow()) {
    const int shown = window->PropertyNumber(kPropListItems, ILC);
    if (FILELOADED) {
      LASTITEMS = kAllRows;
    } else if (shown > 0 && shown != LASTITEMS) {
      LASTITEMS = shown;
      reset = true;
    }
  }
  if (ORDER && ResetValues() != ORDER->RESETS) reset = true;
  if (reset) LOADPENDING = 1;
  return reset;
}

void BrowseManager::RegisterAlerts() {
  platform::Window* window = ListWindow();
  if (!window) return;
  window->SetAlertKey(ILC, 252, kKeyMouseLeft2);
  window->SetAlertKey(ILC, 249, kKeyMouseRight);
  window->SetAlertKey(ILC, 250, kKeyApps);
  HASTHUMB = window->PropertyNumber(kPropListVScroll, ILC) != 0 ? 1 : 0;
  window->SetProperty(kPropListVScroll, 0L, ILC);
  if (EDITVIAPOPUP) {
    if (INSERTCONTROL) {
      window->SetAlertKey(ILC, 255, kKeyInsert);
      AddMirror(INSERTCONTROL, "!&Insert");
    }
    if (CHANGECONTROL) {
      window->SetAlertKey(ILC, 253, kKeyCtrlEnter);
      AddMirror(CHANGECONTROL, "!&Change");
    }
    if (DELETECONTROL) {
      window->SetAlertKey(ILC, 254, kKeyDelete);
      AddMirror(DELETECONTROL, "!&Delete");
    }
    if (VIEWCONTROL) {
      window->SetAlertKey(ILC, 251, kKeyShiftEnter);
      AddMirror(VIEWCONTROL, "!&View");
    }
  }
  if (PRINTCONTROL) AddMirror(PRINTCONTROL, "!&Print");
  if (QUERYCONTROL) {
    if (POPUP->GetItems(false) > 0) POPUP->AddItem("-", "Separator2", "", 1);
    AddMirror(QUERYCONTROL, "!&Query");
  }
  if (SELECTCONTROL && SELECTING) AddMirror(SELECTCONTROL, "!&Select");
  if (TOOLCONTROL) {
    POPUP->AddItem("-", "ToolSeparator2");
    POPUP->SetInToolbox(AddMirror(TOOLCONTROL, "!&Toolbox"), false);
  }
}

std::string BrowseManager::AddMirror(int control, const std::string& text) {
  const std::string name = POPUP->AddMirrorItem(text, control);
  POPUP->SetInToolbox(name, true);
  return name;
}

void BrowseManager::Update() {
  const BrowseRow* row = CurrentRow();
  if (!row || !VIEW) return;
  if (!RereadRow(*row)) {
    NEEDREFRESH = 1;
    return;
  }
  ROWS[static_cast<std::size_t>(CURRENTCHOICE - 1)] = RowFromBuffer();
  rows_changed_ = 1;
}

void BrowseManager::UpdateWindow() {
  platform::Window* window = ListWindow();
  if (!window || torn_down_) return;
  TakeHighlight();
  const bool has_record = HasRecord();
  for (int control : {CHANGECONTROL, DELETECONTROL, PRINTCONTROL, VIEWCONTROL}) {
    if (control != 0 && window->HasControl(control)) window->SetControlEnabled(control, has_record);
  }
  if (SELECTCONTROL != 0 && window->HasControl(SELECTCONTROL)) {
    if (SELECTING && has_record && WINDOW->REQUEST == RequestSelect) {
      window->SetControlEnabled(SELECTCONTROL, true);
      window->SetProperty(kPropDefault, 1L, SELECTCONTROL);
    } else {
      window->SetControlEnabled(SELECTCONTROL, false);
      if (HIDESELECT && !SELECTING) window->SetControlVisible(SELECTCONTROL, false);
    }
  }
  if (!has_record) UpdateBuffer();
  if (TOOLBARITEM) TOOLBARITEM->DisplayButtons();
  ShowList();
}

void BrowseManager::Teardown() {
  if (torn_down_ || !WINDOW) return;
  torn_down_ = 1;
  if (POPUP) POPUP->Teardown();
  WINDOW->RemoveItem(*this);
  if (SELECTING && BUFFER != 0 && VIEW) VIEW->RestoreSnapshot(BUFFER, false);
  if (USEMRP && VIEW && VIEW->FILE) VIEW->FILE->SetReadAhead(0);
  KillView();
  ROWS.clear();
  FIELDS.clear();
}

}  // namespace qm
