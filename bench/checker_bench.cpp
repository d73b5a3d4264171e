// TdxConv's work on the jobs file (TdV30 as the data dictionary declares it:
// 371 bytes, seven keys) against raw SQLite doing the nearest work on the
// same file in the same run:
//
//   check    the upgrade library's open of a registered file (SQLite's
//            integrity check, every record's size, every stored key value
//            recomputed from its record) against PRAGMA integrity_check;
//   rebuild  the driver's key build against REINDEX; and, for information,
//            the build of the file with every stored key value wrong;
//   upgrade  the upgrade library converting the file from the structure
//            before (the same layout without V30:RUNNINGBALANCE, version 12)
//            and checking the result, against copying the old records into a
//            fresh file of the same schema and indexes with INSERT ... SELECT.
//
// Each phase runs `repeats` times and prints the median, the ratio
// ours/raw and the peak resident memory of the phase (VmHWM, reset before
// each phase), which stays level from one file size to the next when the
// work does not hold the file in memory. Every size given is measured in
// turn; the files are made once per size, with progress on stderr.
//
//   checker_bench [records ...] [-r repeats] [-d directory]
//                 (1000000, 3, a fresh temporary one)
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
#include <random>
#include <string>
#include <vector>

#include "checker/data_dictionary.h"
#include "platform/record_declaration.h"
#include "platform/record_fields.h"
#include "platform/record_file.h"
#include "platform/record_transaction.h"
#include "platform/upgrade_library.h"

namespace {

namespace fs = std::filesystem;
using qm::platform::RecordDeclaration;
using qm::platform::RecordFile;
using qm::platform::UpgradeLibrary;

constexpr const char* kDroppedField = "V30:RUNNINGBALANCE";
constexpr int kOlderVersion = 12;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "checker_bench: %s\n", what.c_str());
  std::exit(1);
}

