#include "platform/record_transaction.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "platform/runtime_error.h"
#include "platform/sqlite_connection.h"

namespace qm::platform {
namespace {

int RuntimeCodeOf(int sqlite_code) {
  switch (sqlite_code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_READONLY:
    case SQLITE_PERM: return kErrAccessDenied;
    default: return kErrDriverError;
  }
}

}  // namespace

struct RecordTransaction::Shared {
  SqliteConnection connection;
};

RecordTransaction::RecordTransaction() = default;

RecordTransaction::~RecordTransaction() {
  if (Active()) Rollback();
}

int RecordTransaction::Begin(const std::vector<RecordFile*>& files, int timeout_seconds) {
  if (Active()) {
    SetRuntimeError(kErrAccessDenied, {}, "0", "a transaction is already running");
    return kErrAccessDenied;
  }
  for (RecordFile* file : files) {
    if (const int refused = file->PrepareTransaction(); refused != 0) return refused;
  }
  if (files.size() > 1) {
    files_ = files;
    const int result = BeginShared(timeout_seconds);
    if (result != 0) files_.clear();
    return result;
  }
  for (RecordFile* file : files) {
    const int result = file->BeginTransaction(timeout_seconds);
    if (result != 0) {
      const RuntimeErrorState failure = LastRuntimeError();
      for (RecordFile* begun : files_) begun->RollbackTransaction();
      files_.clear();
      SetRuntimeError(failure.code, failure.file, failure.file_error_code, failure.file_error_message);
      return result;
    }
    file->transaction_ = this;
    files_.push_back(file);
  }
  ClearRuntimeError();
  return 0;
}

int RecordTransaction::BeginShared(int timeout_seconds) {
  auto shared = std::make_unique<Shared>();
  SqliteConnection& connection = shared->connection;
  const std::string first = files_.front()->Path();
  auto fail = [&](int sqlite_code, const std::string& file, const std::string& context) {
    const std::string message =
        context + ": " + (connection.IsOpen() ? connection.ErrorMessage() : sqlite3_errstr(sqlite_code));
    SetRuntimeError(RuntimeCodeOf(sqlite_code), file, std::to_string(sqlite_code), message);
    return RuntimeCodeOf(sqlite_code);
  };
  int result = connection.Open(first, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  if (result != SQLITE_OK) return fail(result, first, "starting a transaction");
  // One schema per data file, however many RecordFiles name it.
  std::vector<std::pair<std::pair<dev_t, ino_t>, std::string>> schemas;
  std::vector<std::string> schema_of_file;
  int recover_seconds = 0;
  for (RecordFile* file : files_) {
    recover_seconds = std::max(recover_seconds, file->recover_seconds_);
    const std::string path = file->Path();
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
      SetRuntimeError(kErrFileNotFound, path, "0", "the file is gone");
      return kErrFileNotFound;
    }
    const std::pair<dev_t, ino_t> identity{status.st_dev, status.st_ino};
    const auto known = std::find_if(schemas.begin(), schemas.end(),
                                    [&](const auto& entry) { return entry.first == identity; });
    if (known != schemas.end()) {
      schema_of_file.push_back(known->second);
      continue;
    }
    const std::string schema = schemas.empty() ? "main" : "qm_file" + std::to_string(schemas.size());
    if (!schemas.empty()) {
      if (static_cast<int>(schemas.size()) > sqlite3_limit(connection.Handle(), SQLITE_LIMIT_ATTACHED, -1)) {
        SetRuntimeError(kErrAccessDenied, path, "0", "too many files in one transaction");
        return kErrAccessDenied;
      }
      SqliteStatement attach(connection.Handle(), "ATTACH DATABASE ?1 AS " + schema);
      if (!attach.Ok()) return fail(attach.PrepareResult(), path, "starting a transaction");
      attach.BindText(1, path);
      if ((result = attach.Step()) != SQLITE_DONE) return fail(result, path, "starting a transaction");
    }
    if ((result = connection.Execute("PRAGMA " + schema + ".journal_mode = DELETE;")) != SQLITE_OK) {
      return fail(result, path, "starting a transaction");
    }
    schemas.emplace_back(identity, schema);
    schema_of_file.push_back(schema);
  }
  connection.SetBusyWait(timeout_seconds * 1000);
  result = connection.Execute("BEGIN IMMEDIATE;");
  if (result != SQLITE_OK) return fail(result, first, "starting a transaction");
  // Committing waits for readers of every file as long as the most patient
  // of them would.
  connection.SetBusyWait(recover_seconds * 1000);
  for (std::size_t i = 0; i < files_.size(); ++i) {
    files_[i]->JoinSharedTransaction(connection.Handle(), schema_of_file[i]);
    files_[i]->transaction_ = this;
  }
  shared_ = std::move(shared);
  ClearRuntimeError();
  return 0;
}

int RecordTransaction::EndShared(bool commit) {
  std::vector<RecordFile*> files = std::move(files_);
  files_.clear();
  SqliteConnection& connection = shared_->connection;
  int code = 0;
  int driver_code = 0;
  std::string message;
  if (commit) {
    driver_code = connection.Execute("COMMIT;");
    if (driver_code != SQLITE_OK) {
      code = RuntimeCodeOf(driver_code);
      message = "committing: " + connection.ErrorMessage() + " (nothing was committed)";
      commit = false;
    }
  }
  if (!commit && !sqlite3_get_autocommit(connection.Handle())) connection.Execute("ROLLBACK;");
  for (RecordFile* file : files) {
    if (commit) file->CommitTransaction();
    else file->RollbackTransaction();
  }
  shared_.reset();
  if (code != 0) {
    SetRuntimeError(code, files.empty() ? std::string() : files.front()->Path(),
                    std::to_string(driver_code), message);
    return code;
  }
  ClearRuntimeError();
  return 0;
}

void RecordTransaction::Forget(RecordFile* file) {
  files_.erase(std::remove(files_.begin(), files_.end(), file), files_.end());
  if (files_.empty() && shared_) {
    // The last file of the transaction is going: nothing can commit it.
    if (!sqlite3_get_autocommit(shared_->connection.Handle())) shared_->connection.Execute("ROLLBACK;");
    shared_.reset();
  }
}

int RecordTransaction::Commit() {
  if (shared_) return EndShared(true);
  std::vector<RecordFile*> files = std::move(files_);
  files_.clear();
  for (RecordFile* file : files) {
    const int result = file->CommitTransaction();
    if (result != 0) {
      const RuntimeErrorState failure = LastRuntimeError();
      file->RollbackTransaction();
      SetRuntimeError(failure.code, failure.file, failure.file_error_code, failure.file_error_message);
      return result;
    }
  }
  ClearRuntimeError();
  return 0;
}

int RecordTransaction::Rollback() {
  if (shared_) return EndShared(false);
  std::vector<RecordFile*> files = std::move(files_);
  files_.clear();
  int first_failure = 0;
  RuntimeErrorState failure;
  for (RecordFile* file : files) {
    const int result = file->RollbackTransaction();
    if (result != 0 && first_failure == 0) {
      first_failure = result;
      failure = LastRuntimeError();
    }
  }
  if (first_failure != 0) {
    SetRuntimeError(failure.code, failure.file, failure.file_error_code, failure.file_error_message);
    return first_failure;
  }
  ClearRuntimeError();
  return 0;
}

}  // namespace qm::platform
