#include "backup/archive_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"
#include "platform/process.h"

namespace qm::backup {

bool ArchiveGuard::TryAcquire(const std::string& data_directory) {
  Release();
  refused_as_busy_ = false;
  // flock locks belong to the open file description, so two threads of one
  // process with their own descriptors exclude each other as two processes do.
  const std::string path = platform::JoinPath(data_directory, kGuardFileName);
  const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
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
