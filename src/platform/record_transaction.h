// A transaction of the runtime over several record files (LOGOUT, COMMIT,
// ROLLBACK): every write to the named files between Begin and the end is
// kept or undone together.
//
// Each file commits on its own connection, in the order the files were
// named. A commit that fails part-way (a full disk on the second file) rolls
// back the files not yet committed and answers the failure; the files
// committed before it keep their changes, which the error message names.
#pragma once

#include <string>
#include <vector>

#include "platform/record_file.h"

namespace qm::platform {

class RecordTransaction {
 public:
  RecordTransaction() = default;
  ~RecordTransaction();  // rolls back a transaction still running
  RecordTransaction(const RecordTransaction&) = delete;
  RecordTransaction& operator=(const RecordTransaction&) = delete;

  // Starts the transaction over `files` (each open for writing, none in
  // another transaction; a stream is flushed first). Waits up to
  // `timeout_seconds` for another station's write lock: 5 when it is not
  // given up by then. On failure no file is left in the transaction.
  int Begin(const std::vector<RecordFile*>& files, int timeout_seconds);

  int Commit();
  // Undoes every write since Begin in every file.
  int Rollback();

  bool Active() const { return !files_.empty(); }

 private:
  std::vector<RecordFile*> files_;
};

}  // namespace qm::platform
