#include "platform/upgrade_library.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/record_faults.h"
#include "platform/record_fields.h"
#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

namespace fs = std::filesystem;

struct FieldSpec {
  const char* name;
  FieldEncoding encoding;
  std::size_t width = 0;
  int digits = 0;
  int decimals = 0;
};

RecordDeclaration Declare(const std::string& disk_name, int version, const std::vector<FieldSpec>& fields,
                          std::vector<KeyDeclaration> keys = {}) {
  RecordDeclaration declaration;
  declaration.label = "TdStock";
  declaration.prefix = "S";
  declaration.disk_name = disk_name;
  declaration.version = version;
  for (const FieldSpec& field : fields) {
    declaration.AddField(field.name, field.encoding, field.width, field.digits, field.decimals);
  }
  declaration.keys = std::move(keys);
  return declaration;
}

// The stock file as it was (version 1) and as the program now declares it
// (version 2): CODE wider, NAME narrower, QTY a wider number, PRICE a float
// instead of a packed decimal, NOTE gone, ADDED new, and a new key on QTY.
RecordDeclaration OldStock(const std::string& disk_name) {
  return Declare(disk_name, 1,
                 {{"S:CODE", FieldEncoding::kText, 6},
                  {"S:NAME", FieldEncoding::kText, 20},
                  {"S:QTY", FieldEncoding::kU16},
                  {"S:PRICE", FieldEncoding::kDecimal, 0, 9, 2},
                  {"S:NOTE", FieldEncoding::kCString, 10}},
                 {KeyDeclaration{"S:CodeKey", {1}, true, true, true}});
}

RecordDeclaration NewStock(const std::string& disk_name) {
  return Declare(disk_name, 2,
                 {{"S:CODE", FieldEncoding::kText, 8},
                  {"S:ADDED", FieldEncoding::kI32},
                  {"S:NAME", FieldEncoding::kText, 12},
                  {"S:QTY", FieldEncoding::kU32},
                  {"S:PRICE", FieldEncoding::kF64}},
                 {KeyDeclaration{"S:CodeKey", {1}, true, true, true}, KeyDeclaration{"S:QtyKey", {4}, false, false}});
}

void Set(RecordFile& file, const char* name, const std::string& value) {
  const int number = file.Declaration().FieldNumber(name);
  ASSERT_NE(number, 0) << name;
  ASSERT_TRUE(SetFieldText(file.Declaration().fields[static_cast<std::size_t>(number - 1)], file.Record(), value))
      << name << " = " << value;
}

std::string Get(const RecordFile& file, const char* name) {
  const int number = file.Declaration().FieldNumber(name);
  if (number == 0) return "<no field " + std::string(name) + ">";
  return FieldText(file.Declaration().fields[static_cast<std::size_t>(number - 1)], file.Record());
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The directory's entries but the driver's lock files.
std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(".") || !name.ends_with(".lck")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class UpgradeLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qm-upg-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    disk_name_ = dir_ + "/STOCK";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Registered as the checker registers its files.
  void Register(UpgradeLibrary& library, const RecordFile& file, int version) {
    library.PassHandleForUpgrading();
    library.SetUpgradePath(dir_, 0);
    library.SetOption("BadFile", 0);
    RecordFile placeholder(Declare(dir_ + "/GKREC", 0, {{"__GKREC:A", FieldEncoding::kU8}}));
    library.AddDriver("Krec", placeholder, 1);
    library.IgnoreDriver("AllFiles", 1);
    library.SetOption("SPCreate", 1);
    library.UsingFileEx(file, version, 0, file.Label(), file.Declaration().prefix);
  }

  // Makes the file with `declaration` and adds one record per row of
  // field values.
  static void Make(const RecordDeclaration& declaration,
                   const std::vector<std::vector<std::pair<const char*, std::string>>>& rows) {
    RecordFile file(declaration);
    ASSERT_EQ(file.Create(), 0) << LastRuntimeError().file_error_message;
    ASSERT_EQ(file.Open(), 0) << LastRuntimeError().file_error_message;
    for (const auto& row : rows) {
      file.Clear();
      for (const auto& [name, value] : row) Set(file, name, value);
      ASSERT_EQ(file.Add(), 0) << LastRuntimeError().file_error_message;
    }
  }

  static int StoredVersion(const std::string& path) {
    RecordDeclaration stored;
    return RecordFile::ReadDeclaration(path, &stored) == 0 ? stored.version : -1;
  }

  std::string dir_;
  std::string disk_name_;
};

