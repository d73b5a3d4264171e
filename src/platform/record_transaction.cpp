#include "platform/record_transaction.h"

#include "platform/runtime_error.h"

namespace qm::platform {

RecordTransaction::~RecordTransaction() {
  if (Active()) Rollback();
}

int RecordTransaction::Begin(const std::vector<RecordFile*>& files, int timeout_seconds) {
  if (Active()) {
    SetRuntimeError(kErrAccessDenied, {}, "0", "a transaction is already running");
    return kErrAccessDenied;
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
    files_.push_back(file);
  }
  ClearRuntimeError();
  return 0;
}

int RecordTransaction::Commit() {
  std::vector<RecordFile*> files = std::move(files_);
  files_.clear();
  std::string committed;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const int result = files[i]->CommitTransaction();
    if (result != 0) {
      const RuntimeErrorState failure = LastRuntimeError();
      for (std::size_t j = i; j < files.size(); ++j) files[j]->RollbackTransaction();
      std::string message = failure.file_error_message;
      if (!committed.empty()) message += " (already committed: " + committed + ")";
      SetRuntimeError(failure.code, failure.file, failure.file_error_code, message);
      return result;
    }
    committed += (committed.empty() ? "" : ", ") + files[i]->Path();
  }
  ClearRuntimeError();
  return 0;
}

int RecordTransaction::Rollback() {
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
