// The record file driver against raw SQLite doing the same work on the same
// schema, over the jobs file (TdV30: 371 bytes, seven keys, the job number
// numbered automatically): a stream-mode insert that numbers every record
// from the highest number in the file, a full scan with Next along the
// vehicle key (vehicle, date), a Fetch of every record by job number in
// random order, and an update of every record in stream mode. Prints records
// per second for both and the ratio driver/raw, and the scan's resident
// memory early and at the end, which stay level when a scan's memory does not
// grow with the file.
//
//   record_file_bench [records] [directory]   (200000, a fresh temporary one)
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "platform/record_declaration.h"
#include "platform/record_fields.h"
#include "platform/record_file.h"
#include "platform/record_key_codec.h"

namespace {

using qm::platform::FieldEncoding;
using qm::platform::KeyDeclaration;
using qm::platform::RecordDeclaration;
using qm::platform::RecordFile;
using qm::platform::RecordKeyCodec;

RecordDeclaration JobsDeclaration(const std::string& disk_name) {
  RecordDeclaration declaration;
  declaration.label = "TdV30";
  declaration.disk_name = disk_name;
  declaration.prefix = "V30";
  declaration.AddField("V30:JOBNUMBER", FieldEncoding::kU32);
  declaration.AddField("V30:JOBDATE", FieldEncoding::kI32);
  declaration.AddField("V30:JOBDESCRIPTION", FieldEncoding::kText, 40);
  declaration.AddField("V30:WORKSHOPJOB", FieldEncoding::kU8);
  declaration.AddField("V30:JOBCOST", FieldEncoding::kF64);
  declaration.AddField("V30:JOBMETER", FieldEncoding::kDecimal, 0, 11, 3);
  declaration.AddField("V30:JOBUNITS", FieldEncoding::kF32);
  declaration.AddField("V30:JOBANALYSIS", FieldEncoding::kF64);
  declaration.AddField("V30:VEHNUMBER", FieldEncoding::kText, 6);
  declaration.AddField("V30:ALLOCNUMBER", FieldEncoding::kU16);
  declaration.AddField("V30:ACCNUMBER", FieldEncoding::kU16);
  declaration.AddField("V30:ANALNUMBER", FieldEncoding::kU16);
  declaration.AddField("V30:ITEMCODE", FieldEncoding::kText, 10);
  declaration.AddField("V30:RUNNINGBALANCE", FieldEncoding::kF64);
  declaration.AddField("V30:RECORDSTATUS", FieldEncoding::kU16);
  declaration.AddField("V30:TRANFERFROMNUMBER", FieldEncoding::kU32);
  declaration.AddField("V30:TRANSFERTONUMBER", FieldEncoding::kU32);
  declaration.AddField("V30:WORKDONEDESCRIPTION", FieldEncoding::kCString, 256);
  auto key = [&](const char* name, std::vector<int> components, bool primary) {
    KeyDeclaration declared;
    declared.name = name;
    declared.components = std::move(components);
    declared.unique = primary;
    declared.no_case = true;
    declared.primary = primary;
    declared.auto_number = primary;
    declaration.keys.push_back(std::move(declared));
  };
  key("V30:JobNumberKey", {1}, true);
  key("V30:VehNumberKey", {9, 2}, false);
  key("V30:AllocNumberKey", {10, 2}, false);
  key("V30:AccNumberKey", {11, 2}, false);
  key("V30:VehAccDateKey", {9, 11, 2}, false);
  key("V30:AnalNumberKey", {12, 2}, false);
  key("V30:ItemCodeKey", {13, 2}, false);
  return declaration;
}

constexpr int kJobNumberKey = 1;
constexpr int kVehicleKey = 2;

// Fills a job's fields but its number, from `random`: a few hundred
// vehicles, dates over ten years, descriptions from a small vocabulary.
void FillJob(const RecordDeclaration& declaration, std::mt19937& random, std::uint8_t* record) {
  static const char* const kWords[] = {"SERVICE", "REPAIR", "TYRES", "OIL CHANGE", "BRAKES",
                                       "HYDRAULICS", "INSPECTION", "WELDING", "CLUTCH", "FILTERS"};
  auto word = [&] { return std::string(kWords[random() % std::size(kWords)]); };
  auto set = [&](int field, const std::string& text) {
    qm::platform::SetFieldText(declaration.fields[static_cast<std::size_t>(field - 1)], record, text);
  };
  set(2, std::to_string(80000 + random() % 3650));
  set(3, word() + " " + word());
  set(4, std::to_string(random() % 2));
  set(5, std::to_string((random() % 100000) / 100.0));
  set(6, std::to_string((random() % 10000000) / 1000.0));
  set(7, std::to_string((random() % 80) / 4.0));
  set(9, "V" + std::to_string(1000 + random() % 400));
  set(10, std::to_string(random() % 60));
  set(11, std::to_string(random() % 200));
  set(12, std::to_string(random() % 30));
  set(13, "I" + std::to_string(random() % 5000));
  set(15, "1");
  set(18, word() + ", " + word() + " and " + word() + " on the " + word());
}

std::uint32_t JobNumber(const std::uint8_t* record) {
  std::uint32_t number;
  std::memcpy(&number, record, 4);
  return number;
}

void SetJobNumber(std::uint8_t* record, std::uint32_t number) { std::memcpy(record, &number, 4); }

long ResidentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "record_file_bench: %s\n", what.c_str());
  std::exit(1);
}

