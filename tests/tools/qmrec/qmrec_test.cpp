#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/record_faults.h"

namespace {

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Every encoding, a unique case-sensitive key and a two-component key.
constexpr const char* kDeclaration = R"({
  "label": "TdTest", "prefix": "T", "version": 4,
  "fields": [
    {"name": "T:NUMBER", "encoding": "u32"},
    {"name": "T:CODE", "encoding": "text", "width": 8},
    {"name": "T:SMALL", "encoding": "u8"},
    {"name": "T:COUNT", "encoding": "u16"},
    {"name": "T:DATE", "encoding": "i32"},
    {"name": "T:UNITS", "encoding": "f32"},
    {"name": "T:COST", "encoding": "f64"},
    {"name": "T:METER", "encoding": "decimal", "digits": 11, "decimals": 3},
    {"name": "T:NOTE", "encoding": "cstring", "width": 24}
  ],
  "keys": [
    {"name": "T:NumberKey", "components": ["T:NUMBER"], "unique": true, "no_case": true,
     "primary": true, "auto_number": true},
    {"name": "T:CodeKey", "components": ["T:CODE"], "unique": true},
    {"name": "T:DateKey", "components": ["T:SMALL", "T:DATE"], "no_case": true}
  ]
})";

class QmrecTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-qmrec-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    Write("decl.json", kDeclaration);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }

  void Write(const std::string& name, const std::string& contents) const {
    std::ofstream(PathOf(name), std::ios::binary) << contents;
  }

  std::string Read(const std::string& name) const {
    std::ifstream file(PathOf(name), std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
  }

  // Runs qmrec in the test directory with `input` on standard input.
  Outcome Run(const std::string& arguments, const std::string& input = "") const {
    Write("stdin.txt", input);
    const std::string command = "cd '" + dir_ + "' && '" QMREC_BINARY "' " + arguments +
                                " < stdin.txt > stdout.txt 2> stderr.txt";
    const int status = std::system(command.c_str());
    Outcome outcome;
    outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = Read("stdout.txt");
    outcome.err = Read("stderr.txt");
    return outcome;
  }

  void CreateTestFile() const {
    const Outcome created = Run("create TEST --declaration decl.json");
    ASSERT_EQ(created.exit_code, 0) << created.err;
  }

  std::string dir_;
};

// Line i of a load in exactly the form dump writes it.
std::string RecordLine(int i) {
  std::ostringstream line;
  const char* notes[] = {"", "oil \\\"5W30\\\"", "caf\\u00E9 na\\u00EFve", "a, b"};
  line << "{\"T:NUMBER\": " << i << ", \"T:CODE\": \"C" << i << (i % 3 ? "" : " x") << "\""
       << ", \"T:SMALL\": " << i % 256 << ", \"T:COUNT\": " << (i * 7) % 65536 << ", \"T:DATE\": "
       << (i % 2 ? -i : 80000 + i) << ", \"T:UNITS\": " << (i % 4 ? "0.5" : "-1.25")
       << ", \"T:COST\": " << (i % 5 ? "1234.5" : "0.1") << ", \"T:METER\": " << (i % 2 ? "-" : "") << i
       << "." << (i % 10) << "05, \"T:NOTE\": \"" << notes[i % 4] << "\"}";
  return line.str();
}

TEST_F(QmrecTest, LoadsTenThousandRecordsAndDumpsThemBackUnchanged) {
  CreateTestFile();
  std::string input;
  for (int i = 1; i <= 10000; ++i) input += RecordLine(i) + "\n";
  const Outcome loaded = Run("load TEST.dat", input);
  ASSERT_EQ(loaded.exit_code, 0) << loaded.err;
  EXPECT_EQ(loaded.err, "qmrec: 10000 records loaded into TEST.dat\n");

  const Outcome dumped = Run("dump TEST");
  ASSERT_EQ(dumped.exit_code, 0) << dumped.err;
  EXPECT_EQ(dumped.out, input);

  const Outcome checked = Run("check TEST");
  EXPECT_EQ(checked.exit_code, 0) << checked.out << checked.err;
  EXPECT_EQ(checked.out, "TEST.dat: sound, 10000 records\n");
}

