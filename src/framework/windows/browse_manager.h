// A browse: the records of a file, read through a view in one of its sort
// orders, shown in a list control of a procedure's window. It keeps the
// list, the file's record buffer and the window's record buttons in step,
// scrolls by row, page and to either end, and turns double clicks, keys,
// buttons, its popup menu and the toolbar into requests on the record.
//
// With FILELOADED the whole view is read into the list and scrolling moves
// within the list; without it the list holds one page and scrolling past
// either end reads more from the file, so memory does not grow with it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/errors/error_level.h"
#include "framework/windows/browse_toolbar_target.h"
#include "framework/windows/popup_manager.h"
#include "framework/windows/window_component.h"
#include "platform/events.h"

namespace qm {

class FileManager;
class RelationManager;
class ToolbarManager;
class WindowManager;

// Events of a list control.
inline constexpr int kEventListScrollUp = 3;
inline constexpr int kEventListScrollDown = 4;
inline constexpr int kEventListPageUp = 5;
inline constexpr int kEventListPageDown = 6;
inline constexpr int kEventListScrollTop = 7;
inline constexpr int kEventListScrollBottom = 8;
inline constexpr int kEventListLocate = 9;
using platform::kEventListScrollDrag;

// Key codes a browse answers.
inline constexpr int kKeyMouseLeft2 = 5;    // double click
using platform::kKeyMouseRight;
using platform::kKeyApps;
inline constexpr int kKeyInsert = 45;
inline constexpr int kKeyDelete = 46;
inline constexpr int kKeyCtrlEnter = 525;
inline constexpr int kKeyShiftEnter = 269;

// Properties of a list control.
using platform::kPropListItems;
inline constexpr int kPropListSelected = 31887;
inline constexpr int kPropListVScroll = 31883;
using platform::kPropListThumb;
using platform::kPropListMouseRow;
inline constexpr int kPropListMouseZone = 32470;
inline constexpr int kPropDefault = 31838;

// Message the view raises when its order cannot be applied.
inline constexpr std::uint16_t kMsgViewOpenError = 46;

// The view part: a file read in a sort order, its records checked against
// the order's range and filters.
class ViewManager {
 public:
  // A range over one field of the record: equality when HIGH is empty, else
  // from LOW to HIGH, compared as numbers for numeric fields.
  struct Range {
    int FIELD = 0;  // 1-based field number of the record
    std::string LOW;
    std::string HIGH;
  };
  struct SortOrder {
    int MAINKEY = 0;  // key number; 0: record order
    std::vector<Range> RANGELIST;
    // Each filter looks at the primary file's record buffer; true keeps it.
    std::vector<std::function<bool()>> FILTER;
    std::vector<std::string> RESETS;  // reset fields' values at the last fill
    std::vector<int> RESETFIELDS;
  };

  virtual ~ViewManager() = default;

  void InitView(FileManager& primary);
  // Adds a sort order and makes it current; answers its number from 1.
  int AddSortOrder(int key);
  bool SetSort(int order);
  void AddRange(int field, const std::string& low, const std::string& high = {});
  void AddFilter(std::function<bool()> filter);
  // Fields whose change since the last fill makes the list stale.
  void AddResetField(int field);

  // Puts the view at its start for Next, or at its end for Previous: the
  // start (end) of the order's range when it has one on the key's leading
  // fields. 5 on failure.
  ErrorLevel ResetToStart();
  ErrorLevel ResetToEnd();
  // Puts the view at `position` of the current order: Next reads that row.
  ErrorLevel ResetToPosition(const std::string& position);
  // The next (previous) record that passes the order's range and filters:
  // 0 taken, 5 no more, 3 read error (reported).
  ErrorLevel Next();
  ErrorLevel Previous();
  // 0 take, 1 stop (the rest of the order is out of range), 2 skip.
  virtual int ValidateRecord();
  // Reads the record at `position` into the buffer: 0, or the runtime's
  // error code (80 from a driver that cannot read by position).
  virtual int Reget(const std::string& position);
  // The current record's position in the current order.
  std::string Position() const;

  void SaveBuffers();
  void RestoreBuffers();
  void KillView();

  std::uint8_t INITED = 0;
  std::uint8_t KILLED = 0;
  std::uint8_t OPENED = 0;
  std::uint16_t PAGESIZE = 20;
  std::uint16_t PAGESBEHIND = 2;
  std::uint16_t PAGESAHEAD = 0;
  std::uint16_t TIMEOUT = 60;
  FileManager* VIEW = nullptr;
  std::vector<SortOrder> ORDERS;
  SortOrder* ORDER = nullptr;
  std::vector<std::uint16_t> SAVEDBUFFERS;

 protected:
  ErrorLevel Step(bool forward);
  ErrorLevel ResetToEdge(bool start);
  // The ranges on the leading fields of the order's key, each but the last
  // an equality: the records within them follow one another in the order.
  std::vector<const Range*> BoundingRanges() const;
  int MainKey() const { return ORDER ? ORDER->MAINKEY : 0; }
};

// One row of the list queue: the field values it shows and where its record
// is in the view.
struct BrowseRow {
  std::vector<std::string> VALUES;  // one per field pair, unformatted
  std::string POSITION;
};

class BrowseManager : public ViewManager, public WindowComponent {
 public:
  // A field pair: a field of the file's record and the list column showing
  // it through PICTURE (empty: as it is).
  struct FieldPair {
    int FIELD = 0;
    std::string PICTURE;
  };

