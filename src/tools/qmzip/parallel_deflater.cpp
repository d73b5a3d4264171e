#include "tools/qmzip/parallel_deflater.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>

#include "tools/qmzip/temp_file.h"

namespace qm::qmzip {
namespace {

Failure ReadFailure(const std::string& path, const std::string& reason) {
  return Failure{ExitCode::ReadWriteError, "cannot read '" + path + "': " + reason};
}

Outcome ReadRange(const std::string& path, uint64_t offset, size_t length, std::vector<uint8_t>& into) {
  into.resize(length);
  if (length == 0) return std::nullopt;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ReadFailure(path, SystemReason(errno));
  size_t done = 0;
  while (done < length) {
    const ssize_t got = pread(fd, into.data() + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error_number = errno;
      close(fd);
      return ReadFailure(path, SystemReason(error_number));
    }
    if (got == 0) {
      close(fd);
      return ReadFailure(path, "the file became shorter while it was being packed");
    }
    done += static_cast<size_t>(got);
  }
  close(fd);
  return std::nullopt;
}

// One raw deflate stream per worker, reset for every piece: pieces share no history,
// which keeps them independent at a cost of well under one percent in size.
class PieceCompressor {
 public:
  PieceCompressor() { ok_ = deflateInit2(&stream_, ParallelDeflater::kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
  ~PieceCompressor() {
    if (ok_) deflateEnd(&stream_);
  }
  PieceCompressor(const PieceCompressor&) = delete;
  PieceCompressor& operator=(const PieceCompressor&) = delete;

  // A non-last piece ends with a sync flush (byte-aligned, stream still open); the last
  // piece finishes the stream.
  bool Compress(const std::vector<uint8_t>& raw, bool last, std::vector<uint8_t>& out) {
    if (!ok_ || deflateReset(&stream_) != Z_OK) return false;
    out.resize(deflateBound(&stream_, raw.size()) + 16);
    stream_.next_in = const_cast<Bytef*>(raw.data());
    stream_.avail_in = static_cast<uInt>(raw.size());
    size_t produced = 0;
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
      stream_.next_out = out.data() + produced;
      stream_.avail_out = static_cast<uInt>(out.size() - produced);
      const int result = deflate(&stream_, flush);
      produced = out.size() - stream_.avail_out;
      if (result == Z_STREAM_ERROR) return false;
      const bool complete = last ? result == Z_STREAM_END : (stream_.avail_in == 0 && stream_.avail_out > 0);
      if (complete) break;
      out.resize(out.size() * 2);
    }
    out.resize(produced);
    return true;
  }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

}  // namespace

ParallelDeflater::ParallelDeflater(std::vector<DeflateInput> inputs, unsigned threads, ProgressReporter& progress)
    : inputs_(std::move(inputs)), crcs_(inputs_.size(), 0), progress_(progress) {
  for (size_t i = 0; i < inputs_.size(); ++i) {
    const uint64_t size = inputs_[i].size;
    uint64_t offset = 0;
    do {
      const size_t length = static_cast<size_t>(std::min<uint64_t>(kPieceBytes, size - offset));
      jobs_.push_back(Job{i, offset, length, offset + length == size});
      offset += length;
    } while (offset < size);
  }
  if (threads == 0) threads = 1;
  window_ = size_t{threads} * 3;
  slots_.resize(window_);
  for (unsigned t = 0; t < threads; ++t) workers_.emplace_back([this] { WorkerLoop(); });
}

ParallelDeflater::~ParallelDeflater() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  space_free_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void ParallelDeflater::WorkerLoop() {
  PieceCompressor compressor;
  std::vector<uint8_t> raw;
  for (;;) {
    size_t job_index;
    {
      std::unique_lock lock(mutex_);
      space_free_.wait(lock, [this] { return stopping_ || next_job_ >= jobs_.size() || next_job_ < consumed_ + window_; });
      if (stopping_ || next_job_ >= jobs_.size()) return;
      job_index = next_job_++;
    }
    const Job& job = jobs_[job_index];
    const std::string& path = inputs_[job.input].path;
    Slot result;
    result.failure = ReadRange(path, job.offset, job.length, raw);
    if (!result.failure) {
      result.crc = static_cast<uint32_t>(crc32(0, raw.data(), static_cast<uInt>(raw.size())));
      if (!compressor.Compress(raw, job.last, result.data))
        result.failure = Failure{ExitCode::ReadWriteError, "cannot compress '" + path + "': out of memory"};
    }
    {
      std::lock_guard lock(mutex_);
      result.ready = true;
      slots_[job_index % window_] = std::move(result);
    }
    piece_ready_.notify_all();
  }
}

Outcome ParallelDeflater::Take(size_t input, std::vector<uint8_t>& compressed, bool& last) {
  Slot slot;
  Job job;
  {
    std::unique_lock lock(mutex_);
    if (consumed_ >= jobs_.size() || jobs_[consumed_].input != input)
      return Failure{ExitCode::ReadWriteError, "internal error: files were packed out of order"};
    job = jobs_[consumed_];
    Slot& waiting = slots_[consumed_ % window_];
    piece_ready_.wait(lock, [&waiting] { return waiting.ready; });
    slot = std::move(waiting);
    waiting = Slot{};
    ++consumed_;
  }
  space_free_.notify_all();
  if (slot.failure) return slot.failure;
  crcs_[input] = job.offset == 0 ? slot.crc
                                 : static_cast<uint32_t>(crc32_combine(crcs_[input], slot.crc, static_cast<z_off_t>(job.length)));
  compressed = std::move(slot.data);
  last = job.last;
  progress_.Advance(job.length);
  return std::nullopt;
}

}  // namespace qm::qmzip
