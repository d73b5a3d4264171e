#include "framework/files/file_manager.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "framework/errors/error_manager.h"
#include "platform/presenter.h"
#include "platform/record_fields.h"
#include "platform/record_key_codec.h"
#include "platform/runtime_error.h"

namespace qm {
namespace {

using platform::RecordOperation;

// Attempts of one round of automatic numbering before the user is asked.
constexpr int kNumberingAttempts = 3;
constexpr std::size_t kDescriptionLength = 80;

// Sets a flag for the life of the guard and puts its old value back.
class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = previous_; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
  bool previous_;
};

// Keeps the calling thread's runtime error state across work that would
// clear it (restoring an alias's position after a failed read).
class RuntimeErrorKeeper {
 public:
  RuntimeErrorKeeper() : kept_(platform::LastRuntimeError()) {}
  ~RuntimeErrorKeeper() {
    if (kept_.code == platform::kErrNone) {
      platform::ClearRuntimeError();
    } else {
      platform::SetRuntimeError(kept_.code, kept_.file, kept_.file_error_code, kept_.file_error_message);
    }
  }
  RuntimeErrorKeeper(const RuntimeErrorKeeper&) = delete;
  RuntimeErrorKeeper& operator=(const RuntimeErrorKeeper&) = delete;

 private:
  platform::RuntimeErrorState kept_;
};

// Keeps a file's reading order and position across reads made on the side
// (finding the highest number of a key).
class ReadingStateKeeper {
 public:
  explicit ReadingStateKeeper(platform::RecordFile& file) : file_(file), state_(file.GetState()) {}
  ~ReadingStateKeeper() {
    RuntimeErrorKeeper keep_error;
    file_.RestoreState(state_);
    file_.FreeState(state_);
  }
  ReadingStateKeeper(const ReadingStateKeeper&) = delete;
  ReadingStateKeeper& operator=(const ReadingStateKeeper&) = delete;

 private:
  platform::RecordFile& file_;
  int state_;
};

bool IsRead(RecordOperation operation) {
  return operation == RecordOperation::kGet || operation == RecordOperation::kReget ||
         operation == RecordOperation::kNext || operation == RecordOperation::kPrevious;
}

bool IsWrite(RecordOperation operation) {
  return operation == RecordOperation::kAdd || operation == RecordOperation::kPut ||
         operation == RecordOperation::kDelete;
}

std::string_view AsText(std::span<const std::uint8_t> record) {
  return {reinterpret_cast<const char*>(record.data()), record.size()};
}

// The value of a number-like field as an integer: texts that hold a number
// count too, as keys of texts are numbered as well.
std::int64_t FieldInteger(const platform::FieldDeclaration& field, const std::uint8_t* record) {
  if (platform::IsText(field.encoding)) {
    return std::strtoll(platform::FieldText(field, record).c_str(), nullptr, 10);
  }
  return static_cast<std::int64_t>(platform::FieldNumber(field, record));
}

bool SetFieldInteger(const platform::FieldDeclaration& field, std::uint8_t* record, std::int64_t value) {
  if (platform::IsText(field.encoding)) {
    return platform::SetFieldText(field, record, std::to_string(value));
  }
  return platform::SetFieldNumber(field, record, static_cast<double>(value));
}

}  // namespace

FileManager::~FileManager() {
  if (INITIALIZED && !KILLED) ReleaseResources();
  if (FILE) FILE->SetObserver(nullptr);
}

// ---- notifications -------------------------------------------------------

bool FileManager::BeforeOperation(RecordOperation operation, std::span<const std::uint8_t> record) {
  return NotifyFirst(operation, record);
}

void FileManager::AfterOperation(RecordOperation operation, std::span<const std::uint8_t> record,
                                 int result) {
  NotifySecond(operation, record, result);
}

bool FileManager::NotifyFirst(RecordOperation operation, std::span<const std::uint8_t> record) {
  if (operation == RecordOperation::kRelease) {
    // The file itself is going away: nothing of this manager may point at it
    // afterwards.
    FlagGuard in_callback(INCALLBACK);
    ReleaseOpens();
    GlobalFileRegistry().UnregisterFileManager(*this);
    OPENER.reset();
    FILE->SetObserver(nullptr);
    FILE = nullptr;
    INITIALIZED = false;
    KILLED = true;
    return true;
  }
  STOPOPERATION = false;
  bool go_on = true;
  if (IsRead(operation)) {
    go_on = ReadFirst(operation);
  } else if (operation == RecordOperation::kOpen) {
    go_on = OpenFirst();
  } else if (IsWrite(operation)) {
    go_on = WriteFirst(operation, AsText(record));
  } else if (operation == RecordOperation::kBuild) {
    go_on = BuildFirst();
  }
  return go_on && !STOPOPERATION;
}

