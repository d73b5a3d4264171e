// A keyed record file of the record file driver (KEYREC), with its record
// buffer: one open of one data file by one logical thread.
//
// The data file is a SQLite database named after the disk name with ".dat"
// (docs/record-files.md has its format). It holds the declaration, every
// record's bytes exactly as the buffer holds them, and one order-preserving
// value per key (record_key_codec.h) in an indexed column; a unique key's
// index is unique. Each RecordFile has a connection of its own, so threads
// and processes share a file as separate stations.
//
// Every operation that can fail returns a runtime error code (0 on success)
// and sets the calling thread's runtime error state (runtime_error.h) with
// the file's path and the driver's own code and message; success clears it.
// Codes: 2 file not found, 3 directory not found, 5 access denied (share
// mode, read-only open, locked), 33 no record (end of file, nothing
// current), 35 record not found, 40 duplicate key, 43 record held, 46 the
// stored keys are missing, differ from the declared ones or an index is
// damaged, 47 the stored record layout differs from the declared one, 52
// already open, 80 not supported here, 89 the record was changed or deleted
// by another station since it was read, 90 not a record file or unreadable.
//
// Reading order. Set() and Set(key) put the file before the first record
// of record order (the order records were added in) or of a key's order:
// Next reads the first record, Previous the last. Records with equal key
// values follow record order. After a read, Next and Previous continue from
// that record even when records around it are added or deleted meanwhile.
// A scan's memory does not grow with the file.
//
// Not thread-safe: one logical thread uses a RecordFile.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/record_declaration.h"
#include "platform/record_share_lock.h"

struct sqlite3;

namespace qm::platform {

// The SQLite application id that marks a database as a record file ("QMRC").
inline constexpr std::uint32_t kRecordFileMark = 0x514D5243;

// Operations as the file's observer hears of them.
enum class RecordOperation {
  kGet = 1,        // by key value
  kClose = 7,
  kOpen = 10,
  kReget = 4,      // by position
  kAdd = 15,
  kPut = 16,
  kDelete = 17,
  kBuild = 30,
  kNext = 51,
  kPrevious = 59,
  kRelease = 104,  // the RecordFile is going away
};

// Receives a notification before and after each operation of its file: the
// file manager's callback. `record` is the record buffer.
class RecordFileObserver {
 public:
  virtual ~RecordFileObserver() = default;
  // Returning false stops the operation, which then answers 90 with the
  // driver message "Operation stopped".
  virtual bool BeforeOperation(RecordOperation operation, std::span<const std::uint8_t> record) = 0;
  virtual void AfterOperation(RecordOperation operation, std::span<const std::uint8_t> record,
                              int result) = 0;
};

// What a check of a whole file found; empty when it is sound.
struct RecordFileCheck {
  std::vector<std::string> problems;
  std::int64_t records = 0;
};

class RecordTransaction;
class SqliteStatement;

class RecordFile {
 public:
  explicit RecordFile(RecordDeclaration declaration);
  ~RecordFile();  // flushes a stream, closes, and tells the observer kRelease
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  const RecordDeclaration& Declaration() const { return declaration_; }
  const std::string& Label() const { return declaration_.label; }
  int FieldCount() const { return static_cast<int>(declaration_.fields.size()); }
  int KeyCount() const { return static_cast<int>(declaration_.keys.size()); }

  // The data file: disk name plus ".dat" (relative to the current
  // directory unless the disk name is absolute). The disk name may change
  // only while the file is closed; false otherwise.
  std::string Path() const;
  bool SetDiskName(std::string disk_name);

  // The record buffer, record_size bytes. Reads fill it; writes take it.
  std::uint8_t* Record() { return record_.data(); }
  const std::uint8_t* Record() const { return record_.data(); }
  std::size_t RecordSize() const { return record_.size(); }
  // Numbers to zero, texts to blanks (record_fields.h ClearRecord).
  void Clear();

  // Makes a new empty file with this declaration. An existing file with
  // the same declaration is left as it is and counts as created; any other
  // existing file is never replaced (5, or what opening it answers).
  int Create();

  // Opens with an access and share mode (record_share_lock.h; 66 is
  // read/write, deny none). Checks the stored declaration: 47 for another
  // record layout, 46 for other or missing keys or indexes.
  int Open(int mode = kOpenReadWriteDenyNone);
  // For reading the records in record order only, as an upgrade copies
  // them: Open then takes keys and indexes as they are, damaged or not,
  // instead of answering 46, so that the file need not be changed first.
  void TakeKeysAsTheyAre() { keys_as_they_are_ = true; }
  // Flushes a stream, drops holds and closes. Closing a closed file does
  // nothing.
  int Close();
  bool IsOpen() const;
  int OpenMode() const { return open_mode_; }

  // Driver commands. "Recover=N": wait up to N seconds for another
  // station's lock before answering 5 (for this open and later ones).
  // "QUICKSCAN=on" / "QUICKSCAN=off": sequential reads may read ahead (see
  // SetReadAhead) or read each record fresh. Anything else answers 80.
  int Send(const std::string& command);

  // Records read ahead by Next and Previous, 0 meaning "as QUICKSCAN says".
  // Read-ahead records can be stale when another station writes meanwhile;
  // a Put over one is still caught (89). Every write of this file drops them.
  void SetReadAhead(int records) { read_ahead_ = records < 0 ? 0 : records; }
  int ReadAhead() const { return read_ahead_; }

