#include "platform/record_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <set>

#include "platform/record_faults.h"
#include "platform/record_fields.h"
#include "platform/record_key_codec.h"
#include "platform/record_transaction.h"
#include "platform/runtime_error.h"
#include "platform/sqlite_connection.h"

namespace qm::platform {
namespace {

// The format number changes only with an incompatible change of the tables
// below.
constexpr int kFormatVersion = 1;
// The page cache of every connection to a data file, 32 MiB: sorting index
// entries spills to temporary files far less with it than with SQLite's
// default.
constexpr const char* kCacheSizePragma = "PRAGMA cache_size = -32768;";
constexpr int kQuickScanReadAhead = 512;
constexpr std::int64_t kAfterEveryId = std::numeric_limits<std::int64_t>::max();

std::string KeyColumn(int key_number) { return "key_" + std::to_string(key_number); }

// The SQL for key `key`'s value computed from a record's bytes.
std::string ComputedKey(int key) { return "qm_key(" + std::to_string(key) + ", data)"; }

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

std::string IdBytes(std::int64_t id) {
  std::string bytes(8, '\0');
  for (int i = 7; i >= 0; --i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(id & 0xFF);
    id >>= 8;
  }
  return bytes;
}

std::int64_t IdFromBytes(std::string_view bytes) {
  std::int64_t id = 0;
  for (char c : bytes) id = (id << 8) | static_cast<unsigned char>(c);
  return id;
}

std::string JoinComponents(const std::vector<int>& components) {
  std::string text;
  for (int component : components) {
    if (!text.empty()) text += ",";
    text += std::to_string(component);
  }
  return text;
}

std::vector<int> SplitComponents(const std::string& text) {
  std::vector<int> components;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    components.push_back(std::atoi(text.substr(start, comma - start).c_str()));
    start = comma + 1;
  }
  return components;
}

// The schema of a new file, declaration included.
std::string SchemaSql(const RecordDeclaration& declaration) {
  std::string sql = "PRAGMA application_id = " + std::to_string(kRecordFileMark) + ";" +
                    "PRAGMA user_version = " + std::to_string(kFormatVersion) + ";" +
                    "CREATE TABLE declaration(name TEXT PRIMARY KEY, value TEXT NOT NULL);" +
                    "CREATE TABLE fields(number INTEGER PRIMARY KEY, name TEXT NOT NULL, "
                    "encoding TEXT NOT NULL, offset INTEGER NOT NULL, width INTEGER NOT NULL, "
                    "digits INTEGER NOT NULL, decimals INTEGER NOT NULL);" +
                    "CREATE TABLE keys(number INTEGER PRIMARY KEY, name TEXT NOT NULL, "
                    "components TEXT NOT NULL, is_unique INTEGER NOT NULL, no_case INTEGER NOT NULL, "
                    "is_primary INTEGER NOT NULL, auto_number INTEGER NOT NULL);";
  const std::pair<const char*, std::string> properties[] = {
      {"label", declaration.label},
      {"disk_name", declaration.disk_name},
      {"driver", declaration.driver},
      {"prefix", declaration.prefix},
      {"record_size", std::to_string(declaration.record_size)},
      {"version", std::to_string(declaration.version)},
      {"per_thread", declaration.per_thread ? "1" : "0"},
  };
  for (const auto& [name, value] : properties) {
    sql += "INSERT INTO declaration VALUES(" + Quoted(name) + "," + Quoted(value) + ");";
  }
  for (std::size_t i = 0; i < declaration.fields.size(); ++i) {
    const FieldDeclaration& field = declaration.fields[i];
    sql += "INSERT INTO fields VALUES(" + std::to_string(i + 1) + "," + Quoted(field.name) + "," +
           Quoted(std::string(EncodingName(field.encoding))) + "," + std::to_string(field.offset) +
           "," + std::to_string(field.width) + "," + std::to_string(field.digits) + "," +
           std::to_string(field.decimals) + ");";
  }
  std::string columns;
  for (std::size_t i = 0; i < declaration.keys.size(); ++i) {
    const KeyDeclaration& key = declaration.keys[i];
    sql += "INSERT INTO keys VALUES(" + std::to_string(i + 1) + "," + Quoted(key.name) + "," +
           Quoted(JoinComponents(key.components)) + "," + (key.unique ? "1" : "0") + "," +
           (key.no_case ? "1" : "0") + "," + (key.primary ? "1" : "0") + "," +
           (key.auto_number ? "1" : "0") + ");";
  }
  return sql;
}

std::string RecordsTableSql(const RecordDeclaration& declaration, const std::string& table) {
  std::string sql = "CREATE TABLE " + table +
                    "(id INTEGER PRIMARY KEY, version INTEGER NOT NULL, data BLOB NOT NULL";
  for (std::size_t i = 0; i < declaration.keys.size(); ++i) {
    sql += ", " + KeyColumn(static_cast<int>(i + 1)) + " BLOB NOT NULL";
  }
  return sql + ");";
}

std::string IndexesSql(const RecordDeclaration& declaration) {
  std::string sql;
  for (std::size_t i = 0; i < declaration.keys.size(); ++i) {
    const std::string column = KeyColumn(static_cast<int>(i + 1));
    sql += std::string("CREATE ") + (declaration.keys[i].unique ? "UNIQUE " : "") + "INDEX " +
           column + " ON records(" + column + ");";
  }
  return sql;
}

// qm_key(key_number, data): the key value of a stored record, so that a
// build and a check run inside SQLite over the whole table.
void KeyFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  const auto* declaration = static_cast<const RecordDeclaration*>(sqlite3_user_data(context));
  const int key_number = sqlite3_value_int(arguments[0]);
  if (key_number < 1 || key_number > static_cast<int>(declaration->keys.size())) {
    sqlite3_result_null(context);
    return;
  }
  std::vector<std::uint8_t> record(declaration->record_size, 0);
  const void* data = sqlite3_value_blob(arguments[1]);
  const std::size_t size = static_cast<std::size_t>(sqlite3_value_bytes(arguments[1]));
  if (data) std::memcpy(record.data(), data, std::min(size, record.size()));
  const std::string value = RecordKeyCodec::Encode(
      *declaration, declaration->keys[static_cast<std::size_t>(key_number - 1)], record.data());
  sqlite3_result_blob64(context, value.data(), value.size(), SQLITE_TRANSIENT);
}

int RuntimeCodeOf(int sqlite_code) {
  switch (sqlite_code & 0xFF) {
    case SQLITE_OK: return 0;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return kErrAccessDenied;
    case SQLITE_CONSTRAINT: return kErrDuplicateKey;
    default: return kErrDriverError;
  }
}