void FileManager::NotifySecond(RecordOperation operation, std::span<const std::uint8_t> record,
                               int result) {
  if (operation == RecordOperation::kClose && !INCLOSE) {
    // Closed behind the manager's back (the runtime's direct close): the
    // next use opens it again.
    USED = false;
    return;
  }
  if (IsWrite(operation) && SAVEPREVIOUSBUFFER) PREVIOUSBUFFER.assign(AsText(record));
  if (IsRead(operation)) {
    ReadSecond(operation, result);
  } else if (operation == RecordOperation::kOpen) {
    OpenSecond(result);
  } else if (IsWrite(operation)) {
    WriteSecond(operation, AsText(record), result);
  } else if (operation == RecordOperation::kBuild) {
    BuildSecond(result);
  }
}

bool FileManager::ReadFirst(RecordOperation) { return true; }
bool FileManager::ReadSecond(RecordOperation, int) { return true; }
bool FileManager::OpenFirst() { return true; }
bool FileManager::OpenSecond(int) { return true; }
bool FileManager::WriteFirst(RecordOperation, std::string_view) { return true; }
bool FileManager::WriteSecond(RecordOperation, std::string_view, int) { return true; }
bool FileManager::BuildFirst() { return true; }
bool FileManager::BuildSecond(int) { return true; }

// ---- life cycle ------------------------------------------------------------

void FileManager::Shutdown() {
  if (!KILLED) ReleaseResources();
  FILENAME = nullptr;
}

void FileManager::Setup() {
  OPENED = 0;
  LAZYOPEN = true;
  KILLED = false;
  USEMRP = false;
  MRPSIZE = 10;
  if (FILE) GlobalFileRegistry().RegisterFileManager(*this);
}

void FileManager::Attach(platform::RecordFile& file, ErrorManager& errors) {
  ERRORS = &errors;
  FILE = &file;
  OPENER = OpenerFor(file);
  KEYS.clear();
  BUFFERS.clear();
  SAVED.clear();
  SKIPHELDRECORDS = false;
  if (!OPENMODEOVERRIDDEN) OPENMODE = platform::kOpenReadWriteDenyNone;
  CREATE = true;
  LOCKRECOVER = 10;
  PRIMARYKEY = 0;
  HASAUTOINC = false;
  FILENAMEVALUE = file.Label();
  CLEANEDUP = false;
  INITIALIZED = true;
  KILLED = false;
  USEMRP = false;
  MRPSIZE = 20;
  file.SetObserver(this);
}

void FileManager::ReleaseOpens() {
  while (OPENED > 0) Close();
  if (alias_state_ != 0 && ALIASEDFILE && ALIASEDFILE->FILE) ALIASEDFILE->FILE->FreeState(alias_state_);
  alias_state_ = 0;
  if (FILE) {
    for (const SavedStateEntry& state : SAVED) FILE->FreeState(state.STATE);
  }
  BUFFERS.clear();
  SAVED.clear();
  KEYS.clear();
  PREVIOUSBUFFER.clear();
  CLEANEDUP = true;
}

void FileManager::ReleaseResources() {
  if (!INITIALIZED || KILLED) return;
  ReleaseOpens();
  GlobalFileRegistry().UnregisterFileManager(*this);
  OPENER.reset();
  FILENAME = nullptr;
  OPENMODEOVERRIDDEN = false;
  if (FILE) FILE->SetObserver(nullptr);
  KILLED = true;
  INITIALIZED = false;
}

bool FileManager::IsOpen() const { return INITIALIZED && OPENED > 0; }

std::span<std::uint8_t> FileManager::Buffer() const {
  if (!FILE) return {};
  return {FILE->Record(), FILE->RecordSize()};
}

// ---- opening ---------------------------------------------------------------

ErrorLevel FileManager::OpenPhysicalFile(bool report) {
  if (!FILE || !OPENER) return LevelFatal;
  auto fail = [&](std::uint16_t id) { NoteError(id); return report ? ReportError() : LevelNotify; };
  for (int attempt = 1;; ++attempt) {
    int code = OPENER->OpenFile(OPENMODE, attempt);
    if (code == platform::kErrAccessDenied) {
      FILE->Send("Recover=" + std::to_string(LOCKRECOVER));
      code = OPENER->OpenFile(OPENMODE, 0);
    }
    if (code == 0) {
      USED = true;
      ATEOF = false;
      AUTOINCDONE = false;
      return LevelNone;
    }
    // Only a refusal or a missing file is tried again; a rebuilt key file is
    // opened once more.
    if (attempt >= 3 ||
        (attempt >= 2 && (code == platform::kErrAccessDenied || code == platform::kErrFileNotFound))) {
      return fail(kMsgOpenError);
    }
    switch (code) {
      case platform::kErrAccessDenied:
        if ((OPENMODE & 0x03) == platform::kAccessRead) return fail(kMsgOpenError);
        OPENMODE = static_cast<std::uint8_t>(OPENMODE & ~0x03);
        NoteError(kMsgAccessDenied);
        ReportError();  // a notification, also in the quiet form
        break;
      case platform::kErrFileNotFound:
        if (!CREATE) return fail(kMsgOpenError);
        if (FILE->Create() != 0) return fail(kMsgCreationError);
        break;
      case platform::kErrKeyFileInvalid:
        NoteError(kMsgInvalidKey);
        if (!report) return LevelNotify;
        ReportError();
        if (FILE->Build() != 0) return fail(kMsgKeyNotBuilt);
        break;
      case platform::kErrDeclarationMismatch:
        return fail(kMsgInvalidFile);
      default:
        return fail(kMsgOpenError);
    }
  }
}

