// The backup register QmSy01: a keyless scratch file that the restore
// window fills with the archives it finds. Every logical thread has its own
// declaration, record buffer, file manager and relation manager; the thread
// hooks build them for each started thread and dispose of them at its end.
#pragma once

#include "framework/files/file_manager.h"
#include "framework/files/relation_manager.h"
#include "platform/record_declaration.h"
#include "platform/record_file.h"

namespace qm::backup {

// The record: S01:BACKUPNUMBER, S01:BACKUPNAME, S01:BACKUPDATE,
// S01:BACKUPTIME, S01:SIZE, 27 bytes.
platform::RecordDeclaration RegisterDeclaration();

class RegisterFileManager : public FileManager {
 public:
  void Setup() override;
  void ReleaseResources() override;
  ErrorLevel EnsureOpen(int usage = kUsageReturns) override;
};

class RegisterRelationManager : public RelationManager {
 public:
  void Shutdown() override;
};

// The calling thread's register file and its managers; null until
// BuildRegisterManagers ran on this thread, and after TearDownRegisterManagers.
platform::RecordFile& RegisterFile();
RegisterFileManager* RegisterManager();
RegisterRelationManager* RegisterRelations();

// Builds (tears down) the calling thread's managers of the register.
void BuildRegisterManagers();
void TearDownRegisterManagers();

// Sets the thread hooks that build and tear down the managers on every
// started thread. Called once by the program entry before any thread starts.
void InstallRegisterThreadHooks();

}  // namespace qm::backup
