// Share modes and record holds of the record file driver, between threads
// and processes.
//
// They live in a lock file beside the data file (".TDV30.dat.lck" for
// "TDV30.dat"), never in the data file itself: SQLite's own locks are
// POSIX locks on the data file, and any descriptor of it that this process
// closed would drop them all. Locks are open-file-description locks, so two
// opens in one process exclude each other as two processes do, and the
// system releases them when a process dies: no stale lock survives a crash.
#pragma once

#include <cstdint>
#include <string>

namespace qm::platform {

// Open modes of the runtime: access in the two low bits, share in the high
// nibble.
inline constexpr int kAccessRead = 0x00;
inline constexpr int kAccessWrite = 0x01;
inline constexpr int kAccessReadWrite = 0x02;
inline constexpr int kShareDenyAll = 0x10;
inline constexpr int kShareDenyWrite = 0x20;
inline constexpr int kShareDenyRead = 0x30;
inline constexpr int kShareDenyNone = 0x40;
inline constexpr int kOpenReadWriteDenyNone = 66;

class RecordShareLock {
 public:
  RecordShareLock() = default;
  ~RecordShareLock() { Release(); }
  RecordShareLock(const RecordShareLock&) = delete;
  RecordShareLock& operator=(const RecordShareLock&) = delete;

  // Claims `mode` on the data file at `data_path`: 0, or 5 when an open
  // elsewhere denies what this one asks for or asks for what this one
  // denies. A lock file that cannot be made (a read-only directory) leaves a
  // read-only open unguarded and refuses any other with 5.
  int Acquire(const std::string& data_path, int mode);

  // Gives up the claim and every hold.
  void Release();

  // Holds one record against other opens: 0, or 43 when another open holds
  // it. Holding a record twice is one hold.
  int Hold(std::int64_t record_id);
  void Unhold(std::int64_t record_id);

  // True when another open holds the record.
  bool HeldElsewhere(std::int64_t record_id) const;

  static std::string LockPathFor(const std::string& data_path);

 private:
  int descriptor_ = -1;
};

}  // namespace qm::platform