ErrorLevel FileManager::OpenCounted(bool report, bool force, bool count_only) {
  if (!FILE) return LevelFatal;
  if (!INITIALIZED) {
    // Attaches the manager (a program's EnsureOpen does) without the
    // counted open that usage brings of itself.
    FlagGuard opening(opening_);
    EnsureOpen(kUsageInitialize);
    if (!INITIALIZED) return LevelFatal;
  }
  GlobalFileRegistry().NoteOpen(*this);
  if (!count_only && !USED && (!LAZYOPEN || force)) {
    if (const ErrorLevel level = OpenPhysicalFile(report); level != LevelNone) return level;
  }
  ++OPENED;
  return LevelNone;
}

ErrorLevel FileManager::Open() { return OpenCounted(true, false); }
ErrorLevel FileManager::OpenQuiet() { return OpenCounted(false, false); }
ErrorLevel FileManager::OpenForced(bool report) { return OpenCounted(report, true); }

ErrorLevel FileManager::Close() {
  FlagGuard in_close(INCLOSE);
  GlobalFileRegistry().NoteClose(*this);
  if (USEMRP) {
    USEMRP = false;
    if (FILE) FILE->SetReadAhead(0);
  }
  if (OPENED > 0) {
    --OPENED;
    if (OPENED == 0) {
      // A shared file that this manager never opened is open for others only.
      if (INITIALIZED && OPENER && USED) OPENER->CloseFile();
      USED = false;
    }
  }
  return LevelNone;
}

ErrorLevel FileManager::EnsureOpen(int usage) {
  FlagGuard in_use(INUSEFILE);
  if (!INITIALIZED || !FILE) return LevelFatal;
  if (usage == kUsageInitialize) {
    if (LAZYOPEN && OPENED < 1 && !opening_) return OpenCounted(true, true, USED);
    return LevelNone;
  }
  if (usage != kUsageUnrecorded) GlobalFileRegistry().NoteUse(*this, usage);
  if (!USED) {
    // A file that was never opened is a program error, lazily opened or not:
    // the driver would only answer "no record".
    if (OPENED < 1) {
      NoteError(kMsgUsedBeforeOpen);
      ReportError();
      return LevelFatal;
    }
    std::uint16_t snapshot = SnapshotBuffer();
    const ErrorLevel level = OpenPhysicalFile(true);
    RestoreSnapshot(snapshot, true);
    if (level != LevelNone) return level;
  }
  return LevelNone;
}

// ---- errors ----------------------------------------------------------------

void FileManager::NoteError(std::uint16_t id) {
  if (ERRORS) ERRORS->CaptureRuntimeError();
  LASTERROR = id;
}

ErrorLevel FileManager::ReportError() {
  if (!ERRORS) return LevelFatal;
  ERRORS->SetFileName(DisplayName());
  return ERRORS->Dispatch(static_cast<std::uint16_t>(LASTERROR));
}

ErrorLevel FileManager::ReportErrorId(std::uint16_t id) {
  NoteError(id);
  return ReportError();
}

ErrorLevel FileManager::ReportErrorText(std::uint16_t id, const std::string& text) {
  if (!ERRORS) return LevelFatal;
  LASTERROR = id;
  ERRORS->SetFileName(DisplayName());
  return ERRORS->RaiseWithText(id, text);
}

std::string FileManager::DisplayName() const {
  if (FILENAME) return *FILENAME;
  if (!FILENAMEVALUE.empty()) return FILENAMEVALUE;
  if (FILE && !FILE->Declaration().disk_name.empty()) return FILE->Declaration().disk_name;
  return "Unknown File";
}

// ---- aliases -----------------------------------------------------------------

