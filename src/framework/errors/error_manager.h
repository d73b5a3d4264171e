// ErrorManager: the one place through which the programs report a problem or
// ask the user a question about one. A caller names a message by its 16-bit
// id, may first supply a file, key, field or message text, and raises it; the
// manager looks the id up, fills in the message's % tokens, logs it and keeps
// a history when so configured, shows it, and answers an ErrorLevel. A fatal
// message ends the program after the user has read it.
//
// One manager serves every thread. Its lists and settings are shared and
// guarded by CRITSECT, which is never held while a window or message box is
// shown; the names, text and selected entry are per thread (ErrorStatus).
// Every virtual operation may be overridden by an application.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "framework/errors/error_entry.h"
#include "framework/errors/error_level.h"
#include "framework/errors/error_log.h"
#include "framework/errors/error_status.h"
#include "platform/threads.h"

namespace qm {

struct HistoryEntry {
  std::string CATEGORY;
  std::string TXT;  // the message as reported, at most kStatusTextLength characters
  std::uint16_t ID = 0;
};

struct ProcNameEntry {
  std::int32_t THREAD = 0;
  std::string NAME;
};

class ErrorManager {
 public:
  // The id that names the default category in CategoryOf and AssignCategory.
  static constexpr std::uint16_t kDefaultCategoryId = 0xFFFF;
  // The exit code of a program ended by a fatal message: a failure, so that
  // whatever started the program can tell.
  static constexpr int kFatalExitCode = 1;

  ErrorManager();
  virtual ~ErrorManager();
  ErrorManager(const ErrorManager&) = delete;
  ErrorManager& operator=(const ErrorManager&) = delete;

  // Binds the per-thread status and, on the first call (or the first after
  // Shutdown), makes the defaults: the built-in log, category "VLX", no
  // history, history view level 3, and the built-in messages. Call it once
  // at start-up, before other threads use the manager; until then nothing
  // is reported and every raise answers LevelNone.
  void Start(platform::PerThread<ErrorStatus>& status);

  // Empties the message list, the history and the procedure names and drops
  // the built-in log. The manager may be started again.
  virtual void Shutdown();

  // Appends a message; a later entry with the same id wins over earlier ones.
  virtual void AddError(std::uint32_t id, const std::string& message, const std::string& title,
                        ErrorLevel level, const std::string& category = {});
  // Appends every entry of a packed table (message_table.h) with an empty
  // category. A damaged table adds nothing and answers false.
  virtual bool LoadMessageTable(std::span<const std::uint8_t> table);
  virtual void AddHistoryEntry(const HistoryEntry& entry);
  // Shows the history in the history window; answers the button pressed.
  virtual unsigned ShowHistory(const std::string& caption, const std::string& icon, unsigned buttons,
                               unsigned default_button);
  // Logs, keeps history and shows one message as configured; answers the
  // button pressed, or the default button when nothing was shown. A failing
  // log is not shown to the user and does not stop the report.
  virtual unsigned Report(const std::string& text, const std::string& title, const std::string& icon,
                          unsigned buttons, unsigned default_button, int style);
  // The runtime's message box with exactly these values.
  virtual unsigned ShowMessageBox(const std::string& text, const std::string& title,
                                  const std::string& icon, unsigned buttons, unsigned default_button,
                                  int style);
  // Deletes the entry that a raise of `id` would use now.
  virtual void RemoveError(std::uint16_t id);
  // Sets the log and appends the built-in messages (again, on every call).
  virtual void Setup(ErrorLog& error_log);
  // The selected message with every % token filled in from the calling
  // thread's status. Inserted values are never expanded again.
  virtual std::string SubstituteText();
  virtual ErrorLevel HandleNone();
  virtual ErrorLevel HandleFatal();  // shows the message, then ends the program
  virtual ErrorLevel HandleNotify();
  virtual ErrorLevel HandleOther();
  virtual ErrorLevel HandleProgram();
  virtual ErrorLevel HandleQuestion();  // LevelNone for Yes, LevelCancel otherwise
  virtual unsigned ViewHistory();