TEST_F(UpgradeLibraryTest, UpgradeKeepsEveryRecordAndValueAndKeepsTheOriginalUnderItsVersion) {
  Make(OldStock(disk_name_), {
                                 {{"S:CODE", "NUT6"}, {"S:NAME", "Hex nut, six mm"}, {"S:QTY", "40"},
                                  {"S:PRICE", "0.35"}, {"S:NOTE", "loose"}},
                                 {{"S:CODE", "BOLT10"}, {"S:NAME", "Bolt"}, {"S:QTY", "65535"},
                                  {"S:PRICE", "-12.50"}},
                                 {{"S:CODE", "WASH"}, {"S:QTY", "40"}},
                             });
  const std::string original = Bytes(disk_name_ + ".dat");

  UpgradeLibrary library;
  RecordFile file(NewStock(disk_name_));
  Register(library, file, 2);
  std::vector<UpgradeProgress::Step> steps;
  library.SetProgress([&](const UpgradeProgress& progress) { steps.push_back(progress.step); });
  ASSERT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), 0) << LastRuntimeError().file_error_message;

  struct Expected {
    const char* code;
    const char* name;
    const char* qty;
    const char* price;
  };
  const Expected expected[] = {
      {"NUT6", "Hex nut, six", "40", "0.35"},
      {"BOLT10", "Bolt", "65535", "-12.5"},
      {"WASH", "", "40", "0"},
  };
  ASSERT_EQ(file.Records(), 3);
  ASSERT_EQ(file.Set(0), 0);
  for (const Expected& row : expected) {
    ASSERT_EQ(file.Next(), 0);
    EXPECT_EQ(Get(file, "S:CODE"), row.code);
    EXPECT_EQ(Get(file, "S:NAME"), row.name);
    EXPECT_EQ(Get(file, "S:QTY"), row.qty);
    EXPECT_EQ(Get(file, "S:PRICE"), row.price);
    EXPECT_EQ(Get(file, "S:ADDED"), "0");
  }
  // The new key was built from the converted records.
  Set(file, "S:QTY", "65535");
  ASSERT_EQ(file.Get(2), 0);
  EXPECT_EQ(Get(file, "S:CODE"), "BOLT10");
  file.Close();

  EXPECT_EQ(StoredVersion(disk_name_ + ".dat"), 2);
  EXPECT_EQ(Bytes(disk_name_ + ".dat.v1"), original);
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"STOCK.dat", "STOCK.dat.v1"}));
  EXPECT_EQ(steps, (std::vector<UpgradeProgress::Step>{UpgradeProgress::Step::kConverting,
                                                       UpgradeProgress::Step::kVerifying,
                                                       UpgradeProgress::Step::kReplacing,
                                                       UpgradeProgress::Step::kUpgraded}));

  // Upgraded once: the next open only checks it.
  steps.clear();
  ASSERT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), 0);
  EXPECT_EQ(steps, std::vector<UpgradeProgress::Step>{UpgradeProgress::Step::kChecking});
}

TEST_F(UpgradeLibraryTest, WorksInTheUpgradePathWhenNotToWorkBesideTheFile) {
  const std::string elsewhere = dir_ + "/work";
  ASSERT_TRUE(fs::create_directory(elsewhere));
  Make(OldStock(disk_name_), {{{"S:CODE", "NUT6"}, {"S:QTY", "7"}}});
  UpgradeLibrary library;
  RecordFile file(NewStock(disk_name_));
  Register(library, file, 2);
  library.SetOption("SPCreate", 0);
  library.SetUpgradePath(elsewhere, 0);
  bool worked_there = false;
  library.SetProgress([&](const UpgradeProgress& progress) {
    if (progress.step == UpgradeProgress::Step::kVerifying) {
      worked_there = fs::exists(elsewhere + "/.upgrade/STOCK.dat") && !fs::exists(dir_ + "/.upgrade");
    }
  });
  ASSERT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), 0) << LastRuntimeError().file_error_message;
  EXPECT_TRUE(worked_there);
  EXPECT_EQ(file.Records(), 1);
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