template <class Operation>
ErrorLevel FileManager::ThroughAlias(Operation operation) {
  FileManager& target = *ALIASEDFILE;
  if (target.EnsureOpen(kUsageReturns) != LevelNone || !target.FILE) return LevelFatal;
  platform::RecordFile& file = *target.FILE;
  const std::span<std::uint8_t> own = Buffer();
  const std::span<std::uint8_t> theirs = target.Buffer();
  const std::string kept_record(reinterpret_cast<const char*>(theirs.data()), theirs.size());
  const int kept_state = file.GetState();
  if (alias_state_ != 0 && file.RestoreState(alias_state_) != 0) alias_state_ = 0;
  std::memcpy(theirs.data(), own.data(), std::min(own.size(), theirs.size()));
  // Each side keeps its own record numbered ahead of its insert.
  const bool kept_numbered = target.AUTOINCDONE;
  target.AUTOINCDONE = AUTOINCDONE;

  const ErrorLevel level = operation(target);

  RuntimeErrorKeeper keep_error;
  std::memcpy(own.data(), theirs.data(), std::min(own.size(), theirs.size()));
  if (alias_state_ != 0) file.FreeState(alias_state_);
  alias_state_ = file.GetState();
  file.RestoreState(kept_state);
  file.FreeState(kept_state);
  std::memcpy(theirs.data(), kept_record.data(), kept_record.size());
  LASTERROR = target.LASTERROR;
  ATEOF = target.ATEOF;
  AUTOINCDONE = target.AUTOINCDONE;
  target.AUTOINCDONE = kept_numbered;
  HASAUTOINC = target.HASAUTOINC;
  return level;
}

// ---- record operations -----------------------------------------------------

ErrorLevel FileManager::FetchQuiet(int key) {
  if (ALIASEDFILE) return ThroughAlias([key](FileManager& target) { return target.FetchQuiet(key); });
  if (EnsureOpen(kUsageReturns) != LevelNone) return LevelFatal;
  return FILE->Get(key) == 0 ? LevelNone : LevelNotify;
}

ErrorLevel FileManager::Fetch(int key) {
  const ErrorLevel level = FetchQuiet(key);
  if (level != LevelNone && FILE) FILE->Clear();
  return level;
}

ErrorLevel FileManager::RefetchQuiet(const std::string& position) {
  if (ALIASEDFILE) {
    return ThroughAlias([&position](FileManager& target) { return target.RefetchQuiet(position); });
  }
  if (EnsureOpen(kUsageReturns) != LevelNone) return LevelFatal;
  return FILE->Reget(position) == 0 ? LevelNone : LevelNotify;
}

ErrorLevel FileManager::SetOrder(int key) {
  if (ALIASEDFILE) return ThroughAlias([key](FileManager& target) { return target.SetOrder(key); });
  if (EnsureOpen(kUsageReturns) != LevelNone) return LevelFatal;
  return FILE->Set(key) == 0 ? LevelNone : LevelNotify;
}

ErrorLevel FileManager::SetOrderAt(int key) {
  if (ALIASEDFILE) return ThroughAlias([key](FileManager& target) { return target.SetOrderAt(key); });
  if (EnsureOpen(kUsageReturns) != LevelNone) return LevelFatal;
  return FILE->SetKeyValue(key) == 0 ? LevelNone : LevelNotify;
}

ErrorLevel FileManager::Step(bool forward, bool report) {
  if (ALIASEDFILE) {
    return ThroughAlias([=](FileManager& target) { return target.Step(forward, report); });
  }
  if (EnsureOpen(kUsageReturns) != LevelNone) return LevelFatal;
  ATEOF = false;
  if (USEMRP && FILE->ReadAhead() == 0) FILE->SetReadAhead(MRPSIZE);
  bool retried_held = false;
  for (;;) {
    const int code = forward ? FILE->Next() : FILE->Previous();
    switch (code) {
      case 0:
        return LevelNone;
      case platform::kErrNoRecord:
        ATEOF = true;
        return LevelNotify;
      case platform::kErrRecordHeld:
        // The driver answers "held" for a file another station keeps locked,
        // without moving on: one more try, then the read gives up.
        if (SKIPHELDRECORDS && !retried_held) {
          retried_held = true;
          continue;
        }
        NoteError(kMsgRecordHeld);
        return report ? ReportError() : LevelNotify;
      default:
        NoteError(kMsgRetrievalError);
        return report ? ReportError() : LevelFatal;
    }
  }
}

ErrorLevel FileManager::Next() { return Step(true, true); }
ErrorLevel FileManager::NextQuiet() { return Step(true, false); }
ErrorLevel FileManager::Previous() { return Step(false, true); }
ErrorLevel FileManager::PreviousQuiet() { return Step(false, false); }

std::string FileManager::KeyDescription(const KeyEntry& key) const {
  if (!key.PDESCRIPTION.empty()) return key.PDESCRIPTION;
  if (!FILE || key.KEY < 1 || key.KEY > FILE->KeyCount()) return {};
  return FILE->Declaration().keys[static_cast<std::size_t>(key.KEY - 1)].name;
}

