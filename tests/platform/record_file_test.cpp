#include "platform/record_file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/record_faults.h"
#include "platform/record_fields.h"
#include "platform/record_transaction.h"
#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

constexpr int kNumberKey = 1;   // JOBNUMBER: unique, primary
constexpr int kVehicleKey = 2;  // VEHNUMBER, JOBDATE: duplicates, case-insensitive
constexpr int kCodeKey = 3;     // CODE: unique, case-sensitive
constexpr int kReferenceKey = 4;  // REFERENCE: unique, case-insensitive

// A small jobs file: enough fields and keys to show every order and check.
RecordDeclaration JobsDeclaration(const std::string& disk_name) {
  RecordDeclaration declaration;
  declaration.label = "TdJobs";
  declaration.disk_name = disk_name;
  declaration.prefix = "JOB";
  declaration.version = 3;
  declaration.AddField("JOB:JOBNUMBER", FieldEncoding::kU32);
  declaration.AddField("JOB:JOBDATE", FieldEncoding::kI32);
  declaration.AddField("JOB:VEHNUMBER", FieldEncoding::kText, 6);
  declaration.AddField("JOB:CODE", FieldEncoding::kText, 4);
  declaration.AddField("JOB:REFERENCE", FieldEncoding::kText, 4);
  declaration.AddField("JOB:METER", FieldEncoding::kDecimal, 0, 11, 3);
  declaration.AddField("JOB:NOTE", FieldEncoding::kCString, 20);
  declaration.keys = {
      KeyDeclaration{"JOB:JobNumberKey", {1}, true, true, true, true},
      KeyDeclaration{"JOB:VehNumberKey", {3, 2}, false, true},
      KeyDeclaration{"JOB:CodeKey", {4}, true, false},
      KeyDeclaration{"JOB:ReferenceKey", {5}, true, true},
  };
  return declaration;
}

class RecordFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-rec-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    RecordFaults::ClearOpenFaults();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string DiskName(const std::string& name = "JOBS") const { return dir_ + "/" + name; }

  std::unique_ptr<RecordFile> NewFile(const std::string& name = "JOBS") const {
    return std::make_unique<RecordFile>(JobsDeclaration(DiskName(name)));
  }

  // A created, open file.
  std::unique_ptr<RecordFile> OpenFile(const std::string& name = "JOBS", int mode = 66) const {
    auto file = NewFile(name);
    EXPECT_EQ(file->Create(), 0) << LastRuntimeError().file_error_message;
    EXPECT_EQ(file->Open(mode), 0) << LastRuntimeError().file_error_message;
    return file;
  }

  static void SetField(RecordFile& file, const char* name, const std::string& value) {
    const int number = file.Declaration().FieldNumber(name);
    ASSERT_NE(number, 0) << name;
    ASSERT_TRUE(SetFieldText(file.Declaration().fields[number - 1], file.Record(), value)) << name;
  }

  static std::string Field(const RecordFile& file, const char* name) {
    const int number = file.Declaration().FieldNumber(name);
    return FieldText(file.Declaration().fields[number - 1], file.Record());
  }

  static int AddJob(RecordFile& file, int number, const std::string& vehicle, int date,
                    const std::string& code = "", const std::string& reference = "") {
    file.Clear();
    SetField(file, "JOB:JOBNUMBER", std::to_string(number));
    SetField(file, "JOB:VEHNUMBER", vehicle);
    SetField(file, "JOB:JOBDATE", std::to_string(date));
    SetField(file, "JOB:CODE", code.empty() ? std::to_string(number) : code);
    SetField(file, "JOB:REFERENCE", reference.empty() ? std::to_string(number) : reference);
    SetField(file, "JOB:METER", "1.5");
    return file.Add();
  }

  // Job numbers in the order Next (or Previous) reads them after `set`.
  static std::vector<int> Read(RecordFile& file, bool forward = true) {
    std::vector<int> numbers;
    while ((forward ? file.Next() : file.Previous()) == 0) {
      numbers.push_back(std::stoi(Field(file, "JOB:JOBNUMBER")));
    }
    EXPECT_EQ(LastRuntimeError().code, kErrNoRecord);
    return numbers;
  }

  std::string dir_;
};

TEST_F(RecordFileTest, KeepsTheRecordBytesExactlyAndFindsThemByKey) {
  auto file = OpenFile();
  ASSERT_EQ(AddJob(*file, 7, "V1", 100), 0);
  SetField(*file, "JOB:NOTE", "oil change");
  ASSERT_EQ(file->Put(), 0);
  const std::vector<std::uint8_t> written(file->Record(), file->Record() + file->RecordSize());
  ASSERT_EQ(file->Close(), 0);

  auto reader = NewFile();
  ASSERT_EQ(reader->Open(), 0);
  reader->Clear();
  SetField(*reader, "JOB:JOBNUMBER", "7");
  ASSERT_EQ(reader->Get(kNumberKey), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(reader->Record(), reader->Record() + reader->RecordSize()), written);
  EXPECT_EQ(Field(*reader, "JOB:NOTE"), "oil change");

  SetField(*reader, "JOB:JOBNUMBER", "8");
  EXPECT_EQ(reader->Get(kNumberKey), kErrBadRecord);
  EXPECT_EQ(reader->Label(), "TdJobs");
  EXPECT_EQ(reader->FieldCount(), 7);
}

