#include "platform/sqlite_connection.h"

#include <thread>
#include <utility>

namespace qm::platform {

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) {
  prepare_result_ = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                       SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
  if (prepare_result_ != SQLITE_OK) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)), prepare_result_(other.prepare_result_) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(statement_);
    statement_ = std::exchange(other.statement_, nullptr);
    prepare_result_ = other.prepare_result_;
  }
  return *this;
}

void SqliteStatement::Bind(int index, std::int64_t value) { sqlite3_bind_int64(statement_, index, value); }

void SqliteStatement::Bind(int index, std::string_view bytes) {
  // A null pointer would bind NULL, not an empty BLOB.
  if (bytes.empty()) {
    sqlite3_bind_zeroblob(statement_, index, 0);
  } else {
    sqlite3_bind_blob64(statement_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  }
}

void SqliteStatement::BindText(int index, std::string_view text) {
  sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

int SqliteStatement::Step() { return sqlite3_step(statement_); }

void SqliteStatement::Reset() { sqlite3_reset(statement_); }

std::int64_t SqliteStatement::Integer(int column) const { return sqlite3_column_int64(statement_, column); }

std::string_view SqliteStatement::BlobView(int column) const {
  const void* data = sqlite3_column_blob(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  if (!data || size <= 0) return {};
  return {static_cast<const char*>(data), static_cast<std::size_t>(size)};
}

std::string SqliteStatement::Blob(int column) const { return std::string(BlobView(column)); }

std::string SqliteStatement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_, column);
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

bool SqliteStatement::IsNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

SqliteConnection::~SqliteConnection() { Close(); }

int SqliteConnection::Open(const std::string& path, int flags) {
  Close();
  sqlite3* db = nullptr;
  const int result = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (result != SQLITE_OK) {
    sqlite3_close_v2(db);
    return result;
  }
  sqlite3_extended_result_codes(db, 1);
  db_ = db;
  return SQLITE_OK;
}

void SqliteConnection::Close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

int SqliteConnection::Execute(std::string_view sql) {
  const std::string text(sql);
  return sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr);
}

int SqliteConnection::WaitWhileBusy(void* context, int attempts) {
  auto* wait = static_cast<BusyWait*>(context);
  const auto now = std::chrono::steady_clock::now();
  if (attempts == 0) wait->started = now;
  if (now - wait->started >= std::chrono::milliseconds(wait->timeout_ms)) return 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 1;
}

void SqliteConnection::SetBusyWait(int timeout_ms) {
  busy_wait_.timeout_ms = timeout_ms;
  if (db_) sqlite3_busy_handler(db_, WaitWhileBusy, &busy_wait_);
}

int SqliteConnection::ErrorCode() const { return db_ ? sqlite3_extended_errcode(db_) : SQLITE_CANTOPEN; }

std::string SqliteConnection::ErrorMessage() const { return db_ ? sqlite3_errmsg(db_) : "not open"; }

}  // namespace qm::platform