ErrorLevel FileManager::InsertRecord(bool report) {
  if (ALIASEDFILE) return ThroughAlias([report](FileManager& target) { return target.InsertRecord(report); });
  if (EnsureOpen(kUsageReturns) != LevelNone) return LevelFatal;
  if (CheckRecord(report) != LevelNone) return LevelNotify;
  if (RefusedAsReadOnly()) return WriteFailed(kMsgInsertError, report);
  FILE->SetReadAhead(0);
  int code;
  if (!HASAUTOINC) {
    code = FILE->Add();
  } else if (AUTOINCDONE) {
    code = FILE->Put();
  } else {
    if ((report ? NumberRecord() : NumberRecordQuiet()) != LevelNone) return LevelNotify;
    code = 0;
  }
  if (code == 0) {
    AUTOINCDONE = false;
    return LevelNone;
  }
  if (code == platform::kErrDuplicateKey) {
    if (!report) {
      NoteError(kMsgDuplicateKey);
      return LevelNotify;
    }
    std::string description;
    for (const KeyEntry& key : KEYS) {
      if (FILE->Duplicate(key.KEY)) {
        description = KeyDescription(key);
        break;
      }
    }
    ERRORS->SetKeyName(description);
    ReportErrorText(kMsgDuplicateKey, description);
    return LevelNotify;
  }
  return WriteFailed(kMsgInsertError, report);
}

bool FileManager::RefusedAsReadOnly() {
  if ((FILE->OpenMode() & 0x03) != platform::kAccessRead) return false;
  // Opened read-only (after "Access Denied"): trying again and again cannot
  // mend that, so the user is told at once.
  platform::SetRuntimeError(platform::kErrAccessDenied, FILE->Path(), "0", "file opened read-only");
  return true;
}

ErrorLevel FileManager::Insert() { return InsertRecord(true); }
ErrorLevel FileManager::InsertQuiet() { return InsertRecord(false); }

ErrorLevel FileManager::UpdateRecord(bool report) {
  if (ALIASEDFILE) return ThroughAlias([report](FileManager& target) { return target.UpdateRecord(report); });
  if (EnsureOpen(kUsageReturns) != LevelNone) return LevelFatal;
  if (CheckRecord(report) != LevelNone) return LevelQuestion;
  const std::string position = FILE->Position(0);
  const int code = FILE->Put();
  if (code == 0) return LevelNone;
  if (code == platform::kErrRecordChanged) {
    NoteError(kMsgRecordChanged);
    if (report) ReportError();
    // Shows the other station's version; the driver watches every read.
    RuntimeErrorKeeper keep_error;
    FILE->Reget(position);
    return LevelNotify;
  }
  return WriteFailed(kMsgUpdateError, report);
}

ErrorLevel FileManager::WriteFailed(std::uint16_t id, bool report) {
  NoteError(id);
  return report ? ReportError() : LevelNotify;
}

ErrorLevel FileManager::Update() { return UpdateRecord(true); }
ErrorLevel FileManager::UpdateQuiet() { return UpdateRecord(false); }

ErrorLevel FileManager::DeleteRecord(bool confirm) {
  if (ALIASEDFILE) return ThroughAlias([confirm](FileManager& target) { return target.DeleteRecord(confirm); });
  if (EnsureOpen(kUsageReturns) != LevelNone) return LevelFatal;
  if (confirm && ERRORS &&
      ERRORS->Ask(kMsgConfirmDelete, platform::kButtonYes | platform::kButtonNo, platform::kButtonNo) ==
          platform::kButtonNo) {
    return LevelCancel;
  }
  if (FILE->Delete() != 0) {
    NoteError(kMsgDeleteError);
    return LevelNotify;
  }
  return LevelNone;
}

bool FileManager::SkipOnDelete() { return false; }

ErrorLevel FileManager::UndoNumbering(const std::function<ErrorLevel()>& remove) {
  if (!INITIALIZED || !FILE || !HASAUTOINC || !AUTOINCDONE) return LevelNone;
  const ErrorLevel level = remove ? remove() : DeleteRecord(false);
  if (level == LevelNone) AUTOINCDONE = false;
  return level;
}

// ---- automatic numbering -----------------------------------------------------

bool FileManager::NextNumber(const KeyEntry& key, std::int64_t* number) {
  const platform::RecordDeclaration& declaration = FILE->Declaration();
  const platform::KeyDeclaration& declared = declaration.keys[static_cast<std::size_t>(key.KEY - 1)];
  const KeyComponent& last = key.FIELDS.back();
  const platform::FieldDeclaration& field = declaration.fields[static_cast<std::size_t>(last.FIELD - 1)];
  std::uint8_t* record = FILE->Record();
  int code;
  std::string group;
  platform::KeyDeclaration leading = declared;
  if (key.FIELDS.size() == 1) {
    FILE->Set(key.KEY);
  } else {
    leading.components.pop_back();
    group = platform::RecordKeyCodec::Encode(declaration, leading, record);
    if (last.ASCENDING) {
      platform::SetFieldHighest(field, record);
    } else {
      platform::SetFieldLowest(field, record);
    }
    FILE->SetKeyValue(key.KEY);
  }
  code = last.ASCENDING ? FILE->Previous() : FILE->Next();
  if (code == platform::kErrNoRecord) {
    *number = 1;
    return true;
  }
  if (code != 0) return false;
  if (key.FIELDS.size() > 1 && platform::RecordKeyCodec::Encode(declaration, leading, record) != group) {
    *number = 1;
    return true;
  }
  *number = FieldInteger(field, record) + 1;
  // In a text's order "9" comes after "10": the highest number is looked
  // for by length as well.
  if (field.encoding == platform::FieldEncoding::kText || field.encoding == platform::FieldEncoding::kCString) {
    code = FILE->HighestTextNumber(key.KEY);
    if (code == 0) *number = std::max(*number, FieldInteger(field, record) + 1);
    else if (code != platform::kErrNoRecord) return false;
  }
  return true;
}

