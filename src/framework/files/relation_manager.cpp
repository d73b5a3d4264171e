#include "framework/files/relation_manager.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <utility>

#include "framework/errors/error_manager.h"
#include "framework/files/file_registry.h"
#include "platform/presenter.h"
#include "platform/record_fields.h"
#include "platform/record_transaction.h"
#include "platform/runtime_error.h"

namespace qm {
namespace {

// The one driver whose files take part in transactions; a file of any other
// driver answers "not supported" (runtime error 80) to being put in one.
constexpr const char* kTransactionDriver = "KEYREC";

enum class Change { kInsert, kUpdate, kDelete };

bool IsActive(std::uint8_t mode) { return mode >= ModeClear && mode <= ModeCascade; }

// A relation that integrity acts on: an active mode, a related manager and
// linking fields. Without linking fields every related record would match.
bool Applies(const RelationEntry& entry, std::uint8_t mode) {
  return IsActive(mode) && entry.FILE && entry.FILE->ME && entry.FIELDS && entry.FIELDS->Count() > 0;
}

bool ChangedElsewhere(std::int32_t error) {
  return error == kMsgRecordChanged || error == kMsgRecordChangedShown;
}

// ---- passes ----------------------------------------------------------------

std::atomic<std::int32_t> program_pass{0};

// The pass of the traversal running on this thread, 0 when none runs.
thread_local std::int32_t traversal_pass = 0;
thread_local bool in_quick_scan = false;

// The pass a visit belongs to: a new one for a top-level call, the running
// one for a nested visit. A thread compares with the pass of its own
// traversal, so traversals that other threads start meanwhile never make it
// visit a manager twice.
class PassScope {
 public:
  explicit PassScope(bool nested) : previous_(traversal_pass) {
    if (nested && traversal_pass != 0) return;
    std::int32_t pass = ++program_pass;
    if (pass == 0) pass = ++program_pass;
    traversal_pass = pass;
  }
  ~PassScope() { traversal_pass = previous_; }
  PassScope(const PassScope&) = delete;
  PassScope& operator=(const PassScope&) = delete;

  std::int32_t Pass() const { return traversal_pass; }

 private:
  std::int32_t previous_;
};

// ---- transactions ----------------------------------------------------------

// The transaction of the change running on this thread: the managers of the
// related files roll it back when they fail.
thread_local platform::RecordTransaction* running_transaction = nullptr;

// Rolls back the running change, keeping the runtime error state that the
// failure left for its message.
void RollBackChange() {
  if (!running_transaction || !running_transaction->Active()) return;
  const platform::RuntimeErrorState kept = platform::LastRuntimeError();
  running_transaction->Rollback();
  if (kept.code == platform::kErrNone) {
    platform::ClearRuntimeError();
  } else {
    platform::SetRuntimeError(kept.code, kept.file, kept.file_error_code, kept.file_error_message);
  }
}

// The transaction that frames one change: every file the change may write is
// put in, then the transaction starts. A change started while another runs
// on the thread joins it. Whatever is still running at the end is rolled
// back.
class ChangeFrame {
 public:
  ChangeFrame() = default;
  ~ChangeFrame() {
    if (!owner_) return;
    if (transaction_.Active()) transaction_.Rollback();
    running_transaction = previous_;
  }
  ChangeFrame(const ChangeFrame&) = delete;
  ChangeFrame& operator=(const ChangeFrame&) = delete;

  // 0, or 5 after error 27 has been reported.
  ErrorLevel Start(RelationManager& manager, Change change) {
    if (running_transaction && running_transaction->Active()) return LevelNone;
    Collect(manager, change);
    if (files_.empty()) return LevelNone;
    if (transaction_.Begin(files_, manager.LOGOUTTIMEOUT) != 0) return ReportFailure(manager);
    previous_ = running_transaction;
    running_transaction = &transaction_;
    owner_ = true;
    return LevelNone;
  }

  bool Active() const { return owner_ && transaction_.Active(); }

  void RollBack() {
    if (Active()) RollBackChange();
  }

