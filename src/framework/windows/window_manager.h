// The procedure frame in which every window of both programs runs.
//
// A procedure derives its own class from WindowManager, overrides Init and
// Teardown (calling the base first) and usually OnAccepted, and calls Run:
// Init, then the event loop (Ask), then Teardown. Each event is handed to a
// fixed order of virtual handlers and to every component in `CL`; the
// handlers answer with a level: 0 go on (and let the runtime's default
// processing run), 3 leave the loop, 5 handled (skip the rest).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/errors/error_level.h"
#include "framework/windows/thread_globals.h"
#include "platform/window.h"

namespace qm {

class ErrorManager;
class FileManager;
class FormNavigator;
class RelationManager;
class ToolbarManager;
class Translator;
class WindowComponent;

// The optional resizer: killed by Teardown.
class WindowResizer {
 public:
  virtual ~WindowResizer() = default;
  virtual void Kill() = 0;
};

class WindowManager {
 public:
  struct ButtonEntry {
    std::int32_t CONTROL = 0;
    std::uint8_t ACTION = 0;  // the response the button closes the window with
  };
  struct ComponentEntry {
    std::int32_t TYPE = 0;    // 1: the component also tracks the primary record buffer
    WindowComponent* WC = nullptr;
  };
  struct SavedFileEntry {
    FileManager* FILE = nullptr;
    std::uint16_t ID = 0;
  };
  struct HistoryEntry {
    std::string* VARIABLE = nullptr;
    std::string SAVED;
    std::int32_t CONTROL = 0;
  };

  WindowManager() = default;
  virtual ~WindowManager();
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  // Virtual operations, in slot order.
  virtual void Ask();
  virtual ErrorLevel Init();
  virtual ErrorLevel Teardown();
  virtual void Open();
  virtual void OpenWindow(const platform::WindowDef& window, platform::Window* owner);
  virtual void PrepareNewRecord();
  virtual ErrorLevel PrepareRequest();
  virtual void Reset(int force);
  virtual void RecallFieldHistory(int control);
  virtual std::uint8_t Run();
  virtual std::uint8_t RunProcedure(int number, std::uint8_t request);
  virtual void RegisterAlerts();
  virtual void CloseWithResponse(std::uint8_t response);
  virtual ErrorLevel OnAccepted();
  virtual ErrorLevel OnCompleted();
  virtual ErrorLevel OnCloseRequest();
  virtual ErrorLevel HandleEvent();
  virtual ErrorLevel OnControlEvent();
  virtual ErrorLevel OnSelectionChange();
  virtual ErrorLevel OnNotification(int event, int control, int thread);
  virtual ErrorLevel OnRejectedInput();
  virtual ErrorLevel OnSelected();
  virtual ErrorLevel OnWindowEvent();
  virtual void Update();
  virtual void DisableControl(int control, bool disable);
  virtual ErrorLevel CompleteInsert();
  virtual ErrorLevel CompleteChange();
  virtual ErrorLevel CompleteDelete();
  virtual ErrorLevel SaveWhileChanging();
  virtual ErrorLevel SaveWhileInserting();
  virtual void SelectFirstField();

  // Components. The caller keeps ownership; a component must outlive its
  // entry (Teardown removes every entry).
  void AddItem(WindowComponent& component);
  void AddItem(ToolbarManager& toolbar);
  void RemoveItem(WindowComponent& component);

  // Starts completion: selects the whole window, which delivers event 549.
  void PostCompletion();
  // After a record was saved: disables every BUTTONS entry that cancels
  // (ACTION 2) when DISABLECANCELBUTTON is set; OnAccepted enables them again.
  void DisableCancelButtons();
  void EnableCancelButtons();

  std::uint8_t AUTOREFRESH = 0;
  std::uint8_t AUTOTOOLBAR = 0;
  std::unique_ptr<std::vector<ButtonEntry>> BUTTONS;
  std::unique_ptr<std::vector<ComponentEntry>> CL;
  std::uint8_t CANCELACTION = 0;
  std::uint8_t CHANGEACTION = 0;
  std::uint8_t DEAD = 0;
  std::uint8_t DELETEACTION = 0;
  std::uint8_t BATCHPROCESSING = 0;
  ErrorManager* ERRORS = nullptr;
  std::unique_ptr<std::vector<SavedFileEntry>> FILES;
  std::uint8_t FILESOPENED = 0;
  std::int32_t FIRSTFIELD = 0;
  std::uint8_t FORCEDRESET = 0;
  std::unique_ptr<std::vector<HistoryEntry>> HISTORY;
  std::int32_t HISTORYKEY = 0;
  std::uint8_t INITED = 0;
  std::uint8_t INSERTACTION = 0;
  std::string LASTINSERTEDPOSITION;
  std::int32_t OKCONTROL = 0;
  std::int32_t SAVECONTROL = 0;
  std::uint8_t DISABLECANCELBUTTON = 0;
  std::uint8_t OPENED = 0;
  std::uint8_t ORIGINALREQUEST = 0;
  std::uint8_t RECORDSAVED = 0;
  std::uint8_t BEFORESAVEREQUEST = 0;
  RelationManager* PRIMARY = nullptr;
  std::uint8_t REQUEST = 0;
  std::uint8_t RESETONGAINFOCUS = 0;
  WindowResizer* RESIZE = nullptr;
  std::uint8_t RESPONSE = 0;
  std::uint16_t SAVED = 0;
  FormNavigator* FORMVCR = nullptr;
  ToolbarManager* TOOLBAR = nullptr;
  Translator* TRANSLATOR = nullptr;
  std::int32_t* VCRREQUEST = nullptr;
  std::shared_ptr<platform::Window> MYWINDOW;
  platform::Window* OWNERWINDOW = nullptr;

  // INITED bits.
  static constexpr std::uint8_t kInitedReady = 1;
  static constexpr std::uint8_t kInitedSized = 2;

 private:
  // Stays for another record after an insert: keeps the inserted record's
  // position, primes a new record and shows it. Answers 5.
  ErrorLevel InsertAnother();
  // A batch form moves on to its navigator's next record and shows it.
  void NextBatchRecord();
  // The primary record differs from the copy saved under SAVED.
  bool RecordChanged();
  // Takes a new copy of the primary record under SAVED.
  void RenewSaved();
  void Redisplay();
};

}  // namespace qm
