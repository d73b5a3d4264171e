// A uniquely named file beside a final path that only becomes the final file by an
// atomic rename after its data and the directory entry are on disk. Until then the
// final path is untouched; a TempFile that is not committed removes itself.
#pragma once

#include <string>
#include <variant>

#include "tools/qmzip/failure.h"

namespace qm::qmzip {

class TempFile {
 public:
  // Creates an empty file ".<base>.qmzip-XXXXXX" in the directory of `final_path`.
  static std::variant<TempFile, Failure> CreateBeside(const std::string& final_path);

  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&&) = delete;
  TempFile(const TempFile&) = delete;
  ~TempFile();

  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

  // Closes the descriptor (the file stays) so that another writer may replace it.
  void CloseDescriptor();

  // Flushes the file's data to disk (reopened when its descriptor was closed).
  Outcome Sync();

  // Renames the file to `final_path`, replacing what is there; afterwards this object
  // no longer owns a file. On failure the final path is as it was.
  Outcome RenameTo(const std::string& final_path);

  // Sync, RenameTo and a flush of the directory.
  Outcome CommitAs(const std::string& final_path);

  // Removes the file now.
  void Discard();

 private:
  TempFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

  std::string path_;  // empty once committed or discarded
  int fd_ = -1;
};

// fsync on a directory, so that a rename or unlink in it survives a crash.
Outcome SyncDirectory(const std::string& directory);

// "<strerror(errno)>" for messages.
std::string SystemReason(int error_number);

}  // namespace qm::qmzip