// Reads the declaration tables of an open connection: 0 or 90.
int LoadDeclaration(SqliteConnection& connection, RecordDeclaration* declaration) {
  SqliteStatement application(connection.Handle(), "PRAGMA application_id;");
  if (!application.Ok() || application.Step() != SQLITE_ROW) return kErrDriverError;
  if (application.Integer(0) != kRecordFileMark) return kErrDriverError;
  RecordDeclaration loaded;
  SqliteStatement properties(connection.Handle(), "SELECT name, value FROM declaration;");
  if (!properties.Ok()) return kErrDriverError;
  while (properties.Step() == SQLITE_ROW) {
    const std::string name = properties.Text(0);
    const std::string value = properties.Text(1);
    if (name == "label") loaded.label = value;
    else if (name == "disk_name") loaded.disk_name = value;
    else if (name == "driver") loaded.driver = value;
    else if (name == "prefix") loaded.prefix = value;
    else if (name == "record_size") loaded.record_size = std::strtoull(value.c_str(), nullptr, 10);
    else if (name == "version") loaded.version = std::atoi(value.c_str());
    else if (name == "per_thread") loaded.per_thread = value == "1";
  }
  SqliteStatement fields(connection.Handle(),
                         "SELECT name, encoding, offset, width, digits, decimals FROM fields "
                         "ORDER BY number;");
  if (!fields.Ok()) return kErrDriverError;
  while (fields.Step() == SQLITE_ROW) {
    FieldDeclaration field;
    field.name = fields.Text(0);
    if (!ParseEncoding(fields.Text(1), &field.encoding)) return kErrDriverError;
    field.offset = static_cast<std::size_t>(fields.Integer(2));
    field.width = static_cast<std::size_t>(fields.Integer(3));
    field.digits = static_cast<int>(fields.Integer(4));
    field.decimals = static_cast<int>(fields.Integer(5));
    loaded.fields.push_back(std::move(field));
  }
  SqliteStatement keys(connection.Handle(),
                       "SELECT name, components, is_unique, no_case, is_primary, auto_number "
                       "FROM keys ORDER BY number;");
  if (!keys.Ok()) return kErrDriverError;
  while (keys.Step() == SQLITE_ROW) {
    KeyDeclaration key;
    key.name = keys.Text(0);
    key.components = SplitComponents(keys.Text(1));
    key.unique = keys.Integer(2) != 0;
    key.no_case = keys.Integer(3) != 0;
    key.primary = keys.Integer(4) != 0;
    key.auto_number = keys.Integer(5) != 0;
    loaded.keys.push_back(std::move(key));
  }
  *declaration = std::move(loaded);
  return 0;
}

// True when every declared key has its column and an index of the right
// uniqueness over it.
bool IndexesIntact(SqliteConnection& connection, const RecordDeclaration& declaration) {
  std::map<std::string, bool> indexes;  // name -> unique
  SqliteStatement list(connection.Handle(), "PRAGMA index_list(records);");
  if (!list.Ok()) return false;
  while (list.Step() == SQLITE_ROW) indexes[list.Text(1)] = list.Integer(2) != 0;
  std::set<std::string> columns;
  SqliteStatement info(connection.Handle(), "PRAGMA table_info(records);");
  if (!info.Ok()) return false;
  while (info.Step() == SQLITE_ROW) columns.insert(info.Text(1));
  if (!columns.count("id") || !columns.count("version") || !columns.count("data")) return false;
  for (std::size_t i = 0; i < declaration.keys.size(); ++i) {
    const std::string column = KeyColumn(static_cast<int>(i + 1));
    const auto found = indexes.find(column);
    if (!columns.count(column) || found == indexes.end() ||
        found->second != declaration.keys[i].unique) {
      return false;
    }
    SqliteStatement index_info(connection.Handle(), "PRAGMA index_info(" + column + ");");
    if (!index_info.Ok() || index_info.Step() != SQLITE_ROW || index_info.Text(2) != column ||
        index_info.Step() != SQLITE_DONE) {
      return false;
    }
  }
  return true;
}

// True when the records table has exactly the columns of a file made with
// `declaration`'s keys, in order: a build then need not copy the table.
bool HasDeclaredColumns(SqliteConnection& connection, const RecordDeclaration& declaration) {
  std::vector<std::string> expected = {"id", "version", "data"};
  for (std::size_t i = 0; i < declaration.keys.size(); ++i) expected.push_back(KeyColumn(static_cast<int>(i + 1)));
  SqliteStatement info(connection.Handle(), "PRAGMA table_info(records);");
  if (!info.Ok()) return false;
  std::size_t column = 0;
  while (info.Step() == SQLITE_ROW) {
    const bool is_id = column == 0;
    if (column >= expected.size() || info.Text(1) != expected[column] ||
        info.Text(2) != (column < 2 ? "INTEGER" : "BLOB") || info.Integer(5) != (is_id ? 1 : 0) ||
        (!is_id && info.Integer(3) != 1)) {
      return false;
    }
    ++column;
  }
  return column == expected.size();
}

bool DirectoryExists(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return true;
  struct stat status;
  const std::string directory = slash == 0 ? "/" : path.substr(0, slash);
  return ::stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// A read row: what the file keeps of the current record and of records
// read ahead.
struct Row {
  std::int64_t id = 0;
  std::int64_t version = 0;
  std::string data;
  std::string key_value;  // in the reading order's key; empty in record order
};

// Records read ahead, taken from the front. Its rows are kept between
// batches and filled in place, so that a long scan allocates nothing per
// record and holds one batch whatever the file's size.
class ReadAheadRows {
 public:
  bool empty() const { return next_ == count_; }
  std::size_t size() const { return count_ - next_; }
  void clear() { next_ = count_ = 0; }
  void Push(std::int64_t id, std::int64_t version, std::string_view data, std::string_view key_value) {
    if (count_ == rows_.size()) rows_.emplace_back();
    Row& row = rows_[count_++];
    row.id = id;
    row.version = version;
    row.data.assign(data);
    row.key_value.assign(key_value);
  }
  Row& Front() { return rows_[next_]; }
  void PopFront() { ++next_; }

 private:
  std::vector<Row> rows_;
  std::size_t next_ = 0;
  std::size_t count_ = 0;
};

// Where Next and Previous go on from: strictly after (before) this key value
// and id. `open` means from the very start (end).
struct Bound {
  bool open = true;
  std::string key_value;
  std::int64_t id = 0;
};

struct Cursor {
  int key_number = 0;
  Bound forward;
  Bound backward;
};

struct SavedState {
  Cursor cursor;
  Row current;
  bool pending_add = false;
};

enum StatementKind {
  kForwardFromStart,
  kForwardSameKey,
  kForwardAfter,
  kBackwardFromEnd,
  kBackwardSameKey,
  kBackwardBefore,
};

}  // namespace

struct RecordFile::Impl {
  SqliteConnection connection;
  // Statements go before the connection is closed (Close clears them).
  std::map<std::pair<int, int>, SqliteStatement> scans;
  SqliteStatement insert;
  SqliteStatement update;
  SqliteStatement remove;
  SqliteStatement by_id;
  std::vector<SqliteStatement> by_key;
  std::vector<SqliteStatement> duplicate;

  Cursor cursor;
  Row current;  // id 0: no current record
  bool pending_add = false;  // the buffer failed to be added and is not in the file
  ReadAheadRows ahead;
  bool ahead_forward = true;
  std::map<int, SavedState> states;
  int next_state = 1;
  std::set<std::int64_t> holds;
  // Inside a transaction over several files, reads and writes go through
  // the transaction's connection, where this file's table is `table`.
  sqlite3* shared = nullptr;
  std::string table = "records";