TEST_F(QmrecTest, DumpsInAKeysOrderAndAsCsv) {
  CreateTestFile();
  const Outcome loaded =
      Run("load TEST", "{\"T:NUMBER\": 1, \"T:CODE\": \"b\", \"T:SMALL\": 2, \"T:DATE\": 5}\n"
                       "{\"T:NUMBER\": 2, \"T:CODE\": \"a\", \"T:SMALL\": 1, \"T:DATE\": 9, \"T:NOTE\": \"x, \\\"y\\\"\"}\n"
                       "{\"T:NUMBER\": 3, \"T:CODE\": \"B\", \"T:SMALL\": 1, \"T:DATE\": -4}\n");
  ASSERT_EQ(loaded.exit_code, 0) << loaded.err;
  const Outcome by_date = Run("dump TEST --key t:datekey --format csv");
  ASSERT_EQ(by_date.exit_code, 0) << by_date.err;
  EXPECT_EQ(by_date.out,
            "T:NUMBER,T:CODE,T:SMALL,T:COUNT,T:DATE,T:UNITS,T:COST,T:METER,T:NOTE\n"
            "3,B,1,0,-4,0,0,0.000,\n"
            "2,a,1,0,9,0,0,0.000,\"x, \"\"y\"\"\"\n"
            "1,b,2,0,5,0,0,0.000,\n");
  const Outcome info = Run("info TEST");
  ASSERT_EQ(info.exit_code, 0) << info.err;
  EXPECT_NE(info.out.find("Label: TdTest\nPrefix: T\nDriver: KEYREC\nVersion: 4\nRecord size: 61\nRecords: 3\n"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("  8 T:METER decimal 11,3 offset 31 width 6\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("  3 T:DateKey (T:SMALL, T:DATE) no-case\n"), std::string::npos) << info.out;
}

TEST_F(QmrecTest, ARefusedLineNamesItsNumberAndNothingIsLoaded) {
  struct Case {
    const char* line;
    const char* message;
  } cases[] = {
      {"{\"T:NUMBER\": 9, ", "qmrec: line 2: not JSON: expected a member name at column 17; nothing was loaded\n"},
      {"{\"T:SMALL\": 300}", "qmrec: line 2: T:SMALL: \"300\" does not fit (out of range); nothing was loaded\n"},
      {"{\"T:METER\": 1.0005}", "qmrec: line 2: T:METER: \"1.0005\" does not fit (too many decimals); nothing was loaded\n"},
      {"{\"T:CODE\": \"123456789\"}", "qmrec: line 2: T:CODE: \"123456789\" does not fit (too long); nothing was loaded\n"},
      {"{\"T:CODE\": 5}", "qmrec: line 2: T:CODE: a text must be a JSON string; nothing was loaded\n"},
      {"{\"T:COLOUR\": 1}", "qmrec: line 2: no field \"T:COLOUR\" in the file; nothing was loaded\n"},
      {"{\"T:NOTE\": \"\\u0101\"}", "qmrec: line 2: not JSON: character above U+00FF at column 13; nothing was loaded\n"},
      {"{\"T:NUMBER\": 2, \"T:CODE\": \"one\"}",
       "qmrec: line 2: Creates Duplicate Key (a unique key is duplicated) of T:CodeKey; nothing was loaded\n"},
  };
  CreateTestFile();
  for (const Case& c : cases) {
    const Outcome loaded = Run("load TEST", std::string("{\"T:NUMBER\": 1, \"T:CODE\": \"one\"}\n") + c.line + "\n");
    EXPECT_EQ(loaded.exit_code, 1) << c.line;
    EXPECT_EQ(loaded.err, c.message);
    const Outcome dumped = Run("dump TEST");
    EXPECT_EQ(dumped.out, "") << c.line;
  }
}

TEST_F(QmrecTest, FilesThatCannotBeUsedGetOneLineAndAFailingExit) {
  Write("JUNK.dat", "this is not a record file at all");
  Write("bad.json", "{\"label\": \"X\", \"fields\": [{\"name\": \"X:A\", \"encoding\": \"u24\"}]}");
  Write("overlap.json",
        "{\"label\": \"X\", \"fields\": [{\"name\": \"X:A\", \"encoding\": \"u16\"},"
        " {\"name\": \"X:B\", \"encoding\": \"u8\", \"offset\": 1}]}");
  struct Case {
    const char* arguments;
    const char* message;
  } cases[] = {
      {"info NOPE", "qmrec: NOPE.dat: no such file\n"},
      {"check JUNK.dat", "qmrec: JUNK.dat: not a record file\n"},
      {"dump JUNK", "qmrec: JUNK.dat: not a record file\n"},
      {"load NOPE", "qmrec: NOPE.dat: no such file\n"},
      {"create NEW --declaration missing.json", "qmrec: missing.json: cannot read the declaration\n"},
      {"create NEW --declaration JUNK.dat", "qmrec: JUNK.dat: not JSON: expected a value at column 1\n"},
      {"create NEW --declaration bad.json", "qmrec: bad.json: field 1: unknown encoding \"u24\"\n"},
      {"create NEW --declaration overlap.json", "qmrec: overlap.json: field X:B overlaps another field\n"},
      {"create JUNK --declaration decl.json",
       "qmrec: JUNK.dat: Access Denied (another file of this name is in the way)\n"},
      {"dump", "qmrec: usage: qmrec info FILE | dump FILE [--key NAME] [--format jsonl|csv] | load FILE | "
               "create FILE --declaration DECL.json | check FILE\n"},
  };
  for (const Case& c : cases) {
    const Outcome outcome = Run(c.arguments);
    EXPECT_EQ(outcome.exit_code, 1) << c.arguments;
    EXPECT_EQ(outcome.err, c.message) << c.arguments;
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf("NEW.dat")));
  EXPECT_EQ(Read("JUNK.dat"), "this is not a record file at all");
}

TEST_F(QmrecTest, CheckReportsDamagedKeysAndIndexes) {
  CreateTestFile();
  ASSERT_EQ(Run("load TEST", "{\"T:NUMBER\": 1, \"T:CODE\": \"a\"}\n{\"T:NUMBER\": 2, \"T:CODE\": \"b\"}\n").exit_code, 0);
  ASSERT_EQ(qm::platform::RecordFaults::ScrambleKeyValues(PathOf("TEST.dat"), 2), 0);
  Outcome checked = Run("check TEST");
  EXPECT_EQ(checked.exit_code, 1);
  EXPECT_EQ(checked.out, "TEST.dat: key T:CodeKey: 2 stored values do not match their records\n");
  EXPECT_EQ(checked.err, "qmrec: TEST.dat: 1 problems found\n");

  ASSERT_EQ(qm::platform::RecordFaults::DropIndex(PathOf("TEST.dat"), 3), 0);
  checked = Run("check TEST");
  EXPECT_EQ(checked.exit_code, 1);
  EXPECT_EQ(checked.err,
            "qmrec: TEST.dat: Invalid Key File (the stored keys differ from the declared ones or an index is "
            "damaged)\n");
}

}  // namespace