TEST_F(RecordFileTest, OpenAnswersWhatIsWrongWithTheFile) {
  auto missing = NewFile();
  EXPECT_EQ(missing->Open(), kErrFileNotFound);
  EXPECT_EQ(LastRuntimeError().file, DiskName() + ".dat");
  auto no_directory = std::make_unique<RecordFile>(JobsDeclaration(dir_ + "/nowhere/JOBS"));
  EXPECT_EQ(no_directory->Open(), kErrPathNotFound);
  EXPECT_EQ(no_directory->Create(), kErrPathNotFound);

  auto file = OpenFile();
  EXPECT_EQ(file->Open(), kErrFileAlreadyOpen);
  file->Close();

  RecordDeclaration other_layout = JobsDeclaration(DiskName());
  other_layout.fields[6].width = 21;
  other_layout.record_size += 1;
  EXPECT_EQ(RecordFile(other_layout).Open(), kErrDeclarationMismatch);

  RecordDeclaration other_keys = JobsDeclaration(DiskName());
  other_keys.keys[1].no_case = false;
  EXPECT_EQ(RecordFile(other_keys).Open(), kErrKeyFileInvalid);
  EXPECT_NE(LastRuntimeError().file_error_message, "");
}

TEST_F(RecordFileTest, CreatingAgainKeepsTheFileAndNeverReplacesAnotherOne) {
  auto file = OpenFile();
  ASSERT_EQ(AddJob(*file, 1, "V1", 1), 0);
  file->Close();
  EXPECT_EQ(NewFile()->Create(), 0);
  ASSERT_EQ(file->Open(), 0);
  EXPECT_EQ(file->Records(), 1);
  file->Close();

  RecordDeclaration other = JobsDeclaration(DiskName());
  other.keys.pop_back();
  EXPECT_EQ(RecordFile(other).Create(), kErrAccessDenied);
  ASSERT_EQ(file->Open(), 0);
  EXPECT_EQ(file->Records(), 1);
}

TEST_F(RecordFileTest, AFileThatIsNotARecordFileAnswers90) {
  auto good = OpenFile("GOOD");
  for (int i = 1; i <= 50; ++i) AddJob(*good, i, "V", i);
  good->Close();
  const std::uintmax_t good_size = std::filesystem::file_size(DiskName("GOOD") + ".dat");
  std::string good_bytes(good_size, '\0');
  std::ifstream(DiskName("GOOD") + ".dat", std::ios::binary).read(good_bytes.data(), good_size);

  const std::pair<const char*, std::string> garbage[] = {
      {"empty", ""},
      {"text", "just some text\n"},
      {"noise", std::string(8192, '\xA5')},
      {"header only", good_bytes.substr(0, 100)},
      {"another database", [] {
         std::string bytes = "SQLite format 3";
         bytes.push_back('\0');
         return bytes + std::string(4080, '\0');
       }()},
  };
  for (const auto& [what, bytes] : garbage) {
    std::ofstream(DiskName() + ".dat", std::ios::binary | std::ios::trunc) << bytes;
    auto file = NewFile();
    EXPECT_EQ(file->Open(), kErrDriverError) << what;
    EXPECT_FALSE(file->IsOpen()) << what;
    EXPECT_EQ(file->Build(), kErrDriverError) << what;
  }
}

TEST_F(RecordFileTest, InjectedOpenFaultsAnswerTheirCode) {
  auto file = OpenFile();
  file->Close();
  RecordFaults::FailOpens(DiskName() + ".dat", kErrAccessDenied);
  EXPECT_EQ(file->Open(), kErrAccessDenied);
  EXPECT_EQ(file->Open(0x40), kErrAccessDenied);
  RecordFaults::ClearOpenFaults();
  EXPECT_EQ(file->Open(), 0);
}

TEST_F(RecordFileTest, ADroppedIndexAnswers46UntilTheKeysAreBuilt) {
  auto file = OpenFile();
  for (int i = 1; i <= 5; ++i) ASSERT_EQ(AddJob(*file, i, i % 2 ? "B" : "A", i), 0);
  file->Close();
  ASSERT_EQ(RecordFaults::DropIndex(DiskName() + ".dat", kVehicleKey), 0);
  EXPECT_EQ(file->Open(), kErrKeyFileInvalid);
  ASSERT_EQ(file->Build(), 0) << LastRuntimeError().file_error_message;
  ASSERT_EQ(file->Open(), 0);
  ASSERT_EQ(file->Set(kVehicleKey), 0);
  EXPECT_EQ(Read(*file), (std::vector<int>{2, 4, 1, 3, 5}));
  EXPECT_TRUE(file->Check().problems.empty());
}

