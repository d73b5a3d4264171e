// -test: proves that an archive can be read back completely.
#pragma once

#include <string>

#include "tools/qmzip/failure.h"
#include "tools/qmzip/progress_reporter.h"

namespace qm::qmzip {

class ArchiveChecker {
 public:
  ArchiveChecker(unsigned threads, ProgressReporter& progress) : threads_(threads), progress_(progress) {}

  // Compares every local header with the central directory and reads every entry to
  // its end, checking its stream, size and CRC. Success only when all of it is sound.
  Outcome Test(const std::string& archive_path);

 private:
  unsigned threads_;
  ProgressReporter& progress_;
};

}  // namespace qm::qmzip