void Check(int code, const std::string& what) {
  if (code != 0) Fail(what + " answered " + std::to_string(code));
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Peak resident memory since the last ResetPeak, in MiB.
double PeakMebibytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

RecordDeclaration Jobs(const fs::path& directory, const std::string& disk_name) {
  RecordDeclaration declaration =
      qm::checker::DataDictionary::Definition(qm::checker::DictionaryFile::TdV30).declaration;
  declaration.disk_name = (directory / disk_name).string();
  return declaration;
}

// The jobs file one structure version back: the same fields without one
// that no key uses, so that every later field moves.
RecordDeclaration OlderJobs(const RecordDeclaration& jobs) {
  RecordDeclaration older = jobs;
  older.fields.clear();
  older.record_size = 0;
  for (const qm::platform::FieldDeclaration& field : jobs.fields) {
    if (qm::platform::SameName(field.name, kDroppedField)) continue;
    older.AddField(field.name, field.encoding, field.width, field.digits, field.decimals);
  }
  for (qm::platform::KeyDeclaration& key : older.keys) {
    for (int& component : key.components) component = older.FieldNumber(jobs.fields[component - 1].name);
  }
  older.version = kOlderVersion;
  return older;
}

// Fills a job: a few hundred vehicles, dates over ten years, descriptions
// from a small vocabulary; the same records for the same seed.
void FillJob(const RecordDeclaration& declaration, std::uint32_t number, std::mt19937& random,
             std::uint8_t* record) {
  static const char* const kWords[] = {"SERVICE", "REPAIR", "TYRES", "OIL CHANGE", "BRAKES",
                                       "HYDRAULICS", "INSPECTION", "WELDING", "CLUTCH", "FILTERS"};
  auto word = [&] { return std::string(kWords[random() % std::size(kWords)]); };
  auto set = [&](const char* name, const std::string& text) {
    const int field = declaration.FieldNumber(name);
    if (field == 0) return;
    qm::platform::SetFieldText(declaration.fields[static_cast<std::size_t>(field - 1)], record, text);
  };
  set("V30:JOBNUMBER", std::to_string(number));
  set("V30:JOBDATE", std::to_string(80000 + random() % 3650));
  set("V30:JOBDESCRIPTION", word() + " " + word());
  set("V30:WORKSHOPJOB", std::to_string(random() % 2));
  set("V30:JOBCOST", std::to_string((random() % 100000) / 100.0));
  set("V30:JOBMETER", std::to_string((random() % 10000000) / 1000.0));
  set("V30:JOBUNITS", std::to_string((random() % 80) / 4.0));
  set("V30:VEHNUMBER", "V" + std::to_string(1000 + random() % 400));
  set("V30:ALLOCNUMBER", std::to_string(random() % 60));
  set("V30:ACCNUMBER", std::to_string(random() % 200));
  set("V30:ANALNUMBER", std::to_string(random() % 30));
  set("V30:ITEMCODE", "I" + std::to_string(random() % 5000));
  set("V30:RUNNINGBALANCE", std::to_string((random() % 1000000) / 100.0));
  set("V30:RECORDSTATUS", "1");
  set("V30:WORKDONEDESCRIPTION", word() + ", " + word() + " and " + word() + " on the " + word());
}

// One transaction writes the file whole.
void MakeFile(const RecordDeclaration& declaration, int records) {
  RecordFile file(declaration);
  Check(file.Create(), "Create " + declaration.disk_name);
  Check(file.Open(), "Open " + declaration.disk_name);
  qm::platform::RecordTransaction transaction;
  Check(transaction.Begin({&file}, 5), "Begin");
  std::mt19937 random(30);
  for (int i = 0; i < records; ++i) {
    file.Clear();
    FillJob(declaration, static_cast<std::uint32_t>(i + 1), random, file.Record());
    Check(file.Add(), "Add");
    if ((i + 1) % 50000 == 0 || i + 1 == records) {
      std::fprintf(stderr, "\r  %s: %d of %d records", declaration.label.c_str(), i + 1, records);
    }
  }
  std::fputc('\n', stderr);
  Check(transaction.Commit(), "Commit");
  Check(file.Close(), "Close");
}

// ---- raw SQLite ------------------------------------------------------------------

void Execute(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error ? error : "?";
    sqlite3_free(error);
    Fail(sql.substr(0, 60) + ": " + message);
  }
}

// With the page cache the driver gives each of its connections.
sqlite3* OpenRaw(const fs::path& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    Fail("cannot open " + path.string());
  }
  Execute(db, "PRAGMA cache_size = -32768;");
  return db;
}

