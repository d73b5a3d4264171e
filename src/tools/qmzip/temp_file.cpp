#include "tools/qmzip/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/qmzip/archive_path.h"

namespace qm::qmzip {

std::string SystemReason(int error_number) { return std::strerror(error_number); }

Outcome SyncDirectory(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Failure{ExitCode::ReadWriteError, "cannot open directory '" + directory + "': " + SystemReason(errno)};
  const int result = fsync(fd);
  const int error_number = errno;
  close(fd);
  // Some file systems cannot sync a directory; the rename is then as durable as they allow.
  if (result != 0 && error_number != EINVAL && error_number != EROFS)
    return Failure{ExitCode::ReadWriteError, "cannot flush directory '" + directory + "': " + SystemReason(error_number)};
  return std::nullopt;
}

std::variant<TempFile, Failure> TempFile::CreateBeside(const std::string& final_path) {
  const std::string directory = DirectoryOf(final_path);
  std::string pattern = (directory == "." && final_path.find('/') == std::string::npos ? std::string() : directory + "/") +
                        "." + BaseNameOf(final_path) + ".qmzip-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0)
    return Failure{ExitCode::ReadWriteError, "cannot create a file in '" + directory + "': " + SystemReason(errno)};
  return TempFile(std::string(name.data()), fd);
}

TempFile::TempFile(TempFile&& other) noexcept : path_(std::move(other.path_)), fd_(other.fd_) {
  other.path_.clear();
  other.fd_ = -1;
}

TempFile::~TempFile() { Discard(); }

void TempFile::CloseDescriptor() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void TempFile::Discard() {
  CloseDescriptor();
  if (!path_.empty()) unlink(path_.c_str());
  path_.clear();
}

Outcome TempFile::Sync() {
  if (fd_ < 0) fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return Failure{ExitCode::ReadWriteError, "cannot reopen '" + path_ + "': " + SystemReason(errno)};
  if (fsync(fd_) != 0) return Failure{ExitCode::ReadWriteError, "cannot write '" + path_ + "': " + SystemReason(errno)};
  return std::nullopt;
}

Outcome TempFile::RenameTo(const std::string& final_path) {
  CloseDescriptor();
  if (rename(path_.c_str(), final_path.c_str()) != 0)
    return Failure{ExitCode::ReadWriteError, "cannot replace '" + final_path + "': " + SystemReason(errno)};
  path_.clear();
  return std::nullopt;
}

Outcome TempFile::CommitAs(const std::string& final_path) {
  if (Outcome failure = Sync()) return failure;
  if (Outcome failure = RenameTo(final_path)) return failure;
  return SyncDirectory(DirectoryOf(final_path));
}

}  // namespace qm::qmzip
