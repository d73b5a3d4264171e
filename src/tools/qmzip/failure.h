// Exit codes of QmZip and the failure value every operation returns instead of throwing.
#pragma once

#include <optional>
#include <string>

namespace qm::qmzip {

// The process exit code for each kind of failure; callers treat any non-zero value as
// failure, the distinct values tell a person or a script what went wrong.
enum class ExitCode : int {
  Success = 0,
  BadCommandLine = 1,
  ArchiveMissing = 2,
  ArchiveDamaged = 3,
  UnsafeEntry = 4,
  NothingMatched = 5,
  ReadWriteError = 6,
};

// A failed operation: its exit code and one line naming the file and the reason.
struct Failure {
  ExitCode code = ExitCode::ReadWriteError;
  std::string message;
};

// Empty on success.
using Outcome = std::optional<Failure>;

}  // namespace qm::qmzip
