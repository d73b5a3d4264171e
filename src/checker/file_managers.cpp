#include "checker/file_managers.h"

#include "framework/errors/error_manager.h"
#include "framework/files/buffered_pairs.h"
#include "platform/record_fields.h"
#include "platform/threads.h"

namespace qm::checker {

namespace {

constexpr std::size_t kKeyDescriptionLength = 80;

platform::PerThread<CheckerFiles>& ThreadSets() {
  static platform::PerThread<CheckerFiles> sets;
  return sets;
}

}  // namespace

DictionaryFileManager::DictionaryFileManager(DictionaryFile id, CheckerFiles& files, ErrorManager& errors)
    : id_(id), files_(files), errors_(errors) {}

void DictionaryFileManager::Setup() {
  INITIALIZED = false;
  const FileDefinition& definition = DataDictionary::Definition(id_);
  if (definition.IsAlias()) ALIASEDFILE = files_.Access(definition.aliased);
  FILENAMEVALUE = definition.declaration.label;
  ERRORS = &errors_;
  FILE = &DataDictionary::File(id_);
  if (id_ == DictionaryFile::BvS01) {
    RefreshSystemFileName();
    FILENAME = &system_file_name_;
  }
  FileManager::Setup();
  files_.access_[CheckerFiles::Index(id_)] = this;
}

void DictionaryFileManager::ReleaseResources() {
  // An alias works through this manager: it lets go first, so that it never
  // reaches a manager that is gone.
  for (FileManager* alias : files_.access_) {
    if (alias != nullptr && alias != this && alias->ALIASEDFILE == this) alias->ReleaseResources();
  }
  FileManager::ReleaseResources();
  files_.access_[CheckerFiles::Index(id_)] = nullptr;
}

ErrorLevel DictionaryFileManager::Open() {
  RefreshSystemFileName();
  return FileManager::Open();
}

ErrorLevel DictionaryFileManager::EnsureOpen(int usage) {
  RefreshSystemFileName();
  if (usage != kUsageInitialize) {
    EnsureOpen(kUsageInitialize);
  } else if (!INITIALIZED) {
    INUSEFILE = true;
    platform::RecordFile& file = DataDictionary::File(id_);
    Attach(file, errors_);
    CREATE = true;
    LOCKRECOVER = 10;
    for (const platform::KeyDeclaration& key : file.Declaration().keys) {
      AddKey(key.name, key.name.substr(0, kKeyDescriptionLength), key.auto_number);
    }
  }
  return FileManager::EnsureOpen(usage);
}

ErrorLevel DictionaryFileManager::CheckField(int number, bool report) {
  const ErrorLevel result = FileManager::CheckField(number, report);
  if (id_ != DictionaryFile::TdV05 || number != kAnalysisNumberField) return result;
  return CheckAnalysisNumber(report);
}

ErrorLevel DictionaryFileManager::CheckAnalysisNumber(bool report) {
  errors_.SetFieldName("The analysis number");
  platform::RecordFile& accounts = DataDictionary::File(DictionaryFile::TdV05);
  const auto& account_fields = accounts.Declaration().fields;
  const platform::FieldDeclaration& account_analysis = account_fields[kAnalysisNumberField - 1];
  const double analysis = platform::FieldNumber(account_analysis, accounts.Record());
  if (analysis == 0) return LevelNone;

  FileManager* analyses = files_.Access(DictionaryFile::TdV03);
  if (analyses == nullptr) return LevelFatal;
  platform::RecordFile& analysis_file = DataDictionary::File(DictionaryFile::TdV03);
  const platform::RecordDeclaration& declaration = analysis_file.Declaration();
  std::uint16_t state = analyses->SaveState();
  platform::SetFieldNumber(declaration.fields[declaration.FieldNumber("V03:ANALNUMBER") - 1],
                           analysis_file.Record(), analysis);
  ErrorLevel result = analyses->FetchQuiet(declaration.KeyNumber("V03:AnalNumberKey"));
  if (result != LevelNone && report) result = errors_.RaiseWithText(kMsgFieldNotFound, "TdV03");
  analyses->RestoreState(state, true);
  return result;
}

void DictionaryFileManager::RefreshSystemFileName() {
  if (id_ == DictionaryFile::BvS01) system_file_name_ = DataDictionary::SystemFileName();
}

DictionaryRelationManager::DictionaryRelationManager(DictionaryFile id, CheckerFiles& files,
                                                     ErrorManager& errors)
    : id_(id), files_(files), file_manager_(std::make_unique<DictionaryFileManager>(id, files, errors)) {}

void DictionaryRelationManager::Shutdown() {
  if (file_manager_) file_manager_->ReleaseResources();
  RelationManager::Shutdown();
  ME = nullptr;
  file_manager_.reset();
}

void DictionaryRelationManager::DeclareRelations() {
  const FileDefinition& definition = DataDictionary::Definition(id_);
  platform::RecordFile& file = DataDictionary::File(id_);
  for (const RelationDeclaration& relation : definition.relations) {
    RelationManager* related = files_.Relations(relation.related);
    if (related == nullptr) continue;
    if (relation.kind == RelationKind::kLookup) {
      RegisterRelation(*related);
      continue;
    }
    RegisterRelation(*related, static_cast<std::uint8_t>(relation.update),
                     static_cast<std::uint8_t>(relation.remove), relation.related_key);
    AddLinkPair(FieldReference(file, relation.field),
                FieldReference(DataDictionary::File(relation.related), relation.related_field));
  }
}

CheckerFiles::~CheckerFiles() { Stop(); }

CheckerFiles& CheckerFiles::Thread() { return ThreadSets().Get(); }

void CheckerFiles::ReleaseThread() {
  Thread().Stop();
  ThreadSets().Release();
  DataDictionary::ReleaseThread();
}

const std::array<DictionaryFile, kDictionaryFileCount>& CheckerFiles::StartOrder() {
  using enum DictionaryFile;
  static const std::array<DictionaryFile, kDictionaryFileCount> order = {
      TdV01, BvS01, TdI02, TdV02, TdV05, TdV04, TdV03, TdV30, TdV301,
      TdV40, TdW01, TdI01, TdV06, TdV07, TdV08, TdV50, TdV51, TdI01A};
  return order;
}

void CheckerFiles::Start(ErrorManager& errors) {
  if (relations_[0]) return;
  for (DictionaryFile file : StartOrder()) {
    relations_[Index(file)] = std::make_unique<DictionaryRelationManager>(file, *this, errors);
  }
  for (DictionaryFile file : StartOrder()) {
    DictionaryRelationManager& relations = *relations_[Index(file)];
    relations.Files().Setup();
    relations.Attach(relations.Files(), true);
    if (file == DictionaryFile::TdI01A) relations.ALIASFILE = relations_[Index(DictionaryFile::TdI01)].get();
  }
}

void CheckerFiles::Stop() {
  for (DictionaryFile file : StartOrder()) {
    std::unique_ptr<DictionaryRelationManager>& relations = relations_[Index(file)];
    if (!relations) continue;
    relations->Shutdown();
    relations.reset();
  }
}

}  // namespace qm::checker
