// -ext -over=all: replaces files of the current directory with the entries of an
// archive, all of them or none.
#pragma once

#include <string>

#include "tools/qmzip/failure.h"
#include "tools/qmzip/progress_reporter.h"

namespace qm::qmzip {

class ArchiveExtractor {
 public:
  ArchiveExtractor(unsigned threads, ProgressReporter& progress) : threads_(threads), progress_(progress) {}

  // Refuses the archive (UnsafeEntry) when any entry is not a plain file of the
  // current directory: a path, "..", a drive, stream or device name, a link, a
  // directory, or a name that appears twice. Otherwise decompresses and checks every
  // entry into a temporary file beside its target; only when all are complete and on
  // disk are they renamed over the targets (an existing file of the same name without
  // regard to letter case is the target), and a failed rename puts back every file
  // already replaced. A damaged or hostile archive leaves the directory as it was;
  // success leaves exactly the archive's files with their stored times. Before the
  // renames, every record file to be replaced is claimed read/write deny all in the
  // record driver's share modes (one that another program has open refuses the whole
  // extraction) and a hot journal beside it is rolled back into it, so that it cannot
  // be applied to the restored file; the claims are held until all renames are done.
  Outcome Extract(const std::string& archive_path);

 private:
  unsigned threads_;
  ProgressReporter& progress_;
};

}  // namespace qm::qmzip