TEST_F(RecordFileTest, BuildGivesAFileTheDeclaredKeysOrRefusesDuplicatesLeavingItAsItWas) {
  RecordDeclaration loose = JobsDeclaration(DiskName());
  loose.keys[kCodeKey - 1].unique = false;
  {
    RecordFile file(loose);
    ASSERT_EQ(file.Create(), 0);
    ASSERT_EQ(file.Open(), 0);
    ASSERT_EQ(AddJob(file, 1, "A", 1, "X"), 0);
    ASSERT_EQ(AddJob(file, 2, "A", 2, "X"), 0);
  }
  auto strict = NewFile();
  EXPECT_EQ(strict->Open(), kErrKeyFileInvalid);
  EXPECT_EQ(strict->Build(), kErrDuplicateKey);
  RecordFile again(loose);
  ASSERT_EQ(again.Open(), 0) << "a failed build must leave the old keys";
  EXPECT_EQ(again.Records(), 2);
  SetField(again, "JOB:CODE", "X");
  ASSERT_EQ(again.Get(kCodeKey), 0);
  ASSERT_EQ(again.Delete(), 0);
  again.Close();
  ASSERT_EQ(strict->Build(), 0);
  ASSERT_EQ(strict->Open(), 0);
  EXPECT_EQ(strict->Records(), 1);
  strict->Close();

  // A file made with a key fewer has no column for it: the build gives it one.
  RecordDeclaration fewer = JobsDeclaration(DiskName("FEWER"));
  fewer.keys.pop_back();
  {
    RecordFile file(fewer);
    ASSERT_EQ(file.Create(), 0);
    ASSERT_EQ(file.Open(), 0);
    ASSERT_EQ(AddJob(file, 1, "A", 1, "", "R2"), 0);
    ASSERT_EQ(AddJob(file, 2, "A", 2, "", "R1"), 0);
  }
  auto full = NewFile("FEWER");
  EXPECT_EQ(full->Open(), kErrKeyFileInvalid);
  ASSERT_EQ(full->Build(), 0) << LastRuntimeError().file_error_message;
  ASSERT_EQ(full->Open(), 0);
  ASSERT_EQ(full->Set(kReferenceKey), 0);
  EXPECT_EQ(Read(*full), (std::vector<int>{2, 1}));
  EXPECT_TRUE(full->Check().problems.empty());
}

TEST_F(RecordFileTest, ScrambledKeyValuesAreFoundByTheCheck) {
  auto file = OpenFile();
  for (int i = 1; i <= 3; ++i) AddJob(*file, i, "A", i);
  EXPECT_TRUE(file->Check().problems.empty());
  file->Close();
  ASSERT_EQ(RecordFaults::ScrambleKeyValues(DiskName() + ".dat", kVehicleKey), 0);
  ASSERT_EQ(file->Open(), 0);
  const RecordFileCheck check = file->Check();
  ASSERT_EQ(check.problems.size(), 1u);
  EXPECT_EQ(check.problems[0], "key JOB:VehNumberKey: 3 stored values do not match their records");
  file->Close();
  ASSERT_EQ(file->Build(), 0);
  ASSERT_EQ(file->Open(), 0);
  EXPECT_TRUE(file->Check().problems.empty());
}

TEST_F(RecordFileTest, KeyOrderIgnoresTrailingBlanksAndCaseAndKeepsEqualKeysInRecordOrder) {
  auto file = OpenFile();
  ASSERT_EQ(AddJob(*file, 1, "b", 5), 0);
  ASSERT_EQ(AddJob(*file, 2, "A", 9), 0);
  ASSERT_EQ(AddJob(*file, 3, "a", 5), 0);
  ASSERT_EQ(AddJob(*file, 4, "B", 5), 0);
  ASSERT_EQ(AddJob(*file, 5, "a    ", 5), 0);
  ASSERT_EQ(AddJob(*file, 6, "A", -3), 0);

  ASSERT_EQ(file->Set(kVehicleKey), 0);
  EXPECT_EQ(Read(*file), (std::vector<int>{6, 3, 5, 2, 1, 4}));
  ASSERT_EQ(file->Set(kVehicleKey), 0);
  EXPECT_EQ(Read(*file, false), (std::vector<int>{4, 1, 2, 5, 3, 6}));
  ASSERT_EQ(file->Set(), 0);
  EXPECT_EQ(Read(*file), (std::vector<int>{1, 2, 3, 4, 5, 6}));

  // From a key value: Next from the first at least it, Previous from the
  // last at most it.
  file->Clear();
  SetField(*file, "JOB:VEHNUMBER", "A");
  SetField(*file, "JOB:JOBDATE", "5");
  ASSERT_EQ(file->SetKeyValue(kVehicleKey), 0);
  EXPECT_EQ(Read(*file), (std::vector<int>{3, 5, 2, 1, 4}));
  SetField(*file, "JOB:VEHNUMBER", "A");
  SetField(*file, "JOB:JOBDATE", "5");
  ASSERT_EQ(file->SetKeyValue(kVehicleKey), 0);
  EXPECT_EQ(Read(*file, false), (std::vector<int>{5, 3, 6}));
}

