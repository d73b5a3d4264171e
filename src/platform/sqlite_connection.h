// Thin RAII owners of a SQLite connection and its prepared statements, for
// the record file driver. Only platform sources include this header.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::platform {

class SqliteStatement {
 public:
  SqliteStatement() = default;
  SqliteStatement(sqlite3* db, std::string_view sql);  // check Ok() afterwards
  ~SqliteStatement();
  SqliteStatement(SqliteStatement&& other) noexcept;
  SqliteStatement& operator=(SqliteStatement&& other) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  bool Ok() const { return statement_ != nullptr; }
  int PrepareResult() const { return prepare_result_; }

  // Binding is 1-based as in SQLite; blobs and texts are copied.
  void Bind(int index, std::int64_t value);
  void Bind(int index, std::string_view bytes);  // as a BLOB
  void BindText(int index, std::string_view text);

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  // Ready to run again; bindings are kept.
  void Reset();

  std::int64_t Integer(int column) const;
  std::string Blob(int column) const;
  std::string_view BlobView(int column) const;  // valid until the next Step
  std::string Text(int column) const;
  bool IsNull(int column) const;

 private:
  sqlite3_stmt* statement_ = nullptr;
  int prepare_result_ = SQLITE_OK;
};

class SqliteConnection {
 public:
  SqliteConnection() = default;
  ~SqliteConnection();
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  // sqlite3_open_v2 with `flags`; on failure the connection stays closed.
  int Open(const std::string& path, int flags);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  sqlite3* Handle() const { return db_; }

  // Runs one or more statements without results.
  int Execute(std::string_view sql);

  // How long a statement waits for another station's lock before it
  // answers SQLITE_BUSY. SQLite's own time-out sleeps longer and longer, so
  // a busy writer can starve behind others that keep taking the lock; short
  // regular sleeps keep the waiters fair. Call after Open.
  void SetBusyWait(int timeout_ms);

  int ErrorCode() const;  // extended code of the last failure
  std::string ErrorMessage() const;

 private:
  struct BusyWait {
    int timeout_ms = 0;
    std::chrono::steady_clock::time_point started;
  };
  static int WaitWhileBusy(void* context, int attempts);

  sqlite3* db_ = nullptr;
  BusyWait busy_wait_;
};

}  // namespace qm::platform
