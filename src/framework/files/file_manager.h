// FileManager: stands between the program and one record file. It hides
// whether and how often the file is physically open (lazy opening, counted
// opens, the read-only fallback, creating a missing file, rebuilding damaged
// keys), saves and restores the record buffer around operations, and turns
// every failure into a message of the ErrorManager.
//
// Record operations come in a reporting form, which shows a failure through
// the error manager and answers the level the user's answer gave, and a
// quiet form (name ending in Quiet), which only notes the error (LASTERROR,
// the runtime's error state captured) and answers LevelNotify or LevelFatal
// for the caller to report with ReportError. An operation on a file that
// cannot be used answers LevelFatal without touching the file.
//
// A program derives one small class per file: its Setup sets FILE, ERRORS
// and FILENAMEVALUE before the base Setup; its EnsureOpen calls
// EnsureOpen(kUsageInitialize) first for every other usage and, on that
// usage before INITIALIZED, runs Attach and registers the keys with AddKey.
//
// A manager whose ALIASEDFILE is set is an alias: its record operations are
// carried out by the aliased manager on the aliased file, with this
// manager's record buffer, and with a reading position of the alias's own,
// so that using the alias leaves the aliased file's position and record as
// they were.
//
// A manager is used by one thread. It is the observer of its file and hears
// of every operation on it (NotifyFirst before, NotifySecond after); of a
// file shared by threads, the manager attached last hears. A file that goes
// away tells its observer, which then lets go of it; a manager must not
// outlive a file it does not observe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/errors/error_level.h"
#include "framework/files/file_opener.h"
#include "framework/files/file_registry.h"
#include "platform/record_file.h"

namespace qm {

class ErrorManager;

// Error ids of the message table that the file manager raises.
inline constexpr std::uint16_t kMsgRetrievalError = 1;
inline constexpr std::uint16_t kMsgAccessDenied = 2;
inline constexpr std::uint16_t kMsgInsertError = 4;
inline constexpr std::uint16_t kMsgRecordChanged = 7;
inline constexpr std::uint16_t kMsgConfirmDelete = 11;
inline constexpr std::uint16_t kMsgCreationError = 12;
inline constexpr std::uint16_t kMsgDeleteError = 13;
inline constexpr std::uint16_t kMsgDuplicateKey = 15;
inline constexpr std::uint16_t kMsgInvalidFile = 26;
inline constexpr std::uint16_t kMsgOpenError = 29;
inline constexpr std::uint16_t kMsgUpdateError = 31;
inline constexpr std::uint16_t kMsgKeyNotBuilt = 32;
inline constexpr std::uint16_t kMsgInvalidKey = 33;
inline constexpr std::uint16_t kMsgRecordHeld = 34;
inline constexpr std::uint16_t kMsgAutoNumberFailed = 38;
inline constexpr std::uint16_t kMsgUsedBeforeOpen = 45;

struct KeyComponent {
  int FIELD = 0;          // field number in the record
  std::string NAME;       // the field's name, "UPPER(name)" in a case-insensitive key
  bool ASCENDING = true;
};

struct KeyEntry {
  int KEY = 0;               // key number in the file's declaration
  std::string PDESCRIPTION;  // for messages; empty: the key's name
  std::vector<KeyComponent> FIELDS;
  bool AUTOINC = false;      // the last component is numbered automatically
  bool DUPS = false;
  bool NOCASE = false;
};

// One copied text of a snapshot (the record buffer).
struct SnapshotEntry {
  std::uint16_t ID = 0;
  std::string TEXT;
};

struct SavedStateEntry {
  std::uint16_t ID = 0;
  std::uint16_t BUFFER = 0;  // id of the snapshot taken with it
  int STATE = 0;             // the driver's state handle
  bool AUTOINCDONE = false;
  std::string POSITION;
  int ALIASSTATE = 0;        // an alias's own position on the aliased file
};

class FileManager : public platform::RecordFileObserver {
 public:
  FileManager() = default;
  ~FileManager() override;  // releases what Shutdown would
  FileManager(const FileManager&) = delete;
  FileManager& operator=(const FileManager&) = delete;

  // The driver's notifications (RecordFileObserver).
  bool BeforeOperation(platform::RecordOperation operation,
                       std::span<const std::uint8_t> record) override;
  void AfterOperation(platform::RecordOperation operation, std::span<const std::uint8_t> record,
                      int result) override;

  // Before an operation: a close during RestoreState, and the file going
  // away (the manager's opens are closed and its lists freed). Answers
  // false to stop the operation.
  virtual bool NotifyFirst(platform::RecordOperation operation, std::span<const std::uint8_t> record);
  // After an operation: keeps PREVIOUSBUFFER when asked to.
  virtual void NotifySecond(platform::RecordOperation operation, std::span<const std::uint8_t> record,
                            int result);

