#include "tools/qmzip/entry_workers.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

namespace qm::qmzip {

Outcome EntryWorkers::Run(const std::string& path, const ArchiveReader& catalogue, unsigned threads, const Task& task) {
  const std::vector<EntryInfo>& entries = catalogue.entries();
  std::vector<size_t> order(entries.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return entries[a].compressed_size > entries[b].compressed_size; });

  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex failure_mutex;
  Outcome first_failure;          // Protected by failure_mutex
  size_t first_failed_index = 0;  // Protected by failure_mutex
  auto note = [&](size_t index, Failure failure) {
    std::lock_guard lock(failure_mutex);
    if (!first_failure || index < first_failed_index) {
      first_failure = std::move(failure);
      first_failed_index = index;
    }
    failed = true;
  };

  auto work = [&] {
    auto opened = ArchiveReader::Open(path, false);
    if (auto* failure = std::get_if<Failure>(&opened)) {
      note(0, *failure);
      return;
    }
    ArchiveReader& reader = *std::get<std::unique_ptr<ArchiveReader>>(opened);
    const auto same_entry = [](const EntryInfo& a, const EntryInfo& b) {
      return a.name == b.name && a.size == b.size && a.crc == b.crc && a.compressed_size == b.compressed_size;
    };
    if (!std::equal(reader.entries().begin(), reader.entries().end(), entries.begin(), entries.end(), same_entry)) {
      note(0, Failure{ExitCode::ArchiveDamaged, "'" + path + "' changed while it was being read"});
      return;
    }
    for (size_t at = next++; at < order.size() && !failed; at = next++) {
      if (Outcome failure = task(reader, order[at])) note(order[at], *failure);
    }
  };

  const size_t count = std::max<size_t>(1, std::min<size_t>(threads, entries.size()));
  std::vector<std::thread> pool;
  for (size_t t = 1; t < count; ++t) pool.emplace_back(work);
  work();
  for (std::thread& thread : pool) thread.join();
  return first_failure;
}

}  // namespace qm::qmzip
