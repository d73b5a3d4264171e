// Faults of record files made on purpose, for tests. Tests run as root,
// where file permissions refuse nothing, so a refused open and a damaged
// index come in through here rather than through chmod.
#pragma once

#include <string>

namespace qm::platform {

class RecordFaults {
 public:
  // Every open of the data file at `path` answers `code` (5 for a file that
  // refuses access, for instance) until ClearOpenFaults. Paths compare after
  // being made absolute.
  static void FailOpens(const std::string& path, int code);
  static void ClearOpenFaults();

  // The code set for `path`, or 0. Used by the driver on every open.
  static int OpenFault(const std::string& path);

  // Damages a closed file for real. DropIndex removes the index of key
  // `key_number` (the next open answers 46); ScrambleKeyValues overwrites
  // that key's stored values so that they no longer match the records
  // (only a check of the file sees it). Return 0, or 90 when the file
  // cannot be changed.
  static int DropIndex(const std::string& path, int key_number);
  static int ScrambleKeyValues(const std::string& path, int key_number);

  // Moments of a commit at which the process can be made to die.
  enum class CommitMoment {
    kAfterFirstDataFileSync,  // one data file of a commit is written, the others not yet
    kAfterFirstJournalDelete, // a (super-)journal is gone: a commit has become durable
  };
  // From now on the process kills itself with SIGKILL at `moment`, as a
  // power cut would stop it. Affects connections opened afterwards; meant
  // for a forked child that is about to commit.
  static void KillAt(CommitMoment moment);
};

}  // namespace qm::platform