  sqlite3* Db() const { return shared ? shared : connection.Handle(); }

  void DropStatements() {
    scans.clear();
    insert = {};
    update = {};
    remove = {};
    by_id = {};
    by_key.clear();
    duplicate.clear();
  }

  SqliteStatement& Scan(int key_number, int kind) {
    auto found = scans.find({key_number, kind});
    if (found != scans.end()) return found->second;
    const std::string columns = key_number == 0
                                    ? "SELECT id, version, data, x'' FROM " + table + " "
                                    : "SELECT id, version, data, " + KeyColumn(key_number) +
                                          " FROM " + table + " ";
    const std::string key = key_number == 0 ? "" : KeyColumn(key_number);
    std::string sql;
    if (key_number == 0) {
      switch (kind) {
        case kForwardFromStart: sql = columns + "ORDER BY id LIMIT ?3"; break;
        case kForwardSameKey:
        case kForwardAfter: sql = columns + "WHERE id > ?2 ORDER BY id LIMIT ?3"; break;
        case kBackwardFromEnd: sql = columns + "ORDER BY id DESC LIMIT ?3"; break;
        default: sql = columns + "WHERE id < ?2 ORDER BY id DESC LIMIT ?3"; break;
      }
    } else {
      switch (kind) {
        case kForwardFromStart: sql = columns + "ORDER BY " + key + ", id LIMIT ?3"; break;
        case kForwardSameKey:
          sql = columns + "WHERE " + key + " = ?1 AND id > ?2 ORDER BY id LIMIT ?3";
          break;
        case kForwardAfter:
          sql = columns + "WHERE " + key + " > ?1 ORDER BY " + key + ", id LIMIT ?3";
          break;
        case kBackwardFromEnd:
          sql = columns + "ORDER BY " + key + " DESC, id DESC LIMIT ?3";
          break;
        case kBackwardSameKey:
          sql = columns + "WHERE " + key + " = ?1 AND id < ?2 ORDER BY id DESC LIMIT ?3";
          break;
        default:
          sql = columns + "WHERE " + key + " < ?1 ORDER BY " + key + " DESC, id DESC LIMIT ?3";
          break;
      }
    }
    return scans.emplace(std::make_pair(key_number, kind), SqliteStatement(Db(), sql))
        .first->second;
  }
};

RecordFile::RecordFile(RecordDeclaration declaration)
    : declaration_(std::move(declaration)),
      record_(declaration_.record_size, 0),
      impl_(std::make_unique<Impl>()) {
  ClearRecord(declaration_, record_.data());
}

RecordFile::~RecordFile() {
  const RuntimeErrorState kept = LastRuntimeError();
  Close();
  if (observer_) observer_->BeforeOperation(RecordOperation::kRelease, record_);
  SetRuntimeError(kept.code, kept.file, kept.file_error_code, kept.file_error_message);
  if (kept.code == kErrNone) ClearRuntimeError();
}

std::string RecordFile::Path() const { return declaration_.disk_name + ".dat"; }

bool RecordFile::SetDiskName(std::string disk_name) {
  if (IsOpen()) return false;
  declaration_.disk_name = std::move(disk_name);
  return true;
}

void RecordFile::Clear() { ClearRecord(declaration_, record_.data()); }

bool RecordFile::IsOpen() const { return impl_->connection.IsOpen(); }

int RecordFile::Fail(int code, const std::string& driver_message, int driver_code) {
  SetRuntimeError(code, Path(), std::to_string(driver_code), driver_message);
  return code;
}

int RecordFile::Succeed() {
  ClearRuntimeError();
  return 0;
}

int RecordFile::FailSqlite(int sqlite_code, const std::string& context) {
  std::string message = context;
  if (impl_->connection.IsOpen()) message += ": " + std::string(sqlite3_errmsg(impl_->Db()));
  else message += ": " + std::string(sqlite3_errstr(sqlite_code));
  return Fail(RuntimeCodeOf(sqlite_code), message, sqlite_code);
}

int RecordFile::FailRead(int sqlite_code, const std::string& context) {
  // A read waits only for a writer that is committing or holds the file for
  // itself: past the wait, the records are held by that station.
  if ((sqlite_code & 0xFF) == SQLITE_BUSY) {
    return Fail(kErrRecordHeld, context + ": the file is locked by another station", sqlite_code);
  }
  return FailSqlite(sqlite_code, context);
}

bool RecordFile::Notify(RecordOperation operation) {
  return !observer_ || observer_->BeforeOperation(operation, record_);
}

int RecordFile::Finish(RecordOperation operation, int result) {
  if (observer_) observer_->AfterOperation(operation, record_, result);
  return result;
}

int RecordFile::ReadDeclaration(const std::string& path, RecordDeclaration* declaration) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) {
    SetRuntimeError(kErrFileNotFound, path);
    return kErrFileNotFound;
  }
  SqliteConnection connection;
  int result = connection.Open(path, SQLITE_OPEN_READONLY);
  if (result == SQLITE_OK) {
    sqlite3_busy_timeout(connection.Handle(), 5000);
    result = LoadDeclaration(connection, declaration);
  } else {
    result = kErrDriverError;
  }
  if (result != 0) {
    SetRuntimeError(kErrDriverError, path, "0", "not a record file");
    return kErrDriverError;
  }
  ClearRuntimeError();
  return 0;
}

int RecordFile::Create() {
  const std::string problem = declaration_.Problem();
  if (!problem.empty()) return Fail(kErrCreationFailed, "bad declaration: " + problem);
  const std::string path = Path();
  struct stat status;
  if (::stat(path.c_str(), &status) == 0) {
    RecordDeclaration stored;
    if (ReadDeclaration(path, &stored) == 0 && SameRecordLayout(stored, declaration_) &&
        SameKeys(stored, declaration_)) {
      return Succeed();
    }
    return Fail(kErrAccessDenied, "another file of this name is in the way");
  }
  if (!DirectoryExists(path)) return Fail(kErrPathNotFound, "no such directory");

  // Built under a temporary name and renamed into place without replacing
  // anything, so that no one ever opens a half-made file.
  const std::string temporary = path + ".new-" + std::to_string(::getpid()) + "-" +
                                std::to_string(reinterpret_cast<std::uintptr_t>(this));
  {
    SqliteConnection connection;
    int result = connection.Open(temporary, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (result == SQLITE_OK) {
      result = connection.Execute("BEGIN;" + SchemaSql(declaration_) +
                                  RecordsTableSql(declaration_, "records") +
                                  IndexesSql(declaration_) + "COMMIT;");
    }
    if (result != SQLITE_OK) {
      const std::string message = connection.IsOpen() ? connection.ErrorMessage() : sqlite3_errstr(result);
      connection.Close();
      ::unlink(temporary.c_str());
      ::unlink((temporary + "-journal").c_str());
      return Fail(kErrCreationFailed, message, result);
    }
  }
  if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    if (error == EEXIST) {
      RecordDeclaration stored;
      if (ReadDeclaration(path, &stored) == 0 && SameRecordLayout(stored, declaration_) &&
          SameKeys(stored, declaration_)) {
        return Succeed();
      }
      return Fail(kErrAccessDenied, "another file of this name is in the way");
    }
    return Fail(kErrCreationFailed, std::strerror(error), error);
  }
  return Succeed();
}

