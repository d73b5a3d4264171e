// Runs one task per archive entry on several threads, each with its own ArchiveReader
// of the same archive. Large entries start first so that the threads finish together.
#pragma once

#include <functional>
#include <string>

#include "tools/qmzip/archive_reader.h"
#include "tools/qmzip/failure.h"

namespace qm::qmzip {

class EntryWorkers {
 public:
  using Task = std::function<Outcome(ArchiveReader& reader, size_t index)>;

  // Runs `task` for every entry of `catalogue` (a reader of `path` opened beforehand)
  // and returns the failure of the lowest failing entry index; after one failure no
  // further task starts.
  static Outcome Run(const std::string& path, const ArchiveReader& catalogue, unsigned threads, const Task& task);
};

}  // namespace qm::qmzip