  // Releases everything unless already released; forgets FILENAME.
  virtual void Shutdown();
  // Removes a record that NumberRecord added and Insert never completed,
  // through `remove` when given (the relation manager's delete, so that
  // related records follow), else through DeleteRecord(false). Answers the
  // delete's level.
  virtual ErrorLevel UndoNumbering(const std::function<ErrorLevel()>& remove = {});
  // Counts one open less; at the last, closes the file physically. Tells
  // the registry first. Answers 0.
  virtual ErrorLevel Close();
  virtual bool SnapshotEquals(std::uint16_t id);
  // FetchQuiet; on failure the record buffer is cleared.
  virtual ErrorLevel Fetch(int key);
  // The base part of a program's Setup: counts nothing open, lazy opening,
  // and registration with the registry under FILE.
  virtual void Setup();
  // Binds the manager to its file and error manager; see the header.
  virtual void Attach(platform::RecordFile& file, ErrorManager& errors);
  virtual ErrorLevel Insert();
  virtual void ReleaseResources();
  virtual ErrorLevel Next();
  // Counts an open (attaching the manager first when it is not yet); a file
  // that is not lazily opened is opened physically at the first. A failed
  // physical open answers its level and counts nothing.
  virtual ErrorLevel Open();
  virtual ErrorLevel Previous();
  virtual ErrorLevel NumberRecord();
  // Hook for default values of a new record; empty.
  virtual void PrepareFields();
  // Clears the buffer (unless keepBuffer), PrepareFields, and numbers the
  // record when a key is auto-numbered. Answers NumberRecord's level.
  virtual ErrorLevel PrepareRecord(bool keepBuffer = false);
  // Copies the snapshot back when `restore`; frees it in any case and sets
  // `id` to 0.
  virtual void RestoreSnapshot(std::uint16_t& id, bool restore);
  // Copies the record buffer; answers the snapshot's id.
  virtual std::uint16_t SnapshotBuffer();
  virtual ErrorLevel ReportErrorId(std::uint16_t id);
  // Reports LASTERROR with DisplayName as the file name; answers the level.
  virtual ErrorLevel ReportError();
  virtual ErrorLevel ReportErrorText(std::uint16_t id, const std::string& text);
  virtual ErrorLevel FetchQuiet(int key);
  virtual ErrorLevel InsertQuiet();
  virtual ErrorLevel NextQuiet();
  virtual ErrorLevel OpenQuiet();
  virtual ErrorLevel PreviousQuiet();
  virtual ErrorLevel NumberRecordQuiet();
  virtual ErrorLevel UpdateQuiet();
  virtual ErrorLevel Update();
  // Makes the file usable for `usage` (file_registry.h); answers 0 when it
  // can be used. A lazily opened file used before any Open ends the program
  // with "File Usage Error".
  virtual ErrorLevel EnsureOpen(int usage = kUsageReturns);
  // Field checks: 0 by default (an alias asks its aliased manager).
  virtual ErrorLevel CheckField(int number, bool report);
  virtual ErrorLevel CheckFields(int first, int last, bool report = true);
  virtual ErrorLevel CheckRecord(bool report = true);
  // Asks "Confirm Delete" when `confirm` (4 for No); deletes the current
  // record; 5 on failure with error 13 noted for the caller to report.
  virtual ErrorLevel DeleteRecord(bool confirm = true);
  // Hook for cascading deletes: true leaves the related record alone.
  virtual bool SkipOnDelete();
  virtual void SetUseMRP(bool use);
  virtual bool GetUseMRP() const;
  virtual void SetMRPSize(std::uint8_t size);
  virtual std::uint8_t GetMRPSize() const;
  virtual bool GetAutoIncDone() const;
  virtual bool GetHasAutoInc() const;

  // The hooks of the driver's notifications, one per operation class and
  // entry; each answers true. Setting STOPOPERATION in a First hook stops
  // the operation.
  virtual bool ReadFirst(platform::RecordOperation operation);
  virtual bool ReadSecond(platform::RecordOperation operation, int result);
  virtual bool OpenFirst();
  virtual bool OpenSecond(int result);
  virtual bool WriteFirst(platform::RecordOperation operation, std::string_view record);
  virtual bool WriteSecond(platform::RecordOperation operation, std::string_view record, int result);
  virtual bool BuildFirst();
  virtual bool BuildSecond(int result);

  // Opens physically now, also a lazily opened file, and counts the open;
  // for the relation manager's forcing open.
  ErrorLevel OpenForced(bool report);