TEST_F(RecordFileTest, ReadingGoesOnFromTheLastRecordWhateverChangesAroundIt) {
  for (int read_ahead : {1, 3, 64}) {
    SCOPED_TRACE(read_ahead);
    auto file = OpenFile("SCAN" + std::to_string(read_ahead));
    file->SetReadAhead(read_ahead);
    for (int i = 1; i <= 10; ++i) ASSERT_EQ(AddJob(*file, i, "V", i), 0);
    ASSERT_EQ(file->Set(kNumberKey), 0);
    std::vector<int> seen;
    while (file->Next() == 0) {
      const int number = std::stoi(Field(*file, "JOB:JOBNUMBER"));
      seen.push_back(number);
      if (number == 3) {
        ASSERT_EQ(file->Delete(), 0);  // Next goes on after the deleted record
      } else if (number == 5) {
        const std::string position = file->Position(kNumberKey);
        ASSERT_EQ(AddJob(*file, 20, "V", 20), 0);
        ASSERT_EQ(file->Reget(position), 0);
        ASSERT_EQ(file->Reset(kNumberKey, position), 0);
        ASSERT_EQ(file->Next(), 0);  // the record at the position itself
        ASSERT_EQ(Field(*file, "JOB:JOBNUMBER"), "5");
      }
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20}));
    ASSERT_EQ(file->Previous(), 0);
    EXPECT_EQ(Field(*file, "JOB:JOBNUMBER"), "20");
    ASSERT_EQ(file->Previous(), 0);
    EXPECT_EQ(Field(*file, "JOB:JOBNUMBER"), "10");
  }
}

TEST_F(RecordFileTest, AnAutoNumberSearchFindsTheHighestValueOfAGroup) {
  auto file = OpenFile();
  ASSERT_EQ(AddJob(*file, 1, "A", 3), 0);
  ASSERT_EQ(AddJob(*file, 2, "A", 41), 0);
  ASSERT_EQ(AddJob(*file, 3, "B", 7), 0);
  // The file manager's way: the last component at its highest, Previous.
  file->Clear();
  SetField(*file, "JOB:VEHNUMBER", "a");
  SetFieldHighest(file->Declaration().fields[1], file->Record());
  ASSERT_EQ(file->SetKeyValue(kVehicleKey), 0);
  ASSERT_EQ(file->Previous(), 0);
  EXPECT_EQ(Field(*file, "JOB:JOBDATE"), "41");
  ASSERT_EQ(file->Set(kNumberKey), 0);
  ASSERT_EQ(file->Previous(), 0);
  EXPECT_EQ(Field(*file, "JOB:JOBNUMBER"), "3");
}

TEST_F(RecordFileTest, UniqueKeysRefuseDuplicatesByTheirCaseRule) {
  auto file = OpenFile();
  ASSERT_EQ(AddJob(*file, 1, "V", 1, "abc", "abc"), 0);
  // CodeKey is case-sensitive, ReferenceKey is not.
  EXPECT_EQ(AddJob(*file, 2, "V", 1, "ABC", "xyz"), 0);
  EXPECT_EQ(AddJob(*file, 3, "V", 1, "def", "ABC"), kErrDuplicateKey);
  EXPECT_EQ(file->DuplicatedKeys(), (std::vector<int>{kReferenceKey}));
  EXPECT_EQ(AddJob(*file, 1, "V", 1, "abc ", "q"), kErrDuplicateKey);
  EXPECT_EQ(file->DuplicatedKeys(), (std::vector<int>{kNumberKey, kCodeKey}));
  EXPECT_EQ(file->Records(), 2);

  // A put that would duplicate another record's key is refused too, but the
  // record never duplicates itself.
  file->Clear();
  SetField(*file, "JOB:JOBNUMBER", "2");
  ASSERT_EQ(file->Get(kNumberKey), 0);
  EXPECT_FALSE(file->Duplicate(kNumberKey));
  SetField(*file, "JOB:REFERENCE", "ABC");
  EXPECT_TRUE(file->Duplicate(kReferenceKey));
  EXPECT_EQ(file->Put(), kErrDuplicateKey);
}

TEST_F(RecordFileTest, APutOverARecordChangedElsewhereAnswers89) {
  auto first = OpenFile();
  ASSERT_EQ(AddJob(*first, 1, "V", 1), 0);
  auto second = NewFile();
  ASSERT_EQ(second->Open(), 0);
  for (RecordFile* station : {first.get(), second.get()}) {
    station->Clear();
    SetField(*station, "JOB:JOBNUMBER", "1");
    ASSERT_EQ(station->Get(kNumberKey), 0);
  }
  SetField(*second, "JOB:NOTE", "second");
  ASSERT_EQ(second->Put(), 0);
  SetField(*first, "JOB:NOTE", "first");
  EXPECT_EQ(first->Put(), kErrRecordChanged);
  ASSERT_EQ(first->Reget(first->Position()), 0);
  EXPECT_EQ(Field(*first, "JOB:NOTE"), "second");
  SetField(*first, "JOB:NOTE", "first");
  EXPECT_EQ(first->Put(), 0);

  ASSERT_EQ(first->Delete(), 0);
  EXPECT_EQ(second->Delete(), kErrRecordChanged);
}