// One field converted between encodings: its new value, or a refusal that
// leaves the original as it was.
TEST_F(UpgradeLibraryTest, ConvertsValuesBetweenEncodingsAndRefusesThoseThatDoNotFit) {
  struct Case {
    FieldSpec from;
    const char* value;
    FieldSpec to;
    const char* converted;  // nullptr: refused
  };
  using E = FieldEncoding;
  const Case cases[] = {
      {{"S:VALUE", E::kU16}, "65535", {"S:VALUE", E::kU8}, nullptr},
      {{"S:VALUE", E::kI32}, "-5", {"S:VALUE", E::kU32}, nullptr},
      {{"S:VALUE", E::kU32}, "4000000000", {"S:VALUE", E::kI32}, nullptr},
      {{"S:VALUE", E::kU16}, "300", {"S:VALUE", E::kI32}, "300"},
      {{"S:VALUE", E::kDecimal, 0, 9, 2}, "12.34", {"S:VALUE", E::kDecimal, 0, 11, 3}, "12.340"},
      {{"S:VALUE", E::kDecimal, 0, 11, 3}, "12.345", {"S:VALUE", E::kDecimal, 0, 9, 2}, nullptr},
      {{"S:VALUE", E::kDecimal, 0, 11, 3}, "12.340", {"S:VALUE", E::kDecimal, 0, 9, 2}, "12.34"},
      {{"S:VALUE", E::kDecimal, 0, 11, 3}, "12345678.000", {"S:VALUE", E::kDecimal, 0, 9, 2}, nullptr},
      {{"S:VALUE", E::kDecimal, 0, 11, 3}, "-7.000", {"S:VALUE", E::kI32}, "-7"},
      {{"S:VALUE", E::kF64}, "1000000", {"S:VALUE", E::kI32}, "1000000"},
      {{"S:VALUE", E::kF64}, "2.5", {"S:VALUE", E::kI32}, nullptr},
      {{"S:VALUE", E::kF64}, "0.1", {"S:VALUE", E::kDecimal, 0, 9, 2}, "0.10"},
      {{"S:VALUE", E::kF64}, "1e+300", {"S:VALUE", E::kF32}, nullptr},
      {{"S:VALUE", E::kF32}, "0.5", {"S:VALUE", E::kF64}, "0.5"},
      {{"S:VALUE", E::kI32}, "7", {"S:VALUE", E::kF64}, "7"},
      // A 4-byte float holds 16777216 but not the next whole number.
      {{"S:VALUE", E::kI32}, "16777216", {"S:VALUE", E::kF32}, "16777216"},
      {{"S:VALUE", E::kI32}, "16777217", {"S:VALUE", E::kF32}, nullptr},
      {{"S:VALUE", E::kDecimal, 0, 9, 2}, "2.5", {"S:VALUE", E::kF32}, "2.5"},
      {{"S:VALUE", E::kDecimal, 0, 11, 2}, "123456789.12", {"S:VALUE", E::kF32}, nullptr},
      {{"S:VALUE", E::kText, 8}, "ABCDEFGH", {"S:VALUE", E::kText, 4}, "ABCD"},
      {{"S:VALUE", E::kText, 4}, "AB", {"S:VALUE", E::kText, 8}, "AB"},
      {{"S:VALUE", E::kCString, 10}, "abc", {"S:VALUE", E::kText, 6}, "abc"},
      {{"S:VALUE", E::kText, 8}, " 42", {"S:VALUE", E::kU16}, "42"},
      {{"S:VALUE", E::kText, 8}, "", {"S:VALUE", E::kU16}, "0"},
      {{"S:VALUE", E::kText, 8}, "4x", {"S:VALUE", E::kU16}, nullptr},
      {{"S:VALUE", E::kU32}, "1234", {"S:VALUE", E::kText, 4}, "1234"},
      {{"S:VALUE", E::kU32}, "123456", {"S:VALUE", E::kText, 4}, nullptr},
      {{"s:value", E::kU8}, "9", {"S:VALUE", E::kU8}, "9"},
  };
  int case_number = 0;
  for (const Case& c : cases) {
    const std::string disk_name = dir_ + "/CASE" + std::to_string(++case_number);
    SCOPED_TRACE(disk_name + ": " + c.value);
    Make(Declare(disk_name, 1, {c.from}), {{{c.from.name, c.value}}});
    const std::string original = Bytes(disk_name + ".dat");
    UpgradeLibrary library;
    RecordFile file(Declare(disk_name, 2, {c.to}));
    Register(library, file, 2);
    const int code = library.FileOpen(file, kOpenReadWriteDenyNone);
    if (c.converted != nullptr) {
      ASSERT_EQ(code, 0) << LastRuntimeError().file_error_message;
      ASSERT_EQ(file.Set(0), 0);
      ASSERT_EQ(file.Next(), 0);
      EXPECT_EQ(Get(file, "S:VALUE"), c.converted);
    } else {
      EXPECT_EQ(code, kErrDeclarationMismatch);
      EXPECT_FALSE(file.IsOpen());
      EXPECT_EQ(Bytes(disk_name + ".dat"), original);
      EXPECT_FALSE(fs::exists(disk_name + ".dat.v1"));
      EXPECT_FALSE(fs::exists(dir_ + "/.upgrade"));
    }
  }
}

