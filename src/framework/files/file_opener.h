// The openers: the one place where a FileManager's file is physically opened
// and closed.
//
// A file declared for all threads is one RecordFile that every thread's
// manager uses; it gets one SharedOpener, which counts the opens of all
// threads under its lock, so the file is opened once and closed when the
// last user closes it. A file declared per thread (every data file of both
// programs) gets a ThreadOpener of its own for each manager. Record
// operations on a shared file are not serialised here: the opener guards
// only the open count.
//
// Every physical open goes through OpenPhysically, which the file checker
// points at the upgrade library (its upg_FileOpen) so that each file is
// brought to its declared structure before it is opened.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/record_file.h"
#include "platform/threads.h"

namespace qm {

// Performs the physical open and close of one file. Both operations answer
// the runtime's error code, 0 on success.
class IFILEOPENSERVER {
 public:
  virtual ~IFILEOPENSERVER() = default;
  // `attempt` is the file manager's attempt number (0 for the retry after
  // "Recover="); the openers do not act on it.
  virtual int OpenFile(int mode, int attempt) = 0;
  virtual int CloseFile() = 0;
};

// The function that opens a file physically: by default the driver's own
// open. An empty function puts the default back. Set it at program start,
// before files are opened.
using PhysicalOpenFunction = std::function<int(platform::RecordFile& file, int mode)>;
void SetPhysicalOpen(PhysicalOpenFunction open);
int OpenPhysically(platform::RecordFile& file, int mode);

class SharedOpener : public IFILEOPENSERVER {
 public:
  explicit SharedOpener(platform::RecordFile& file) : MYFILE(file) {}

  // Opens the file when no user has it open; 52 (already open) counts as
  // success. Any other error leaves the count as it was.
  int OpenFile(int mode, int attempt) override;
  // Closes the file when the last user closes it; a failed close leaves the
  // count as it was.
  int CloseFile() override;

  std::int32_t UsageCount() const;

 private:
  platform::RecordFile& MYFILE;
  mutable platform::CriticalSection CSECT;
  std::int32_t FILEUSAGECOUNT = 0;  // Protected by CSECT
};

class ThreadOpener : public IFILEOPENSERVER {
 public:
  explicit ThreadOpener(platform::RecordFile& file) : MYFILE(file) {}

  // Opens every time; 52 (already open) counts as success.
  int OpenFile(int mode, int attempt) override;
  // Closes every time.
  int CloseFile() override;

 private:
  platform::RecordFile& MYFILE;
};

// The opener a manager of `file` uses: for a file declared for all threads
// the one SharedOpener of that file, which lives while anyone holds it; for
// a per-thread file a ThreadOpener of its own.
std::shared_ptr<IFILEOPENSERVER> OpenerFor(platform::RecordFile& file);

}  // namespace qm