  BrowseManager();
  ~BrowseManager() override;
  BrowseManager(const BrowseManager&) = delete;
  BrowseManager& operator=(const BrowseManager&) = delete;

  // Over list control `list_control` of `window`'s window, showing
  // `relations`' file. Adds the browse to the window manager.
  ErrorLevel Init(int list_control, WindowManager& window, RelationManager& relations);
  // A sort order by `key` (0: record order); it becomes current.
  int AddOrder(int key);
  // The next list column shows `field` of the record (1-based).
  void AddField(int field, const std::string& picture = {});
  void AttachToolbar(ToolbarManager& toolbar);

  // WindowComponent
  void Teardown() override;
  void Reset(int force) override;
  bool ResetRequired() override;
  void RegisterAlerts() override;
  ErrorLevel HandleEvent() override;
  void Update() override;
  void UpdateWindow() override;

  // Refills the list: mode 1 from the view's first row on, mode 2 around
  // the current row.
  void ResetQueue(int mode);
  // Refills the list from the start of the view.
  void ResetFromFile();
  // Scrolls as list event 3 to 8 does.
  void ScrollEvent(int event);
  void TakeKey(int key_code);
  // Redraws the list and posts a new selection once a key has done its work.
  void AfterKeyAction();
  void NewSelection(int key_code);
  // Runs the update procedure for `request` through the window manager.
  virtual void Ask(std::uint8_t request);

  int Rows() const { return static_cast<int>(ROWS.size()); }
  bool HasRecord() const { return !ROWS.empty() && CURRENTCHOICE >= 1; }
  int CurrentChoice() const { return CURRENTCHOICE; }
  const BrowseRow* CurrentRow() const;
  // Puts the current row's field values into the file's record buffer, or
  // clears it when there is no row.
  void UpdateBuffer();
  int ThumbPosition() const;

  std::uint8_t ACTIVEINVISIBLE = 0;
  std::uint8_t ALLOWUNFILLED = 0;
  std::int32_t ASKPROCEDURE = 0;
  std::uint16_t BUFFER = 0;
  std::int32_t CHANGECONTROL = 0;
  std::int32_t DELETECONTROL = 0;
  std::int32_t INSERTCONTROL = 0;
  std::int32_t PRINTCONTROL = 0;
  std::int32_t QUERYCONTROL = 0;
  std::int32_t SELECTCONTROL = 0;
  std::int32_t TOOLCONTROL = 0;
  std::int32_t VIEWCONTROL = 0;
  std::int32_t CURRENTCHOICE = 0;
  std::int32_t CURRENTEVENT = 0;
  std::vector<FieldPair> FIELDS;
  std::uint8_t FILELOADED = 0;
  std::uint8_t USEMRP = 1;
  std::uint8_t HASTHUMB = 0;
  std::uint8_t HIDESELECT = 0;
  std::int32_t ILC = 0;  // the list control
  std::int32_t ITEMSTOFILL = 0;
  std::int32_t PREVCHOICE = 0;
  std::int32_t LASTITEMS = 0;
  std::vector<BrowseRow> ROWS;  // the list queue
  std::uint8_t LOADPENDING = 0;
  std::uint8_t LOADED = 0;
  std::uint8_t NEEDREFRESH = 0;
  std::unique_ptr<PopupManager> POPUP;
  std::uint8_t USEPOPUP = 1;
  std::uint8_t EDITVIAPOPUP = 1;
  std::uint8_t RETAINROW = 1;
  std::uint8_t USEWAITCURSOR = 1;
  std::uint8_t SELECTING = 0;
  std::uint8_t SELECTWHOLERECORD = 0;
  ToolbarManager* TOOLBAR = nullptr;
  std::unique_ptr<BrowseToolbarTarget> TOOLBARITEM;
  WindowManager* WINDOW = nullptr;
  RelationManager* PRIMARY = nullptr;

 private:
  platform::Window* ListWindow() const;
  // Rows the control shows, at least 1.
  int PageRows() const;
  BrowseRow RowFromBuffer() const;
  // Reads the row's record into the file's buffer; false when it is gone.
  bool RereadRow(const BrowseRow& row);
  // Reads up to `count` rows in a direction, adding them at that end of the
  // list and dropping rows from the other end beyond LASTITEMS.
  void Fetch(bool forward, int count);
  int FindRow(const std::string& position) const;
  void ShowList();
  // Makes the row the list highlights current when the user moved the
  // highlight since the browse last showed its rows. The window manager
  // resets the window on a new selection before the browse sees the event;
  // without this the reset would put the highlight back on the old row.
  void TakeHighlight();
  // The window has the control and it is disabled.
  bool Disabled(int control) const;
  void Accept(int control);
  void PostNewSelection(int key_code);
  // A typed character moves to the first row whose leading key field
  // begins at or after it.
  void Locate(int key_code);
  void DragThumb();
  // A popup item that mimics `control`, also shown on the toolbox.
  std::string AddMirror(int control, const std::string& text);
  // The current order's reset fields as the record buffer holds them.
  std::vector<std::string> ResetValues() const;
  void SaveResetValues();

  std::uint8_t rows_changed_ = 0;  // the list control's rows are stale
  std::uint8_t last_scroll_down_ = 0;
  std::uint8_t torn_down_ = 0;
};

}  // namespace qm