TEST_F(UpgradeLibraryTest, RefusalNamesTheRecordTheFieldAndWhy) {
  Make(Declare(disk_name_, 1, {{"S:QTY", FieldEncoding::kU16}}), {{{"S:QTY", "12"}}, {{"S:QTY", "300"}}});
  UpgradeLibrary library;
  RecordFile file(Declare(disk_name_, 2, {{"S:QTY", FieldEncoding::kU8}}));
  Register(library, file, 2);
  EXPECT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), kErrDeclarationMismatch);
  EXPECT_EQ(LastRuntimeError().file, disk_name_ + ".dat");
  EXPECT_EQ(LastRuntimeError().file_error_message,
            "record 2: the value 300 of S:QTY does not fit S:QTY (u8): out of range");
}

TEST_F(UpgradeLibraryTest, RefusesRecordsThatDuplicateANewUniqueKey) {
  Make(OldStock(disk_name_), {{{"S:CODE", "A"}, {"S:QTY", "5"}}, {{"S:CODE", "B"}, {"S:QTY", "5"}}});
  const std::string original = Bytes(disk_name_ + ".dat");
  RecordDeclaration declaration = NewStock(disk_name_);
  declaration.keys[1].unique = true;
  UpgradeLibrary library;
  RecordFile file(declaration);
  Register(library, file, 2);
  EXPECT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), kErrDeclarationMismatch);
  EXPECT_EQ(LastRuntimeError().file_error_message, "record 2 duplicates a unique key of the new structure");
  EXPECT_EQ(Bytes(disk_name_ + ".dat"), original);
}

TEST_F(UpgradeLibraryTest, RefusesANewerStructureOrAnotherFilesDataAndLeavesItAlone) {
  RecordDeclaration newer = NewStock(disk_name_);
  newer.version = 3;
  RecordDeclaration foreign = OldStock(disk_name_);
  foreign.label = "FARMS";
  const struct {
    const char* what;
    RecordDeclaration stored;
    const char* message;
  } cases[] = {
      {"newer", newer, "the file has structure version 3, newer than version 2 that this program knows; it is not changed"},
      {"another file's", foreign, "the file holds FARMS, not TdStock; it is not changed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(disk_name_ + ".dat");
    Make(c.stored, {{{"S:CODE", "NUT6"}}});
    const std::string original = Bytes(disk_name_ + ".dat");
    UpgradeLibrary library;
    RecordFile file(NewStock(disk_name_));
    Register(library, file, 2);
    EXPECT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), kErrDeclarationMismatch);
    EXPECT_EQ(LastRuntimeError().file_error_message, c.message);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(Bytes(disk_name_ + ".dat"), original);
    EXPECT_EQ(Names(dir_), std::vector<std::string>{"STOCK.dat"});
  }
}

