// Machine-readable progress for the busy window: when the environment variable
// QMZIP_PROGRESS is set to 1, QmZip writes lines "QMZIP-PROGRESS <done> <total>"
// (bytes of file data) to standard output, at most one per percent and a last one when
// the work is complete. Otherwise it writes nothing. Safe to use from several threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace qm::qmzip {

class ProgressReporter {
 public:
  explicit ProgressReporter(bool enabled);
  static ProgressReporter FromEnvironment();

  void SetTotal(uint64_t total_bytes);
  void Advance(uint64_t bytes);
  void Finish();

 private:
  void Print(uint64_t done);

  bool enabled_;
  std::atomic<uint64_t> done_{0};
  uint64_t total_ = 0;
  std::mutex print_mutex_;
  uint64_t last_percent_printed_ = ~uint64_t{0};  // Protected by print_mutex_
};

}  // namespace qm::qmzip