int RecordFile::Open(int mode) {
  if (IsOpen()) return Fail(kErrFileAlreadyOpen, "already open");
  if (!Notify(RecordOperation::kOpen)) return Fail(kErrDriverError, "Operation stopped");
  const std::string path = Path();
  if (const int fault = RecordFaults::OpenFault(path); fault != 0) {
    return Finish(RecordOperation::kOpen, Fail(fault, "injected fault"));
  }
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) {
    return Finish(RecordOperation::kOpen, DirectoryExists(path)
                                              ? Fail(kErrFileNotFound, "no such file")
                                              : Fail(kErrPathNotFound, "no such directory"));
  }
  if (!S_ISREG(status.st_mode)) return Finish(RecordOperation::kOpen, Fail(kErrDriverError, "not a file"));
  if (share_lock_.Acquire(path, mode) != 0) {
    return Finish(RecordOperation::kOpen,
                  Fail(kErrAccessDenied, "another station's share mode refuses this open"));
  }
  const bool read_only = (mode & 0x03) == kAccessRead;
  SqliteConnection& connection = impl_->connection;
  const int flags = (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
  int result = connection.Open(path, flags);
  int code = 0;
  std::string message;
  if (result != SQLITE_OK) {
    code = kErrDriverError;
    message = sqlite3_errstr(result);
  } else if (!read_only && sqlite3_db_readonly(connection.Handle(), "main") == 1) {
    // SQLite falls back to reading a file it may not write; the caller
    // asked to write, so it must hear that it cannot, as the runtime says.
    code = kErrAccessDenied;
    message = "the file is write-protected";
  } else {
    connection.SetBusyWait(recover_seconds_ * 1000);
    RecordDeclaration stored;
    if (LoadDeclaration(connection, &stored) != 0) {
      code = kErrDriverError;
      message = "not a record file";
    } else if (!SameRecordLayout(stored, declaration_)) {
      code = kErrDeclarationMismatch;
      message = "the stored record layout differs from the declared one";
    } else if (!keys_as_they_are_ && (!SameKeys(stored, declaration_) || !IndexesIntact(connection, declaration_))) {
      code = kErrKeyFileInvalid;
      message = "the stored keys differ from the declared ones or an index is damaged";
    } else if (connection.Execute(kCacheSizePragma) != SQLITE_OK ||
               (!read_only && connection.Execute("PRAGMA journal_mode = DELETE;") != SQLITE_OK)) {
      code = RuntimeCodeOf(connection.ErrorCode());
      message = connection.ErrorMessage();
    }
  }
  if (code != 0) {
    const int driver_code = connection.IsOpen() ? connection.ErrorCode() : result;
    connection.Close();
    share_lock_.Release();
    return Finish(RecordOperation::kOpen, Fail(code, message, driver_code));
  }
  sqlite3_create_function(connection.Handle(), "qm_key", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                          &declaration_, KeyFunction, nullptr, nullptr);
  open_mode_ = mode;
  impl_->cursor = Cursor{};
  impl_->current = Row{};
  impl_->pending_add = false;
  impl_->ahead.clear();
  streaming_ = false;
  stream_writes_ = 0;
  in_transaction_ = false;
  return Finish(RecordOperation::kOpen, Succeed());
}

int RecordFile::Close() {
  if (!IsOpen()) return 0;
  Notify(RecordOperation::kClose);
  int result = 0;
  if (streaming_) result = Flush();
  // A file closed inside a transaction over several files leaves its writes
  // to that transaction, which keeps or undoes them with the others.
  if (in_transaction_) {
    if (impl_->shared) LeaveSharedTransaction();
    else impl_->connection.Execute("ROLLBACK;");
    in_transaction_ = false;
  }
  if (transaction_) transaction_->Forget(this);
  transaction_ = nullptr;
  ReleaseHolds();
  impl_->DropStatements();
  impl_->connection.Close();
  impl_->ahead.clear();
  impl_->states.clear();
  impl_->current = Row{};
  share_lock_.Release();
  if (result == 0) Succeed();
  return Finish(RecordOperation::kClose, result);
}

int RecordFile::Send(const std::string& command) {
  const std::size_t equals = command.find('=');
  const std::string name = command.substr(0, equals);
  std::string value = equals == std::string::npos ? "" : command.substr(equals + 1);
  if (SameName(name, "Recover")) {
    char* end = nullptr;
    const long seconds = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || seconds < 0 || seconds > 3600) {
      return Fail(kErrNotSupported, "Recover needs a number of seconds");
    }
    recover_seconds_ = static_cast<int>(seconds);
    if (IsOpen()) impl_->connection.SetBusyWait(recover_seconds_ * 1000);
    return Succeed();
  }
  if (SameName(name, "QUICKSCAN") && (SameName(value, "on") || SameName(value, "off"))) {
    quick_scan_ = SameName(value, "on");
    ForgetReadAhead();
    return Succeed();
  }
  return Fail(kErrNotSupported, "unknown driver command " + command);
}

void RecordFile::ForgetReadAhead() { impl_->ahead.clear(); }

int RecordFile::Set(int key_number) {
  if (!IsOpen()) return Fail(kErrNoRecord, "file not open");
  if (key_number < 0 || key_number > KeyCount()) return Fail(kErrNotSupported, "no such key");
  impl_->cursor = Cursor{};
  impl_->cursor.key_number = key_number;
  ForgetReadAhead();
  return Succeed();
}

int RecordFile::SetKeyValue(int key_number) {
  if (!IsOpen()) return Fail(kErrNoRecord, "file not open");
  if (key_number < 1 || key_number > KeyCount()) return Fail(kErrNotSupported, "no such key");
  const std::string value = RecordKeyCodec::Encode(
      declaration_, declaration_.keys[static_cast<std::size_t>(key_number - 1)], record_.data());
  Cursor& cursor = impl_->cursor;
  cursor = Cursor{};
  cursor.key_number = key_number;
  cursor.forward = Bound{false, value, 0};
  cursor.backward = Bound{false, value, kAfterEveryId};
  ForgetReadAhead();
  return Succeed();
}

void RecordFile::TakeRow(std::int64_t id, std::int64_t version, std::string_view data,
                         std::string key_value) {
  Row& current = impl_->current;
  current.id = id;
  current.version = version;
  current.data.assign(data);
  current.key_value = std::move(key_value);
  std::memset(record_.data(), 0, record_.size());
  std::memcpy(record_.data(), data.data(), std::min(data.size(), record_.size()));
  impl_->pending_add = false;
}

