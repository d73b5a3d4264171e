// -add: packs the regular files of the current directory that match any mask into an
// archive, keeping the other entries of an existing archive.
#pragma once

#include <string>
#include <vector>

#include "tools/qmzip/failure.h"
#include "tools/qmzip/progress_reporter.h"

namespace qm::qmzip {

class ArchiveWriter {
 public:
  ArchiveWriter(unsigned threads, ProgressReporter& progress) : threads_(threads), progress_(progress) {}

  // Writes the archive `archive_path` (already resolved by ArchivePath). Files match a
  // mask without regard to letter case; sub-directories and the archive itself are
  // never packed. Entries of an existing archive whose names match a packed file
  // (without regard to case) are replaced, the others kept as they are. The new
  // archive is written beside the old one and renamed into place only when complete
  // and flushed; on any failure the old archive is unchanged and no temporary file
  // remains. NothingMatched when no file matches.
  Outcome Add(const std::string& archive_path, const std::vector<std::string>& masks);

 private:
  unsigned threads_;
  ProgressReporter& progress_;
};

}  // namespace qm::qmzip