// Keys that do not match their records answer 46 with the file closed, so
// that the file manager rebuilds them; after the rebuild the file opens.
TEST_F(UpgradeLibraryTest, DamagedKeysAnswerInvalidKeyUntilRebuilt) {
  struct Case {
    const char* damage;
    int (*apply)(const std::string& path, int key_number);
  };
  const Case cases[] = {
      {"scrambled key values", RecordFaults::ScrambleKeyValues},
      {"dropped index", RecordFaults::DropIndex},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.damage);
    fs::remove(disk_name_ + ".dat");
    Make(NewStock(disk_name_), {{{"S:CODE", "A"}, {"S:QTY", "1"}}, {{"S:CODE", "B"}, {"S:QTY", "2"}}});
    ASSERT_EQ(c.apply(disk_name_ + ".dat", 2), 0);
    UpgradeLibrary library;
    RecordFile file(NewStock(disk_name_));
    Register(library, file, 2);
    EXPECT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), kErrKeyFileInvalid);
    EXPECT_FALSE(file.IsOpen());
    ASSERT_EQ(file.Build(), 0) << LastRuntimeError().file_error_message;
    EXPECT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), 0) << LastRuntimeError().file_error_message;
    EXPECT_EQ(file.Records(), 2);
  }
}

TEST_F(UpgradeLibraryTest, UpgradesAnOldFileWhoseIndexIsDamaged) {
  Make(OldStock(disk_name_), {{{"S:CODE", "A"}, {"S:QTY", "1"}}, {{"S:CODE", "B"}, {"S:QTY", "2"}}});
  ASSERT_EQ(RecordFaults::DropIndex(disk_name_ + ".dat", 1), 0);
  const std::string original = Bytes(disk_name_ + ".dat");
  UpgradeLibrary library;
  RecordFile file(NewStock(disk_name_));
  Register(library, file, 2);
  ASSERT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), 0) << LastRuntimeError().file_error_message;
  EXPECT_EQ(file.Records(), 2);
  // The records were read as they were: the kept original was never changed.
  EXPECT_EQ(Bytes(disk_name_ + ".dat.v1"), original);
}

// What the library leaves to the driver, and what it answers for files it
// cannot use.
TEST_F(UpgradeLibraryTest, OpensUnhandledFilesPlainlyAndAnswersForUnusableOnes) {
  enum class Setup { kMissing, kOpenAlready, kNotARecordFile, kEmpty, kOldUnregistered, kOldDriverNotAdded,
                     kScrambledUnregistered };
  struct Case {
    const char* what;
    Setup setup;
    bool check_unregistered;  // "AllFiles" 0
    bool move_bad_files;      // "BadFile" 1
    int expected;
    std::vector<std::string> names_after;
  };
  const Case cases[] = {
      {"missing", Setup::kMissing, false, false, kErrFileNotFound, {}},
      {"already open", Setup::kOpenAlready, false, false, kErrFileAlreadyOpen, {"STOCK.dat"}},
      {"not a record file", Setup::kNotARecordFile, false, false, kErrDriverError, {"STOCK.dat"}},
      {"zero length", Setup::kEmpty, false, false, kErrDriverError, {"STOCK.dat"}},
      {"not a record file, moved aside", Setup::kNotARecordFile, false, true, kErrFileNotFound, {"STOCK.dat.bad"}},
      {"old, not registered", Setup::kOldUnregistered, false, false, kErrDeclarationMismatch,
       {"STOCK.dat"}},
      {"old, driver not added", Setup::kOldDriverNotAdded, false, false, kErrDeclarationMismatch,
       {"STOCK.dat"}},
      {"damaged, not registered", Setup::kScrambledUnregistered, false, false, 0, {"STOCK.dat"}},
      {"damaged, not registered, checked", Setup::kScrambledUnregistered, true, false, kErrKeyFileInvalid,
       {"STOCK.dat"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove(entry.path());
    UpgradeLibrary library;
    RecordFile registered(NewStock(disk_name_));
    Register(library, registered, 2);
    if (c.check_unregistered) library.IgnoreDriver("AllFiles", 0);
    if (c.move_bad_files) library.SetOption("BadFile", 1);
    RecordDeclaration declaration = NewStock(disk_name_);
    if (c.setup == Setup::kOldUnregistered || c.setup == Setup::kScrambledUnregistered) {
      declaration.label = "TdUnlisted";
    }
    RecordFile file(declaration);
    switch (c.setup) {
      case Setup::kMissing: break;
      case Setup::kOpenAlready:
        Make(NewStock(disk_name_), {});
        ASSERT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), 0);
        break;
      case Setup::kNotARecordFile: std::ofstream(disk_name_ + ".dat") << "VEHICLES 1998\n"; break;
      case Setup::kEmpty: std::ofstream(disk_name_ + ".dat").flush(); break;
      case Setup::kOldUnregistered: Make(OldStock(disk_name_), {{{"S:CODE", "A"}}}); break;
      case Setup::kOldDriverNotAdded: {
        Make(OldStock(disk_name_), {{{"S:CODE", "A"}}});
        RecordFile placeholder(Declare(dir_ + "/GKREC", 0, {{"__GKREC:A", FieldEncoding::kU8}}));
        library.AddDriver("Krec", placeholder, 0);
        break;
      }
      case Setup::kScrambledUnregistered:
        Make(NewStock(disk_name_), {{{"S:CODE", "A"}, {"S:QTY", "1"}}});
        ASSERT_EQ(RecordFaults::ScrambleKeyValues(disk_name_ + ".dat", 2), 0);
        break;
    }
    const std::string before = Bytes(disk_name_ + ".dat");
    EXPECT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), c.expected) << LastRuntimeError().file_error_message;
    EXPECT_EQ(file.IsOpen(), c.expected == 0 || c.expected == kErrFileAlreadyOpen);
    file.Close();
    EXPECT_EQ(Names(dir_), c.names_after);
    if (!c.move_bad_files && c.setup != Setup::kMissing) {
      EXPECT_EQ(Bytes(disk_name_ + ".dat"), before);
    }
  }
}

