#include "platform/record_faults.h"

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

}  // namespace

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
