#include "platform/upgrade_library.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "platform/file_system.h"
#include "platform/record_fields.h"
#include "platform/record_transaction.h"
#include "platform/sqlite_connection.h"
#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

constexpr int kExclusive = kAccessReadWrite | kShareDenyAll;
constexpr const char* kWorkDirectory = ".upgrade";

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A field's name without its record prefix: "V30:JOBNUMBER" is "JOBNUMBER".
std::string_view BareName(std::string_view name) {
  const std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool IsFloat(FieldEncoding encoding) {
  return encoding == FieldEncoding::kF32 || encoding == FieldEncoding::kF64;
}

bool IsWhole(FieldEncoding encoding) { return IsNumeric(encoding) && !IsFloat(encoding) && encoding != FieldEncoding::kDecimal; }

std::string Describe(const FieldDeclaration& field) {
  std::string text(EncodingName(field.encoding));
  if (IsText(field.encoding)) text += " " + std::to_string(field.width);
  if (field.encoding == FieldEncoding::kDecimal) {
    text += " " + std::to_string(field.digits) + "," + std::to_string(field.decimals);
  }
  return text;
}

// A floating-point value in plain positional form, the shortest that reads
// back to it: 1e6 is "1000000", so that it can go into a whole number.
std::string PlainText(FieldEncoding encoding, double value) {
  char text[512];
  const std::to_chars_result result =
      encoding == FieldEncoding::kF32
          ? std::to_chars(text, text + sizeof text, static_cast<float>(value), std::chars_format::fixed)
          : std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  return result.ec == std::errc() ? std::string(text, result.ptr) : std::string();
}

// "12.000" is the whole number "12"; "12.5" is none.
bool DropZeroFraction(std::string* value) {
  const std::size_t point = value->find('.');
  if (point == std::string::npos) return true;
  if (value->find_first_not_of('0', point + 1) != std::string::npos) return false;
  value->erase(point);
  return true;
}

// Converts one field's value from the stored record into the new one: by
// value for numbers, padded or cut for texts. False, with `problem` saying
// why, when the value does not fit.
bool ConvertField(const FieldDeclaration& from, const std::uint8_t* from_record, const FieldDeclaration& to,
                  std::uint8_t* to_record, std::string* problem) {
  std::string value;
  if (IsText(from.encoding)) {
    value = FieldText(from, from_record);
    if (IsText(to.encoding)) return SetFieldText(to, to_record, value, TextFit::kCut, problem);
    const std::size_t first = value.find_first_not_of(' ');
    if (first == std::string::npos) return true;  // blank: the number stays cleared
    value = value.substr(first, value.find_last_not_of(' ') - first + 1);
  } else if (IsFloat(from.encoding)) {
    const double number = FieldNumber(from, from_record);
    if (IsFloat(to.encoding)) {
      if (to.encoding == FieldEncoding::kF32 && std::isfinite(number) &&
          std::fabs(number) > std::numeric_limits<float>::max()) {
        *problem = "out of range";
        return false;
      }
      SetFieldNumber(to, to_record, number);
      return true;
    }
    if (!std::isfinite(number)) {
      *problem = "not a number";
      return false;
    }
    value = PlainText(from.encoding, number);
  } else {
    if (IsFloat(to.encoding)) {
      const double number = FieldNumber(from, from_record);
      // A 4-byte float holds about seven digits: a whole number or decimal
      // that it would round to another value at the source's scale does
      // not fit.
      if (to.encoding == FieldEncoding::kF32) {
        const double scale = std::pow(10.0, from.encoding == FieldEncoding::kDecimal ? from.decimals : 0);
        if (std::llround(static_cast<double>(static_cast<float>(number)) * scale) != std::llround(number * scale)) {
          *problem = "has too many digits for its field";
          return false;
        }
      }
      SetFieldNumber(to, to_record, number);
      return true;
    }
    value = FieldText(from, from_record);
  }
  if (IsWhole(to.encoding) && !DropZeroFraction(&value)) {
    *problem = "has decimals";
    return false;
  }
  return SetFieldText(to, to_record, value, TextFit::kRefuse, problem);
}

// Where each new field's value comes from.
struct FieldPlan {
  const FieldDeclaration* from = nullptr;  // none: the field stays cleared
  const FieldDeclaration* to = nullptr;
  bool same_bytes = false;
};

std::vector<FieldPlan> PlanFields(const RecordDeclaration& from, const RecordDeclaration& to) {
  std::vector<FieldPlan> plan;
  for (const FieldDeclaration& target : to.fields) {
    FieldPlan entry;
    entry.to = &target;
    for (const FieldDeclaration& source : from.fields) {
      if (SameName(BareName(source.name), BareName(target.name))) {
        entry.from = &source;
        entry.same_bytes = source.encoding == target.encoding && source.width == target.width &&
                           source.digits == target.digits && source.decimals == target.decimals;
        break;
      }
    }
    plan.push_back(entry);
  }
  return plan;
}

bool IsKeyProblem(const std::string& problem) {
  if (problem.rfind("key ", 0) == 0) return true;
  return problem.rfind("integrity check:", 0) == 0 && problem.find(" index ") != std::string::npos;
}

void SyncDirectory(const std::string& directory) {
  const int descriptor = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return;
  ::fsync(descriptor);
  ::close(descriptor);
}

bool SameInode(const std::string& a, const std::string& b) {
  struct stat first, second;
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// A name beside `path` that nothing has yet: `path` + `suffix`, then with
// "-2", "-3" ... added. An existing name that is `path` itself (linked by an
// earlier, interrupted run) is taken again.
std::string FreeNameBeside(const std::string& path, const std::string& suffix, bool reuse_link) {
  for (int attempt = 1;; ++attempt) {
    const std::string candidate = path + suffix + (attempt == 1 ? "" : "-" + std::to_string(attempt));
    if (!FileExists(candidate)) return candidate;
    if (reuse_link && SameInode(candidate, path)) return candidate;
  }
}

void RemoveWorkFile(const std::string& work_disk_name) {
  const std::string data = work_disk_name + ".dat";
  ::unlink(data.c_str());
  ::unlink((data + "-journal").c_str());
  ::unlink(RecordShareLock::LockPathFor(data).c_str());
}

// A copy of a record file made through SQLite's own backup, never by reading
// the file with open() and close(): closing any descriptor of it would drop
// the locks that this process's connections hold on it. The copy is built
// under a hidden name and takes `destination` in one rename.
int CopyRecordFile(const std::string& source, const std::string& destination) {
  const std::string temporary = JoinPath(DirectoryOf(destination), "." + NameOf(destination) + ".part");
  RemoveFile(temporary);
  std::string problem;
  {
    SqliteConnection from;
    SqliteConnection to;
    if (from.Open(source, SQLITE_OPEN_READONLY) != SQLITE_OK) {
      problem = from.ErrorMessage();
    } else if (to.Open(temporary, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) != SQLITE_OK) {
      problem = to.ErrorMessage();
    } else if (sqlite3_backup* backup = sqlite3_backup_init(to.Handle(), "main", from.Handle(), "main")) {
      const int result = sqlite3_backup_step(backup, -1);
      sqlite3_backup_finish(backup);
      if (result != SQLITE_DONE) problem = sqlite3_errstr(result);
    } else {
      problem = to.ErrorMessage();
    }
  }
  if (problem.empty() && ::rename(temporary.c_str(), destination.c_str()) != 0) problem = std::strerror(errno);
  if (problem.empty()) return 0;
  RemoveFile(temporary);
  SetRuntimeError(kErrDriverError, destination, "0", "cannot copy " + source + ": " + problem);
  return kErrDriverError;
}

// One conversion of a stored file to its registered structure.
class Conversion {
 public:
  Conversion(RecordFile& file, const RecordDeclaration& stored, const RecordDeclaration& target,
             const std::string& work_base, const UpgradeProgressFunction& progress)
      : file_(file), stored_(stored), target_(target), progress_(progress) {
    path_ = file.Path();
    work_directory_ = JoinPath(work_base, kWorkDirectory);
    std::string stem = NameOf(path_);
    stem.erase(stem.size() - 4);  // ".dat"
    work_disk_name_ = JoinPath(work_directory_, stem);
  }

  int Run();
  // False when another station had converted the file first.
  bool Converted() const { return converted_; }

 private:
  int Fail(int code, const std::string& message);
  int Copy(RecordFile& source, RecordFile& work);
  void Report(UpgradeProgress::Step step, std::int64_t done = 0, std::int64_t total = 0) const;

  RecordFile& file_;
  const RecordDeclaration& stored_;
  const RecordDeclaration& target_;
  const UpgradeProgressFunction& progress_;
  std::string path_;
  std::string work_directory_;
  std::string work_disk_name_;
  std::unique_ptr<RecordFile> source_;
  std::unique_ptr<RecordFile> work_;
  bool converted_ = false;
};

void Conversion::Report(UpgradeProgress::Step step, std::int64_t done, std::int64_t total) const {
  const UpgradeProgress progress{step, target_.label, path_, stored_.version, target_.version, done, total};
  UpgradeFaults::Step(progress);
  if (progress_) progress_(progress);
}

// Undoes what the conversion made and leaves the error state saying why.
int Conversion::Fail(int code, const std::string& message) {
  if (work_) {
    work_->Close();
    work_.reset();
    RemoveWorkFile(work_disk_name_);
    ::rmdir(work_directory_.c_str());
  }
  if (source_) source_->Close();
  SetRuntimeError(code, path_, "0", message);
  return code;
}

int Conversion::Run() {
  // The original, held against every other open until the converted file
  // has taken its name.
  RecordDeclaration source_declaration = stored_;
  source_declaration.disk_name = file_.Declaration().disk_name;
  source_ = std::make_unique<RecordFile>(source_declaration);
  // The records are copied in record order, so damaged indexes of the old
  // structure do not matter and the original stays untouched.
  source_->TakeKeysAsTheyAre();
  int code = source_->Open(kExclusive);
  if (code == kErrDeclarationMismatch) {
    // Another station may have converted it since we looked.
    RecordDeclaration now;
    if (RecordFile::ReadDeclaration(path_, &now) == 0 && now.version == target_.version &&
        SameRecordLayout(now, target_)) {
      return 0;
    }
  }
  if (code != 0) return Fail(code, "the file cannot be opened for its upgrade: " + LastRuntimeError().file_error_message);

  if (UpgradeFaults::WritesRefused(path_) || (::mkdir(work_directory_.c_str(), 0777) != 0 && errno != EEXIST)) {
    const int error = UpgradeFaults::WritesRefused(path_) ? EROFS : errno;
    return Fail(ReportSystemError(error, work_directory_), "cannot make the work directory " + work_directory_ +
                                                              ": " + std::strerror(error));
  }
  // What an interrupted run left there is thrown away: the original is whole.
  RemoveWorkFile(work_disk_name_);
  RecordDeclaration work_declaration = target_;
  work_declaration.disk_name = work_disk_name_;
  work_ = std::make_unique<RecordFile>(work_declaration);
  if ((code = work_->Create()) != 0 || (code = work_->Open(kExclusive)) != 0) {
    return Fail(code, "cannot make the converted file: " + LastRuntimeError().file_error_message);
  }
  if ((code = Copy(*source_, *work_)) != 0) return code;

  Report(UpgradeProgress::Step::kVerifying);
  const RecordFileCheck check = work_->Check();
  if (!check.problems.empty() || check.records != source_->Records()) {
    return Fail(kErrDriverError, "the converted file did not check: " +
                                     (check.problems.empty() ? std::string("records are missing") : check.problems.front()));
  }
  work_->Close();
  if (FileExists(path_ + "-journal")) {
    return Fail(kErrAccessDenied, "another station's transaction on the file is not finished");
  }

  // The original goes under its kept name as a second link, so that the
  // data file never disappears; then the converted file replaces it.
  const std::string kept = FreeNameBeside(path_, ".v" + std::to_string(stored_.version), true);
  if (!SameInode(kept, path_) && (UpgradeFaults::LinksFail() || ::link(path_.c_str(), kept.c_str()) != 0)) {
    if ((code = CopyRecordFile(path_, kept)) != 0) {
      return Fail(code, "cannot keep the original as " + kept + ": " + LastRuntimeError().file_error_message);
    }
  }
  Report(UpgradeProgress::Step::kReplacing);
  const std::string converted = work_->Path();
  if (::rename(converted.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    // A work directory on another file system: the copy still replaces the
    // original in one rename, of a temporary file beside it.
    if (error != EXDEV || (code = CopyFile(converted, path_)) != 0) {
      return Fail(error == EXDEV ? code : ReportSystemError(error, path_),
                  "cannot put the converted file in place: " + std::string(std::strerror(error)));
    }
  }
  SyncDirectory(DirectoryOf(path_));
  work_.reset();
  RemoveWorkFile(work_disk_name_);
  ::rmdir(work_directory_.c_str());
  source_->Close();
  Report(UpgradeProgress::Step::kUpgraded);
  converted_ = true;
  ClearRuntimeError();
  return 0;
}

int Conversion::Copy(RecordFile& source, RecordFile& work) {
  const std::vector<FieldPlan> plan = PlanFields(source.Declaration(), work.Declaration());
  const std::int64_t total = source.Records();
  // The work file is ours alone until it takes the original's name: one
  // transaction writes it whole (a new file journals next to nothing), and
  // the original is read in batches.
  RecordTransaction transaction;
  int code = source.Send("QUICKSCAN=on");
  if (code == 0) code = source.Set(0);
  if (code != 0) return Fail(code, LastRuntimeError().file_error_message);
  // The indexes of keys that need not be unique are made once the records
  // are in: sorting every key's values once is far cheaper than placing
  // each one as it comes. Unique keys keep theirs, so that a duplicate is
  // refused with the record that brings it.
  SqliteConnection indexes;
  std::string later;
  if (indexes.Open(work.Path(), SQLITE_OPEN_READWRITE) != SQLITE_OK) {
    return Fail(kErrDriverError, "cannot open the converted file: " + indexes.ErrorMessage());
  }
  {
    std::string drop;
    SqliteStatement list(indexes.Handle(),
                         "SELECT name, sql FROM sqlite_schema WHERE type = 'index' AND tbl_name = 'records' "
                         "AND sql IS NOT NULL AND sql NOT LIKE 'CREATE UNIQUE %';");
    while (list.Ok() && list.Step() == SQLITE_ROW) {
      drop += "DROP INDEX \"" + list.Text(0) + "\";";
      later += list.Text(1) + ";";
    }
    if (!list.Ok() || indexes.Execute(drop) != SQLITE_OK) {
      return Fail(kErrDriverError, "cannot prepare the converted file: " + indexes.ErrorMessage());
    }
  }
  if ((code = transaction.Begin({&work}, 0)) != 0) return Fail(code, LastRuntimeError().file_error_message);
  std::int64_t done = 0;
  while ((code = source.Next()) == 0) {
    ++done;
    work.Clear();
    for (const FieldPlan& entry : plan) {
      if (entry.from == nullptr) continue;
      if (entry.same_bytes) {
        std::memcpy(work.Record() + entry.to->offset, source.Record() + entry.from->offset, entry.to->width);
        continue;
      }
      std::string problem;
      if (!ConvertField(*entry.from, source.Record(), *entry.to, work.Record(), &problem)) {
        transaction.Rollback();
        return Fail(kErrDeclarationMismatch,
                    "record " + std::to_string(done) + ": the value " + FieldText(*entry.from, source.Record()) +
                        " of " + entry.from->name + " does not fit " + entry.to->name + " (" +
                        Describe(*entry.to) + "): " + problem);
      }
    }
    if ((code = work.Add()) != 0) {
      const std::string message = LastRuntimeError().file_error_message;
      transaction.Rollback();
      if (code == kErrDuplicateKey) {
        return Fail(kErrDeclarationMismatch,
                    "record " + std::to_string(done) + " duplicates a unique key of the new structure");
      }
      return Fail(code, "writing the converted file: " + message);
    }
    if (done % RecordFile::kStreamBatch == 0) Report(UpgradeProgress::Step::kConverting, done, total);
  }
  if (code != kErrNoRecord) {
    const std::string message = LastRuntimeError().file_error_message;
    transaction.Rollback();
    return Fail(code, "reading the original: " + message);
  }
  if ((code = transaction.Commit()) != 0) {
    return Fail(code, "writing the converted file: " + LastRuntimeError().file_error_message);
  }
  if (indexes.Execute("BEGIN IMMEDIATE;" + later + "COMMIT;") != SQLITE_OK) {
    const std::string message = indexes.ErrorMessage();
    indexes.Execute("ROLLBACK;");
    return Fail(kErrDriverError, "building the keys of the converted file: " + message);
  }
  Report(UpgradeProgress::Step::kConverting, done, total);
  return 0;
}

// Opens the file and checks it whole; damage leaves it closed.
int OpenAndCheck(RecordFile& file, int mode, const UpgradeProgressFunction& progress) {
  int code = file.Open(mode);
  if (code != 0) return code;
  if (progress) {
    progress(UpgradeProgress{UpgradeProgress::Step::kChecking, file.Label(), file.Path(),
                             file.Declaration().version, file.Declaration().version, 0, 0});
  }
  const RecordFileCheck check = file.Check();
  if (check.problems.empty()) {
    ClearRuntimeError();
    return 0;
  }
  bool keys_only = true;
  for (const std::string& problem : check.problems) keys_only = keys_only && IsKeyProblem(problem);
  std::string message = check.problems.front();
  if (check.problems.size() > 1) message += " (and " + std::to_string(check.problems.size() - 1) + " more)";
  const std::string path = file.Path();
  file.Close();
  code = keys_only ? kErrKeyFileInvalid : kErrDriverError;
  SetRuntimeError(code, path, "0", message);
  return code;
}

struct Faults {
  std::mutex mutex;
  std::vector<std::string> read_only_directories;  // Protected by mutex
  bool links_fail = false;                         // Protected by mutex
  UpgradeProgressFunction step_hook;               // Protected by mutex
};

Faults& TheFaults() {
  static Faults faults;
  return faults;
}

std::string Absolute(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::absolute(path, ignored).lexically_normal().string();
}

}  // namespace

void UpgradeFaults::RefuseWrites(const std::string& directory) {
  Faults& faults = TheFaults();
  std::lock_guard lock(faults.mutex);
  faults.read_only_directories.push_back(Absolute(directory));
}

void UpgradeFaults::FailLinks(bool fail) {
  Faults& faults = TheFaults();
  std::lock_guard lock(faults.mutex);
  faults.links_fail = fail;
}

void UpgradeFaults::SetStepHook(UpgradeProgressFunction hook) {
  Faults& faults = TheFaults();
  std::lock_guard lock(faults.mutex);
  faults.step_hook = std::move(hook);
}

void UpgradeFaults::Clear() {
  Faults& faults = TheFaults();
  std::lock_guard lock(faults.mutex);
  faults.read_only_directories.clear();
  faults.links_fail = false;
  faults.step_hook = nullptr;
}

bool UpgradeFaults::WritesRefused(const std::string& path) {
  Faults& faults = TheFaults();
  std::lock_guard lock(faults.mutex);
  if (faults.read_only_directories.empty()) return false;
  const std::string directory = DirectoryOf(Absolute(path));
  return std::find(faults.read_only_directories.begin(), faults.read_only_directories.end(), directory) !=
         faults.read_only_directories.end();
}

bool UpgradeFaults::LinksFail() {
  Faults& faults = TheFaults();
  std::lock_guard lock(faults.mutex);
  return faults.links_fail;
}

void UpgradeFaults::Step(const UpgradeProgress& progress) {
  UpgradeProgressFunction hook;
  {
    Faults& faults = TheFaults();
    std::lock_guard lock(faults.mutex);
    hook = faults.step_hook;
  }
  if (hook) hook(progress);
}

UpgradeLibrary& UpgradeLibrary::Process() {
  static UpgradeLibrary library;
  return library;
}

std::int32_t UpgradeLibrary::PassHandleForUpgrading() { return 1; }

void UpgradeLibrary::SetUpgradePath(std::string_view directory, int) {
  std::lock_guard lock(mutex_);
  settings_.upgrade_path = std::string(directory);
}

void UpgradeLibrary::SetOption(std::string_view name, int value) {
  std::lock_guard lock(mutex_);
  if (SameName(name, "BadFile")) settings_.move_bad_files = value != 0;
  if (SameName(name, "SPCreate")) settings_.work_beside_file = value != 0;
}

void UpgradeLibrary::AddDriver(std::string_view, const RecordFile& placeholder, int value) {
  std::lock_guard lock(mutex_);
  settings_.drivers[Upper(placeholder.Declaration().driver)] = value != 0;
}

void UpgradeLibrary::IgnoreDriver(std::string_view name, int value) {
  std::lock_guard lock(mutex_);
  if (SameName(name, "AllFiles")) {
    settings_.ignore_unregistered = value != 0;
  } else {
    settings_.ignored_drivers[Upper(name)] = value != 0;
  }
}

void UpgradeLibrary::UsingFileEx(const RecordFile& file, int version, int, std::string_view label,
                                 std::string_view prefix) {
  std::lock_guard lock(mutex_);
  settings_.files[Upper(label)] =
      Registration{std::string(label), std::string(prefix), file.Declaration().driver, version};
}

void UpgradeLibrary::SetProgress(UpgradeProgressFunction progress) {
  std::lock_guard lock(mutex_);
  settings_.progress = std::move(progress);
}

UpgradeLibrary::Registration UpgradeLibrary::Registered(std::string_view label) const {
  std::lock_guard lock(mutex_);
  const auto found = settings_.files.find(Upper(label));
  return found == settings_.files.end() ? Registration{} : found->second;
}

UpgradeLibrary::Settings UpgradeLibrary::Snapshot() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

int UpgradeLibrary::FileOpen(TextFile& file, int) { return file.Open(); }

int UpgradeLibrary::FileOpen(RecordFile& file, int mode) {
  const Settings settings = Snapshot();
  if (file.IsOpen()) return file.Open(mode);
  if ((mode & 0x03) != kAccessRead && UpgradeFaults::WritesRefused(file.Path())) {
    SetRuntimeError(kErrAccessDenied, file.Path(), "0", "the directory is read-only");
    return kErrAccessDenied;
  }
  const std::string driver = Upper(file.Declaration().driver);
  const auto added = settings.drivers.find(driver);
  const auto ignored = settings.ignored_drivers.find(driver);
  const bool handled = added != settings.drivers.end() && added->second &&
                       (ignored == settings.ignored_drivers.end() || !ignored->second);
  const auto registered = settings.files.find(Upper(file.Label()));
  if (!handled) return file.Open(mode);
  if (registered == settings.files.end()) {
    return settings.ignore_unregistered ? file.Open(mode) : OpenAndCheck(file, mode, settings.progress);
  }

  const std::string path = file.Path();
  RecordDeclaration stored;
  const int read = RecordFile::ReadDeclaration(path, &stored);
  if (read == kErrFileNotFound) return file.Open(mode);
  if (read != 0 || !stored.Problem().empty()) {
    if (!settings.move_bad_files) return file.Open(mode);
    const std::string aside = FreeNameBeside(path, ".bad", false);
    if (::rename(path.c_str(), aside.c_str()) != 0) return ReportSystemError(errno, path);
    SetRuntimeError(kErrFileNotFound, path, "0", "not a record file; moved aside as " + aside);
    return kErrFileNotFound;
  }

  RecordDeclaration target = file.Declaration();
  target.version = registered->second.version;
  // Another data file copied under this one's name: converting it would
  // match few fields by name and leave blank records.
  if (!SameName(stored.label, target.label)) {
    SetRuntimeError(kErrDeclarationMismatch, path, "0",
                    "the file holds " + stored.label + ", not " + target.label + "; it is not changed");
    return kErrDeclarationMismatch;
  }
  if (stored.version > target.version) {
    SetRuntimeError(kErrDeclarationMismatch, path, "0",
                    "the file has structure version " + std::to_string(stored.version) +
                        ", newer than version " + std::to_string(target.version) +
                        " that this program knows; it is not changed");
    return kErrDeclarationMismatch;
  }
  if (stored.version < target.version || !SameRecordLayout(stored, target)) {
    const std::string work_base =
        settings.work_beside_file || settings.upgrade_path.empty() ? DirectoryOf(path) : settings.upgrade_path;
    Conversion conversion(file, stored, target, work_base, settings.progress);
    if (const int code = conversion.Run(); code != 0) return code;
    // The converted file was checked whole before it took the name.
    if (conversion.Converted()) return file.Open(mode);
  }
  return OpenAndCheck(file, mode, settings.progress);
}

}  // namespace qm::platform