// Reads the next batch in one direction into the read-ahead list.
int RecordFile::Fill(bool forward) {
  Impl& impl = *impl_;
  const Cursor& cursor = impl.cursor;
  const Bound& bound = forward ? cursor.forward : cursor.backward;
  const int wanted = read_ahead_ > 0 ? read_ahead_ : (quick_scan_ ? kQuickScanReadAhead : 1);
  impl.ahead.clear();
  impl.ahead_forward = forward;

  auto run = [&](int kind) -> int {
    SqliteStatement& statement = impl.Scan(cursor.key_number, kind);
    if (!statement.Ok()) return statement.PrepareResult();
    statement.Bind(1, std::string_view(bound.key_value));
    statement.Bind(2, bound.id);
    statement.Bind(3, static_cast<std::int64_t>(wanted - static_cast<int>(impl.ahead.size())));
    int step;
    while ((step = statement.Step()) == SQLITE_ROW) {
      impl.ahead.Push(statement.Integer(0), statement.Integer(1), statement.BlobView(2),
                      cursor.key_number == 0 ? std::string_view() : statement.BlobView(3));
    }
    statement.Reset();
    return step == SQLITE_DONE ? SQLITE_OK : step;
  };

  int result;
  if (bound.open) {
    result = run(forward ? kForwardFromStart : kBackwardFromEnd);
  } else if (cursor.key_number == 0) {
    result = run(forward ? kForwardAfter : kBackwardBefore);
  } else {
    result = run(forward ? kForwardSameKey : kBackwardSameKey);
    if (result == SQLITE_OK && static_cast<int>(impl.ahead.size()) < wanted) {
      result = run(forward ? kForwardAfter : kBackwardBefore);
    }
  }
  if (result != SQLITE_OK) {
    impl.ahead.clear();
    return FailRead(result, "reading the file");
  }
  return 0;
}

int RecordFile::Step(bool forward) {
  const RecordOperation operation = forward ? RecordOperation::kNext : RecordOperation::kPrevious;
  if (!IsOpen()) return Fail(kErrNoRecord, "file not open");
  if (!Notify(operation)) return Fail(kErrDriverError, "Operation stopped");
  Impl& impl = *impl_;
  if (impl.ahead.empty() || impl.ahead_forward != forward) {
    if (const int failed = Fill(forward); failed != 0) return Finish(operation, failed);
  }
  if (impl.ahead.empty()) {
    // Past the end the other way round reads from the end: Previous after
    // the last Next gives the last record.
    (forward ? impl.cursor.backward : impl.cursor.forward) = Bound{};
    return Finish(operation, Fail(kErrNoRecord, "no more records"));
  }
  Row& row = impl.ahead.Front();
  impl.cursor.forward.open = false;
  impl.cursor.forward.key_value.assign(row.key_value);
  impl.cursor.forward.id = row.id;
  impl.cursor.backward = impl.cursor.forward;
  TakeRow(row.id, row.version, row.data, row.key_value);
  impl.ahead.PopFront();
  return Finish(operation, Succeed());
}

int RecordFile::Next() { return Step(true); }

int RecordFile::Previous() { return Step(false); }

int RecordFile::Get(int key_number) {
  if (!IsOpen()) return Fail(kErrNoRecord, "file not open");
  if (key_number < 1 || key_number > KeyCount()) return Fail(kErrNotSupported, "no such key");
  if (!Notify(RecordOperation::kGet)) return Fail(kErrDriverError, "Operation stopped");
  Impl& impl = *impl_;
  if (impl.by_key.empty()) impl.by_key.resize(static_cast<std::size_t>(KeyCount()));
  SqliteStatement& statement = impl.by_key[static_cast<std::size_t>(key_number - 1)];
  if (!statement.Ok()) {
    statement = SqliteStatement(impl.Db(),
                                "SELECT id, version, data FROM " + impl.table + " WHERE " +
                                    KeyColumn(key_number) + " = ?1 ORDER BY id LIMIT 1");
    if (!statement.Ok()) return Finish(RecordOperation::kGet, FailSqlite(statement.PrepareResult(), "reading"));
  }
  const std::string value = RecordKeyCodec::Encode(
      declaration_, declaration_.keys[static_cast<std::size_t>(key_number - 1)], record_.data());
  statement.Bind(1, std::string_view(value));
  return Finish(RecordOperation::kGet, ReadOne(statement, kErrBadRecord, "no record with this key value"));
}

int RecordFile::ReadOne(SqliteStatement& statement, int missing_code, const char* missing_message) {
  const int step = statement.Step();
  int result;
  if (step == SQLITE_ROW) {
    TakeRow(statement.Integer(0), statement.Integer(1), statement.BlobView(2), std::string());
    result = Succeed();
  } else if (step == SQLITE_DONE) {
    result = Fail(missing_code, missing_message);
  } else {
    result = FailRead(step, "reading");
  }
  statement.Reset();
  return result;
}

int RecordFile::HighestTextNumber(int key_number) {
  if (!IsOpen()) return Fail(kErrNoRecord, "file not open");
  if (key_number < 1 || key_number > KeyCount()) return Fail(kErrNotSupported, "no such key");
  if (!Notify(RecordOperation::kGet)) return Fail(kErrDriverError, "Operation stopped");
  Impl& impl = *impl_;
  const std::string column = KeyColumn(key_number);
  // The index alone finds the row; only that one record is read.
  SqliteStatement statement(impl.Db(), "SELECT id, version, data FROM " + impl.table + " WHERE id = (SELECT id FROM " +
                                           impl.table + " WHERE " + column + " >= ?1 AND " + column +
                                           " < ?2 ORDER BY length(" + column + ") DESC, " + column +
                                           " DESC LIMIT 1)");
  if (!statement.Ok()) return Finish(RecordOperation::kGet, FailSqlite(statement.PrepareResult(), "reading"));
  std::string low;
  std::string high;
  RecordKeyCodec::DigitLedRange(declaration_, declaration_.keys[static_cast<std::size_t>(key_number - 1)],
                                record_.data(), &low, &high);
  statement.Bind(1, std::string_view(low));
  statement.Bind(2, std::string_view(high));
  return Finish(RecordOperation::kGet, ReadOne(statement, kErrNoRecord, "no numbered record"));
}

std::string RecordFile::Position(int key_number) const {
  const Row& current = impl_->current;
  if (current.id == 0 || key_number < 0 || key_number > KeyCount()) return {};
  if (key_number == 0) return IdBytes(current.id);
  std::vector<std::uint8_t> stored(record_.size(), 0);
  std::memcpy(stored.data(), current.data.data(), std::min(current.data.size(), stored.size()));
  return RecordKeyCodec::Encode(declaration_,
                                declaration_.keys[static_cast<std::size_t>(key_number - 1)],
                                stored.data()) +
         IdBytes(current.id);
}

int RecordFile::Reget(const std::string& position) {
  if (!IsOpen()) return Fail(kErrNoRecord, "file not open");
  if (position.size() < 8) return Fail(kErrBadRecord, "not a position");
  if (!Notify(RecordOperation::kReget)) return Fail(kErrDriverError, "Operation stopped");
  Impl& impl = *impl_;
  if (!impl.by_id.Ok()) {
    impl.by_id = SqliteStatement(impl.Db(), "SELECT id, version, data FROM " + impl.table + " WHERE id = ?1");
    if (!impl.by_id.Ok()) return Finish(RecordOperation::kReget, FailSqlite(impl.by_id.PrepareResult(), "reading"));
  }
  impl.by_id.Bind(1, IdFromBytes(std::string_view(position).substr(position.size() - 8)));
  return Finish(RecordOperation::kReget, ReadOne(impl.by_id, kErrBadRecord, "the record is gone"));
}