  // Reading order (see above). key_number 0 is record order.
  int Set(int key_number = 0);
  // Before the first record whose key value is at least the value in the
  // buffer for Next, after the last whose value is at most it for Previous.
  int SetKeyValue(int key_number);
  // Reads answer 43 when another station keeps the file locked for its
  // write (committing, or holding it alone) past the Recover wait.
  int Next();      // 33 past the end
  int Previous();  // 33 before the start

  // Reads the first record (in record order) whose key value equals the
  // value in the buffer: 35 when none. The reading order is not changed.
  int Get(int key_number);

  // Reads the record with the highest number in the last component of key
  // `key_number`, a text, among those whose other components equal the
  // buffer's: numbers without leading zeros compare by length first, which
  // the key's text order does not ("9" sorts after "10"). Only records
  // whose text starts with a digit count: 33 when there is none. The
  // reading order is not changed.
  int HighestTextNumber(int key_number);

  // The current record's position in record order (key_number 0) or in a
  // key's order, as bytes; empty when there is no current record.
  std::string Position(int key_number = 0) const;
  // Reads the record at a position taken from any order: 35 when it is gone.
  int Reget(const std::string& position);
  // Puts the reading order at a position of that order: Next reads the
  // record there (or the one after it, if it is gone), Previous likewise.
  int Reset(int key_number, const std::string& position);

  // Adds the buffer as a new record, which becomes the current one: 40 when
  // a unique key would be duplicated (nothing is written), 5 when read-only.
  int Add();
  // Writes the buffer over the current record: 33 without one, 40, 43 when
  // another station holds it, 89 when another station changed or deleted it
  // since it was read. Every read is watched this way, so the runtime's
  // watch needs no call of its own; after an 89, Reget the position to see
  // the other station's record.
  int Put();
  // Deletes the current record: 33 without one, 43 when held elsewhere, 89
  // when another station deleted it first. Next and Previous go on from
  // where it was.
  int Delete();
  // True when adding (or putting) the buffer would duplicate unique key
  // `key_number` in another record.
  bool Duplicate(int key_number);
  // Unique keys whose values in the buffer another record already has.
  std::vector<int> DuplicatedKeys();

  // Holds the current record against other stations (0, 43 when another
  // holds it, 33 without a current record) and releases all holds.
  int Hold();
  void ReleaseHolds();

  // Recomputes every key value and rebuilds the indexes, also of a file
  // whose stored keys differ from the declared ones (its key list is then
  // replaced). Works on a closed file, opening it alone for the time. 40
  // when a unique key is duplicated, 47 when the layout differs; a failed
  // build leaves the file as it was.
  int Build();

  // Stream mode for bulk writes: writes are committed in batches of
  // kStreamBatch records instead of one by one, so that a crash loses at
  // most the batch in progress and never leaves part of a record. Flush
  // commits the batch and ends the mode. Inside a transaction both do
  // nothing: the transaction decides.
  static constexpr int kStreamBatch = 1000;
  int Stream();
  int Flush();

  // Saved reading states: the order, the position and the current record.
  int GetState();                 // a handle, never 0
  int RestoreState(int handle);   // 33 for an unknown handle
  void FreeState(int handle);

  // Number of records; -1 when the file is not open.
  std::int64_t Records();

  // Checks the whole open file: SQLite's integrity check, every record's
  // size, and every stored key value against the record it belongs to.
  RecordFileCheck Check();

  void SetObserver(RecordFileObserver* observer) { observer_ = observer; }

  bool InTransaction() const { return in_transaction_; }

  // The declaration stored in the file at `path`: 0, 2, or 90 when it is not
  // a record file.
  static int ReadDeclaration(const std::string& path, RecordDeclaration* declaration);

 private:
  friend class RecordTransaction;
  struct Impl;

  int Fail(int code, const std::string& driver_message, int driver_code = 0);
  int Succeed();
  int FailSqlite(int sqlite_code, const std::string& context);
  // As FailSqlite, but a read that found the file locked past the wait
  // answers 43 (record held).
  int FailRead(int sqlite_code, const std::string& context);
  bool Notify(RecordOperation operation);
  int Finish(RecordOperation operation, int result);
  // Steps a statement that selects id, version and data of one record and
  // makes that record current: `missing_code` when it selects none.
  int ReadOne(SqliteStatement& statement, int missing_code, const char* missing_message);
  int Step(bool forward);
  int Fill(bool forward);
  int WriteBegin();
  int WriteEnd(int result);
  int CheckWritable();
  int PrepareTransaction();
  int BeginTransaction(int timeout_seconds);
  // Reads and writes go through a transaction's connection, where this
  // file is the database `schema`, until the transaction ends.
  void JoinSharedTransaction(sqlite3* db, const std::string& schema);
  void LeaveSharedTransaction();
  int CommitTransaction();
  int RollbackTransaction();
  void ForgetReadAhead();
  void TakeRow(std::int64_t id, std::int64_t version, std::string_view data, std::string key_value);

  RecordDeclaration declaration_;
  std::vector<std::uint8_t> record_;
  std::unique_ptr<Impl> impl_;
  RecordShareLock share_lock_;
  RecordFileObserver* observer_ = nullptr;
  int open_mode_ = kOpenReadWriteDenyNone;
  int read_ahead_ = 0;
  bool keys_as_they_are_ = false;
  bool quick_scan_ = false;
  int recover_seconds_ = 5;
  bool streaming_ = false;
  int stream_writes_ = 0;
  bool in_transaction_ = false;
  RecordTransaction* transaction_ = nullptr;
};

}  // namespace qm::platform