void Check(int code, const char* what) {
  if (code != 0) Fail(std::string(what) + " answered " + std::to_string(code));
}

// ---- the driver ------------------------------------------------------------------

struct DriverRun {
  double insert = 0, scan = 0, fetch = 0, update = 0;
  long scan_early_kb = 0, scan_end_kb = 0;
};

DriverRun RunDriver(const RecordDeclaration& declaration, int records, const std::vector<std::uint32_t>& order) {
  DriverRun run;
  RecordFile file(declaration);
  Check(file.Create(), "Create");
  Check(file.Open(), "Open");
  std::mt19937 random(30);
  run.insert = Seconds([&] {
    Check(file.Stream(), "Stream");
    for (int i = 0; i < records; ++i) {
      // Automatic numbering: one past the highest number in the file.
      file.Set(kJobNumberKey);
      const int last = file.Previous();
      const std::uint32_t number = last == 0 ? JobNumber(file.Record()) + 1 : 1;
      file.Clear();
      FillJob(declaration, random, file.Record());
      SetJobNumber(file.Record(), number);
      Check(file.Add(), "Add");
    }
    Check(file.Flush(), "Flush");
  });
  run.scan = Seconds([&] {
    Check(file.Send("QUICKSCAN=on"), "Send");
    Check(file.Set(kVehicleKey), "Set");
    int read = 0;
    while (file.Next() == 0) {
      if (++read == records / 10) run.scan_early_kb = ResidentKilobytes();
    }
    run.scan_end_kb = ResidentKilobytes();
    if (read != records) Fail("the scan read " + std::to_string(read) + " records");
  });
  run.fetch = Seconds([&] {
    for (const std::uint32_t number : order) {
      SetJobNumber(file.Record(), number);
      Check(file.Get(kJobNumberKey), "Get");
    }
  });
  run.update = Seconds([&] {
    Check(file.Stream(), "Stream");
    Check(file.Set(0), "Set");
    while (file.Next() == 0) {
      file.Record()[48] ^= 1;
      Check(file.Put(), "Put");
    }
    Check(file.Flush(), "Flush");
  });
  Check(file.Close(), "Close");
  return run;
}

// ---- raw SQLite ------------------------------------------------------------------

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) {
      Fail(sql + ": " + sqlite3_errmsg(db));
    }
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* operator*() const { return statement_; }
  int Step() { return sqlite3_step(statement_); }
  void Reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