int RecordFile::Reset(int key_number, const std::string& position) {
  if (!IsOpen()) return Fail(kErrNoRecord, "file not open");
  if (key_number < 0 || key_number > KeyCount()) return Fail(kErrNotSupported, "no such key");
  if (position.size() < 8 || (key_number == 0 && position.size() != 8)) {
    return Fail(kErrBadRecord, "not a position of this order");
  }
  const std::int64_t id = IdFromBytes(std::string_view(position).substr(position.size() - 8));
  const std::string value = key_number == 0 ? std::string() : position.substr(0, position.size() - 8);
  Cursor& cursor = impl_->cursor;
  cursor = Cursor{};
  cursor.key_number = key_number;
  cursor.forward = Bound{false, value, id - 1};
  cursor.backward = Bound{false, value, id + 1};
  ForgetReadAhead();
  return Succeed();
}

int RecordFile::CheckWritable() {
  if (!IsOpen()) return Fail(kErrAccessDenied, "file not open");
  if ((open_mode_ & 0x03) == kAccessRead) return Fail(kErrAccessDenied, "file opened read-only");
  return 0;
}

// Starts the stream's batch when one is due.
int RecordFile::WriteBegin() {
  if (streaming_ && !in_transaction_ && stream_writes_ == 0 &&
      sqlite3_get_autocommit(impl_->connection.Handle())) {
    const int result = impl_->connection.Execute("BEGIN IMMEDIATE;");
    if (result != SQLITE_OK) return FailSqlite(result, "starting a stream batch");
  }
  return 0;
}

// Commits the stream's batch when it is full.
int RecordFile::WriteEnd(int result) {
  if (streaming_ && !in_transaction_ && result == 0 && ++stream_writes_ >= kStreamBatch) {
    stream_writes_ = 0;
    const int commit = impl_->connection.Execute("COMMIT;");
    if (commit != SQLITE_OK) return FailSqlite(commit, "committing a stream batch");
  }
  return result;
}

int RecordFile::Add() {
  if (const int refused = CheckWritable(); refused != 0) return refused;
  if (!Notify(RecordOperation::kAdd)) return Fail(kErrDriverError, "Operation stopped");
  if (const int failed = WriteBegin(); failed != 0) return Finish(RecordOperation::kAdd, failed);
  Impl& impl = *impl_;
  ForgetReadAhead();
  if (!impl.insert.Ok()) {
    std::string sql = "INSERT INTO " + impl.table + "(version, data";
    std::string values = ") VALUES(1, ?1";
    for (int key = 1; key <= KeyCount(); ++key) {
      sql += ", " + KeyColumn(key);
      values += ", ?" + std::to_string(key + 1);
    }
    impl.insert = SqliteStatement(impl.Db(), sql + values + ")");
    if (!impl.insert.Ok()) return Finish(RecordOperation::kAdd, FailSqlite(impl.insert.PrepareResult(), "adding"));
  }
  const std::string_view data(reinterpret_cast<const char*>(record_.data()), record_.size());
  impl.insert.Bind(1, data);
  for (int key = 1; key <= KeyCount(); ++key) {
    impl.insert.Bind(key + 1, std::string_view(RecordKeyCodec::Encode(
                                  declaration_, declaration_.keys[static_cast<std::size_t>(key - 1)],
                                  record_.data())));
  }
  const int step = impl.insert.Step();
  impl.insert.Reset();
  int result;
  if (step == SQLITE_DONE) {
    const std::int64_t id = sqlite3_last_insert_rowid(impl.Db());
    Row& current = impl.current;
    current.id = id;
    current.version = 1;
    current.data.assign(data);
    current.key_value.clear();
    impl.pending_add = false;
    result = Succeed();
  } else {
    result = step == SQLITE_CONSTRAINT_UNIQUE ? Fail(kErrDuplicateKey, "a unique key is duplicated", step)
                                              : FailSqlite(step, "adding");
    impl.pending_add = true;
  }
  return Finish(RecordOperation::kAdd, WriteEnd(result));
}

int RecordFile::Put() {
  if (const int refused = CheckWritable(); refused != 0) return refused;
  Impl& impl = *impl_;
  if (impl.current.id == 0) return Fail(kErrNoRecord, "no current record");
  if (share_lock_.HeldElsewhere(impl.current.id)) return Fail(kErrRecordHeld, "held by another station");
  if (!Notify(RecordOperation::kPut)) return Fail(kErrDriverError, "Operation stopped");
  if (const int failed = WriteBegin(); failed != 0) return Finish(RecordOperation::kPut, failed);
  ForgetReadAhead();
  if (!impl.update.Ok()) {
    std::string sql = "UPDATE " + impl.table + " SET version = version + 1, data = ?1";
    for (int key = 1; key <= KeyCount(); ++key) {
      sql += ", " + KeyColumn(key) + " = ?" + std::to_string(key + 3);
    }
    impl.update = SqliteStatement(impl.Db(), sql + " WHERE id = ?2 AND version = ?3");
    if (!impl.update.Ok()) return Finish(RecordOperation::kPut, FailSqlite(impl.update.PrepareResult(), "writing"));
  }
  const std::string_view data(reinterpret_cast<const char*>(record_.data()), record_.size());
  impl.update.Bind(1, data);
  impl.update.Bind(2, impl.current.id);
  impl.update.Bind(3, impl.current.version);
  for (int key = 1; key <= KeyCount(); ++key) {
    impl.update.Bind(key + 3, std::string_view(RecordKeyCodec::Encode(
                                  declaration_, declaration_.keys[static_cast<std::size_t>(key - 1)],
                                  record_.data())));
  }
  const int step = impl.update.Step();
  impl.update.Reset();
  impl.pending_add = false;
  int result;
  if (step == SQLITE_DONE) {
    if (sqlite3_changes(impl.Db()) == 0) {
      result = Fail(kErrRecordChanged, "changed or deleted by another station since it was read");
    } else {
      ++impl.current.version;
      impl.current.data.assign(data);
      result = Succeed();
    }
  } else {
    result = step == SQLITE_CONSTRAINT_UNIQUE ? Fail(kErrDuplicateKey, "a unique key is duplicated", step)
                                              : FailSqlite(step, "writing");
  }
  return Finish(RecordOperation::kPut, WriteEnd(result));
}

