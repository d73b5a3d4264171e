// Compresses a list of files on worker threads into raw deflate streams, one stream per
// file. A large file is cut into pieces that are compressed independently and joined
// with sync-flush boundaries, so one file also spreads over every core; the joined
// pieces are one ordinary deflate stream. The consumer takes the pieces in file order;
// at most a fixed window of pieces is held in memory, whatever the file sizes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/qmzip/failure.h"
#include "tools/qmzip/progress_reporter.h"

namespace qm::qmzip {

struct DeflateInput {
  std::string path;
  uint64_t size = 0;  // bytes to compress; a file that turns out shorter is a read failure
};

class ParallelDeflater {
 public:
  static constexpr size_t kPieceBytes = size_t{1} << 20;
  static constexpr int kLevel = 6;

  // Starts `threads` workers (at least one) over `inputs`.
  ParallelDeflater(std::vector<DeflateInput> inputs, unsigned threads, ProgressReporter& progress);
  ~ParallelDeflater();
  ParallelDeflater(const ParallelDeflater&) = delete;
  ParallelDeflater& operator=(const ParallelDeflater&) = delete;

  // Replaces `compressed` with the next piece of input `input` and sets `last` on its
  // final piece. Inputs must be taken in order, each to its end. Returns the failure
  // of reading or compressing that piece, or of taking inputs out of order.
  Outcome Take(size_t input, std::vector<uint8_t>& compressed, bool& last);

  // CRC-32 of input `input`; complete once its last piece has been taken.
  uint32_t Crc(size_t input) const { return crcs_[input]; }

 private:
  struct Job {
    size_t input;
    uint64_t offset;
    size_t length;
    bool last;
  };
  struct Slot {
    bool ready = false;
    std::vector<uint8_t> data;
    uint32_t crc = 0;
    Outcome failure;
  };

  void WorkerLoop();

  std::vector<DeflateInput> inputs_;
  std::vector<Job> jobs_;
  std::vector<uint32_t> crcs_;  // touched by the consumer only
  ProgressReporter& progress_;
  size_t window_;

  std::mutex mutex_;
  std::condition_variable piece_ready_;
  std::condition_variable space_free_;
  size_t next_job_ = 0;        // Protected by mutex_
  size_t consumed_ = 0;        // Protected by mutex_
  bool stopping_ = false;      // Protected by mutex_
  std::vector<Slot> slots_;    // Protected by mutex_; job j lives in slot j % window_
  std::vector<std::thread> workers_;
};

}  // namespace qm::qmzip
