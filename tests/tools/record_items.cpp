#include "record_items.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/record_fields.h"
#include "platform/sqlite_connection.h"

namespace qm::qmzip::testing {

platform::RecordDeclaration ItemsDeclaration(const std::string& disk_name) {
  platform::RecordDeclaration declaration;
  declaration.label = "TdItems";
  declaration.disk_name = disk_name;
  declaration.prefix = "ITM";
  declaration.AddField("ITM:NUMBER", platform::FieldEncoding::kU32);
  declaration.AddField("ITM:NAME", platform::FieldEncoding::kText, 20);
  declaration.keys = {platform::KeyDeclaration{"ITM:NumberKey", {1}, true, false, true, false}};
  return declaration;
}

int AddItems(platform::RecordFile& file, int first, int last) {
  for (int number = first; number <= last; ++number) {
    file.Clear();
    if (!platform::SetFieldText(file.Declaration().fields[0], file.Record(), std::to_string(number))) return -1;
    if (!platform::SetFieldText(file.Declaration().fields[1], file.Record(), "item")) return -1;
    if (const int error = file.Add(); error != 0) return error;
  }
  return 0;
}

void MakeItems(const std::string& disk_name, int count) {
  platform::RecordFile file(ItemsDeclaration(disk_name));
  ASSERT_EQ(file.Create(), 0);
  ASSERT_EQ(file.Open(), 0);
  ASSERT_EQ(AddItems(file, 1, count), 0);
}

void WriteItemsElsewhere(const std::string& disk_name, int first, int last, bool crash) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    {
      platform::RecordFile writer(ItemsDeclaration(disk_name));
      if (writer.Open() != 0 || AddItems(writer, first, last) != 0) ::_exit(2);
    }
    if (!crash) ::_exit(0);
    platform::SqliteConnection db;
    if (db.Open(disk_name + ".dat", SQLITE_OPEN_READWRITE) != SQLITE_OK) ::_exit(3);
    const char* torn =
        "PRAGMA cache_size = 10; BEGIN; DELETE FROM records;"
        "CREATE TABLE filler(x);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)"
        " INSERT INTO filler SELECT randomblob(1000) FROM n;";
    if (db.Execute(torn) != SQLITE_OK) ::_exit(4);
    ::kill(::getpid(), SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  if (crash) {
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended with " << WEXITSTATUS(status) << " before its kill";
    ASSERT_TRUE(std::filesystem::exists(disk_name + ".dat-journal"));
  } else {
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
}

}  // namespace qm::qmzip::testing