// A conversion killed at each of its steps leaves the original file as it
// was, and the next open completes the upgrade.
TEST_F(UpgradeLibraryTest, KilledUpgradeLeavesTheOriginalAndTheNextOpenCompletesIt) {
  constexpr int kRecords = 2500;
  const UpgradeProgress::Step kills[] = {UpgradeProgress::Step::kConverting, UpgradeProgress::Step::kVerifying,
                                         UpgradeProgress::Step::kReplacing};
  for (UpgradeProgress::Step kill : kills) {
    SCOPED_TRACE(static_cast<int>(kill));
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
    {
      RecordFile old_file(OldStock(disk_name_));
      ASSERT_EQ(old_file.Create(), 0);
      ASSERT_EQ(old_file.Open(), 0);
      ASSERT_EQ(old_file.Stream(), 0);
      for (int i = 1; i <= kRecords; ++i) {
        old_file.Clear();
        Set(old_file, "S:CODE", "C" + std::to_string(i));
        Set(old_file, "S:QTY", std::to_string(i));
        ASSERT_EQ(old_file.Add(), 0);
      }
      ASSERT_EQ(old_file.Flush(), 0);
    }
    const std::string original = Bytes(disk_name_ + ".dat");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      UpgradeLibrary library;
      RecordFile file(NewStock(disk_name_));
      Register(library, file, 2);
      library.SetProgress([kill](const UpgradeProgress& progress) {
        if (progress.step == kill && (kill != UpgradeProgress::Step::kConverting || progress.done < progress.total)) {
          ::raise(SIGKILL);
        }
      });
      library.FileOpen(file, kOpenReadWriteDenyNone);
      ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child was not killed";
    EXPECT_EQ(Bytes(disk_name_ + ".dat"), original);
    EXPECT_EQ(StoredVersion(disk_name_ + ".dat"), 1);

    UpgradeLibrary library;
    RecordFile file(NewStock(disk_name_));
    Register(library, file, 2);
    ASSERT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), 0) << LastRuntimeError().file_error_message;
    EXPECT_EQ(file.Records(), kRecords);
    Set(file, "S:CODE", "c2500");
    ASSERT_EQ(file.Get(1), 0);
    EXPECT_EQ(Get(file, "S:QTY"), "2500");
    file.Close();
    EXPECT_EQ(Bytes(disk_name_ + ".dat.v1"), original);
    EXPECT_EQ(Names(dir_), (std::vector<std::string>{"STOCK.dat", "STOCK.dat.v1"}));
  }
}

TEST_F(UpgradeLibraryTest, AnOriginalAlreadyKeptUnderItsNameIsNotReplaced) {
  std::ofstream(disk_name_ + ".dat.v1") << "an older copy the user kept";
  Make(OldStock(disk_name_), {{{"S:CODE", "A"}}});
  const std::string original = Bytes(disk_name_ + ".dat");
  UpgradeLibrary library;
  RecordFile file(NewStock(disk_name_));
  Register(library, file, 2);
  ASSERT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), 0) << LastRuntimeError().file_error_message;
  EXPECT_EQ(Bytes(disk_name_ + ".dat.v1"), "an older copy the user kept");
  EXPECT_EQ(Bytes(disk_name_ + ".dat.v1-2"), original);
}