  // Registers key `key` (its number in the declaration, or its name) with
  // its description for messages; autoNumber numbers its last component.
  void AddKey(int key, const std::string& description, bool autoNumber);
  void AddKey(std::string_view key_name, const std::string& description, bool autoNumber);
  void NoteError(std::uint16_t id);
  // FILENAME's text when set, else FILENAMEVALUE, else the file's disk
  // name, else "Unknown File".
  std::string DisplayName() const;
  // Saves the reading state, position and record buffer; answers its id.
  std::uint16_t SaveState();
  // Puts the saved state back (the record buffer too when restoreBuffer),
  // frees it, and sets `id` to 0.
  void RestoreState(std::uint16_t& id, bool restoreBuffer = true);
  // The current record's position in the primary key (or record order);
  // empty when the file cannot be used or nothing is current.
  std::string CurrentPosition() const;
  // Re-reads the record at `position`: 3 when the file cannot be used, 5
  // when the record cannot be read.
  ErrorLevel RefetchQuiet(const std::string& position);
  bool IsOpen() const;

  // Reading order for Next and Previous: from the start of `key`'s order
  // (0: record order), or from the key value in the record buffer. An alias
  // sets its own order. 3 when the file cannot be used, 5 on error.
  ErrorLevel SetOrder(int key = 0);
  ErrorLevel SetOrderAt(int key);

  // The registered key of that number; null if not registered.
  const KeyEntry* FindKey(int key) const;
  int KeyComponentCount(int key) const;
  int KeyComponentField(int key, int component) const;    // 1-based component
  std::string KeyComponentName(int key, int component) const;
  bool KeyComponentAscending(int key, int component) const;
  // "A,B,-C": the component names, "-" before descending ones.
  std::string KeyComponentsText(int key) const;
  // Sets components first..last of `key` to their lowest (highest) values.
  void SetKeyLowest(int key, int first, int last);
  void SetKeyHighest(int key, int first, int last);

  bool HasAutoInc() const { return HASAUTOINC; }
  bool AutoIncDone() const { return AUTOINCDONE; }
  bool AtEof() const { return ATEOF; }
  std::int32_t Opened() const { return OPENED; }
  bool UseMRP() const { return USEMRP; }
  std::uint8_t MRPSize() const { return MRPSIZE; }

  // The record buffer of FILE (empty without one).
  std::span<std::uint8_t> Buffer() const;

  FileManager* ALIASEDFILE = nullptr;
  bool CREATE = true;
  ErrorManager* ERRORS = nullptr;
  platform::RecordFile* FILE = nullptr;
  const std::string* FILENAME = nullptr;
  std::string FILENAMEVALUE;
  bool HASAUTOINC = false;
  bool INUSEFILE = false;
  bool INCALLBACK = false;
  bool INCLOSE = false;
  bool INRESTORE = false;
  bool USED = false;
  std::int32_t OPENED = 0;
  bool ATEOF = false;
  bool AUTOINCDONE = false;
  std::int32_t LASTERROR = 0;
  bool LAZYOPEN = true;
  std::int16_t LOCKRECOVER = 10;
  std::uint8_t OPENMODE = platform::kOpenReadWriteDenyNone;
  bool OPENMODEOVERRIDDEN = false;
  std::uint8_t PRIMARYKEY = 0;  // index into KEYS, 1-based; 0: record order
  bool SKIPHELDRECORDS = false;
  bool CLEANEDUP = false;
  std::vector<KeyEntry> KEYS;
  std::vector<SnapshotEntry> BUFFERS;
  std::vector<SavedStateEntry> SAVED;
  std::string PREVIOUSBUFFER;
  bool SAVEPREVIOUSBUFFER = false;
  bool INITIALIZED = false;
  bool KILLED = false;
  std::shared_ptr<IFILEOPENSERVER> OPENER;
  bool USEMRP = false;
  std::uint8_t MRPSIZE = 10;
  bool STOPOPERATION = false;

 protected:
  // The physical open with its recovery chain; reports when `report`.
  ErrorLevel OpenPhysicalFile(bool report);
  // Open and OpenQuiet; `count_only` skips the physical step.
  ErrorLevel OpenCounted(bool report, bool force, bool count_only = false);
  ErrorLevel Step(bool forward, bool report);
  ErrorLevel InsertRecord(bool report);
  ErrorLevel UpdateRecord(bool report);
  // The end of a failed write: message `id` noted, and reported when asked.
  ErrorLevel WriteFailed(std::uint16_t id, bool report);
  // True, with the runtime error set to "Access Denied", when the file was
  // opened read-only and so refuses every write.
  bool RefusedAsReadOnly();
  ErrorLevel Number(bool report);
  // The description of a key for messages.
  std::string KeyDescription(const KeyEntry& key) const;
  // The number after the highest of an auto-numbered key's last component
  // (within the group of the leading components); 0 on a read error.
  bool NextNumber(const KeyEntry& key, std::int64_t* number);
  // Closes every counted open and frees the lists: the release part of
  // ReleaseResources, also run when the file goes away.
  void ReleaseOpens();

  // Runs `operation` as the aliased manager's, with this manager's record
  // buffer and its own position on the aliased file.
  template <class Operation>
  ErrorLevel ThroughAlias(Operation operation);

  int alias_state_ = 0;    // the alias's reading position on the aliased file
  bool opening_ = false;   // Open is attaching the manager through EnsureOpen
};

}  // namespace qm
