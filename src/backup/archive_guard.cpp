#include "backup/archive_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"
#include "platform/process.h"

namespace qm::backup {
namespace {

// Opens the lock file, making it when it is missing. Every user who may write
// the data directory must be able to lock it, whatever this user's umask; a
// lock file left by another user that this one may not write is opened
// read-only, which takes the lock as well.
int OpenLockFile(const std::string& path) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int made = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (made >= 0) {
      ::fchmod(made, 0666);
      return made;
    }
    if (errno != EEXIST) return -1;
    const int opened = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (opened >= 0) return opened;
    if (errno == EACCES || errno == EROFS) return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    // Removed between the two opens: make it again.
    if (errno != ENOENT) return -1;
  }
  return -1;
}

}  // namespace

bool ArchiveGuard::TryAcquire(const std::string& data_directory) {
  Release();
  refused_as_busy_ = false;
  // flock locks belong to the open file description, so two threads of one
  // process with their own descriptors exclude each other as two processes do.
  const std::string path = platform::JoinPath(data_directory, kGuardFileName);
  const int descriptor = OpenLockFile(path);
  if (descriptor < 0) return false;
  if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    refused_as_busy_ = errno == EWOULDBLOCK;
    ::close(descriptor);
    return false;
  }
  descriptor_ = descriptor;
  // The archiver started under the lock shares it: should this process die
  // while the archiver still writes, the data directory stays locked until
  // the archiver has ended too.
  platform::HandDownToPrograms(descriptor_);
  return true;
}

void ArchiveGuard::Release() {
  if (descriptor_ < 0) return;
  if (platform::DescriptorHandedDown() == descriptor_) platform::HandDownToPrograms(-1);
  ::close(descriptor_);
  descriptor_ = -1;
}

}  // namespace qm::backup