// On a file system without hard links the original is kept as a copy made
// through SQLite, whole and readable under its old structure.
TEST_F(UpgradeLibraryTest, WithoutLinksTheOriginalIsKeptAsACopy) {
  Make(OldStock(disk_name_), {{{"S:CODE", "NUT6"}, {"S:QTY", "40"}}, {{"S:CODE", "BOLT10"}, {"S:QTY", "7"}}});
  UpgradeFaults::FailLinks(true);
  UpgradeLibrary library;
  RecordFile file(NewStock(disk_name_));
  Register(library, file, 2);
  const int opened = library.FileOpen(file, kOpenReadWriteDenyNone);
  UpgradeFaults::Clear();
  ASSERT_EQ(opened, 0) << LastRuntimeError().file_error_message;
  EXPECT_EQ(file.Records(), 2);
  file.Close();
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"STOCK.dat", "STOCK.dat.v1"}));

  struct stat kept, converted;
  ASSERT_EQ(::stat((disk_name_ + ".dat.v1").c_str(), &kept), 0);
  ASSERT_EQ(::stat((disk_name_ + ".dat").c_str(), &converted), 0);
  EXPECT_NE(kept.st_ino, converted.st_ino);
  fs::copy_file(disk_name_ + ".dat.v1", dir_ + "/KEPT.dat");
  RecordFile copy(OldStock(dir_ + "/KEPT"));
  ASSERT_EQ(copy.Open(), 0) << LastRuntimeError().file_error_message;
  EXPECT_TRUE(copy.Check().problems.empty());
  ASSERT_EQ(copy.Set(1), 0);
  ASSERT_EQ(copy.Next(), 0);
  EXPECT_EQ(Get(copy, "S:CODE"), "BOLT10");
  EXPECT_EQ(Get(copy, "S:QTY"), "7");
  ASSERT_EQ(copy.Next(), 0);
  EXPECT_EQ(Get(copy, "S:CODE"), "NUT6");
  EXPECT_EQ(copy.Next(), kErrNoRecord);
}

// In a read-only directory a sound file opens for reading only, and one
// that needs an upgrade is refused and left as it was.
TEST_F(UpgradeLibraryTest, InAReadOnlyDirectoryNothingIsWritten) {
  RecordDeclaration sound_declaration = NewStock(dir_ + "/SOUND");
  sound_declaration.label = "TdSound";
  Make(sound_declaration, {{{"S:CODE", "A"}}});
  Make(OldStock(disk_name_), {{{"S:CODE", "A"}}});
  const std::string original = Bytes(disk_name_ + ".dat");
  UpgradeFaults::RefuseWrites(dir_);
  UpgradeLibrary library;
  RecordFile sound(sound_declaration);
  RecordFile file(NewStock(disk_name_));
  Register(library, file, 2);
  library.UsingFileEx(sound, 2, 0, sound.Label(), "S");

  EXPECT_EQ(library.FileOpen(sound, kOpenReadWriteDenyNone), kErrAccessDenied);
  EXPECT_EQ(library.FileOpen(sound, kAccessRead | kShareDenyNone), 0);
  EXPECT_EQ(library.FileOpen(file, kOpenReadWriteDenyNone), kErrAccessDenied);
  const int read_only = library.FileOpen(file, kAccessRead | kShareDenyNone);
  const std::string message = LastRuntimeError().file_error_message;
  UpgradeFaults::Clear();
  EXPECT_NE(read_only, 0);
  EXPECT_NE(message.find("cannot make the work directory"), std::string::npos) << message;
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(Bytes(disk_name_ + ".dat"), original);
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"SOUND.dat", "STOCK.dat"}));
}

TEST_F(UpgradeLibraryTest, TextFilesOpenAsTheirDriverOpensThem) {
  UpgradeLibrary library;
  TextFile log(dir_ + "/VLXError.Log");
  EXPECT_EQ(library.FileOpen(log, kOpenReadWriteDenyNone), kErrFileNotFound);
  ASSERT_EQ(log.Create(), 0);
  EXPECT_EQ(library.FileOpen(log, kOpenReadWriteDenyNone), 0);
  EXPECT_TRUE(log.IsOpen());
}

}  // namespace
}  // namespace qm::platform