ErrorLevel FileManager::Number(bool report) {
  if (ALIASEDFILE) return ThroughAlias([report](FileManager& target) { return target.Number(report); });
  if (EnsureOpen(kUsageReturns) != LevelNone) return LevelFatal;
  if (!HASAUTOINC || AUTOINCDONE) return LevelNone;
  if (RefusedAsReadOnly()) return WriteFailed(kMsgInsertError, report);
  FILE->SetReadAhead(0);
  const platform::RecordDeclaration& declaration = FILE->Declaration();
  for (;;) {
    int code = 0;
    for (int attempt = 1; attempt <= kNumberingAttempts; ++attempt) {
      for (const KeyEntry& key : KEYS) {
        if (!key.AUTOINC || key.FIELDS.empty()) continue;
        if (ERRORS) ERRORS->SetKeyName(KeyDescription(key));
        std::uint16_t snapshot = SnapshotBuffer();
        std::int64_t number = 0;
        bool found;
        {
          ReadingStateKeeper keep_position(*FILE);
          found = NextNumber(key, &number);
          if (!found) NoteError(kMsgRetrievalError);
        }
        if (!found) {
          RestoreSnapshot(snapshot, true);
          return report ? ReportError() : LevelNotify;
        }
        RestoreSnapshot(snapshot, true);
        const platform::FieldDeclaration& field =
            declaration.fields[static_cast<std::size_t>(key.FIELDS.back().FIELD - 1)];
        if (!SetFieldInteger(field, FILE->Record(), number)) {
          // The next number will not fit on any attempt either.
          platform::SetRuntimeError(platform::kErrDriverError, FILE->Path(), "0",
                                    "the next number does not fit " + field.name);
          return WriteFailed(kMsgInsertError, report);
        }
      }
      code = FILE->Add();
      if (code == 0) {
        AUTOINCDONE = true;
        return LevelNone;
      }
    }
    if (code == platform::kErrDuplicateKey && ERRORS) {
      for (const KeyEntry& key : KEYS) {
        if (FILE->Duplicate(key.KEY)) {
          ERRORS->SetKeyName(KeyDescription(key));
          break;
        }
      }
    }
    NoteError(kMsgAutoNumberFailed);
    if (!report) return LevelNotify;
    if (ReportError() != LevelNone) return LevelNotify;
  }
}

ErrorLevel FileManager::NumberRecord() { return Number(true); }
ErrorLevel FileManager::NumberRecordQuiet() { return Number(false); }

void FileManager::PrepareFields() {}

ErrorLevel FileManager::PrepareRecord(bool keepBuffer) {
  if (ALIASEDFILE) {
    return ThroughAlias([keepBuffer](FileManager& target) { return target.PrepareRecord(keepBuffer); });
  }
  if (EnsureOpen(kUsageReturns) != LevelNone) return LevelFatal;
  if (!keepBuffer) FILE->Clear();
  PrepareFields();
  if (!HASAUTOINC) return LevelNone;
  AUTOINCDONE = false;
  return NumberRecord();
}

// ---- checks ------------------------------------------------------------------

ErrorLevel FileManager::CheckField(int number, bool report) {
  if (!ALIASEDFILE) return LevelNone;
  FileManager& target = *ALIASEDFILE;
  const std::span<std::uint8_t> own = Buffer();
  const std::span<std::uint8_t> theirs = target.Buffer();
  if (theirs.empty()) return LevelNone;
  const std::string kept(reinterpret_cast<const char*>(theirs.data()), theirs.size());
  std::memcpy(theirs.data(), own.data(), std::min(own.size(), theirs.size()));
  const ErrorLevel level = target.CheckField(number, report);
  std::memcpy(theirs.data(), kept.data(), kept.size());
  return level;
}

ErrorLevel FileManager::CheckFields(int first, int last, bool report) {
  for (int number = first; number <= last; ++number) {
    if (const ErrorLevel level = CheckField(number, report); level != LevelNone) return level;
  }
  return LevelNone;
}

