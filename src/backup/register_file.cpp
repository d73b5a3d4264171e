#include "backup/register_file.h"

#include <memory>

#include "framework/windows/application.h"
#include "platform/threads.h"

namespace qm::backup {
namespace {

using platform::FieldEncoding;

struct RegisterThreadState {
  platform::RecordFile file{RegisterDeclaration()};
  RegisterFileManager* manager = nullptr;
  std::unique_ptr<RegisterRelationManager> relations;
};

platform::PerThread<RegisterThreadState>& States() {
  static auto* states = new platform::PerThread<RegisterThreadState>;
  return *states;
}

}  // namespace

platform::RecordDeclaration RegisterDeclaration() {
  platform::RecordDeclaration declaration;
  declaration.label = "QmSy01";
  declaration.disk_name = "QMSY01";
  declaration.driver = "KEYREC";
  declaration.prefix = "S01";
  declaration.per_thread = true;
  declaration.AddField("S01:BACKUPNUMBER", FieldEncoding::kU16);
  declaration.AddField("S01:BACKUPNAME", FieldEncoding::kText, 13);
  declaration.AddField("S01:BACKUPDATE", FieldEncoding::kI32);
  declaration.AddField("S01:BACKUPTIME", FieldEncoding::kI32);
  declaration.AddField("S01:SIZE", FieldEncoding::kI32);
  return declaration;
}

platform::RecordFile& RegisterFile() { return States().Get().file; }
RegisterFileManager* RegisterManager() { return States().Get().manager; }
RegisterRelationManager* RegisterRelations() { return States().Get().relations.get(); }

void RegisterFileManager::Setup() {
  FILENAMEVALUE = "QmSy01";
  ERRORS = &GlobalErrorManager();
  FILE = &RegisterFile();
  FileManager::Setup();
  States().Get().manager = this;
}

void RegisterFileManager::ReleaseResources() {
  FileManager::ReleaseResources();
  States().Get().manager = nullptr;
}

ErrorLevel RegisterFileManager::EnsureOpen(int usage) {
  if (usage != kUsageInitialize) {
    EnsureOpen(kUsageInitialize);
  } else if (!INITIALIZED) {
    INUSEFILE = true;
    Attach(RegisterFile(), GlobalErrorManager());
    CREATE = true;
    LOCKRECOVER = 10;
  }
  return FileManager::EnsureOpen(usage);
}

void RegisterRelationManager::Shutdown() {
  RegisterThreadState& state = States().Get();
  RegisterFileManager* manager = state.manager;
  if (manager) manager->ReleaseResources();
  RelationManager::Shutdown();
  delete manager;
  state.manager = nullptr;
}

void BuildRegisterManagers() {
  RegisterThreadState& state = States().Get();
  auto* manager = new RegisterFileManager;
  state.relations = std::make_unique<RegisterRelationManager>();
  manager->Setup();
  state.relations->Attach(*manager, true);
}

void TearDownRegisterManagers() {
  {
    RegisterThreadState& state = States().Get();
    if (state.relations) {
      state.relations->Shutdown();
      state.relations.reset();
    }
  }
  States().Release();
}

void InstallRegisterThreadHooks() {
  platform::SetThreadHooks(
      [] {
        if (platform::CurrentThread() != 1) BuildRegisterManagers();
      },
      [] {
        if (platform::CurrentThread() != 1) TearDownRegisterManagers();
      });
}

}  // namespace qm::backup
