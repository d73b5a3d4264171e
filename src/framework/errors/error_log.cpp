#include "framework/errors/error_log.h"

#include <mutex>

#include "platform/file_system.h"
#include "platform/runtime_error.h"

namespace qm {
namespace {

constexpr int kLogOpenMode = 66;

std::mutex file_open_mutex;
StdErrorLog::FileOpen file_open;  // Protected by file_open_mutex

}  // namespace

void StdErrorLog::SetFileOpen(FileOpen open) {
  std::lock_guard lock(file_open_mutex);
  file_open = std::move(open);
}

int StdErrorLog::OpenFile() {
  FileOpen open;
  {
    std::lock_guard lock(file_open_mutex);
    open = file_open;
  }
  return open ? open(file_, kLogOpenMode) : file_.Open();
}

StdErrorLog::StdErrorLog(std::string path) : file_(std::move(path)) {}

StdErrorLog::~StdErrorLog() { Close(true); }

ErrorLevel StdErrorLog::Open(bool force) {
  platform::CriticalSectionGuard guard(CRITSECT);
  if ((USAGE == 0 || force) && !file_.IsOpen()) {
    if (!platform::FileExists(file_.Path()) && file_.Create() != platform::kErrNone) return LevelNotify;
    if (OpenFile() != platform::kErrNone) return LevelNotify;
  }
  ++USAGE;
  return LevelNone;
}

ErrorLevel StdErrorLog::Write(const std::string& line) {
  platform::CriticalSectionGuard guard(CRITSECT);
  if (USAGE == 0 || !file_.IsOpen()) return LevelNotify;
  if (file_.AppendLine(line.substr(0, kLineLength)) != platform::kErrNone) return LevelNotify;
  return LevelNone;
}

ErrorLevel StdErrorLog::Close(bool force) {
  platform::CriticalSectionGuard guard(CRITSECT);
  // A Close after a failed Open finds the count at 0; keeping it there lets
  // the next Open open the file again instead of the log staying shut.
  if (USAGE <= 0 && !force) return LevelNone;
  if (USAGE == 1 || force) {
    if (file_.IsOpen() && file_.Close() != platform::kErrNone) return LevelNotify;
    USAGE = 1;
  }
  --USAGE;
  return LevelNone;
}

std::int32_t StdErrorLog::Usage() const {
  platform::CriticalSectionGuard guard(CRITSECT);
  return USAGE;
}

}  // namespace qm
