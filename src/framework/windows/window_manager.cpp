#include "framework/windows/window_manager.h"

#include <algorithm>
#include <thread>

#include "framework/errors/error_manager.h"
#include "framework/files/file_manager.h"
#include "framework/files/relation_manager.h"
#include "framework/windows/form_navigator.h"
#include "framework/windows/toolbar_manager.h"
#include "framework/windows/translator.h"
#include "framework/windows/window_component.h"

namespace qm {
namespace {

using namespace qm::platform;

// Events after which components are not asked whether they need a reset:
// they change nothing a component shows.
bool IsQuietEvent(int event, const Window& window, int control) {
  switch (event) {
    case 11: case 12: case 16: case 17: case 21: case 22: case 23: case 27: case 258:
    case 517: case 518: case 544: case 545: case 546: case 547: case 548:
      return true;
    case 3: case 4: case 5: case 6: case 7: case 8: case 20: case 29:
      return control != 0 && window.PropertyNumber(kPropImmediate, control) != 0;
    default:
      return false;
  }
}

constexpr int kKeyCodeCleared[] = {2, 130};
constexpr int kToolbarHistoryButton = 3012;
constexpr int kAlertIndexHistory = 255;

constexpr std::uint16_t kMsgRecordAdded = 3;
constexpr std::uint16_t kMsgChangesLost = 10;
constexpr std::uint16_t kMsgDeleteFailed = 39;
constexpr std::uint16_t kMsgUpdateFailed = 40;
constexpr std::uint16_t kMsgSaveRecord = 41;
constexpr unsigned kYesNoCancel = kButtonYes | kButtonNo | kButtonCancel;

// Shows the busy cursor while records are written.
class BusyCursor {
 public:
  explicit BusyCursor(Window* window) : window_(window) {
    platform::SetCursor(window_, Cursor::kWait);
  }
  ~BusyCursor() { platform::SetCursor(window_, Cursor::kNormal); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  Window* window_;
};

}  // namespace

WindowManager::~WindowManager() {
  if (MYWINDOW) MYWINDOW->Close();
}

void WindowManager::Ask() {
  if (DEAD) return;
  LASTINSERTEDPOSITION.clear();
  if (!MYWINDOW) return;
  while (MYWINDOW->NextEvent()) {
    const ErrorLevel level = HandleEvent();
    const int flag = level == LevelFatal ? -1 : level == LevelNotify ? 1 : 0;
    if (MYWINDOW->EndEvent(flag)) break;
  }
}

ErrorLevel WindowManager::Init() {
  ORIGINALREQUEST = REQUEST;
  CL = std::make_unique<std::vector<ComponentEntry>>();
  BUTTONS = std::make_unique<std::vector<ButtonEntry>>();
  if (std::ranges::find(kKeyCodeCleared, KeyCode()) != std::end(kKeyCodeCleared)) SetKeyCode(0);
  INSERTACTION = 2;
  DELETEACTION = 2;
  CHANGEACTION = 2;
  CANCELACTION = 3;
  AUTOTOOLBAR = 1;
  AUTOREFRESH = 1;
  OWNERWINDOW = nullptr;
  return LevelNone;
}

ErrorLevel WindowManager::Teardown() {
  if (DEAD || !CL) return LevelNotify;
  while (!CL->empty()) {
    WindowComponent* component = CL->front().WC;
    CL->erase(CL->begin());
    component->Teardown();
  }
  CL.reset();
  BUTTONS.reset();
  HISTORY.reset();
  if (FILES) {
    for (auto& entry : *FILES) entry.FILE->RestoreSnapshot(entry.ID, false);
  }
  FILES.reset();
  if (PRIMARY && PRIMARY->ME && SAVED != 0) PRIMARY->ME->RestoreSnapshot(SAVED, false);
  if (TOOLBAR) TOOLBAR->Teardown();
  if (RESIZE) RESIZE->Kill();
  // A window whose procedure was abandoned before its loop ran must not stay on screen.
  if (MYWINDOW) MYWINDOW->Close();
  DEAD = 1;
  return LevelNone;
}

void WindowManager::Open() {
  if (TRANSLATOR && MYWINDOW) TRANSLATOR->TranslateWindow(*MYWINDOW);
  Reset(0);
  INITED |= kInitedReady;
}

void WindowManager::OpenWindow(const WindowDef& window, Window* owner) {
  if (owner) OWNERWINDOW = owner;
  MYWINDOW = platform::OpenWindow(window, OWNERWINDOW);
  OPENED = 1;
}

void WindowManager::PrepareNewRecord() {}

ErrorLevel WindowManager::PrepareRequest() {
  if (!PRIMARY || !PRIMARY->ME) return LevelNone;
  FileManager& file = *PRIMARY->ME;
  file.EnsureOpen();
  if (FILES) {
    for (auto& entry : *FILES) entry.ID = entry.FILE->SnapshotBuffer();
  }
  ErrorLevel level = LevelNone;
  if (REQUEST == RequestInsert && INSERTACTION != 0) {
    // A record that cannot be numbered cannot be inserted: the form is not
    // shown. A caller such as a browse may have prepared and numbered it
    // already; numbering again would leave that record behind.
    if (!file.AutoIncDone() && file.PrepareRecord() != LevelNone) {
      RESPONSE = ResponseCancelled;
      return LevelFatal;
    }
    RESPONSE = ResponseCompleted;
    PrepareNewRecord();
    if (RESPONSE == ResponseCancelled) {
      level = LevelFatal;
    } else {
      RESPONSE = ResponseCancelled;
    }
  } else if (REQUEST == RequestDelete && (DELETEACTION == 2 || DELETEACTION == 4)) {
    PRIMARY->SaveLinkValues();
    RESPONSE = PRIMARY->Delete(DELETEACTION == 2) == LevelNone ? ResponseCompleted : ResponseCancelled;
    level = LevelFatal;
  } else if (REQUEST == RequestChange || REQUEST == RequestDelete) {
    PRIMARY->SaveLinkValues();
  }
  SAVED = file.SnapshotBuffer();
  return level;
}

void WindowManager::Reset(int force) {
  if (!MYWINDOW || MYWINDOW->PropertyNumber(kPropNoRefresh) != 0) return;
  force += FORCEDRESET;
  FORCEDRESET = 0;
  if (CL) {
    for (const auto& entry : *CL) entry.WC->Reset(force);
    for (const auto& entry : *CL) entry.WC->UpdateWindow();
  }
  MYWINDOW->Display(0);
}

void WindowManager::RecallFieldHistory(int control) {
  if (!HISTORY) return;
  for (const auto& entry : *HISTORY) {
    if (entry.CONTROL != control) continue;
    *entry.VARIABLE = entry.SAVED;
    if (MYWINDOW) MYWINDOW->Display(control);
    return;
  }
}

std::uint8_t WindowManager::Run() {
  if (Init() == LevelNone) Ask();
  Teardown();
  return RESPONSE == 0 ? ResponseCancelled : RESPONSE;
}

std::uint8_t WindowManager::RunProcedure(int, std::uint8_t) { return ResponseCancelled; }

void WindowManager::RegisterAlerts() {
  if (CL) {
    for (const auto& entry : *CL) entry.WC->RegisterAlerts();
  }
  if (HISTORY && MYWINDOW && HISTORYKEY != 0) {
    for (const auto& entry : *HISTORY) {
      MYWINDOW->SetAlertKey(entry.CONTROL, kAlertIndexHistory, HISTORYKEY);
    }
  }
}

void WindowManager::CloseWithResponse(std::uint8_t response) {
  RESPONSE = response;
  if (MYWINDOW) MYWINDOW->Post({kEventCloseWindow, 0, 0});
  if (response == ResponseCancelled && TOOLBAR && VCRREQUEST) *VCRREQUEST = 0;
}

ErrorLevel WindowManager::OnAccepted() {
  const int accepted = MYWINDOW ? MYWINDOW->Accepted() : 0;
  if (TOOLBAR) {
    TOOLBAR->HandleEvent(VCRREQUEST ? *VCRREQUEST : NavigationRequest(), *this);
    if (accepted == kToolbarHistoryButton) RecallFieldHistory(MYWINDOW->Focus());
  }
  if (BUTTONS) {
    for (const auto& button : *BUTTONS) {
      if (button.CONTROL == accepted) {
        CloseWithResponse(button.ACTION);
        return LevelNotify;
      }
    }
  }
  if (OKCONTROL != 0 && accepted == OKCONTROL) PostCompletion();
  if (SAVECONTROL != 0 && accepted == SAVECONTROL) {
    if (REQUEST == RequestView) return LevelNotify;
    BEFORESAVEREQUEST = REQUEST;
    REQUEST = RequestSave;
    PostCompletion();
  }
  EnableCancelButtons();
  return LevelNone;
}

ErrorLevel WindowManager::OnCompleted() {
  if (HISTORY) {
    const HistoryEntry* previous = nullptr;
    for (auto& entry : *HISTORY) {
      if (!previous || entry.VARIABLE != previous->VARIABLE) entry.SAVED = *entry.VARIABLE;
      previous = &entry;
    }
  }
  if (!PRIMARY) return LevelNone;
  switch (REQUEST) {
    case RequestInsert: return CompleteInsert();
    case RequestChange: return CompleteChange();
    case RequestDelete: return CompleteDelete();
    case RequestView:
      if (!BATCHPROCESSING || !FORMVCR) return LevelNone;
      NextBatchRecord();
      return LevelNotify;
    case RequestSave:
      if (ORIGINALREQUEST == RequestInsert) return SaveWhileInserting();
      if (ORIGINALREQUEST == RequestChange) return SaveWhileChanging();
      // Nothing was saved: the form goes on with the request it had.
      REQUEST = BEFORESAVEREQUEST;
      return LevelNone;
    default:
      return LevelNone;
  }
}

ErrorLevel WindowManager::OnCloseRequest() {
  if (RESPONSE == ResponseCompleted || !PRIMARY || !PRIMARY->ME) return LevelNone;
  if (CANCELACTION != 0 && (REQUEST == RequestInsert || REQUEST == RequestChange) && RecordChanged()) {
    const bool offer = (CANCELACTION & 1) != 0;
    const bool ask = (CANCELACTION & 2) != 0;
    bool save = false;
    if (offer && !ask) {
      save = true;
    } else if (offer) {
      const unsigned answer = ERRORS ? ERRORS->Ask(kMsgSaveRecord, kYesNoCancel, kButtonCancel) : kButtonCancel;
      if (answer == kButtonYes) {
        save = true;
      } else if (answer != kButtonNo) {
        SelectFirstField();
        return LevelNotify;
      }
    } else if (ERRORS && ERRORS->Raise(kMsgChangesLost) == LevelCancel) {
      SelectFirstField();
      return LevelNotify;
    }
    if (save) {
      // Saved through the OK button's completion; a form without one completes directly.
      if (OKCONTROL != 0) {
        MYWINDOW->Post({kEventAccepted, OKCONTROL, 0});
      } else {
        PostCompletion();
      }
      return LevelNotify;
    }
  }
  if (ORIGINALREQUEST == RequestInsert && RESPONSE == ResponseCancelled && PRIMARY->UndoNumbering() != LevelNone) {
    SelectFirstField();
    return LevelNotify;
  }
  if (!LASTINSERTEDPOSITION.empty()) {
    RESPONSE = ResponseCompleted;
    PRIMARY->ME->RefetchQuiet(LASTINSERTEDPOSITION);
  }
  return LevelNone;
}

ErrorLevel WindowManager::HandleEvent() {
  const int event = MYWINDOW->CurrentEvent();
  const int control = MYWINDOW->CurrentField();
  ErrorLevel level = LevelNone;
  if (control == 0) {
    level = OnWindowEvent();
    if (level != LevelNone) return level;
  }
  switch (event) {
    case kEventAccepted: level = OnAccepted(); break;
    case kEventNewSelection: level = OnSelectionChange(); break;
    case kEventAlertKey:
      if (HISTORYKEY != 0 && KeyCode() == HISTORYKEY) RecallFieldHistory(MYWINDOW->Focus());
      break;
    case kEventRejected: level = OnRejectedInput(); break;
    case kEventSelected: level = OnSelected(); break;
    case kEventSized:
      // Lets a resizer lay the window out again before anything else happens.
      MYWINDOW->Post({kEventDoResize, 0, 0}, true);
      break;
    default: break;
  }
  if (level != LevelNone) return level;
  if (control != 0) {
    level = OnControlEvent();
    if (level != LevelNone) return level;
  }
  if (CL) {
    for (const auto& entry : *CL) {
      level = entry.WC->HandleEvent();
      if (level != LevelNone) return level;
    }
  }
  if (AUTOREFRESH && CL && !IsQuietEvent(event, *MYWINDOW, control)) {
    for (const auto& entry : *CL) {
      if (entry.WC->ResetRequired()) {
        Reset(0);
        break;
      }
    }
  }
  return LevelNone;
}

ErrorLevel WindowManager::OnControlEvent() { return LevelNone; }

ErrorLevel WindowManager::OnSelectionChange() {
  const int control = MYWINDOW->CurrentField();
  if (MYWINDOW->PropertyNumber(kPropType, control) == kTypeList) {
    Reset(0);
    if (AUTOTOOLBAR && TOOLBAR) TOOLBAR->SetTarget(0);
  }
  return LevelNone;
}

ErrorLevel WindowManager::OnNotification(int, int, int) { return LevelNone; }

ErrorLevel WindowManager::OnRejectedInput() {
  const int control = MYWINDOW->CurrentField();
  platform::Beep(150, 16);
  MYWINDOW->Display(control);
  MYWINDOW->Select(control);
  return LevelNone;
}

ErrorLevel WindowManager::OnSelected() { return LevelNone; }

ErrorLevel WindowManager::OnWindowEvent() {
  switch (MYWINDOW->CurrentEvent()) {
    case kEventCloseWindow:
    case kEventCloseDown:
      return OnCloseRequest();
    case kEventOpenWindow:
      if (!(INITED & kInitedReady)) Open();
      if (FIRSTFIELD != 0) MYWINDOW->Select(FIRSTFIELD);
      return LevelNone;
    case kEventLoseFocus:
      if (RESETONGAINFOCUS) FORCEDRESET = 1;
      return LevelNone;
    case kEventGainFocus:
      if (INITED & kInitedReady) {
        Reset(0);
      } else {
        Open();
      }
      return LevelNone;
    case kEventNotify: {
      const auto notification = MYWINDOW->TakeNotification();
      if (!notification) return LevelNone;
      const ErrorLevel level =
          OnNotification(notification->event, notification->control, notification->thread);
      if (level == LevelNone && notification->event == kEventGainFocus) {
        std::this_thread::yield();
        if (!MYWINDOW->Property(kPropIconize).empty()) MYWINDOW->SetProperty(kPropIconize, "");
        MYWINDOW->SetProperty(kPropActive, "1");
        PostToThread(MYWINDOW->PropertyNumber(kPropThread), {kEventGainFocus, 0, 0});
      }
      return level;
    }
    case kEventCompleted:
      return OnCompleted();
    case kEventSized:
      if (!(INITED & kInitedSized)) {
        INITED |= kInitedSized;
      } else {
        Reset(0);
      }
      return LevelNone;
    default:
      return LevelNone;
  }
}

void WindowManager::Update() {
  if (!CL) return;
  for (const auto& entry : *CL) entry.WC->Update();
}

void WindowManager::DisableControl(int control, bool disable) {
  if (control == 0 || !MYWINDOW) return;
  MYWINDOW->SetControlEnabled(control, !disable);
}

ErrorLevel WindowManager::CompleteInsert() {
  if (!PRIMARY) return LevelNone;
  ErrorLevel inserted;
  {
    BusyCursor busy(MYWINDOW.get());
    inserted = PRIMARY->Insert();
  }
  if (inserted != LevelNone) {
    SelectFirstField();
    return LevelNotify;
  }
  if (!BATCHPROCESSING) {
    if (INSERTACTION == 2) {
      CloseWithResponse(ResponseCompleted);
      return LevelNone;
    }
    if (INSERTACTION == 4 && ERRORS && ERRORS->Raise(kMsgRecordAdded) != LevelNone) {
      CloseWithResponse(ResponseCompleted);
      return LevelNone;
    }
  }
  return InsertAnother();
}

ErrorLevel WindowManager::InsertAnother() {
  FileManager& file = *PRIMARY->ME;
  LASTINSERTEDPOSITION = file.CurrentPosition();
  if (FILES) {
    for (auto& entry : *FILES) {
      entry.FILE->RestoreSnapshot(entry.ID, true);
      entry.ID = entry.FILE->SnapshotBuffer();
    }
  }
  // The new record starts from the defaults the form started with.
  file.RestoreSnapshot(SAVED, true);
  if (file.EnsureOpen() != LevelNone || file.PrepareRecord(true) != LevelNone) {
    if (MYWINDOW) MYWINDOW->Post({kEventCloseWindow, 0, 0});
  } else {
    PrepareNewRecord();
    RESPONSE = ResponseCancelled;
  }
  RenewSaved();
  Redisplay();
  SelectFirstField();
  return LevelNotify;
}

void WindowManager::NextBatchRecord() {
  FORMVCR->MoveOn();
  // The next record is compared, and its links kept, from where it was read.
  PRIMARY->SaveLinkValues();
  RenewSaved();
  Redisplay();
  SelectFirstField();
}

ErrorLevel WindowManager::CompleteChange() {
  if (!PRIMARY) return LevelNone;
  for (;;) {
    RESPONSE = ResponseCancelled;
    ErrorLevel result = LevelNone;
    bool written = false;
    {
      BusyCursor busy(MYWINDOW.get());
      if (RecordChanged()) {
        result = PRIMARY->Update(HISTORYKEY != 0);
        written = result == LevelNone;
      }
    }
    if (result == LevelNone) {
      // A record the save button inserted exists even when nothing changed since.
      if (written || ORIGINALREQUEST == RequestInsert || (VCRREQUEST && *VCRREQUEST != 0)) {
        RESPONSE = ResponseCompleted;
      }
      if (ORIGINALREQUEST == RequestChange) {
        if (BATCHPROCESSING && FORMVCR) {
          NextBatchRecord();
        } else if (!BATCHPROCESSING && CHANGEACTION == 2 && MYWINDOW) {
          MYWINDOW->Post({kEventCloseWindow, 0, 0});
        }
      }
      break;
    }
    if (result == 1) {
      const unsigned answer = ERRORS ? ERRORS->Ask(kMsgUpdateFailed, kYesNoCancel, kButtonCancel) : kButtonCancel;
      if (answer == kButtonYes) continue;
      if (answer == kButtonNo) {
        if (ORIGINALREQUEST != RequestInsert && MYWINDOW) {
          // The user gave the change up: closing must not offer to save it again,
          // which with CANCELACTION 1 would keep the form from ever closing.
          PRIMARY->ME->RestoreSnapshot(SAVED, true);
          RenewSaved();
          MYWINDOW->Post({kEventCloseWindow, 0, 0});
        }
        return LevelNotify;
      }
    }
    // The failure was shown: the user's changes stay in the form.
    Redisplay();
    SelectFirstField();
    return LevelNotify;
  }
  if (ORIGINALREQUEST == RequestInsert && RESPONSE == ResponseCompleted) {
    EnableCancelButtons();
    REQUEST = RequestInsert;
    if (INSERTACTION != 3) {
      if (!BATCHPROCESSING && CHANGEACTION == 2 && MYWINDOW) MYWINDOW->Post({kEventCloseWindow, 0, 0});
      return LevelNone;
    }
    return InsertAnother();
  }
  return LevelNone;
}

ErrorLevel WindowManager::CompleteDelete() {
  if (!PRIMARY) return LevelNone;
  for (;;) {
    RESPONSE = ResponseCancelled;
    ErrorLevel result;
    {
      BusyCursor busy(MYWINDOW.get());
      result = PRIMARY->Delete(DELETEACTION == 2);
    }
    if (result == LevelNone || result == LevelCancel) {
      // A delete the user declined is no completed delete.
      if (!BATCHPROCESSING) {
        CloseWithResponse(result == LevelNone ? ResponseCompleted : ResponseCancelled);
      } else if (FORMVCR) {
        NextBatchRecord();
      }
      return LevelNone;
    }
    const unsigned answer = ERRORS ? ERRORS->Ask(kMsgDeleteFailed, kYesNoCancel, kButtonCancel) : kButtonCancel;
    if (answer == kButtonYes) continue;
    if (answer == kButtonNo) {
      if (!BATCHPROCESSING && MYWINDOW) MYWINDOW->Post({kEventCloseWindow, 0, 0});
    } else {
      Redisplay();
      SelectFirstField();
    }
    return LevelNotify;
  }
}

ErrorLevel WindowManager::SaveWhileChanging() {
  if (!PRIMARY) return LevelNone;
  for (;;) {
    ErrorLevel result = LevelNone;
    {
      BusyCursor busy(MYWINDOW.get());
      if (RecordChanged()) result = PRIMARY->Update(HISTORYKEY != 0);
    }
    if (result == LevelNone) {
      RenewSaved();
      DisableCancelButtons();
      break;
    }
    if (result == 1) {
      const unsigned answer = ERRORS ? ERRORS->Ask(kMsgUpdateFailed, kYesNoCancel, kButtonCancel) : kButtonCancel;
      if (answer == kButtonYes) continue;
      if (answer == kButtonNo) break;
    }
    Redisplay();
    SelectFirstField();
    break;
  }
  REQUEST = RequestChange;
  return LevelNotify;
}

ErrorLevel WindowManager::SaveWhileInserting() {
  if (!PRIMARY) return LevelNone;
  if (BEFORESAVEREQUEST == RequestInsert) {
    ErrorLevel inserted;
    {
      BusyCursor busy(MYWINDOW.get());
      inserted = PRIMARY->Insert();
    }
    if (inserted == LevelNone) {
      // From now on the form changes the record it saved.
      REQUEST = RequestChange;
      PRIMARY->SaveLinkValues();
      RenewSaved();
      DisableCancelButtons();
    } else {
      REQUEST = RequestInsert;
      SelectFirstField();
    }
    return LevelNotify;
  }
  REQUEST = RequestChange;
  if (RecordChanged()) return SaveWhileChanging();
  return LevelNotify;
}

void WindowManager::SelectFirstField() {
  if (MYWINDOW && FIRSTFIELD != 0) MYWINDOW->Select(FIRSTFIELD);
}

void WindowManager::AddItem(WindowComponent& component) {
  if (CL) CL->push_back({0, &component});
}

void WindowManager::AddItem(ToolbarManager& toolbar) {
  TOOLBAR = &toolbar;
  toolbar.Init();
}

void WindowManager::RemoveItem(WindowComponent& component) {
  if (CL) std::erase_if(*CL, [&](const ComponentEntry& entry) { return entry.WC == &component; });
}

void WindowManager::DisableCancelButtons() {
  if (!DISABLECANCELBUTTON || !BUTTONS) return;
  for (const auto& button : *BUTTONS) {
    if (button.ACTION == ResponseCancelled) DisableControl(button.CONTROL, true);
  }
}

void WindowManager::EnableCancelButtons() {
  if (!DISABLECANCELBUTTON || !BUTTONS) return;
  for (const auto& button : *BUTTONS) {
    if (button.ACTION == ResponseCancelled) DisableControl(button.CONTROL, false);
  }
}

bool WindowManager::RecordChanged() { return !PRIMARY->ME->SnapshotEquals(SAVED); }

void WindowManager::RenewSaved() {
  FileManager& file = *PRIMARY->ME;
  if (SAVED != 0) file.RestoreSnapshot(SAVED, false);
  SAVED = file.SnapshotBuffer();
}

void WindowManager::Redisplay() {
  if (MYWINDOW) MYWINDOW->Display(0);
}

void WindowManager::PostCompletion() {
  if (!MYWINDOW) return;
  // Inserts and changes are validated first; everything else completes at once.
  if (ORIGINALREQUEST == RequestInsert || ORIGINALREQUEST == RequestChange || BATCHPROCESSING) {
    MYWINDOW->Select(0);
  } else {
    MYWINDOW->Post({kEventCompleted, 0, 0});
  }
}

}  // namespace qm