  // 0, or 5 after error 27 has been reported.
  ErrorLevel Commit(RelationManager& manager) {
    if (!Active()) return LevelNone;
    return transaction_.Commit() == 0 ? LevelNone : ReportFailure(manager);
  }

 private:
  // The files a change of `manager`'s record may write: its own; for an
  // update those reached by cascading or clearing updates; for a delete those
  // reached by cascading deletes, and by updates where a delete clears; for
  // an insert every related file.
  void Collect(RelationManager& manager, Change change) {
    if (!manager.ME || !visited_.insert({&manager, change}).second) return;
    PutIn(manager);
    manager.DeclareOnce();
    for (const RelationEntry& entry : manager.RELATIONS) {
      if (!entry.FILE) continue;
      switch (change) {
        case Change::kInsert:
          Collect(*entry.FILE, Change::kInsert);
          break;
        case Change::kUpdate:
          if (entry.UPDATEMODE == ModeCascade || entry.UPDATEMODE == ModeClear) {
            Collect(*entry.FILE, Change::kUpdate);
          }
          break;
        case Change::kDelete:
          if (entry.DELETEMODE == ModeCascade) {
            Collect(*entry.FILE, Change::kDelete);
          } else if (entry.DELETEMODE == ModeClear) {
            Collect(*entry.FILE, Change::kUpdate);
          }
          break;
      }
    }
  }

  void PutIn(RelationManager& manager) {
    platform::RecordFile* file = manager.WrittenFile();
    if (!file) return;
    if (!platform::SameName(file->Declaration().driver, kTransactionDriver)) {
      manager.PREVUSELOGOUT = manager.USELOGOUT;
      manager.USELOGOUT = false;
      return;
    }
    if (file->InTransaction() || std::find(files_.begin(), files_.end(), file) != files_.end()) return;
    files_.push_back(file);
    owners_.push_back(&manager);
  }

  // Reports error 27 through the manager of the file that failed.
  ErrorLevel ReportFailure(RelationManager& manager) {
    const std::string failed = platform::LastRuntimeError().file;
    FileManager* reporter = manager.ME;
    for (std::size_t i = 0; i < files_.size(); ++i) {
      if (!failed.empty() && files_[i]->Path() == failed && owners_[i]->ME) reporter = owners_[i]->ME;
    }
    reporter->NoteError(kMsgTransactionCancelled);
    reporter->ReportError();
    return LevelNotify;
  }