  // What the next message of the calling thread says; texts are stored
  // without trailing blanks, at most kStatusTextLength characters.
  void SetFieldName(const std::string& text);
  void SetFileName(const std::string& text);
  void SetKeyName(const std::string& text);
  void SetMessageText(const std::string& text);
  // Copies the calling thread's runtime error state into its status.
  void CaptureRuntimeError();

  // Makes the entry for `id` the calling thread's selected entry; an id in no
  // list selects an empty entry of level 0.
  void SelectError(std::uint16_t id);
  // Selects `id` and handles it by its level: LevelNone for level 0, for a
  // question LevelNone (Yes) or LevelCancel, LevelNotify for a notification;
  // a fatal or program error does not return.
  ErrorLevel Dispatch(std::uint16_t id);
  // Captures the runtime's error state, then dispatches.
  ErrorLevel Raise(std::uint16_t id);
  ErrorLevel RaiseWithText(std::uint16_t id, const std::string& text);
  // Asks the question `id` with these buttons and answers the button
  // pressed; neither logged nor kept in the history. Answers the default
  // button without showing anything when SILENT is set or `id` is unknown.
  unsigned Ask(std::uint16_t id, unsigned buttons, unsigned default_button);

  std::string CategoryOf(std::uint16_t id) const;
  void AssignCategory(std::uint16_t id, const std::string& category);

  // Each thread keeps its own stack of procedure names.
  void PushProcedureName(const std::string& name);
  void PopProcedureName();
  std::string CurrentProcedureName() const;

  void ClearHistory();
  std::vector<HistoryEntry> History() const;  // a copy

  bool Silent() const;
  void SetSilent(bool silent);
  bool LogErrors() const;
  void SetLogErrors(bool log_errors);
  std::int32_t HistoryThreshold() const;
  void SetHistoryThreshold(std::int32_t threshold);
  std::int32_t HistoryViewLevel() const;
  void SetHistoryViewLevel(std::int32_t level);
  bool HistoryResetOnView() const;
  void SetHistoryResetOnView(bool reset);
  std::string DefaultCategory() const;
  void SetDefaultCategory(const std::string& category);
  std::int16_t MsgStyle() const;
  void SetMsgStyle(std::int16_t style);

  // The calling thread's selected entry.
  std::string Title() const;
  ErrorLevel Fatality() const;
  std::uint32_t ErrorId() const;

  // The calling thread's status; null before Start.
  ErrorStatus* Status() const;

 private:
  const ErrorEntry* Find(std::uint16_t id) const;  // CRITSECT held
  bool Select(std::uint16_t id);                   // SelectError; false when `id` is unknown

  mutable platform::CriticalSection CRITSECT;
  std::string DEFAULTCATEGORY;                // Protected by CRITSECT
  std::vector<ErrorEntry> ERRORS;             // Protected by CRITSECT
  ErrorLog* ERRORLOG = nullptr;               // Protected by CRITSECT
  std::deque<HistoryEntry> HISTORY;           // Protected by CRITSECT
  std::vector<ProcNameEntry> PROCNAMES;       // Protected by CRITSECT
  std::unique_ptr<StdErrorLog> STDERRORLOG;   // Protected by CRITSECT
  bool SILENT = false;                        // Protected by CRITSECT
  bool LOGERRORS = false;                     // Protected by CRITSECT
  std::int32_t HISTORYTHRESHOLD = 0;          // Protected by CRITSECT
  std::int32_t HISTORYVIEWLEVEL = 3;          // Protected by CRITSECT
  bool HISTORYRESETONVIEW = false;            // Protected by CRITSECT
  platform::PerThread<ErrorStatus>* STATUS = nullptr;  // set by Start, before other threads
  std::int16_t MSGSTYLE = 0;                  // Protected by CRITSECT
};

}  // namespace qm
