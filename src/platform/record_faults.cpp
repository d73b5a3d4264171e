#include "platform/record_faults.h"

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>

#include "platform/sqlite_connection.h"

namespace qm::platform {
namespace {

std::mutex faults_mutex;
std::map<std::string, int> open_faults;  // Protected by faults_mutex

std::string Normal(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::absolute(path, ignored).lexically_normal().string();
}

int Change(const std::string& path, const std::string& sql) {
  SqliteConnection connection;
  if (connection.Open(path, SQLITE_OPEN_READWRITE) != SQLITE_OK) return 90;
  return connection.Execute(sql) == SQLITE_OK ? 0 : 90;
}

// A VFS over the default one that dies at the chosen commit moment. Data
// files get a copy of their methods whose xSync kills after syncing.
sqlite3_vfs* real_vfs = nullptr;
sqlite3_vfs killing_vfs;
RecordFaults::CommitMoment kill_moment;
std::map<const sqlite3_io_methods*, sqlite3_io_methods> killing_methods;  // by the real ones
std::map<const sqlite3_io_methods*, const sqlite3_io_methods*> real_methods;  // by the killing ones

int KillingSync(sqlite3_file* file, int flags) {
  const int result = real_methods.at(file->pMethods)->xSync(file, flags);
  ::kill(::getpid(), SIGKILL);
  return result;
}

int KillingOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  const int result = real_vfs->xOpen(real_vfs, name, file, flags, out_flags);
  if (result == SQLITE_OK && file->pMethods && (flags & SQLITE_OPEN_MAIN_DB) &&
      kill_moment == RecordFaults::CommitMoment::kAfterFirstDataFileSync) {
    const sqlite3_io_methods* real = file->pMethods;
    auto [entry, added] = killing_methods.try_emplace(real, *real);
    if (added) {
      entry->second.xSync = KillingSync;
      real_methods[&entry->second] = real;
    }
    file->pMethods = &entry->second;
  }
  return result;
}

int KillingDelete(sqlite3_vfs*, const char* name, int sync_directory) {
  const int result = real_vfs->xDelete(real_vfs, name, sync_directory);
  const std::string_view deleted(name);
  if (kill_moment == RecordFaults::CommitMoment::kAfterFirstJournalDelete &&
      (deleted.ends_with("-journal") || deleted.find("-mj") != std::string_view::npos)) {
    ::kill(::getpid(), SIGKILL);
  }
  return result;
}

}  // namespace

void RecordFaults::KillAt(CommitMoment moment) {
  kill_moment = moment;
  if (real_vfs) return;
  real_vfs = sqlite3_vfs_find(nullptr);
  killing_vfs = *real_vfs;
  killing_vfs.zName = "qm-killing";
  killing_vfs.pNext = nullptr;
  killing_vfs.xOpen = KillingOpen;
  killing_vfs.xDelete = KillingDelete;
  sqlite3_vfs_register(&killing_vfs, 1);
}

void RecordFaults::FailOpens(const std::string& path, int code) {
  std::lock_guard lock(faults_mutex);
  open_faults[Normal(path)] = code;
}

void RecordFaults::ClearOpenFaults() {
  std::lock_guard lock(faults_mutex);
  open_faults.clear();
}

int RecordFaults::OpenFault(const std::string& path) {
  std::lock_guard lock(faults_mutex);
  if (open_faults.empty()) return 0;
  const auto found = open_faults.find(Normal(path));
  return found == open_faults.end() ? 0 : found->second;
}

int RecordFaults::DropIndex(const std::string& path, int key_number) {
  return Change(path, "DROP INDEX key_" + std::to_string(key_number) + ";");
}

int RecordFaults::ScrambleKeyValues(const std::string& path, int key_number) {
  const std::string column = "key_" + std::to_string(key_number);
  return Change(path, "UPDATE records SET " + column + " = randomblob(4) || " + column + ";");
}

}  // namespace qm::platform