ErrorLevel FileManager::CheckRecord(bool report) {
  if (!FILE) return LevelNone;
  return CheckFields(1, FILE->FieldCount(), report);
}

// ---- snapshots and states ------------------------------------------------------

std::uint16_t FileManager::SnapshotBuffer() {
  const std::uint16_t id = BUFFERS.empty() ? 1 : static_cast<std::uint16_t>(BUFFERS.back().ID + 1);
  const std::span<std::uint8_t> record = Buffer();
  SnapshotEntry entry;
  entry.ID = id;
  entry.TEXT.assign(reinterpret_cast<const char*>(record.data()), record.size());
  if (entry.TEXT.empty()) entry.TEXT.assign(1, '\0');
  BUFFERS.push_back(std::move(entry));
  return id;
}

void FileManager::RestoreSnapshot(std::uint16_t& id, bool restore) {
  if (id == 0 && !restore) return;
  const auto found = std::find_if(BUFFERS.begin(), BUFFERS.end(),
                                  [id](const SnapshotEntry& entry) { return entry.ID == id; });
  if (found != BUFFERS.end()) {
    const std::span<std::uint8_t> record = Buffer();
    if (restore) std::memcpy(record.data(), found->TEXT.data(), std::min(record.size(), found->TEXT.size()));
    BUFFERS.erase(found);
  }
  id = 0;
}

bool FileManager::SnapshotEquals(std::uint16_t id) {
  if (!INITIALIZED || !FILE) return false;
  const auto found = std::find_if(BUFFERS.begin(), BUFFERS.end(),
                                  [id](const SnapshotEntry& entry) { return entry.ID == id; });
  if (found == BUFFERS.end()) return false;
  const std::span<std::uint8_t> record = Buffer();
  return found->TEXT.size() == record.size() &&
         std::memcmp(found->TEXT.data(), record.data(), record.size()) == 0;
}

std::string FileManager::CurrentPosition() const {
  // An alias reads through the aliased file: its position is the one its
  // last operation left there, kept in its own state of that file.
  if (ALIASEDFILE) {
    platform::RecordFile* file = ALIASEDFILE->FILE;
    if (alias_state_ == 0 || !file) return {};
    RuntimeErrorKeeper keep_error;
    const int kept_state = file->GetState();
    std::string position;
    if (file->RestoreState(alias_state_) == 0) position = ALIASEDFILE->CurrentPosition();
    file->RestoreState(kept_state);
    file->FreeState(kept_state);
    return position;
  }
  if (!INITIALIZED || !FILE) return {};
  const int key = PRIMARYKEY > 0 && PRIMARYKEY <= KEYS.size() ? KEYS[PRIMARYKEY - 1].KEY : 0;
  return FILE->Position(key);
}

std::uint16_t FileManager::SaveState() {
  SavedStateEntry entry;
  entry.ID = SAVED.empty() ? 1 : static_cast<std::uint16_t>(SAVED.back().ID + 1);
  entry.BUFFER = SnapshotBuffer();
  entry.AUTOINCDONE = AUTOINCDONE;
  if (FILE) {
    entry.STATE = FILE->GetState();
    entry.POSITION = CurrentPosition();
  }
  if (ALIASEDFILE && ALIASEDFILE->FILE && alias_state_ != 0) {
    // The alias's own position, as a state of its own on the aliased file.
    platform::RecordFile& file = *ALIASEDFILE->FILE;
    const int kept = file.GetState();
    if (file.RestoreState(alias_state_) == 0) entry.ALIASSTATE = file.GetState();
    file.RestoreState(kept);
    file.FreeState(kept);
  }
  SAVED.push_back(std::move(entry));
  return SAVED.back().ID;
}

void FileManager::RestoreState(std::uint16_t& id, bool restoreBuffer) {
  FlagGuard in_restore(INRESTORE);
  const auto found = std::find_if(SAVED.begin(), SAVED.end(),
                                  [id](const SavedStateEntry& entry) { return entry.ID == id; });
  if (found == SAVED.end()) {
    id = 0;
    return;
  }
  RuntimeErrorKeeper keep_error;
  if (ALIASEDFILE) {
    if (ALIASEDFILE->FILE && alias_state_ != 0) ALIASEDFILE->FILE->FreeState(alias_state_);
    alias_state_ = found->ALIASSTATE;
  }
  if (FILE) {
    FILE->RestoreState(found->STATE);
    FILE->FreeState(found->STATE);
  }
  RestoreSnapshot(found->BUFFER, restoreBuffer);
  if (restoreBuffer) AUTOINCDONE = found->AUTOINCDONE;
  SAVED.erase(found);
  id = 0;
}

// ---- keys --------------------------------------------------------------------

