#include "platform/record_snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/record_file.h"
#include "platform/record_share_lock.h"
#include "platform/runtime_error.h"
#include "platform/sqlite_connection.h"

namespace qm::platform {
namespace {

constexpr char kSqliteMagic[] = "SQLite format 3";  // 16 bytes with its zero
constexpr std::size_t kApplicationIdOffset = 68;

RecordSnapshotResult Failed(int code, std::string reason) { return RecordSnapshotResult{code, std::move(reason)}; }

std::string SqliteReason(const SqliteConnection& connection, int result) {
  return connection.IsOpen() ? connection.ErrorMessage() : sqlite3_errstr(result);
}

bool IsBusy(int result) { return (result & 0xFF) == SQLITE_BUSY || (result & 0xFF) == SQLITE_LOCKED; }

}  // namespace

bool IsRecordFile(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  std::array<unsigned char, 100> header{};
  std::size_t done = 0;
  while (done < header.size()) {
    const ssize_t got = ::pread(descriptor, header.data() + done, header.size() - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  ::close(descriptor);
  if (done < header.size() || std::memcmp(header.data(), kSqliteMagic, sizeof kSqliteMagic) != 0) return false;
  std::uint32_t mark = 0;
  for (std::size_t i = 0; i < 4; ++i) mark = (mark << 8) | header[kApplicationIdOffset + i];
  return mark == kRecordFileMark;
}

RecordSnapshotResult SnapshotRecordFile(const std::string& source_path, const std::string& copy_path,
                                        int timeout_seconds) {
  struct stat status;
  if (::stat(source_path.c_str(), &status) != 0)
    return Failed(errno == ENOENT ? kErrFileNotFound : kErrDriverError, std::strerror(errno));

  RecordShareLock share;
  if (share.Acquire(source_path, kAccessRead | kShareDenyNone) != 0)
    return Failed(kErrAccessDenied, "another program has it open and denies reading it");

  // Read-write where we may, so that SQLite can roll back a hot journal
  // before the read; a read-only directory still gives a copy of a file
  // at rest.
  SqliteConnection source;
  int result = source.Open(source_path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  if (result != SQLITE_OK) result = source.Open(source_path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
  if (result != SQLITE_OK) return Failed(kErrDriverError, SqliteReason(source, result));
  source.SetBusyWait(timeout_seconds * 1000);

  // One read transaction over the check and the whole copy: the copy is the
  // state this transaction sees, whatever is committed meanwhile.
  if ((result = source.Execute("BEGIN;")) != SQLITE_OK) return Failed(kErrDriverError, SqliteReason(source, result));
  {
    SqliteStatement mark(source.Handle(), "PRAGMA application_id;");
    result = mark.Ok() ? mark.Step() : mark.PrepareResult();
    if (IsBusy(result)) return Failed(kErrAccessDenied, "another program kept it locked: " + SqliteReason(source, result));
    if (result != SQLITE_ROW) return Failed(kErrDriverError, SqliteReason(source, result));
    if (static_cast<std::uint32_t>(mark.Integer(0)) != kRecordFileMark) return Failed(kErrDriverError, "not a record file");
  }

  SqliteConnection copy;
  result = copy.Open(copy_path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
  if (result != SQLITE_OK) return Failed(kErrDriverError, "cannot write the copy: " + SqliteReason(copy, result));
  // The copy is thrown away on any failure, so it needs no journal of its own.
  if ((result = copy.Execute("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;")) != SQLITE_OK)
    return Failed(kErrDriverError, "cannot write the copy: " + SqliteReason(copy, result));

  sqlite3_backup* backup = sqlite3_backup_init(copy.Handle(), "main", source.Handle(), "main");
  if (backup == nullptr) return Failed(kErrDriverError, "cannot write the copy: " + copy.ErrorMessage());
  // All pages in one step: the read lock is held throughout, so the copy
  // cannot restart under a writer that commits between steps.
  const int stepped = sqlite3_backup_step(backup, -1);
  const int finished = sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE) {
    if (IsBusy(stepped)) return Failed(kErrAccessDenied, "another program kept it locked");
    return Failed(kErrDriverError, std::string("cannot copy it: ") + sqlite3_errstr(stepped));
  }
  if (finished != SQLITE_OK) return Failed(kErrDriverError, "cannot write the copy: " + copy.ErrorMessage());
  source.Execute("COMMIT;");
  return RecordSnapshotResult{};
}

RecordSnapshotResult RollBackRecordJournal(const std::string& path, int timeout_seconds) {
  const std::string journal = path + "-journal";
  struct stat status;
  if (::lstat(journal.c_str(), &status) != 0) return RecordSnapshotResult{};
  {
    // The first read of a file with a hot journal rolls the journal back,
    // which takes a connection that may write the file.
    SqliteConnection connection;
    int result = connection.Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    if (result != SQLITE_OK) return Failed(kErrDriverError, SqliteReason(connection, result));
    connection.SetBusyWait(timeout_seconds * 1000);
    SqliteStatement read(connection.Handle(), "PRAGMA schema_version;");
    result = read.Ok() ? read.Step() : read.PrepareResult();
    if (IsBusy(result)) return Failed(kErrAccessDenied, "another program kept it locked: " + SqliteReason(connection, result));
    if (result != SQLITE_ROW) return Failed(kErrDriverError, SqliteReason(connection, result));
  }
  // SQLite applies a journal whose first byte is not zero; one left after
  // the rollback (its header cleared, or emptied) is never applied.
  const int descriptor = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return RecordSnapshotResult{};
  unsigned char first = 0;
  const ssize_t got = ::pread(descriptor, &first, 1, 0);
  ::close(descriptor);
  if (got == 0 || (got == 1 && first == 0)) return RecordSnapshotResult{};
  return Failed(kErrDriverError, "its journal was not rolled back");
}

}  // namespace qm::platform
