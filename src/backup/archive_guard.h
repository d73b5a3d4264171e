// One archive operation at a time on a data directory, across the threads
// of this process and across processes: an advisory lock on a file in the
// data directory whose name the archive masks (*.dat, *.ini) never match.
// Programs started on the taking thread while it is held share it (see
// platform::HandDownToPrograms): the archiver keeps the data directory locked
// until it has ended, even when this process dies before it. A guard is
// released on the thread that took it.
#pragma once

#include <string>

namespace qm::backup {

inline constexpr const char* kGuardFileName = ".TdxBack.lock";

class ArchiveGuard {
 public:
  ArchiveGuard() = default;
  ~ArchiveGuard() { Release(); }
  ArchiveGuard(const ArchiveGuard&) = delete;
  ArchiveGuard& operator=(const ArchiveGuard&) = delete;

  // Takes the lock of `data_directory` without waiting. False when another
  // backup or restore holds it, or the lock file cannot be made.
  bool TryAcquire(const std::string& data_directory);
  void Release();
  // After a refused TryAcquire: true when another operation holds the lock,
  // false when the lock file could not be made (a missing or read-only
  // data directory).
  bool RefusedAsBusy() const { return refused_as_busy_; }
  bool Held() const { return descriptor_ >= 0; }

 private:
  int descriptor_ = -1;
  bool refused_as_busy_ = false;
};

// The message shown when the lock is taken.
inline constexpr const char* kBusyMessage =
    "Another backup or restore of this data is running.|Wait until it has finished, then try again.";

}  // namespace qm::backup