void FileManager::AddKey(int key, const std::string& description, bool autoNumber) {
  if (!FILE || key < 1 || key > FILE->KeyCount()) return;
  const platform::RecordDeclaration& declaration = FILE->Declaration();
  const platform::KeyDeclaration& declared = declaration.keys[static_cast<std::size_t>(key - 1)];
  KeyEntry entry;
  entry.KEY = key;
  entry.PDESCRIPTION = description.substr(0, kDescriptionLength);
  entry.AUTOINC = autoNumber;
  entry.DUPS = !declared.unique;
  entry.NOCASE = declared.no_case;
  for (int number : declared.components) {
    const platform::FieldDeclaration& field = declaration.fields[static_cast<std::size_t>(number - 1)];
    KeyComponent component;
    component.FIELD = number;
    component.NAME = declared.no_case && platform::IsText(field.encoding) ? "UPPER(" + field.name + ")"
                                                                          : field.name;
    entry.FIELDS.push_back(std::move(component));
  }
  if (autoNumber) HASAUTOINC = true;
  KEYS.push_back(std::move(entry));
  if (declared.primary) PRIMARYKEY = static_cast<std::uint8_t>(KEYS.size());
}

void FileManager::AddKey(std::string_view key_name, const std::string& description, bool autoNumber) {
  if (FILE) AddKey(FILE->Declaration().KeyNumber(key_name), description, autoNumber);
}

const KeyEntry* FileManager::FindKey(int key) const {
  const auto found = std::find_if(KEYS.begin(), KEYS.end(), [key](const KeyEntry& entry) { return entry.KEY == key; });
  return found == KEYS.end() ? nullptr : &*found;
}

int FileManager::KeyComponentCount(int key) const {
  const KeyEntry* entry = FindKey(key);
  return entry ? static_cast<int>(entry->FIELDS.size()) : 0;
}

int FileManager::KeyComponentField(int key, int component) const {
  const KeyEntry* entry = FindKey(key);
  if (!entry || component < 1 || component > static_cast<int>(entry->FIELDS.size())) return 0;
  return entry->FIELDS[static_cast<std::size_t>(component - 1)].FIELD;
}

std::string FileManager::KeyComponentName(int key, int component) const {
  const KeyEntry* entry = FindKey(key);
  if (!entry || component < 1 || component > static_cast<int>(entry->FIELDS.size())) return {};
  return entry->FIELDS[static_cast<std::size_t>(component - 1)].NAME;
}

bool FileManager::KeyComponentAscending(int key, int component) const {
  const KeyEntry* entry = FindKey(key);
  if (!entry || component < 1 || component > static_cast<int>(entry->FIELDS.size())) return true;
  return entry->FIELDS[static_cast<std::size_t>(component - 1)].ASCENDING;
}

std::string FileManager::KeyComponentsText(int key) const {
  const KeyEntry* entry = FindKey(key);
  if (!entry) return {};
  std::string text;
  for (const KeyComponent& component : entry->FIELDS) {
    if (!text.empty()) text += ",";
    if (!component.ASCENDING) text += "-";
    text += component.NAME;
  }
  return text;
}

void FileManager::SetKeyLowest(int key, int first, int last) {
  const KeyEntry* entry = FindKey(key);
  if (!entry || !FILE) return;
  for (int component = std::max(first, 1); component <= std::min(last, static_cast<int>(entry->FIELDS.size()));
       ++component) {
    const KeyComponent& part = entry->FIELDS[static_cast<std::size_t>(component - 1)];
    const platform::FieldDeclaration& field = FILE->Declaration().fields[static_cast<std::size_t>(part.FIELD - 1)];
    if (part.ASCENDING) {
      platform::SetFieldLowest(field, FILE->Record());
    } else {
      platform::SetFieldHighest(field, FILE->Record());
    }
  }
}

void FileManager::SetKeyHighest(int key, int first, int last) {
  const KeyEntry* entry = FindKey(key);
  if (!entry || !FILE) return;
  for (int component = std::max(first, 1); component <= std::min(last, static_cast<int>(entry->FIELDS.size()));
       ++component) {
    const KeyComponent& part = entry->FIELDS[static_cast<std::size_t>(component - 1)];
    const platform::FieldDeclaration& field = FILE->Declaration().fields[static_cast<std::size_t>(part.FIELD - 1)];
    if (part.ASCENDING) {
      platform::SetFieldHighest(field, FILE->Record());
    } else {
      platform::SetFieldLowest(field, FILE->Record());
    }
  }
}

// ---- accessors ---------------------------------------------------------------

void FileManager::SetUseMRP(bool use) { USEMRP = use; }
bool FileManager::GetUseMRP() const { return USEMRP; }
void FileManager::SetMRPSize(std::uint8_t size) { MRPSIZE = size; }
std::uint8_t FileManager::GetMRPSize() const { return MRPSIZE; }
bool FileManager::GetAutoIncDone() const { return AUTOINCDONE; }
bool FileManager::GetHasAutoInc() const { return HASAUTOINC; }

}  // namespace qm
