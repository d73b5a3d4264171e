#include "platform/text_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"
#include "platform/runtime_error.h"

namespace qm::platform {

// Closes without touching the error state: a caller may still be reading it.
TextFile::~TextFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

int TextFile::Create() {
  const int descriptor = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (descriptor < 0) return ReportSystemError(errno, path_);
  ::close(descriptor);
  ClearRuntimeError();
  return kErrNone;
}

int TextFile::Open() {
  if (descriptor_ >= 0) {
    SetRuntimeError(kErrFileAlreadyOpen, path_);
    return kErrFileAlreadyOpen;
  }
  // O_APPEND: every write lands at the end, also past other writers' lines.
  descriptor_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (descriptor_ < 0) return ReportSystemError(errno, path_);
  ClearRuntimeError();
  return kErrNone;
}

int TextFile::AppendLine(const std::string& line) {
  if (descriptor_ < 0) return ReportSystemError(EBADF, path_);
  const std::string record = line + "\n";
  const char* data = record.data();
  size_t left = record.size();
  while (left > 0) {
    const ssize_t written = ::write(descriptor_, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return ReportSystemError(errno, path_);
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  ClearRuntimeError();
  return kErrNone;
}

int TextFile::Close() {
  if (descriptor_ < 0) {
    ClearRuntimeError();
    return kErrNone;
  }
  const int result = ::close(descriptor_);
  descriptor_ = -1;
  if (result != 0) return ReportSystemError(errno, path_);
  ClearRuntimeError();
  return kErrNone;
}

}  // namespace qm::platform
