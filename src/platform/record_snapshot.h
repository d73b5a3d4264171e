// A committed state of a record file, copied while other stations may be
// writing it: what an archiver packs instead of the live file.
//
// The copy is made with SQLite's online backup under one read transaction,
// so it holds every transaction committed before the copy began and nothing
// of one still running; a hot journal left by a crashed writer is rolled
// back first. The copy is claimed as a read, deny none, in the driver's share
// modes: an open that denies reading (deny all, deny read) refuses it.
#pragma once

#include <string>

namespace qm::platform {

struct RecordSnapshotResult {
  int code = 0;        // 0, 2 no such file, 5 refused by a share mode or a lock, 90 unreadable or unwritable
  std::string reason;  // one line for a message; empty on success
};

// True when `path` starts with a SQLite header that carries the record file
// mark (docs/record-files.md). Reads the header through a descriptor of its
// own: call it only while this process holds no SQLite connection to the
// file, since closing the descriptor would drop that connection's locks.
bool IsRecordFile(const std::string& path);

// Writes the committed state of the record file `source_path` into
// `copy_path`, an empty or absent file that nothing else uses; what was there
// is replaced. On failure `copy_path` may hold part of a copy, which the
// caller removes. Waits up to `timeout_seconds` for a writer that is
// committing.
RecordSnapshotResult SnapshotRecordFile(const std::string& source_path, const std::string& copy_path,
                                        int timeout_seconds = 5);

// Brings the record file at `path` back to its last committed state: a hot
// journal that a crashed writer left beside it is rolled back into it and
// removed, so that it can never be applied to another file put in its place.
// 0 when no journal that could be applied is left; 5 when another program
// kept the file locked; 90 when the journal cannot be rolled back. Call it
// while holding the file's share lock for read/write deny all and no SQLite
// connection to it. Waits up to `timeout_seconds` for a writer that is
// committing.
RecordSnapshotResult RollBackRecordJournal(const std::string& path, int timeout_seconds = 5);

}  // namespace qm::platform