int RecordFile::Delete() {
  if (const int refused = CheckWritable(); refused != 0) return refused;
  Impl& impl = *impl_;
  if (impl.current.id == 0) return Fail(kErrNoRecord, "no current record");
  if (share_lock_.HeldElsewhere(impl.current.id)) return Fail(kErrRecordHeld, "held by another station");
  if (!Notify(RecordOperation::kDelete)) return Fail(kErrDriverError, "Operation stopped");
  if (const int failed = WriteBegin(); failed != 0) return Finish(RecordOperation::kDelete, failed);
  ForgetReadAhead();
  if (!impl.remove.Ok()) {
    impl.remove = SqliteStatement(impl.Db(), "DELETE FROM " + impl.table + " WHERE id = ?1");
    if (!impl.remove.Ok()) return Finish(RecordOperation::kDelete, FailSqlite(impl.remove.PrepareResult(), "deleting"));
  }
  impl.remove.Bind(1, impl.current.id);
  const int step = impl.remove.Step();
  impl.remove.Reset();
  int result;
  if (step != SQLITE_DONE) {
    result = FailSqlite(step, "deleting");
  } else if (sqlite3_changes(impl.Db()) == 0) {
    result = Fail(kErrRecordChanged, "deleted by another station");
  } else {
    impl.holds.erase(impl.current.id);
    share_lock_.Unhold(impl.current.id);
    impl.current = Row{};
    result = Succeed();
  }
  return Finish(RecordOperation::kDelete, WriteEnd(result));
}

bool RecordFile::Duplicate(int key_number) {
  if (!IsOpen() || key_number < 1 || key_number > KeyCount()) return false;
  const KeyDeclaration& key = declaration_.keys[static_cast<std::size_t>(key_number - 1)];
  if (!key.unique) return false;
  Impl& impl = *impl_;
  if (impl.duplicate.empty()) impl.duplicate.resize(static_cast<std::size_t>(KeyCount()));
  SqliteStatement& statement = impl.duplicate[static_cast<std::size_t>(key_number - 1)];
  if (!statement.Ok()) {
    statement = SqliteStatement(impl.Db(),
                                "SELECT 1 FROM " + impl.table + " WHERE " + KeyColumn(key_number) +
                                    " = ?1 AND id <> ?2 LIMIT 1");
    if (!statement.Ok()) return false;
  }
  const std::string value = RecordKeyCodec::Encode(declaration_, key, record_.data());
  statement.Bind(1, std::string_view(value));
  // A buffer that failed to be added is not in the file: every record counts.
  statement.Bind(2, impl.pending_add ? std::int64_t{0} : impl.current.id);
  const bool found = statement.Step() == SQLITE_ROW;
  statement.Reset();
  return found;
}

std::vector<int> RecordFile::DuplicatedKeys() {
  std::vector<int> keys;
  for (int key = 1; key <= KeyCount(); ++key) {
    if (Duplicate(key)) keys.push_back(key);
  }
  return keys;
}

int RecordFile::Hold() {
  if (!IsOpen() || impl_->current.id == 0) return Fail(kErrNoRecord, "no current record");
  if (share_lock_.Hold(impl_->current.id) != 0) return Fail(kErrRecordHeld, "held by another station");
  impl_->holds.insert(impl_->current.id);
  return Succeed();
}

void RecordFile::ReleaseHolds() {
  for (std::int64_t id : impl_->holds) share_lock_.Unhold(id);
  impl_->holds.clear();
}

int RecordFile::Build() {
  if (!Notify(RecordOperation::kBuild)) return Fail(kErrDriverError, "Operation stopped");
  const bool was_open = IsOpen();
  SqliteConnection own;
  RecordShareLock own_lock;
  SqliteConnection* connection = &impl_->connection;
  if (was_open) {
    if (const int refused = CheckWritable(); refused != 0) return Finish(RecordOperation::kBuild, refused);
    if (in_transaction_ || streaming_) return Finish(RecordOperation::kBuild, Fail(kErrAccessDenied, "inside a transaction"));
    impl_->DropStatements();
    ForgetReadAhead();
  } else {
    const std::string path = Path();
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) return Finish(RecordOperation::kBuild, Fail(kErrFileNotFound, "no such file"));
    if (own_lock.Acquire(path, kAccessReadWrite | kShareDenyAll) != 0) {
      return Finish(RecordOperation::kBuild, Fail(kErrAccessDenied, "the file is in use"));
    }
    if (own.Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX) != SQLITE_OK ||
        own.Execute(kCacheSizePragma) != SQLITE_OK) {
      return Finish(RecordOperation::kBuild, Fail(kErrDriverError, "cannot open the file"));
    }
    own.SetBusyWait(recover_seconds_ * 1000);
    sqlite3_create_function(own.Handle(), "qm_key", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                            &declaration_, KeyFunction, nullptr, nullptr);
    connection = &own;
  }
  RecordDeclaration stored;
  if (LoadDeclaration(*connection, &stored) != 0) {
    return Finish(RecordOperation::kBuild, Fail(kErrDriverError, "not a record file"));
  }
  if (!SameRecordLayout(stored, declaration_)) {
    return Finish(RecordOperation::kBuild,
                  Fail(kErrDeclarationMismatch, "the stored record layout differs from the declared one"));
  }
  // Existing indexes go first, whatever their names, so that no stale
  // entry and no transient duplicate stands in the way of the fresh key
  // values; then every record's key values are recomputed from its data.
  std::string sql = "BEGIN IMMEDIATE;";
  {
    SqliteStatement list(connection->Handle(),
                         "SELECT name FROM sqlite_schema WHERE type = 'index' AND tbl_name = 'records' "
                         "AND sql IS NOT NULL;");
    while (list.Ok() && list.Step() == SQLITE_ROW) sql += "DROP INDEX \"" + list.Text(0) + "\";";
  }
  if (HasDeclaredColumns(*connection, declaration_)) {
    // Only the records whose stored values differ are written: a file whose
    // keys are merely unindexed keeps every page of its table.
    std::string assign;
    std::string differs;
    for (int key = 1; key <= KeyCount(); ++key) {
      const std::string value = ComputedKey(key);
      assign += std::string(key == 1 ? "" : ", ") + KeyColumn(key) + " = " + value;
      differs += std::string(key == 1 ? "" : " OR ") + KeyColumn(key) + " IS NOT " + value;
    }
    if (KeyCount() > 0) sql += "UPDATE records SET " + assign + " WHERE " + differs + ";";
  } else {
    // Other key columns: the table is copied with the declared ones.
    std::string columns = "id, version, data";
    for (int key = 1; key <= KeyCount(); ++key) {
      columns += ", " + ComputedKey(key);
    }
    sql += "DROP TABLE IF EXISTS records_rebuilt;" + RecordsTableSql(declaration_, "records_rebuilt") +
           "INSERT INTO records_rebuilt SELECT " + columns + " FROM records;" +
           "DROP TABLE records; ALTER TABLE records_rebuilt RENAME TO records;";
  }
  sql += IndexesSql(declaration_) + "DELETE FROM keys;";
  for (std::size_t i = 0; i < declaration_.keys.size(); ++i) {
    const KeyDeclaration& key = declaration_.keys[i];
    sql += "INSERT INTO keys VALUES(" + std::to_string(i + 1) + "," + Quoted(key.name) + "," +
           Quoted(JoinComponents(key.components)) + "," + (key.unique ? "1" : "0") + "," +
           (key.no_case ? "1" : "0") + "," + (key.primary ? "1" : "0") + "," +
           (key.auto_number ? "1" : "0") + ");";
  }
  sql += "COMMIT;";
  const int result = connection->Execute(sql);
  if (result != SQLITE_OK) {
    const int driver_code = connection->ErrorCode();
    const std::string message = connection->ErrorMessage();
    connection->Execute("ROLLBACK;");
    const int code = (driver_code & 0xFF) == SQLITE_CONSTRAINT ? kErrDuplicateKey : RuntimeCodeOf(driver_code);
    return Finish(RecordOperation::kBuild, Fail(code, "building the keys: " + message, driver_code));
  }
  return Finish(RecordOperation::kBuild, Succeed());
}