void Execute(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(std::string(sql) + ": " + sqlite3_errmsg(db));
}

// Binds the record and its seven key values from parameter `first` on.
void BindRecord(const RecordDeclaration& declaration, Statement& statement, int first, const std::uint8_t* record,
                std::vector<std::string>& keys) {
  sqlite3_bind_blob(*statement, first, record, static_cast<int>(declaration.record_size), SQLITE_STATIC);
  for (std::size_t k = 0; k < declaration.keys.size(); ++k) {
    keys[k] = RecordKeyCodec::Encode(declaration, declaration.keys[k], record);
    sqlite3_bind_blob(*statement, first + 1 + static_cast<int>(k), keys[k].data(), static_cast<int>(keys[k].size()),
                      SQLITE_STATIC);
  }
}

DriverRun RunRaw(const RecordDeclaration& declaration, int records, const std::vector<std::uint32_t>& order) {
  DriverRun run;
  {
    // The same schema as the driver's, made by the driver.
    RecordFile file(declaration);
    Check(file.Create(), "Create");
  }
  sqlite3* db = nullptr;
  if (sqlite3_open((declaration.disk_name + ".dat").c_str(), &db) != SQLITE_OK) Fail("cannot open the raw file");
  Execute(db, "PRAGMA cache_size = -32768; PRAGMA journal_mode = DELETE;");
  std::vector<std::string> keys(declaration.keys.size());
  std::vector<std::uint8_t> record(declaration.record_size);
  std::mt19937 random(30);
  run.insert = Seconds([&] {
    Statement highest(db, "SELECT data FROM records ORDER BY key_1 DESC LIMIT 1");
    Statement insert(db, "INSERT INTO records(version, data, key_1, key_2, key_3, key_4, key_5, key_6, key_7) "
                         "VALUES(1, ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    Execute(db, "BEGIN IMMEDIATE");
    for (int i = 0; i < records; ++i) {
      std::uint32_t number = 1;
      if (highest.Step() == SQLITE_ROW) {
        number = JobNumber(static_cast<const std::uint8_t*>(sqlite3_column_blob(*highest, 0))) + 1;
      }
      highest.Reset();
      qm::platform::ClearRecord(declaration, record.data());
      FillJob(declaration, random, record.data());
      SetJobNumber(record.data(), number);
      BindRecord(declaration, insert, 1, record.data(), keys);
      if (insert.Step() != SQLITE_DONE) Fail(std::string("insert: ") + sqlite3_errmsg(db));
      insert.Reset();
      if ((i + 1) % RecordFile::kStreamBatch == 0) Execute(db, "COMMIT; BEGIN IMMEDIATE");
    }
    Execute(db, "COMMIT");
  });
  run.scan = Seconds([&] {
    Statement scan(db, "SELECT id, version, data FROM records ORDER BY key_2, id");
    int read = 0;
    while (scan.Step() == SQLITE_ROW) {
      std::memcpy(record.data(), sqlite3_column_blob(*scan, 2), declaration.record_size);
      if (++read == records / 10) run.scan_early_kb = ResidentKilobytes();
    }
    run.scan_end_kb = ResidentKilobytes();
  });
  run.fetch = Seconds([&] {
    Statement fetch(db, "SELECT id, version, data FROM records WHERE key_1 = ?1 ORDER BY id LIMIT 1");
    for (const std::uint32_t number : order) {
      SetJobNumber(record.data(), number);
      keys[0] = RecordKeyCodec::Encode(declaration, declaration.keys[0], record.data());
      sqlite3_bind_blob(*fetch, 1, keys[0].data(), static_cast<int>(keys[0].size()), SQLITE_STATIC);
      if (fetch.Step() != SQLITE_ROW) Fail("fetch found nothing");
      std::memcpy(record.data(), sqlite3_column_blob(*fetch, 2), declaration.record_size);
      fetch.Reset();
    }
  });
  run.update = Seconds([&] {
    Statement scan(db, "SELECT id, version, data FROM records ORDER BY id");
    Statement update(db, "UPDATE records SET version = version + 1, data = ?1, key_1 = ?4, key_2 = ?5, "
                         "key_3 = ?6, key_4 = ?7, key_5 = ?8, key_6 = ?9, key_7 = ?10 "
                         "WHERE id = ?2 AND version = ?3");
    Execute(db, "BEGIN IMMEDIATE");
    int written = 0;
    while (scan.Step() == SQLITE_ROW) {
      std::memcpy(record.data(), sqlite3_column_blob(*scan, 2), declaration.record_size);
      record[48] ^= 1;
      sqlite3_bind_blob(*update, 1, record.data(), static_cast<int>(declaration.record_size), SQLITE_STATIC);
      sqlite3_bind_int64(*update, 2, sqlite3_column_int64(*scan, 0));
      sqlite3_bind_int64(*update, 3, sqlite3_column_int64(*scan, 1));
      for (std::size_t k = 0; k < declaration.keys.size(); ++k) {
        keys[k] = RecordKeyCodec::Encode(declaration, declaration.keys[k], record.data());
        sqlite3_bind_blob(*update, 4 + static_cast<int>(k), keys[k].data(), static_cast<int>(keys[k].size()),
                          SQLITE_STATIC);
      }
      if (update.Step() != SQLITE_DONE || sqlite3_changes(db) != 1) Fail("update failed");
      update.Reset();
      if (++written % RecordFile::kStreamBatch == 0) Execute(db, "COMMIT; BEGIN IMMEDIATE");
    }
    Execute(db, "COMMIT");
  });
  sqlite3_close(db);
  return run;
}

void Report(const char* work, int records, double driver, double raw) {
  const double driver_rate = records / driver;
  const double raw_rate = records / raw;
  std::printf("%-28s driver %10.0f rec/s   raw SQLite %10.0f rec/s   ratio %.2f\n", work, driver_rate, raw_rate,
              driver_rate / raw_rate);
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 200000;
  if (records < 10) Fail("give at least 10 records");
  std::filesystem::path directory;
  if (argc > 2) {
    directory = argv[2];
  } else {
    std::string pattern = (std::filesystem::temp_directory_path() / "record_file_bench.XXXXXX").string();
    if (!mkdtemp(pattern.data())) Fail("cannot make a temporary directory");
    directory = pattern;
  }
  std::filesystem::create_directories(directory);
  std::filesystem::current_path(directory);
  std::filesystem::remove("TDV30.dat");
  std::filesystem::remove("RAWV30.dat");

  std::vector<std::uint32_t> order(static_cast<std::size_t>(records));
  std::iota(order.begin(), order.end(), 1u);
  std::shuffle(order.begin(), order.end(), std::mt19937(301));

  std::printf("%d jobs records of 371 bytes, seven keys, in %s\n", records, directory.string().c_str());
  const DriverRun driver = RunDriver(JobsDeclaration("TDV30"), records, order);
  const DriverRun raw = RunRaw(JobsDeclaration("RAWV30"), records, order);
  Report("insert, numbered, stream", records, driver.insert, raw.insert);
  Report("scan along (vehicle, date)", records, driver.scan, raw.scan);
  Report("fetch by job number, random", records, driver.fetch, raw.fetch);
  Report("update every record, stream", records, driver.update, raw.update);
  std::printf("scan resident memory: driver %ld kB after a tenth, %ld kB at the end; raw %ld kB, %ld kB\n",
              driver.scan_early_kb, driver.scan_end_kb, raw.scan_early_kb, raw.scan_end_kb);
  if (argc <= 2) std::filesystem::remove_all(directory);
  return 0;
}
