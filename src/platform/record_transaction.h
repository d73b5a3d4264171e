// A transaction of the runtime over several record files (LOGOUT, COMMIT,
// ROLLBACK): every write to the named files between Begin and the end is
// kept or undone together.
//
// A transaction over one file runs on that file's own connection. Over
// several, the files are attached to one connection of the transaction, so
// that SQLite's super-journal commits them as one: a crash at any moment of
// the commit (SIGKILL, power cut) leaves every file changed or none. While
// it runs, the files read and write through that connection and see the
// transaction's own changes. SQLite attaches at most ten files to a
// connection besides its first; a transaction over more is refused with 5.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/record_file.h"

namespace qm::platform {

class RecordTransaction {
 public:
  RecordTransaction();
  ~RecordTransaction();  // rolls back a transaction still running
  RecordTransaction(const RecordTransaction&) = delete;
  RecordTransaction& operator=(const RecordTransaction&) = delete;

  // Starts the transaction over `files` (each open for writing, none in
  // another transaction; a stream is flushed first). The same data file may
  // be named through several RecordFiles. Waits up to `timeout_seconds`
  // for another station's write lock: 5 when it is not given up by then.
  // On failure no file is left in the transaction.
  int Begin(const std::vector<RecordFile*>& files, int timeout_seconds);

  // Keeps every write of every file, or (on failure) none of them.
  int Commit();
  // Undoes every write since Begin in every file.
  int Rollback();

  bool Active() const { return !files_.empty(); }

 private:
  friend class RecordFile;
  struct Shared;

  int BeginShared(int timeout_seconds);
  int EndShared(bool commit);
  // A file closed while the transaction runs; over one file its writes are
  // undone, over several they stay with the others'.
  void Forget(RecordFile* file);

  std::vector<RecordFile*> files_;
  std::unique_ptr<Shared> shared_;
};

}  // namespace qm::platform