int RecordFile::Stream() {
  if (const int refused = CheckWritable(); refused != 0) return refused;
  if (!in_transaction_ && !streaming_) {
    streaming_ = true;
    stream_writes_ = 0;
  }
  return Succeed();
}

int RecordFile::Flush() {
  if (!IsOpen()) return Fail(kErrAccessDenied, "file not open");
  if (!streaming_) return Succeed();
  streaming_ = false;
  stream_writes_ = 0;
  if (!in_transaction_ && !sqlite3_get_autocommit(impl_->connection.Handle())) {
    const int result = impl_->connection.Execute("COMMIT;");
    if (result != SQLITE_OK) {
      const int failed = FailSqlite(result, "committing the stream");
      impl_->connection.Execute("ROLLBACK;");
      return failed;
    }
  }
  return Succeed();
}

int RecordFile::GetState() {
  Impl& impl = *impl_;
  const int handle = impl.next_state++;
  impl.states[handle] = SavedState{impl.cursor, impl.current, impl.pending_add};
  return handle;
}

int RecordFile::RestoreState(int handle) {
  Impl& impl = *impl_;
  const auto found = impl.states.find(handle);
  if (found == impl.states.end()) return Fail(kErrNoRecord, "no such state");
  impl.cursor = found->second.cursor;
  impl.current = found->second.current;
  impl.pending_add = found->second.pending_add;
  ForgetReadAhead();
  return Succeed();
}

void RecordFile::FreeState(int handle) { impl_->states.erase(handle); }

std::int64_t RecordFile::Records() {
  if (!IsOpen()) return -1;
  SqliteStatement count(impl_->Db(), "SELECT count(*) FROM " + impl_->table + ";");
  if (!count.Ok() || count.Step() != SQLITE_ROW) {
    FailSqlite(sqlite3_extended_errcode(impl_->Db()), "counting");
    return -1;
  }
  Succeed();
  return count.Integer(0);
}

RecordFileCheck RecordFile::Check() {
  RecordFileCheck check;
  if (!IsOpen()) {
    check.problems.push_back("the file is not open");
    return check;
  }
  sqlite3* db = impl_->connection.Handle();
  SqliteStatement integrity(db, "PRAGMA integrity_check;");
  if (!integrity.Ok()) {
    check.problems.push_back("integrity check: " + impl_->connection.ErrorMessage());
    return check;
  }
  int step;
  while ((step = integrity.Step()) == SQLITE_ROW) {
    const std::string line = integrity.Text(0);
    if (line != "ok") check.problems.push_back("integrity check: " + line);
  }
  if (step != SQLITE_DONE) check.problems.push_back("integrity check: " + impl_->connection.ErrorMessage());
  // One pass over the table counts the records, their sizes and every
  // key's stored values that differ from their records.
  std::string sql = "SELECT count(*), coalesce(sum(length(data) <> ?1), 0)";
  for (int key = 1; key <= KeyCount(); ++key) {
    sql += ", coalesce(sum(" + KeyColumn(key) + " IS NOT " + ComputedKey(key) + "), 0)";
  }
  SqliteStatement pass(db, sql + " FROM records;");
  if (!pass.Ok()) {
    check.records = -1;
    check.problems.push_back("key values cannot be checked: " + impl_->connection.ErrorMessage());
    return check;
  }
  pass.Bind(1, static_cast<std::int64_t>(declaration_.record_size));
  if (pass.Step() != SQLITE_ROW) {
    check.records = -1;
    check.problems.push_back("reading the records: " + impl_->connection.ErrorMessage());
    return check;
  }
  check.records = pass.Integer(0);
  if (pass.Integer(1) != 0) {
    check.problems.push_back(std::to_string(pass.Integer(1)) + " records are not " +
                             std::to_string(declaration_.record_size) + " bytes long");
  }
  for (int key = 1; key <= KeyCount(); ++key) {
    if (const std::int64_t mismatched = pass.Integer(key + 1); mismatched != 0) {
      check.problems.push_back("key " + declaration_.keys[static_cast<std::size_t>(key - 1)].name + ": " +
                               std::to_string(mismatched) + " stored values do not match their records");
    }
  }
  return check;
}

int RecordFile::PrepareTransaction() {
  if (const int refused = CheckWritable(); refused != 0) return refused;
  if (in_transaction_) return Fail(kErrAccessDenied, "already in a transaction");
  if (streaming_) {
    if (const int failed = Flush(); failed != 0) return failed;
  }
  return 0;
}

int RecordFile::BeginTransaction(int timeout_seconds) {
  if (const int refused = PrepareTransaction(); refused != 0) return refused;
  impl_->connection.SetBusyWait(timeout_seconds * 1000);
  const int result = impl_->connection.Execute("BEGIN IMMEDIATE;");
  impl_->connection.SetBusyWait(recover_seconds_ * 1000);
  if (result != SQLITE_OK) return FailSqlite(result, "starting a transaction");
  in_transaction_ = true;
  ForgetReadAhead();
  return Succeed();
}

void RecordFile::JoinSharedTransaction(sqlite3* db, const std::string& schema) {
  impl_->DropStatements();
  impl_->shared = db;
  impl_->table = schema + ".records";
  in_transaction_ = true;
  ForgetReadAhead();
}

void RecordFile::LeaveSharedTransaction() {
  impl_->DropStatements();
  impl_->shared = nullptr;
  impl_->table = "records";
}

int RecordFile::CommitTransaction() {
  transaction_ = nullptr;
  if (!in_transaction_) return Succeed();
  if (impl_->shared) {
    LeaveSharedTransaction();
    in_transaction_ = false;
    return Succeed();
  }
  const int result = impl_->connection.Execute("COMMIT;");
  if (result != SQLITE_OK) return FailSqlite(result, "committing");
  in_transaction_ = false;
  return Succeed();
}

int RecordFile::RollbackTransaction() {
  transaction_ = nullptr;
  if (!in_transaction_) return Succeed();
  in_transaction_ = false;
  ForgetReadAhead();
  if (impl_->shared) {
    LeaveSharedTransaction();
  } else {
    const int result = impl_->connection.Execute("ROLLBACK;");
    if (result != SQLITE_OK && !sqlite3_get_autocommit(impl_->connection.Handle())) {
      return FailSqlite(result, "rolling back");
    }
  }
  // The current record's version must be the stored one again: a Put after
  // the rollback is a fresh change of that record, not a lost update. The
  // record buffer keeps what the caller had in it.
  Impl& impl = *impl_;
  if (impl.current.id != 0) {
    SqliteStatement version(impl.connection.Handle(), "SELECT version FROM records WHERE id = ?1");
    if (version.Ok()) {
      version.Bind(1, impl.current.id);
      if (version.Step() == SQLITE_ROW) impl.current.version = version.Integer(0);
    }
  }
  return Succeed();
}

}  // namespace qm::platform