  std::vector<platform::RecordFile*> files_;
  std::vector<RelationManager*> owners_;  // the manager that put each file in
  std::set<std::pair<const RelationManager*, Change>> visited_;
  platform::RecordTransaction transaction_;
  platform::RecordTransaction* previous_ = nullptr;
  bool owner_ = false;
};

}  // namespace

RelationManager::~RelationManager() {
  if (registered_) GlobalFileRegistry().UnregisterRelationManager(*this);
}

// ---- declaration -------------------------------------------------------------

void RelationManager::Attach(FileManager& fileManager, bool useLogout) {
  if (registered_) GlobalFileRegistry().UnregisterRelationManager(*this);
  registered_ = false;
  ME = &fileManager;
  RELATIONS.clear();
  DEFEREDRELATIONSDONE = false;
  USELOGOUT = useLogout;
  LOGOUTTIMEOUT = 2;
  if (ME->FILE) {
    GlobalFileRegistry().RegisterRelationManager(*ME->FILE, *this);
    registered_ = true;
  }
}

void RelationManager::Shutdown() {
  if (registered_) GlobalFileRegistry().UnregisterRelationManager(*this);
  registered_ = false;
  RELATIONS.clear();
}

void RelationManager::DeclareRelations() {}

void RelationManager::DeclareOnce() {
  if (DEFEREDRELATIONSDONE) return;
  DEFEREDRELATIONSDONE = true;
  DeclareRelations();
}

void RelationManager::RegisterRelation(RelationManager& related) {
  RelationEntry entry;
  entry.FILE = &related;
  RELATIONS.push_back(std::move(entry));
}

void RelationManager::RegisterRelation(RelationManager& related, std::uint8_t updateMode,
                                       std::uint8_t deleteMode, int hisKey) {
  RelationEntry entry;
  entry.FILE = &related;
  entry.FIELDS = std::make_unique<BufferedPairs>();
  entry.HISKEY = hisKey;
  entry.UPDATEMODE = updateMode;
  entry.DELETEMODE = deleteMode;
  RELATIONS.push_back(std::move(entry));
}

void RelationManager::AddLinkPair(std::uint8_t* left, std::size_t leftLength, std::uint8_t* right,
                                  std::size_t rightLength) {
  AddLinkPair(FieldReference(left, platform::FieldEncoding::kText, leftLength),
              FieldReference(right, platform::FieldEncoding::kText, rightLength));
}

void RelationManager::AddLinkPair(std::uint8_t* left, std::uint8_t* right) {
  AddLinkPair(FieldReference(left, platform::FieldEncoding::kI32),
              FieldReference(right, platform::FieldEncoding::kI32));
}

void RelationManager::AddLinkPair(const FieldReference& left, const FieldReference& right) {
  if (RELATIONS.empty()) return;
  RelationEntry& entry = RELATIONS.back();
  if (!entry.FIELDS) entry.FIELDS = std::make_unique<BufferedPairs>();
  entry.FIELDS->AddPair(left, right);
}

void RelationManager::SaveLinkValues() {
  for (RelationEntry& entry : RELATIONS) {
    if (entry.FIELDS) entry.FIELDS->AssignLeftToBuffer();
  }
}

platform::RecordFile* RelationManager::WrittenFile() const {
  if (ALIASFILE && ALIASFILE != this) return ALIASFILE->WrittenFile();
  if (!ME) return nullptr;
  if (ME->ALIASEDFILE) return ME->ALIASEDFILE->FILE;
  return ME->FILE;
}

// ---- opening and closing -------------------------------------------------------

ErrorLevel RelationManager::OpenRelations(bool nested) {
  if (!ME) return LevelFatal;
  PassScope scope(nested);
  if (nested && LASTTOUCHED == scope.Pass()) return LevelNone;
  LASTTOUCHED = scope.Pass();
  const bool forcing = FORCINGOPEN || !ME->LAZYOPEN;

  ErrorLevel level = nested && FORCINGOPEN ? ME->OpenForced(true) : ME->Open();
  // The primary file of a procedure is used at once: open it for real.
  if (level == LevelNone && !nested) level = ME->EnsureOpen(kUsageReturns);
  if (!nested || forcing) DeclareOnce();

  for (RelationEntry& entry : RELATIONS) {
    if (level != LevelNone) break;
    if (!entry.FILE || !entry.FILE->ME) continue;
    RelationManager& related = *entry.FILE;
    const std::int32_t before = related.ME->OPENED;
    const bool kept_forcing = related.FORCINGOPEN;
    if (forcing) related.FORCINGOPEN = true;
    level = related.OpenRelations(true);
    related.FORCINGOPEN = kept_forcing;
    if (related.ME->OPENED > before) ++entry.OPENED;
  }
  return level;
}

ErrorLevel RelationManager::CloseRelations(bool nested) {
  if (!ME) return LevelNone;
  PassScope scope(nested);
  if (nested && LASTTOUCHED == scope.Pass()) return LevelNone;
  LASTTOUCHED = scope.Pass();

  ErrorLevel level = ME->Close();
  for (RelationEntry& entry : RELATIONS) {
    if (level != LevelNone) break;
    if (entry.OPENED == 0 || !entry.FILE || !entry.FILE->ME) continue;
    RelationManager& related = *entry.FILE;
    const std::int32_t before = related.ME->OPENED;
    level = related.CloseRelations(true);
    if (related.ME->OPENED < before) --entry.OPENED;
  }
  return level;
}

ErrorLevel RelationManager::OpenForChange() {
  const bool kept_forcing = FORCINGOPEN;
  FORCINGOPEN = true;
  const std::int32_t before = ME->OPENED;
  const ErrorLevel level = OpenRelations(false);
  FORCINGOPEN = kept_forcing;
  // When ME itself could not be opened nothing was counted that a close
  // could give back.
  if (level != LevelNone && ME->OPENED > before) CloseRelations(false);
  return level;
}

void RelationManager::SetQuickScan(bool on, int propagate) {
  if (!ME) return;
  const bool nested = in_quick_scan;
  PassScope scope(nested);
  if (nested && LASTTOUCHED == scope.Pass()) return;
  LASTTOUCHED = scope.Pass();
  if (ME->IsOpen() && ME->FILE) ME->FILE->Send(on ? "QUICKSCAN=on" : "QUICKSCAN=off");
  if (propagate == 0) return;

  DeclareOnce();
  const bool kept = in_quick_scan;
  in_quick_scan = true;
  for (RelationEntry& entry : RELATIONS) {
    if (!entry.FILE) continue;
    const bool keyed = entry.HISKEY != 0;
    if ((propagate == 1 && keyed) || (propagate == 2 && !keyed)) continue;
    entry.FILE->SetQuickScan(on, propagate);
  }
  in_quick_scan = kept;
}

// ---- changes ---------------------------------------------------------------------

ErrorLevel RelationManager::Insert() {
  if (!ME) return LevelFatal;
  if (!USELOGOUTONINSERT || !USELOGOUT) return ME->Insert();
  if (const ErrorLevel opened = OpenForChange(); opened != LevelNone) return opened;
  ChangeFrame frame;
  if (const ErrorLevel framed = frame.Start(*this, Change::kInsert); framed != LevelNone) {
    CloseRelations();
    return framed;
  }
  // The file manager's Insert has shown its message: it is not shown again.
  ErrorLevel result = ME->Insert();
  if (result != LevelNone) {
    frame.RollBack();
    result = ChangedElsewhere(ME->LASTERROR) ? LevelNotify : LevelQuestion;
  } else {
    result = frame.Commit(*this);
  }
  CloseRelations();
  return result;
}

ErrorLevel RelationManager::Update(bool fromForm) {
  if (!ME) return LevelFatal;
  if (const ErrorLevel opened = OpenForChange(); opened != LevelNone) return opened;
  ChangeFrame frame;
  if (USELOGOUT) {
    if (const ErrorLevel framed = frame.Start(*this, Change::kUpdate); framed != LevelNone) {
      CloseRelations();
      return framed;
    }
  }
  const bool framed = frame.Active();
  const std::string position = ME->CurrentPosition();

  ErrorLevel result = ME->UpdateQuiet();
  if (result != LevelNone) {
    frame.RollBack();
    if (fromForm && ME->LASTERROR == kMsgRecordChanged) ME->LASTERROR = kMsgRecordChangedShown;
    if (result == LevelNotify) ME->ReportError();
    CloseRelations();
    return ChangedElsewhere(ME->LASTERROR) ? LevelNotify : LevelQuestion;
  }

  DeclareOnce();
  for (RelationEntry& entry : RELATIONS) {
    if (!Applies(entry, entry.UPDATEMODE) || entry.FIELDS->EqualLeftBuffer()) continue;
    const ErrorLevel applied = entry.FILE->ApplyUpdate(entry.HISKEY, *entry.FIELDS, entry.UPDATEMODE);
    if (applied != LevelNone) {
      frame.RollBack();
      // The record keeps the linking values it has in the file.
      entry.FIELDS->AssignBufferToLeft();
      if (framed) ReadBackAfterRollback(position);
      CloseRelations();
      return applied;
    }
  }
  if (frame.Commit(*this) != LevelNone) {
    ReadBackAfterRollback(position);
    CloseRelations();
    return LevelNotify;
  }
  SaveLinkValues();
  CloseRelations();
  return result;
}

void RelationManager::ReadBackAfterRollback(const std::string& position) {
  if (position.empty()) return;
  std::uint16_t snapshot = ME->SnapshotBuffer();
  ME->RefetchQuiet(position);
  ME->RestoreSnapshot(snapshot, true);
}

ErrorLevel RelationManager::Delete(bool confirm) {
  if (!ME) return LevelFatal;
  if (confirm && ME->ERRORS &&
      ME->ERRORS->Ask(kMsgConfirmDelete, platform::kButtonYes | platform::kButtonNo, platform::kButtonNo) ==
          platform::kButtonNo) {
    return LevelCancel;
  }
  for (;;) {
    platform::CurrentPresenter().SetCursor(nullptr, platform::Cursor::kWait);
    const ErrorLevel level = DeleteAttempt();
    platform::CurrentPresenter().SetCursor(nullptr, platform::Cursor::kNormal);
    if (level == LevelNone) return LevelNone;
    // No is the default, so that a presenter answering by default cannot
    // repeat a failing delete for ever.
    if (!ME->ERRORS || ME->ERRORS->Ask(kMsgDeleteRetry, platform::kButtonYes | platform::kButtonNo,
                                       platform::kButtonNo) != platform::kButtonYes) {
      return level;
    }
  }
}

ErrorLevel RelationManager::DeleteAttempt() {
  const std::string position = ME->CurrentPosition();
  if (const ErrorLevel opened = OpenForChange(); opened != LevelNone) return opened;
  ChangeFrame frame;
  ErrorLevel level = USELOGOUT ? frame.Start(*this, Change::kDelete) : LevelNone;
  if (level == LevelNone && ME->RefetchQuiet(position) != LevelNone) {
    ME->NoteError(kMsgDeleteError);
    frame.RollBack();
    ME->ReportError();
    level = LevelNotify;
  }
  if (level == LevelNone) {
    DeclareOnce();
    for (RelationEntry& entry : RELATIONS) {
      if (!Applies(entry, entry.DELETEMODE)) continue;
      level = entry.FILE->ApplyDelete(entry.HISKEY, *entry.FIELDS, entry.DELETEMODE, false);
      if (level != LevelNone) break;
    }
  }
  if (level == LevelNone) {
    level = ME->DeleteRecord(false);
    if (level != LevelNone) {
      frame.RollBack();
      if (level == LevelNotify) ME->ReportError();
      level = LevelNotify;
    } else {
      level = frame.Commit(*this);
    }
  }
  if (level != LevelNone) frame.RollBack();
  CloseRelations();
  return level;
}

ErrorLevel RelationManager::UndoNumbering() {
  if (!ME) return LevelNone;
  return ME->UndoNumbering([this] { return Delete(false); });
}

// ---- integrity on the related files ---------------------------------------------

ErrorLevel RelationManager::StartRelatedScan(int key, std::size_t linking_fields) {
  platform::RecordFile& file = *ME->FILE;
  const platform::RecordDeclaration& declaration = file.Declaration();
  ErrorLevel level;
  if (key == 0) {
    level = ME->SetOrder(0);
  } else if (key < 0 || key > file.KeyCount()) {
    platform::SetRuntimeError(platform::kErrNotSupported, file.Path(), "0", "no such key");
    level = LevelNotify;
  } else {
    const std::vector<int>& components = declaration.keys[static_cast<std::size_t>(key - 1)].components;
    for (std::size_t i = linking_fields; i < components.size(); ++i) {
      platform::SetFieldLowest(declaration.fields[static_cast<std::size_t>(components[i] - 1)], file.Record());
    }
    level = ME->SetOrderAt(key);
  }
  if (level == LevelNone) return LevelNone;
  ME->NoteError(kMsgRetrievalError);
  RollBackChange();
  ME->ReportError();
  return LevelNotify;
}

ErrorLevel RelationManager::NextRelated(bool* done) {
  const ErrorLevel read = ME->NextQuiet();
  if (read == LevelNone) return LevelNone;
  if (read == LevelNotify && ME->ATEOF) {
    *done = true;
    return LevelNone;
  }
  // A read error, or a record held by another station: going on would
  // leave related records behind.
  RollBackChange();
  ME->ReportError();
  return LevelNotify;
}

ErrorLevel RelationManager::WriteWithIntegrity() {
  DeclareOnce();
  for (RelationEntry& entry : RELATIONS) {
    if (!Applies(entry, entry.UPDATEMODE) || entry.FIELDS->EqualLeftBuffer()) continue;
    if (entry.FILE->ApplyUpdate(entry.HISKEY, *entry.FIELDS, entry.UPDATEMODE) != LevelNone) {
      entry.FIELDS->AssignBufferToLeft();
      return LevelNotify;
    }
  }
  const ErrorLevel level = ME->UpdateQuiet();
  if (level == LevelNone) return LevelNone;
  RollBackChange();
  if (level == LevelNotify) {
    ME->ReportError();
  } else if (level == LevelQuestion) {
    // A field check refused the related record's new values quietly: show it.
    ME->CheckRecord(true);
  }
  return LevelNotify;
}

ErrorLevel RelationManager::DeleteWithIntegrity(bool confirm) {
  DeclareOnce();
  for (RelationEntry& entry : RELATIONS) {
    if (!Applies(entry, entry.DELETEMODE)) continue;
    if (const ErrorLevel level = entry.FILE->ApplyDelete(entry.HISKEY, *entry.FIELDS, entry.DELETEMODE, confirm);
        level != LevelNone) {
      return level;
    }
  }
  const ErrorLevel level = ME->DeleteRecord(confirm);
  if (level == LevelNone) return LevelNone;
  RollBackChange();
  if (level == LevelNotify) ME->ReportError();
  return level == LevelCancel ? LevelCancel : LevelNotify;
}

ErrorLevel RelationManager::WalkRelated(int key, BufferedPairs& pairs, const std::function<void()>& prepare,
                                        const std::function<bool()>& matches,
                                        const std::function<ErrorLevel(bool* stop)>& act) {
  if (!ME) return LevelFatal;
  if (const ErrorLevel usable = ME->EnsureOpen(kUsageReturns); usable != LevelNone) {
    RollBackChange();
    return usable;
  }
  std::uint16_t state = ME->SaveState();
  ME->FILE->Clear();
  prepare();
  ErrorLevel result = StartRelatedScan(key, pairs.Count());
  while (result == LevelNone) {
    bool done = false;
    result = NextRelated(&done);
    if (result != LevelNone || done) break;
    if (!matches()) {
      if (key != 0) break;
      continue;
    }
    bool stop = false;
    result = act(&stop);
    if (stop) break;
  }
  ME->RestoreState(state, true);
  return result;
}

ErrorLevel RelationManager::ApplyUpdate(int key, BufferedPairs& pairs, std::uint8_t mode) {
  return WalkRelated(
      key, pairs, [&] { pairs.AssignBufferToRight(); }, [&] { return pairs.EqualRightBuffer(); },
      [&](bool* stop) {
        SaveLinkValues();
        if (mode == ModeRestrict) {
          ME->NoteError(kMsgUpdateRestricted);
          RollBackChange();
          ME->ReportError();
          pairs.AssignBufferToLeft();
          *stop = true;
          return LevelNotify;
        }
        if (mode == ModeClear) {
          pairs.ClearRight();
        } else if (mode == ModeCascade) {
          pairs.AssignLeftToRight();
        } else {
          *stop = true;
          return LevelNone;
        }
        return WriteWithIntegrity();
      });
}

ErrorLevel RelationManager::ApplyDelete(int key, BufferedPairs& pairs, std::uint8_t mode, bool confirm) {
  return WalkRelated(
      key, pairs, [&] { pairs.AssignLeftToRight(); }, [&] { return pairs.EqualLeftRight(); },
      [&](bool* stop) {
        if (ME->SkipOnDelete()) return LevelNone;
        if (mode == ModeRestrict) {
          ME->NoteError(kMsgDeleteRestricted);
          RollBackChange();
          ME->ReportError();
          return LevelNotify;
        }
        if (mode == ModeClear) {
          SaveLinkValues();
          pairs.ClearRight();
          return WriteWithIntegrity();
        }
        if (mode == ModeCascade) return DeleteWithIntegrity(confirm);
        *stop = true;
        return LevelNone;
      });
}

}  // namespace qm
