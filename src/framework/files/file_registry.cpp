#include "framework/files/file_registry.h"

#include <algorithm>

#include "framework/errors/error_manager.h"
#include "framework/files/file_manager.h"

namespace qm {
namespace {

std::string ProcedureOf(const FileManager& manager) {
  return manager.ERRORS ? manager.ERRORS->CurrentProcedureName() : std::string();
}

}  // namespace

FileRegistry& GlobalFileRegistry() {
  static FileRegistry* registry = new FileRegistry;  // lives while threads may still use it
  return *registry;
}

void FileRegistry::RegisterFileManager(FileManager& manager) {
  platform::CriticalSectionGuard guard(CRITSECT);
  std::erase_if(FILEMAPPING, [&](const FileMappingEntry& entry) { return entry.FILEMANAGER == &manager; });
  FILEMAPPING.push_back({manager.FILENAMEVALUE, manager.FILE, platform::CurrentThread(), &manager});
}

void FileRegistry::UnregisterFileManager(FileManager& manager) {
  platform::CriticalSectionGuard guard(CRITSECT);
  for (const FileMappingEntry& entry : FILEMAPPING) {
    if (entry.FILEMANAGER != &manager) continue;
    std::erase_if(STATUSQ, [&](const UsageRecord& record) {
      return record.THREAD == entry.THREAD && record.ID == entry.FILE;
    });
  }
  std::erase_if(FILEMAPPING, [&](const FileMappingEntry& entry) { return entry.FILEMANAGER == &manager; });
}

FileManager* FileRegistry::FileManagerFor(const platform::RecordFile& file) const {
  platform::CriticalSectionGuard guard(CRITSECT);
  FileManager* any = nullptr;
  for (const FileMappingEntry& entry : FILEMAPPING) {
    if (entry.FILE != &file) continue;
    if (entry.THREAD == platform::CurrentThread()) return entry.FILEMANAGER;
    if (!any) any = entry.FILEMANAGER;
  }
  return any;
}

void FileRegistry::RegisterRelationManager(const platform::RecordFile& file, RelationManager& manager) {
  platform::CriticalSectionGuard guard(CRITSECT);
  std::erase_if(RELATIONMAPPING,
                [&](const RelationMappingEntry& entry) { return entry.RELATIONMANAGER == &manager; });
  RELATIONMAPPING.push_back({file.Label(), &file, platform::CurrentThread(), &manager});
}

void FileRegistry::UnregisterRelationManager(RelationManager& manager) {
  platform::CriticalSectionGuard guard(CRITSECT);
  std::erase_if(RELATIONMAPPING,
                [&](const RelationMappingEntry& entry) { return entry.RELATIONMANAGER == &manager; });
}

RelationManager* FileRegistry::RelationManagerFor(const platform::RecordFile& file) const {
  platform::CriticalSectionGuard guard(CRITSECT);
  RelationManager* any = nullptr;
  for (const RelationMappingEntry& entry : RELATIONMAPPING) {
    if (entry.FILE != &file) continue;
    if (entry.THREAD == platform::CurrentThread()) return entry.RELATIONMANAGER;
    if (!any) any = entry.RELATIONMANAGER;
  }
  return any;
}

int FileRegistry::LastRecord(const platform::RecordFile* file) const {
  const std::int32_t thread = platform::CurrentThread();
  for (int i = static_cast<int>(STATUSQ.size()) - 1; i >= 0; --i) {
    const UsageRecord& record = STATUSQ[static_cast<std::size_t>(i)];
    if (record.THREAD == thread && record.ID == file) return i;
  }
  return -1;
}

void FileRegistry::NoteUse(FileManager& manager, int usage) {
  if (!manager.FILE || usage == kUsageUnrecorded || usage == kUsageInitialize) return;
  const std::string procedure = ProcedureOf(manager);
  UsageRecord fresh;
  fresh.THREAD = platform::CurrentThread();
  fresh.PROC = procedure;
  fresh.ID = manager.FILE;
  fresh.USTAT = static_cast<std::uint8_t>(usage);
  bool save_state = false;
  {
    platform::CriticalSectionGuard guard(CRITSECT);
    const int last = LastRecord(manager.FILE);
    if (last < 0) {
      STATUSQ.push_back(fresh);
      return;
    }
    UsageRecord& record = STATUSQ[static_cast<std::size_t>(last)];
    if (record.PROC == procedure) {
      record.USTAT = std::max(record.USTAT, fresh.USTAT);
      return;
    }
    STATUSQ.push_back(fresh);
    save_state = usage == kUsageReads || usage == kUsageReturns;
  }
  if (!save_state) return;
  // Saved outside the lock: the manager works on its file meanwhile. Only
  // this thread touches its own records, so the one just added is still last.
  const std::uint16_t hold = manager.SaveState();
  platform::CriticalSectionGuard guard(CRITSECT);
  const int last = LastRecord(manager.FILE);
  if (last >= 0) STATUSQ[static_cast<std::size_t>(last)].HOLD = hold;
}

void FileRegistry::NoteOpen(FileManager& manager) {
  if (!manager.FILE) return;
  const std::string procedure = ProcedureOf(manager);
  platform::CriticalSectionGuard guard(CRITSECT);
  const int last = LastRecord(manager.FILE);
  if (last >= 0 && STATUSQ[static_cast<std::size_t>(last)].PROC == procedure) {
    ++STATUSQ[static_cast<std::size_t>(last)].NESTEDOPEN;
  }
}

void FileRegistry::NoteClose(FileManager& manager) {
  if (!manager.FILE) return;
  const std::string procedure = ProcedureOf(manager);
  std::uint16_t hold = 0;
  bool restore_buffer = false;
  {
    platform::CriticalSectionGuard guard(CRITSECT);
    const int last = LastRecord(manager.FILE);
    if (last < 0) return;
    UsageRecord& record = STATUSQ[static_cast<std::size_t>(last)];
    if (record.PROC != procedure) return;
    if (record.NESTEDOPEN > 0) {
      --record.NESTEDOPEN;
      return;
    }
    hold = record.HOLD;
    restore_buffer = record.USTAT < kUsageChanges;
    STATUSQ.erase(STATUSQ.begin() + last);
  }
  if (hold != 0) manager.RestoreState(hold, restore_buffer);
}

std::vector<UsageRecord> FileRegistry::UsageRecordsOf(const platform::RecordFile& file) const {
  platform::CriticalSectionGuard guard(CRITSECT);
  std::vector<UsageRecord> records;
  for (const UsageRecord& record : STATUSQ) {
    if (record.THREAD == platform::CurrentThread() && record.ID == &file) records.push_back(record);
  }
  return records;
}

}  // namespace qm