TEST_F(RecordFileTest, ARecordHeldByOneStationCannotBeWrittenByAnother) {
  auto first = OpenFile();
  ASSERT_EQ(AddJob(*first, 1, "V", 1), 0);
  ASSERT_EQ(first->Hold(), 0);
  auto second = NewFile();
  ASSERT_EQ(second->Open(), 0);
  SetField(*second, "JOB:JOBNUMBER", "1");
  ASSERT_EQ(second->Get(kNumberKey), 0);
  EXPECT_EQ(second->Hold(), kErrRecordHeld);
  EXPECT_EQ(second->Put(), kErrRecordHeld);
  EXPECT_EQ(second->Delete(), kErrRecordHeld);
  first->ReleaseHolds();
  EXPECT_EQ(second->Put(), 0);
}

TEST_F(RecordFileTest, ShareModesAreHonouredBetweenStations) {
  struct Case {
    int first;
    int second;
    int expected;
  } cases[] = {
      {66, 66, 0},
      {0x12, 0x40, kErrAccessDenied},  // deny all refuses even a reader
      {0x40, 0x12, kErrAccessDenied},  // and is refused beside one
      {0x22, 0x40, 0},                 // deny write lets a reader in
      {0x22, 66, kErrAccessDenied},    // but not a writer
      {66, 0x22, kErrAccessDenied},    // nor itself beside one
      {0x40, 0x22, 0},
      {0x32, 0x41, 0},                 // deny read lets a writer in
      {0x32, 0x40, kErrAccessDenied},
  };
  auto maker = OpenFile();
  maker->Close();
  for (const Case& c : cases) {
    auto first = NewFile();
    auto second = NewFile();
    ASSERT_EQ(first->Open(c.first), 0);
    EXPECT_EQ(second->Open(c.second), c.expected) << std::hex << c.first << " then " << c.second;
    first->Close();
    second->Close();
  }
  auto reader = NewFile();
  ASSERT_EQ(reader->Open(0x40), 0);
  EXPECT_EQ(reader->Add(), kErrAccessDenied);
}

TEST_F(RecordFileTest, ShareModesHoldBetweenProcesses) {
  auto maker = OpenFile();
  maker->Close();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RecordFile file(JobsDeclaration(DiskName()));
    const int result = file.Open(0x12);
    const char signal = result == 0 ? '1' : '0';
    (void)!::write(ready[1], &signal, 1);
    ::pause();
    ::_exit(0);
  }
  char signal = 0;
  ASSERT_EQ(::read(ready[0], &signal, 1), 1);
  ASSERT_EQ(signal, '1');
  auto file = NewFile();
  EXPECT_EQ(file->Open(0x40), kErrAccessDenied);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(file->Open(0x40), 0) << "a dead process's share mode must go with it";
  ::close(ready[0]);
  ::close(ready[1]);
}