void RawIntegrityCheck(const fs::path& path) {
  sqlite3* db = OpenRaw(path);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check;", -1, &statement, nullptr);
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const char* line = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    if (std::strcmp(line, "ok") != 0) Fail(std::string("integrity check: ") + line);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

void RawReindex(const fs::path& path) {
  sqlite3* db = OpenRaw(path);
  Execute(db, "REINDEX;");
  sqlite3_close(db);
}

// Every stored key value of every record made wrong, the indexes kept
// consistent with them, as a damaged file might be.
void ScrambleEveryKey(const fs::path& path, int keys) {
  sqlite3* db = OpenRaw(path);
  std::string assign;
  for (int key = 1; key <= keys; ++key) {
    const std::string column = "key_" + std::to_string(key);
    assign += std::string(key == 1 ? "" : ", ") + column + " = x'01' || " + column;
  }
  Execute(db, "UPDATE records SET " + assign + ";");
  sqlite3_close(db);
}

// The schema of `model` (tables and indexes) made in a fresh file, and the
// records of `source` copied into it in one transaction.
void RawCopy(const fs::path& model, const fs::path& source, const fs::path& destination) {
  std::vector<std::string> schema;
  {
    sqlite3* db = OpenRaw(model);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_schema WHERE sql IS NOT NULL ORDER BY type = 'index';", -1,
                       &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      schema.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
  }
  sqlite3* db = OpenRaw(destination);
  Execute(db, "ATTACH '" + source.string() + "' AS old; BEGIN;");
  for (const std::string& sql : schema) Execute(db, sql + ";");
  Execute(db, "INSERT INTO main.declaration SELECT * FROM old.declaration;"
              "INSERT INTO main.fields SELECT * FROM old.fields;"
              "INSERT INTO main.keys SELECT * FROM old.keys;"
              "INSERT INTO main.records SELECT * FROM old.records ORDER BY id; COMMIT; DETACH old;");
  sqlite3_close(db);
}

// ---- measuring -------------------------------------------------------------------

struct Figure {
  std::vector<double> seconds;
  double peak_mib = 0;
  double Median() const {
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
};

Figure Measure(int repeats, const std::function<void()>& prepare, const std::function<void()>& work) {
  Figure figure;
  for (int i = 0; i < repeats; ++i) {
    if (prepare) prepare();
    ResetPeak();
    figure.seconds.push_back(Seconds(work));
    figure.peak_mib = std::max(figure.peak_mib, PeakMebibytes());
  }
  return figure;
}

void RemoveDataFile(const fs::path& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
  fs::remove(path.string() + "-journal", ignored);
}

void Print(const char* phase, const char* raw_name, const Figure& ours, const Figure& raw, double goal) {
  const double ratio = ours.Median() / raw.Median();
  std::printf("  %-8s ours %7.2f s  %-24s %7.2f s  ratio %5.2f (goal <= %.1f%s)  peak %6.1f MiB / %6.1f MiB\n",
              phase, ours.Median(), raw_name, raw.Median(), ratio, goal, ratio <= goal ? "" : ", MISSED",
              ours.peak_mib, raw.peak_mib);
  std::fflush(stdout);
}

void RunSize(const fs::path& root, int records, int repeats) {
  const fs::path directory = root / std::to_string(records);
  fs::create_directories(directory);
  const RecordDeclaration jobs = Jobs(directory, "TDV30");
  const RecordDeclaration older = OlderJobs(Jobs(directory, "OLDV30"));
  const fs::path jobs_path = directory / "TDV30.dat";
  const fs::path older_path = directory / "OLDV30.dat";
  std::fprintf(stderr, "making the files of %d records in %s\n", records, directory.c_str());
  MakeFile(older, records);

  UpgradeLibrary library;
  library.SetUpgradePath(directory.string(), 0);
  RecordFile placeholder(jobs);
  library.AddDriver("Krec", placeholder, 1);
  library.IgnoreDriver("AllFiles", 1);
  library.SetOption("SPCreate", 1);
  library.UsingFileEx(placeholder, jobs.version, 0, jobs.label, jobs.prefix);

  // The file of the current structure is the older one upgraded once.
  fs::copy_file(older_path, jobs_path);
  library.SetProgress([](const qm::platform::UpgradeProgress& progress) {
    if (progress.step == qm::platform::UpgradeProgress::Step::kConverting &&
        (progress.done % 50000 == 0 || progress.done == progress.total)) {
      std::fprintf(stderr, "\r  TdV30: %lld of %lld records upgraded", static_cast<long long>(progress.done),
                   static_cast<long long>(progress.total));
    }
  });
  {
    RecordFile file(jobs);
    Check(library.FileOpen(file, qm::platform::kOpenReadWriteDenyNone), "FileOpen");
  }
  std::fputc('\n', stderr);
  library.SetProgress({});
  fs::remove(jobs_path.string() + ".v" + std::to_string(kOlderVersion));

  std::printf("TdV30, %d records, %zu keys, %lld MiB on disk\n", records, jobs.keys.size(),
              static_cast<long long>(fs::file_size(jobs_path) >> 20));
  std::fprintf(stderr, "check\n");
  const Figure check = Measure(repeats, nullptr, [&] {
    RecordFile file(jobs);
    Check(library.FileOpen(file, qm::platform::kOpenReadWriteDenyNone), "FileOpen");
    file.Close();
  });
  const Figure integrity = Measure(repeats, nullptr, [&] { RawIntegrityCheck(jobs_path); });
  Print("check", "PRAGMA integrity_check", check, integrity, 2.0);

  std::fprintf(stderr, "rebuild\n");
  const Figure build = Measure(repeats, nullptr, [&] {
    RecordFile file(jobs);
    Check(file.Build(), "Build");
  });
  const Figure reindex = Measure(repeats, nullptr, [&] { RawReindex(jobs_path); });
  Print("rebuild", "REINDEX", build, reindex, 1.5);
  // The build rewrites only records whose stored key values are wrong; a
  // file where every one is wrong shows what rewriting them all costs.
  // REINDEX cannot repair stored values, so this has no raw counterpart.
  const Figure rebuild_all = Measure(
      repeats, [&] { ScrambleEveryKey(jobs_path, static_cast<int>(jobs.keys.size())); },
      [&] {
        RecordFile file(jobs);
        Check(file.Build(), "Build");
      });
  std::printf("           with every stored key value wrong: ours %.2f s (%.2f x REINDEX)  peak %6.1f MiB\n",
              rebuild_all.Median(), rebuild_all.Median() / reindex.Median(), rebuild_all.peak_mib);
  std::fflush(stdout);

  // The upgrade works on a fresh copy of the older file each time, under
  // the name the declaration gives; the kept original goes afterwards.
  std::fprintf(stderr, "upgrade\n");
  // Where an upgrade's time goes: making and filling the work file, and
  // checking it.
  std::vector<double> copying, verifying;
  auto step_start = std::chrono::steady_clock::now();
  library.SetProgress([&](const qm::platform::UpgradeProgress& progress) {
    using Step = qm::platform::UpgradeProgress::Step;
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - step_start).count();
    if (progress.step == Step::kVerifying) {
      copying.push_back(seconds);
      step_start = now;
    }
    if (progress.step == Step::kReplacing) verifying.push_back(seconds);
  });
  const fs::path upgrade_directory = directory / "upgrade";
  fs::create_directories(upgrade_directory);
  const RecordDeclaration upgraded = Jobs(upgrade_directory, "TDV30");
  const fs::path upgraded_path = upgrade_directory / "TDV30.dat";
  const Figure upgrade = Measure(
      repeats,
      [&] {
        for (const fs::directory_entry& entry : fs::directory_iterator(upgrade_directory)) fs::remove_all(entry);
        fs::copy_file(older_path, upgraded_path);
      },
      [&] {
        RecordFile file(upgraded);
        step_start = std::chrono::steady_clock::now();
        Check(library.FileOpen(file, qm::platform::kOpenReadWriteDenyNone), "FileOpen of the older file");
        if (file.Records() != records) Fail("the upgrade lost records");
        file.Close();
      });
  const fs::path copy_path = directory / "COPYV30.dat";
  const Figure copy = Measure(
      repeats, [&] { RemoveDataFile(copy_path); }, [&] { RawCopy(jobs_path, older_path, copy_path); });
  library.SetProgress({});
  Print("upgrade", "INSERT ... SELECT", upgrade, copy, 2.0);
  std::sort(copying.begin(), copying.end());
  std::sort(verifying.begin(), verifying.end());
  std::printf("           of which copying %.2f s, checking the converted file %.2f s\n",
              copying[copying.size() / 2], verifying[verifying.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  int repeats = 3;
  fs::path root;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-r" && i + 1 < argc) {
      repeats = std::max(1, std::atoi(argv[++i]));
    } else if (argument == "-d" && i + 1 < argc) {
      root = argv[++i];
    } else {
      sizes.push_back(std::max(1, std::atoi(argument.c_str())));
    }
  }
  if (sizes.empty()) sizes.push_back(1000000);
  const bool own_root = root.empty();
  if (own_root) {
    std::string pattern = (fs::temp_directory_path() / "qm-checker-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) Fail("cannot make a temporary directory");
    root = pattern;
  }
  std::printf("TdxConv against raw SQLite %s, %d runs each, medians\n", sqlite3_libversion(), repeats);
  for (const int records : sizes) RunSize(root, records, repeats);
  if (own_root) fs::remove_all(root);
  return 0;
}
