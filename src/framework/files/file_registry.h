// FileRegistry: the program-wide map from each file to its managers, and the
// record of which procedure on which thread uses a file how.
//
// The FileManager tells the registry of every use, open and close of its
// file. When a procedure starts using a file that a procedure before it on
// the same thread is using, the registry saves the file's state; when the
// called procedure closes the file again, that state is restored, so the
// caller finds the file's position and record as it left them.
//
// One registry serves all threads; its lists are guarded by its critical
// section, which is never held while a manager saves or restores a state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/record_file.h"
#include "platform/threads.h"

namespace qm {

class FileManager;
class RelationManager;

// How a procedure uses a file, in rising strength. A procedure that only
// read the file (below kUsageChanges) gets the caller's record buffer back
// too when it closes the file.
inline constexpr int kUsageReads = 1;
inline constexpr int kUsageReturns = 2;      // every record operation
inline constexpr int kUsageChanges = 3;
inline constexpr int kUsageUnrecorded = 4;   // not recorded
inline constexpr int kUsageInitialize = 5;   // attach and count the file, not recorded

struct FileMappingEntry {
  std::string FILELABEL;
  const platform::RecordFile* FILE = nullptr;
  std::int32_t THREAD = 0;
  FileManager* FILEMANAGER = nullptr;
};

struct RelationMappingEntry {
  std::string FILELABEL;
  const platform::RecordFile* FILE = nullptr;
  std::int32_t THREAD = 0;
  RelationManager* RELATIONMANAGER = nullptr;
};

// The use of one file by one procedure on one thread.
struct UsageRecord {
  std::int32_t THREAD = 0;
  std::string PROC;
  const platform::RecordFile* ID = nullptr;  // the file's per-thread instance
  std::uint8_t USTAT = 0;                    // strongest usage seen
  std::uint16_t HOLD = 0;                    // state saved at first use, 0 for none
  std::int16_t SCOPELEVEL = 0;
  std::int16_t NESTEDOPEN = 0;               // opens inside the procedure beyond the first
};

class FileRegistry {
 public:
  // A manager is registered under its FILE; a later registration of the same
  // manager replaces the earlier one.
  void RegisterFileManager(FileManager& manager);
  // Forgets the manager and its thread's usage records of its file.
  void UnregisterFileManager(FileManager& manager);
  // The calling thread's manager of `file`, else any thread's; null if none.
  FileManager* FileManagerFor(const platform::RecordFile& file) const;

  void RegisterRelationManager(const platform::RecordFile& file, RelationManager& manager);
  void UnregisterRelationManager(RelationManager& manager);
  RelationManager* RelationManagerFor(const platform::RecordFile& file) const;

  // The three notifications of a manager (see the header comment); the
  // procedure is the error manager's current procedure name.
  void NoteUse(FileManager& manager, int usage);
  void NoteOpen(FileManager& manager);
  void NoteClose(FileManager& manager);

  // The calling thread's usage records of `file`, oldest first.
  std::vector<UsageRecord> UsageRecordsOf(const platform::RecordFile& file) const;

 private:
  // The last record of the calling thread for `file`, or -1. CRITSECT held.
  int LastRecord(const platform::RecordFile* file) const;

  mutable platform::CriticalSection CRITSECT;
  std::vector<FileMappingEntry> FILEMAPPING;          // Protected by CRITSECT
  std::vector<RelationMappingEntry> RELATIONMAPPING;  // Protected by CRITSECT
  std::vector<UsageRecord> STATUSQ;                   // Protected by CRITSECT
};

// The program's one registry.
FileRegistry& GlobalFileRegistry();

}  // namespace qm