// A file the user may read but not write: a write open answers 5, so the
// caller can fall back to reading it, and a read open works. Tests run as
// root, which file permissions do not stop, so the child becomes nobody.
TEST_F(RecordFileTest, AWriteProtectedFileRefusesAWriteOpen) {
  auto maker = OpenFile();
  maker->Close();
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
  ASSERT_EQ(::chmod((DiskName() + ".dat").c_str(), 0444), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(10);
    RecordFile file(JobsDeclaration(DiskName()));
    if (file.Open(0x42) != kErrAccessDenied) ::_exit(11);
    if (file.Open(0x40) != 0) ::_exit(12);
    ::_exit(0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: cannot become nobody, 11: written, 12: not readable";
}

// Each read of a file that another station keeps locked for its write (the
// lock a committing writer takes) past the Recover wait.
TEST_F(RecordFileTest, AReadOfAFileLockedByAnotherStationsWriteAnswers43) {
  auto file = OpenFile();
  ASSERT_EQ(AddJob(*file, 1, "V", 1), 0);
  ASSERT_EQ(file->Get(kNumberKey), 0);
  const std::string position = file->Position();
  ASSERT_EQ(file->Send("Recover=0"), 0);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The byte a writer locks while it commits: no reader starts meanwhile.
    const int descriptor = ::open(file->Path().c_str(), O_RDWR);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0x40000000;
    lock.l_len = 1;
    const char signal = descriptor >= 0 && ::fcntl(descriptor, F_SETLK, &lock) == 0 ? '1' : '0';
    (void)!::write(ready[1], &signal, 1);
    ::pause();
    ::_exit(0);
  }
  char signal = 0;
  ASSERT_EQ(::read(ready[0], &signal, 1), 1);
  ASSERT_EQ(signal, '1');

  const struct {
    const char* read;
    std::function<int()> run;
  } reads[] = {
      {"Next", [&] { file->Set(kNumberKey); return file->Next(); }},
      {"Get", [&] { return file->Get(kNumberKey); }},
      {"Reget", [&] { return file->Reget(position); }},
  };
  for (const auto& read : reads) EXPECT_EQ(read.run(), kErrRecordHeld) << read.read;

  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_EQ(file->Get(kNumberKey), 0) << "the lock went with its station";
}

TEST_F(RecordFileTest, ARolledBackTransactionLeavesNoTraceInAnyFile) {
  auto jobs = OpenFile("JOBS");
  auto details = OpenFile("DETAILS");
  ASSERT_EQ(AddJob(*jobs, 1, "V", 1), 0);
  {
    RecordTransaction transaction;
    ASSERT_EQ(transaction.Begin({jobs.get(), details.get()}, 1), 0);
    ASSERT_EQ(AddJob(*jobs, 2, "V", 2), 0);
    ASSERT_EQ(AddJob(*details, 1, "V", 2), 0);
    SetField(*jobs, "JOB:JOBNUMBER", "1");
    ASSERT_EQ(jobs->Get(kNumberKey), 0);
    ASSERT_EQ(jobs->Delete(), 0);
    EXPECT_EQ(jobs->Records(), 1);
    ASSERT_EQ(transaction.Rollback(), 0);
  }
  for (const char* name : {"JOBS", "DETAILS"}) {
    auto other = NewFile(name);
    ASSERT_EQ(other->Open(), 0);
    ASSERT_EQ(other->Set(), 0);
    EXPECT_EQ(Read(*other), std::string(name) == "JOBS" ? std::vector<int>{1} : std::vector<int>{}) << name;
  }

  RecordTransaction transaction;
  ASSERT_EQ(transaction.Begin({jobs.get(), details.get()}, 1), 0);
  ASSERT_EQ(AddJob(*jobs, 3, "V", 3), 0);
  ASSERT_EQ(AddJob(*details, 3, "V", 3), 0);
  ASSERT_EQ(transaction.Commit(), 0);
  auto other = NewFile("DETAILS");
  ASSERT_EQ(other->Open(), 0);
  EXPECT_EQ(other->Records(), 1);
}

TEST_F(RecordFileTest, ARecordChangedInARolledBackTransactionCanBeWrittenAgain) {
  auto jobs = OpenFile("JOBS");
  ASSERT_EQ(AddJob(*jobs, 1, "V", 1), 0);
  SetField(*jobs, "JOB:JOBNUMBER", "1");
  ASSERT_EQ(jobs->Get(kNumberKey), 0);
  {
    RecordTransaction transaction;
    ASSERT_EQ(transaction.Begin({jobs.get()}, 1), 0);
    ASSERT_EQ(jobs->Put(), 0);
    ASSERT_EQ(transaction.Rollback(), 0);
  }
  EXPECT_EQ(jobs->Put(), 0) << "the rolled-back change is no other station's";
}

TEST_F(RecordFileTest, ATransactionThatCannotGetAWriteLockStartsNowhere) {
  auto jobs = OpenFile("JOBS");
  auto details = OpenFile("DETAILS");
  auto blocker = NewFile("DETAILS");
  ASSERT_EQ(blocker->Open(), 0);
  RecordTransaction blocking;
  ASSERT_EQ(blocking.Begin({blocker.get()}, 1), 0);

  RecordTransaction transaction;
  EXPECT_EQ(transaction.Begin({jobs.get(), details.get()}, 0), kErrAccessDenied);
  EXPECT_FALSE(transaction.Active());
  EXPECT_FALSE(jobs->InTransaction());
  ASSERT_EQ(AddJob(*jobs, 1, "V", 1), 0) << "jobs must not be left inside the failed transaction";
  blocking.Rollback();
  auto other = NewFile("JOBS");
  ASSERT_EQ(other->Open(), 0);
  EXPECT_EQ(other->Records(), 1);
}

TEST_F(RecordFileTest, ATransactionKilledDuringItsCommitChangesEveryFileOrNone) {
  for (const RecordFaults::CommitMoment moment : {RecordFaults::CommitMoment::kAfterFirstDataFileSync,
                                                   RecordFaults::CommitMoment::kAfterFirstJournalDelete}) {
    SCOPED_TRACE(static_cast<int>(moment));
    for (const char* name : {"JOBS", "DETAILS"}) {
      std::filesystem::remove(DiskName(name) + ".dat");
      auto file = OpenFile(name);
      ASSERT_EQ(AddJob(*file, 1, "V", 1), 0);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      RecordFaults::KillAt(moment);
      RecordFile jobs(JobsDeclaration(DiskName("JOBS")));
      RecordFile details(JobsDeclaration(DiskName("DETAILS")));
      RecordTransaction transaction;
      if (jobs.Open() != 0 || details.Open() != 0 || transaction.Begin({&jobs, &details}, 1) != 0) ::_exit(1);
      for (int number = 2; number < 50; ++number) {
        if (AddJob(jobs, number, "V", number) != 0 || AddJob(details, number, "V", number) != 0) ::_exit(1);
      }
      transaction.Commit();
      ::_exit(2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child did not reach the commit: " << WEXITSTATUS(status);

    std::vector<std::int64_t> records;
    for (const char* name : {"JOBS", "DETAILS"}) {
      auto file = NewFile(name);
      ASSERT_EQ(file->Open(), 0) << LastRuntimeError().file_error_message;
      const RecordFileCheck check = file->Check();
      EXPECT_TRUE(check.problems.empty()) << check.problems.front();
      records.push_back(check.records);
    }
    EXPECT_EQ(records[0], records[1]) << "one file kept the transaction, the other lost it";
    EXPECT_TRUE(records[0] == 1 || records[0] == 49) << records[0];
  }
}

TEST_F(RecordFileTest, AFileOfATransactionOverSeveralSeesItsOwnChangesAndCommitsWithTheOthers) {
  auto jobs = OpenFile("JOBS");
  auto details = OpenFile("DETAILS");
  auto same_jobs = NewFile("JOBS");
  ASSERT_EQ(same_jobs->Open(), 0);
  ASSERT_EQ(AddJob(*jobs, 1, "V", 1), 0);
  RecordTransaction transaction;
  ASSERT_EQ(transaction.Begin({jobs.get(), details.get(), same_jobs.get()}, 1), 0);
  ASSERT_EQ(AddJob(*jobs, 2, "V", 2), 0);
  SetField(*same_jobs, "JOB:JOBNUMBER", "2");
  ASSERT_EQ(same_jobs->Get(kNumberKey), 0) << "both opens of one file are in the same transaction";
  SetField(*same_jobs, "JOB:NOTE", "changed");
  ASSERT_EQ(same_jobs->Put(), 0);
  SetField(*jobs, "JOB:JOBNUMBER", "2");
  ASSERT_EQ(jobs->Get(kNumberKey), 0);
  EXPECT_EQ(Field(*jobs, "JOB:NOTE"), "changed");
  ASSERT_EQ(AddJob(*details, 7, "V", 7), 0);
  // A file that goes away leaves its writes to the transaction.
  details.reset();
  ASSERT_EQ(jobs->Set(kNumberKey), 0);
  EXPECT_EQ(Read(*jobs), (std::vector<int>{1, 2}));

  auto outsider = NewFile("JOBS");
  ASSERT_EQ(outsider->Open(), 0);
  EXPECT_EQ(outsider->Records(), 1) << "nothing is visible before the commit";
  ASSERT_EQ(transaction.Commit(), 0) << LastRuntimeError().file_error_message;
  EXPECT_FALSE(jobs->InTransaction());
  EXPECT_EQ(outsider->Records(), 2);
  auto other = NewFile("DETAILS");
  ASSERT_EQ(other->Open(), 0);
  EXPECT_EQ(other->Records(), 1);
  SetField(*jobs, "JOB:JOBNUMBER", "1");
  ASSERT_EQ(jobs->Get(kNumberKey), 0);
  EXPECT_EQ(jobs->Put(), 0) << "the file writes on its own connection again";
}

TEST_F(RecordFileTest, AStreamKilledMidwayKeepsEveryCommittedBatchAndNoPartOfTheRest) {
  auto maker = OpenFile();
  maker->Close();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RecordFile file(JobsDeclaration(DiskName()));
    if (file.Open() != 0 || file.Stream() != 0) ::_exit(1);
    for (int number = 1;; ++number) {
      AddJob(file, number, "V" + std::to_string(number % 7), number);
    }
  }
  auto watcher = NewFile();
  ASSERT_EQ(watcher->Open(0x40), 0);
  for (int tries = 0; tries < 6000 && watcher->Records() < 3 * RecordFile::kStreamBatch; ++tries) {
    ::usleep(5000);
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped on its own";
  watcher->Close();

  auto file = NewFile();
  ASSERT_EQ(file->Open(), 0) << LastRuntimeError().file_error_message;
  const RecordFileCheck check = file->Check();
  EXPECT_TRUE(check.problems.empty()) << check.problems.front();
  ASSERT_GE(check.records, 3 * RecordFile::kStreamBatch);
  EXPECT_EQ(check.records % RecordFile::kStreamBatch, 0);
  ASSERT_EQ(file->Set(kNumberKey), 0);
  int expected = 0;
  while (file->Next() == 0) {
    ++expected;
    ASSERT_EQ(Field(*file, "JOB:JOBNUMBER"), std::to_string(expected));
    ASSERT_EQ(Field(*file, "JOB:VEHNUMBER"), "V" + std::to_string(expected % 7));
    ASSERT_EQ(Field(*file, "JOB:METER"), "1.500");
  }
  EXPECT_EQ(expected, check.records);
}

TEST_F(RecordFileTest, FlushCommitsAStreamForOtherStations) {
  auto file = OpenFile();
  ASSERT_EQ(file->Stream(), 0);
  for (int i = 1; i <= 10; ++i) ASSERT_EQ(AddJob(*file, i, "V", i), 0);
  auto other = NewFile();
  ASSERT_EQ(other->Open(0x40), 0);
  EXPECT_EQ(other->Records(), 0);
  ASSERT_EQ(file->Flush(), 0);
  EXPECT_EQ(other->Records(), 10);
}

TEST_F(RecordFileTest, ASavedStateBringsBackTheOrderAndTheCurrentRecord) {
  auto file = OpenFile();
  for (int i = 1; i <= 6; ++i) ASSERT_EQ(AddJob(*file, i, i <= 3 ? "A" : "B", i), 0);
  ASSERT_EQ(file->Set(kVehicleKey), 0);
  ASSERT_EQ(file->Next(), 0);
  ASSERT_EQ(file->Next(), 0);
  const std::string position = file->Position(kVehicleKey);
  const int state = file->GetState();
  ASSERT_EQ(file->Set(), 0);
  ASSERT_EQ(file->Previous(), 0);
  ASSERT_EQ(file->RestoreState(state), 0);
  EXPECT_EQ(file->Position(kVehicleKey), position);
  EXPECT_EQ(Read(*file), (std::vector<int>{3, 4, 5, 6}));
  file->FreeState(state);
  EXPECT_EQ(file->RestoreState(state), kErrNoRecord);
}

TEST_F(RecordFileTest, DriverCommands) {
  auto file = OpenFile();
  EXPECT_EQ(file->Send("Recover=10"), 0);
  EXPECT_EQ(file->Send("QUICKSCAN=on"), 0);
  EXPECT_EQ(file->Send("quickscan=OFF"), 0);
  EXPECT_EQ(file->Send("Recover=soon"), kErrNotSupported);
  EXPECT_EQ(file->Send("TURBO=on"), kErrNotSupported);

  // Recover is how long a write waits for another station's lock.
  auto blocker = NewFile();
  ASSERT_EQ(blocker->Open(), 0);
  RecordTransaction blocking;
  ASSERT_EQ(blocking.Begin({blocker.get()}, 1), 0);
  ASSERT_EQ(file->Send("Recover=0"), 0);
  EXPECT_EQ(AddJob(*file, 1, "V", 1), kErrAccessDenied);
  ASSERT_EQ(file->Send("Recover=20"), 0);
  std::thread release([&] {
    ::usleep(200000);
    blocking.Rollback();
  });
  EXPECT_EQ(AddJob(*file, 1, "V", 1), 0);
  release.join();
}

class Recorder : public RecordFileObserver {
 public:
  bool BeforeOperation(RecordOperation operation, std::span<const std::uint8_t>) override {
    log.push_back("before " + std::to_string(static_cast<int>(operation)));
    return operation != stop;
  }
  void AfterOperation(RecordOperation operation, std::span<const std::uint8_t>, int result) override {
    log.push_back("after " + std::to_string(static_cast<int>(operation)) + " " + std::to_string(result));
  }
  std::vector<std::string> log;
  RecordOperation stop = RecordOperation::kRelease;
};

TEST_F(RecordFileTest, TheObserverHearsOfEveryOperationAndCanStopOne) {
  Recorder recorder;
  {
    auto file = OpenFile();
    file->SetObserver(&recorder);
    ASSERT_EQ(AddJob(*file, 1, "V", 1), 0);
    ASSERT_EQ(file->Set(), 0);
    ASSERT_EQ(file->Next(), 0);
    EXPECT_EQ(file->Next(), kErrNoRecord);
    recorder.stop = RecordOperation::kDelete;
    EXPECT_EQ(file->Delete(), kErrDriverError);
    EXPECT_EQ(LastRuntimeError().file_error_message, "Operation stopped");
    EXPECT_EQ(file->Records(), 1);
  }
  EXPECT_EQ(recorder.log, (std::vector<std::string>{"before 15", "after 15 0", "before 51", "after 51 0",
                                                    "before 51", "after 51 33", "before 17", "before 7",
                                                    "after 7 0", "before 104"}));
}

TEST_F(RecordFileTest, ErrorStateIsPerThread) {
  auto file = NewFile();
  ASSERT_EQ(file->Open(), kErrFileNotFound);
  std::thread([&] {
    auto other = OpenFile("OTHER");
    EXPECT_EQ(LastRuntimeError().code, kErrNone);
  }).join();
  EXPECT_EQ(LastRuntimeError().code, kErrFileNotFound);
  EXPECT_EQ(LastRuntimeError().text, "File Not Found");
}

TEST_F(RecordFileTest, StationsOnSeveralThreadsAddToOneFileWithoutLosingRecords) {
  auto maker = OpenFile();
  maker->Close();
  constexpr int kThreads = 4;
  constexpr int kEach = 40;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      RecordFile file(JobsDeclaration(DiskName()));
      if (file.Open() != 0) {
        failures[t] = -1;
        return;
      }
      for (int i = 0; i < kEach; ++i) {
        if (AddJob(file, t * kEach + i + 1, "T" + std::to_string(t), i) != 0) {
          ADD_FAILURE() << LastRuntimeError().code << " " << LastRuntimeError().file_error_message;
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
  auto file = NewFile();
  ASSERT_EQ(file->Open(), 0);
  EXPECT_EQ(file->Records(), kThreads * kEach);
}

}  // namespace
}  // namespace qm::platform
