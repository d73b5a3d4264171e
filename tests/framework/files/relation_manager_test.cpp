// Related files opened and closed together, referential integrity on update
// and delete to any depth, and the transactions that frame the changes.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "files_fixture.h"
#include "framework/files/relation_manager.h"
#include "platform/presenter.h"
#include "platform/record_fields.h"
#include "platform/record_share_lock.h"

namespace qm::testing {
namespace {

using platform::FieldEncoding;
using platform::RecordDeclaration;
using platform::RecordFile;

constexpr int kFarmCodeKey = 1;
constexpr int kFieldFarmKey = 1;  // FARM, NUMBER
constexpr int kCropFieldKey = 1;  // FARM, FIELD, YEAR

// Farms own fields and fields own crops; a field also looks up its farm and
// a crop its field, so each pair of neighbours is related both ways.
RecordDeclaration FarmsDeclaration(const std::string& driver = "KEYREC") {
  RecordDeclaration declaration;
  declaration.label = "TdFarms";
  declaration.disk_name = "FARMS";
  declaration.driver = driver;
  declaration.prefix = "FRM";
  declaration.per_thread = true;
  const int code = declaration.AddField("FRM:CODE", FieldEncoding::kText, 4);
  declaration.AddField("FRM:NAME", FieldEncoding::kText, 10);
  declaration.keys.push_back({"FRM:CodeKey", {code}, true, false, true});
  return declaration;
}

RecordDeclaration FieldsDeclaration() {
  RecordDeclaration declaration;
  declaration.label = "TdFields";
  declaration.disk_name = "FIELDS";
  declaration.prefix = "FLD";
  declaration.per_thread = true;
  const int farm = declaration.AddField("FLD:FARM", FieldEncoding::kText, 4);
  const int number = declaration.AddField("FLD:NUMBER", FieldEncoding::kU16);
  declaration.AddField("FLD:NAME", FieldEncoding::kText, 8);
  declaration.keys.push_back({"FLD:FarmKey", {farm, number}, true, false, true, true});
  return declaration;
}

RecordDeclaration CropsDeclaration() {
  RecordDeclaration declaration;
  declaration.label = "TdCrops";
  declaration.disk_name = "CROPS";
  declaration.prefix = "CRP";
  declaration.per_thread = true;
  const int farm = declaration.AddField("CRP:FARM", FieldEncoding::kText, 4);
  const int field = declaration.AddField("CRP:FIELD", FieldEncoding::kU16);
  const int year = declaration.AddField("CRP:YEAR", FieldEncoding::kU16);
  declaration.AddField("CRP:CROP", FieldEncoding::kText, 8);
  declaration.keys.push_back({"CRP:FieldKey", {farm, field, year}, true, false, true});
  return declaration;
}

const std::vector<std::string> kFarms = {"HILL/Hill", "VALE/Vale"};
const std::vector<std::string> kFields = {"HILL/1/North", "HILL/2/South", "VALE/1/East"};
const std::vector<std::string> kCrops = {"HILL/2/2025/Wheat", "HILL/2/2026/Barley", "VALE/1/2025/Oats"};

// A file manager that counts the writes its file carried out.
class CountingFileManager : public TestFileManager {
 public:
  using TestFileManager::TestFileManager;
  bool WriteSecond(platform::RecordOperation, std::string_view, int result) override {
    if (result == 0) ++writes;
    return true;
  }
  bool SkipOnDelete() override { return skip && skip(); }

  int writes = 0;
  std::function<bool()> skip;
};

class TestRelationManager : public RelationManager {
 public:
  void DeclareRelations() override {
    ++declared;
    if (declare) declare();
  }

  std::function<void()> declare;
  int declared = 0;
};

// One file of the fixture: its record file, file manager and relation manager.
struct TestFile {
  TestFile(const RecordDeclaration& declaration, ErrorManager& errors)
      : file(declaration), manager(file, errors, declaration.label) {}

  RecordFile file;
  CountingFileManager manager;
  TestRelationManager relations;
};

class RelationsTest : public FilesTest {
 protected:
  void SetUp() override {
    FilesTest::SetUp();
    Fill(FarmsDeclaration(farms_driver_), kFarms);
    Fill(FieldsDeclaration(), kFields);
    Fill(CropsDeclaration(), kCrops);
    for (const char* name : {"FARMS", "FIELDS", "CROPS"}) initial_bytes_[name] = Bytes(name);

    farms_ = std::make_unique<TestFile>(FarmsDeclaration(farms_driver_), errors_);
    fields_ = std::make_unique<TestFile>(FieldsDeclaration(), errors_);
    crops_ = std::make_unique<TestFile>(CropsDeclaration(), errors_);
    for (TestFile* file : {farms_.get(), fields_.get(), crops_.get()}) {
      file->manager.Setup();
      file->relations.Attach(file->manager, true);
    }
    farms_->relations.declare = [this] {
      farms_->relations.RegisterRelation(fields_->relations, farm_update_, farm_delete_, kFieldFarmKey);
      farms_->relations.AddLinkPair(Address(farms_->file, "FRM:CODE"), 4, Address(fields_->file, "FLD:FARM"), 4);
    };
    fields_->relations.declare = [this] {
      fields_->relations.RegisterRelation(farms_->relations);
      fields_->relations.RegisterRelation(crops_->relations, field_update_, field_delete_, kCropFieldKey);
      fields_->relations.AddLinkPair(FieldReference(fields_->file, 1), FieldReference(crops_->file, 1));
      fields_->relations.AddLinkPair(FieldReference(fields_->file, 2), FieldReference(crops_->file, 2));
    };
    crops_->relations.declare = [this] { crops_->relations.RegisterRelation(fields_->relations); };
  }

  void TearDown() override {
    for (TestFile* file : {farms_.get(), fields_.get(), crops_.get()}) {
      file->relations.Shutdown();
      file->manager.Shutdown();
    }
    crops_.reset();
    fields_.reset();
    farms_.reset();
    FilesTest::TearDown();
  }

  static std::uint8_t* Address(RecordFile& file, const std::string& field) {
    const int number = file.Declaration().FieldNumber(field);
    return file.Record() + file.Declaration().fields[static_cast<std::size_t>(number - 1)].offset;
  }

  // Adds records given as "value/value/..." in field order.
  static void Fill(const RecordDeclaration& declaration, const std::vector<std::string>& rows) {
    RecordFile file(declaration);
    ASSERT_EQ(file.Create(), 0);
    ASSERT_EQ(file.Open(), 0);
    for (const std::string& row : rows) {
      file.Clear();
      std::size_t start = 0;
      for (const platform::FieldDeclaration& field : declaration.fields) {
        const std::size_t end = std::min(row.find('/', start), row.size());
        ASSERT_TRUE(platform::SetFieldText(field, file.Record(), row.substr(start, end - start))) << row;
        start = end + 1;
      }
      ASSERT_EQ(file.Add(), 0) << row;
    }
  }

  // Every record in record order as "value/value/...", read through a
  // connection of its own.
  static std::vector<std::string> Rows(const RecordDeclaration& declaration) {
    RecordFile file(declaration);
    std::vector<std::string> rows;
    if (file.Open(platform::kAccessRead | platform::kShareDenyNone) != 0) return {"cannot open"};
    file.Set(0);
    while (file.Next() == 0) {
      std::string row;
      for (const platform::FieldDeclaration& field : declaration.fields) {
        if (&field != &declaration.fields.front()) row += "/";
        row += platform::FieldText(field, file.Record());
      }
      rows.push_back(row);
    }
    return rows;
  }

  // The data file's bytes; only while no connection of this process has it
  // open, as closing a descriptor of it would drop the connections' locks.
  static std::string Bytes(const std::string& name) {
    std::ifstream in(name + ".dat", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Every data file is byte for byte as SetUp made it.
  void ExpectFilesUnchanged() {
    for (TestFile* file : {farms_.get(), fields_.get(), crops_.get()}) {
      ASSERT_FALSE(file->file.IsOpen()) << file->file.Label() << " is still open";
    }
    for (const auto& [name, bytes] : initial_bytes_) EXPECT_TRUE(Bytes(name) == bytes) << name << " changed";
  }

  void ExpectRows(const std::vector<std::string>& farms, const std::vector<std::string>& fields,
                  const std::vector<std::string>& crops) {
    EXPECT_EQ(Rows(FarmsDeclaration(farms_driver_)), farms);
    EXPECT_EQ(Rows(FieldsDeclaration()), fields);
    EXPECT_EQ(Rows(CropsDeclaration()), crops);
  }

  // Opens the farms with their relations and reads farm `code` as a form
  // does before changing it.
  void ReadFarm(const std::string& code) {
    ASSERT_EQ(farms_->relations.OpenRelations(), LevelNone);
    Set(farms_->file, "FRM:CODE", code);
    ASSERT_EQ(farms_->manager.Fetch(kFarmCodeKey), LevelNone);
    farms_->relations.SaveLinkValues();
  }

  std::string farms_driver_ = "KEYREC";
  std::uint8_t farm_update_ = ModeCascade;
  std::uint8_t farm_delete_ = ModeCascade;
  std::uint8_t field_update_ = ModeCascade;
  std::uint8_t field_delete_ = ModeCascade;
  std::map<std::string, std::string> initial_bytes_;
  std::unique_ptr<TestFile> farms_;
  std::unique_ptr<TestFile> fields_;
  std::unique_ptr<TestFile> crops_;
};

// ---- opening and closing ---------------------------------------------------------

struct OpenCase {
  const char* name;
  bool forcing;
  bool fields_physically_open;
  int crops_opened;
};

void PrintTo(const OpenCase& c, std::ostream* out) { *out << c.name; }

class RelationsOpenTest : public RelationsTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(RelationsOpenTest, FilesRelatedBothWaysAreOpenedOncePerOpenAndClosedByTheirCloses) {
  farms_->relations.FORCINGOPEN = GetParam().forcing;
  for (int round = 1; round <= 2; ++round) {
    ASSERT_EQ(farms_->relations.OpenRelations(), LevelNone);
    EXPECT_EQ(farms_->manager.Opened(), round);
    EXPECT_EQ(fields_->manager.Opened(), round);
    EXPECT_EQ(crops_->manager.Opened(), GetParam().crops_opened * round);
    EXPECT_EQ(farms_->relations.RELATIONS[0].OPENED, round);
  }
  EXPECT_TRUE(farms_->file.IsOpen());
  EXPECT_EQ(fields_->file.IsOpen(), GetParam().fields_physically_open);
  EXPECT_EQ(crops_->file.IsOpen(), GetParam().crops_opened > 0);

  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  EXPECT_EQ(farms_->manager.Opened(), 1);
  EXPECT_EQ(fields_->manager.Opened(), 1);
  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  for (TestFile* file : {farms_.get(), fields_.get(), crops_.get()}) {
    EXPECT_EQ(file->manager.Opened(), 0) << file->file.Label();
    EXPECT_FALSE(file->file.IsOpen()) << file->file.Label();
  }
  EXPECT_EQ(farms_->relations.RELATIONS[0].OPENED, 0);
  EXPECT_EQ(farms_->relations.declared, 1);
  EXPECT_EQ(fields_->relations.declared, GetParam().forcing ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Forcing, RelationsOpenTest,
                         ::testing::Values(OpenCase{"Lazily", false, false, 0},
                                           OpenCase{"Forced", true, true, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- updates -------------------------------------------------------------------

struct UpdateCase {
  const char* name;
  std::uint8_t farm_update;
  std::uint8_t field_update;
  ErrorLevel level;
  std::vector<std::string> texts;  // the messages shown
  std::string code_after;          // the farm's code in its record buffer
  int field_writes;
  std::vector<std::string> farms, fields, crops;  // empty: every file unchanged
};

void PrintTo(const UpdateCase& c, std::ostream* out) { *out << c.name; }

class RelationsUpdateTest : public RelationsTest, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(RelationsUpdateTest, ChangingTheFarmCodeAppliesEachRelationsMode) {
  const UpdateCase& c = GetParam();
  farm_update_ = c.farm_update;
  field_update_ = c.field_update;
  ReadFarm("HILL");
  Set(farms_->file, "FRM:CODE", "HIGH");

  EXPECT_EQ(farms_->relations.Update(), c.level);
  EXPECT_EQ(Get(farms_->file, "FRM:CODE"), c.code_after);
  EXPECT_EQ(Texts(), c.texts);
  EXPECT_EQ(fields_->manager.writes, c.field_writes);
  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  if (c.farms.empty()) {
    ExpectFilesUnchanged();
  } else {
    ExpectRows(c.farms, c.fields, c.crops);
  }
}

const std::string kUpdateRefused =
    " Linking field(s) have been restricted from change and have been reset to original values.";

INSTANTIATE_TEST_SUITE_P(
    Modes, RelationsUpdateTest,
    ::testing::Values(
        UpdateCase{"CascadeReachesTheCrops", ModeCascade, ModeCascade, LevelNone, {}, "HIGH", 2,
                   {"HIGH/Hill", "VALE/Vale"}, {"HIGH/1/North", "HIGH/2/South", "VALE/1/East"},
                   {"HIGH/2/2025/Wheat", "HIGH/2/2026/Barley", "VALE/1/2025/Oats"}},
        UpdateCase{"ClearBlanksTheFieldsAndTheirCrops", ModeClear, ModeCascade, LevelNone, {}, "HIGH", 2,
                   {"HIGH/Hill", "VALE/Vale"}, {"/1/North", "/2/South", "VALE/1/East"},
                   {"/2/2025/Wheat", "/2/2026/Barley", "VALE/1/2025/Oats"}},
        UpdateCase{"ClearStopsWhereNoRelationActs", ModeClear, ModeNone, LevelNone, {}, "HIGH", 2,
                   {"HIGH/Hill", "VALE/Vale"}, {"/1/North", "/2/South", "VALE/1/East"}, kCrops},
        UpdateCase{"NoModeLeavesTheFields", ModeNone, ModeCascade, LevelNone, {}, "HIGH", 0,
                   {"HIGH/Hill", "VALE/Vale"}, kFields, kCrops},
        UpdateCase{"RestrictRefusesAndPutsTheCodeBack", ModeRestrict, ModeCascade, LevelNotify,
                   {"This record is referenced from the file TdFields." + kUpdateRefused}, "HILL", 0},
        UpdateCase{"RestrictTwoLevelsDownUndoesTheWholeChange", ModeCascade, ModeRestrict, LevelNotify,
                   {"This record is referenced from the file TdCrops." + kUpdateRefused}, "HILL", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RelationsTest, ARestrictedUpdateShowsItsTitleAndTheRecordCanBeChangedAgain) {
  field_update_ = ModeRestrict;
  ReadFarm("HILL");
  Set(farms_->file, "FRM:CODE", "HIGH");
  ASSERT_EQ(farms_->relations.Update(), LevelNotify);
  EXPECT_EQ(Titles(), std::vector<std::string>{"Referential Integrity Update Error"});

  // The rolled back write must not be taken for another station's change.
  Set(farms_->file, "FRM:NAME", "Hill Top");
  EXPECT_EQ(farms_->relations.Update(), LevelNone);
  EXPECT_EQ(Titles().size(), 1u);
  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  ExpectRows({"HILL/Hill Top", "VALE/Vale"}, kFields, kCrops);
}

TEST_F(RelationsTest, AFileThatCannotJoinTheTransactionCancelsTheChange) {
  fields_->manager.OPENMODE = platform::kAccessRead | platform::kShareDenyNone;
  fields_->manager.OPENMODEOVERRIDDEN = true;
  ReadFarm("HILL");
  Set(farms_->file, "FRM:CODE", "HIGH");

  EXPECT_EQ(farms_->relations.Update(), LevelNotify);
  EXPECT_EQ(Titles(), std::vector<std::string>{"Transaction cancelled"});
  EXPECT_EQ(Texts()[0], "Error: (Access Denied (5)) attempting to frame the transaction on TdFields.");
  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  ExpectFilesUnchanged();
}

class RelationsWithoutTransactionsTest : public RelationsTest {
 protected:
  RelationsWithoutTransactionsTest() { farms_driver_ = "ASCII"; }
};

TEST_F(RelationsWithoutTransactionsTest, ADriverWithoutTransactionsTurnsFramingOffSilently) {
  ReadFarm("HILL");
  Set(farms_->file, "FRM:CODE", "HIGH");
  EXPECT_EQ(farms_->relations.Update(), LevelNone);
  EXPECT_FALSE(farms_->relations.USELOGOUT);
  EXPECT_TRUE(farms_->relations.PREVUSELOGOUT);

  farms_->relations.SaveLinkValues();
  Set(farms_->file, "FRM:NAME", "High");
  EXPECT_EQ(farms_->relations.Update(), LevelNone);
  EXPECT_FALSE(farms_->relations.USELOGOUT);
  EXPECT_TRUE(presenter_.Messages().empty());
  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  ExpectRows({"HIGH/High", "VALE/Vale"}, {"HIGH/1/North", "HIGH/2/South", "VALE/1/East"},
             {"HIGH/2/2025/Wheat", "HIGH/2/2026/Barley", "VALE/1/2025/Oats"});
}

// ---- deletes ----------------------------------------------------------------------

struct DeleteCase {
  const char* name;
  std::uint8_t farm_delete;
  std::uint8_t field_delete;
  std::uint8_t field_update;
  ErrorLevel level;
  std::vector<std::string> titles;
  std::vector<std::string> texts;
  int field_writes;
  std::vector<std::string> farms, fields, crops;  // empty: every file unchanged
};

void PrintTo(const DeleteCase& c, std::ostream* out) { *out << c.name; }

class RelationsDeleteTest : public RelationsTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(RelationsDeleteTest, DeletingTheFarmAppliesEachRelationsMode) {
  const DeleteCase& c = GetParam();
  farm_delete_ = c.farm_delete;
  field_delete_ = c.field_delete;
  field_update_ = c.field_update;
  ReadFarm("HILL");

  EXPECT_EQ(farms_->relations.Delete(false), c.level);
  EXPECT_EQ(Titles(), c.titles);
  if (!c.texts.empty()) {
    EXPECT_EQ(Texts()[0], c.texts[0]);
  }
  EXPECT_EQ(fields_->manager.writes, c.field_writes);
  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  if (c.farms.empty()) {
    ExpectFilesUnchanged();
  } else {
    ExpectRows(c.farms, c.fields, c.crops);
  }
}

const std::string kDeleteRefused = " This record cannot be deleted while these references exist.";

INSTANTIATE_TEST_SUITE_P(
    Modes, RelationsDeleteTest,
    ::testing::Values(
        DeleteCase{"CascadeDeletesFieldsAndTheirCrops", ModeCascade, ModeCascade, ModeNone, LevelNone, {}, {}, 2,
                   {"VALE/Vale"}, {"VALE/1/East"}, {"VALE/1/2025/Oats"}},
        DeleteCase{"ClearBlanksTheFieldsAndTheirUpdateCascades", ModeClear, ModeRestrict, ModeCascade, LevelNone,
                   {}, {}, 2, {"VALE/Vale"}, {"/1/North", "/2/South", "VALE/1/East"},
                   {"/2/2025/Wheat", "/2/2026/Barley", "VALE/1/2025/Oats"}},
        DeleteCase{"CascadeThenClearBelow", ModeCascade, ModeClear, ModeNone, LevelNone, {}, {}, 2,
                   {"VALE/Vale"}, {"VALE/1/East"}, {"/0/2025/Wheat", "/0/2026/Barley", "VALE/1/2025/Oats"}},
        DeleteCase{"RestrictKeepsTheFarmAndItsFields", ModeRestrict, ModeCascade, ModeNone, LevelNotify,
                   {"Referential Integrity Delete Error", "Record Delete Error"},
                   {"This record is referenced from the file TdFields." + kDeleteRefused}, 0},
        DeleteCase{"RestrictTwoLevelsDownUndoesTheWholeCascade", ModeCascade, ModeRestrict, ModeNone,
                   LevelNotify, {"Referential Integrity Delete Error", "Record Delete Error"},
                   {"This record is referenced from the file TdCrops." + kDeleteRefused}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RelationsTest, DeleteAsksToConfirmAndToTryAgainAfterAFailure) {
  farm_delete_ = ModeRestrict;
  ReadFarm("HILL");
  presenter_.QueueAnswer(platform::kButtonNo);
  EXPECT_EQ(farms_->relations.Delete(true), LevelCancel);
  EXPECT_EQ(Titles(), std::vector<std::string>{"Confirm Delete"});

  presenter_.QueueAnswer(platform::kButtonYes);  // Confirm Delete
  presenter_.QueueAnswer(platform::kButtonOk);
  presenter_.QueueAnswer(platform::kButtonYes);  // try again
  presenter_.QueueAnswer(platform::kButtonOk);
  presenter_.QueueAnswer(platform::kButtonNo);
  EXPECT_EQ(farms_->relations.Delete(true), LevelNotify);
  EXPECT_EQ(Titles(), (std::vector<std::string>{"Confirm Delete", "Confirm Delete",
                                                "Referential Integrity Delete Error", "Record Delete Error",
                                                "Referential Integrity Delete Error", "Record Delete Error"}));
  EXPECT_EQ(Texts()[3], "An error was experienced deleting this record. Do you want to try to delete it again?");
  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  ExpectFilesUnchanged();
}

TEST_F(RelationsTest, ACascadingDeleteLeavesTheRecordsItsHookSkips) {
  crops_->manager.skip = [this] { return Get(crops_->file, "CRP:CROP") == "Barley"; };
  ReadFarm("HILL");
  EXPECT_EQ(farms_->relations.Delete(false), LevelNone);
  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  ExpectRows({"VALE/Vale"}, {"VALE/1/East"}, {"HILL/2/2026/Barley", "VALE/1/2025/Oats"});
}

TEST_F(RelationsTest, UndoingANumberedFieldDeletesItsCropsToo) {
  ASSERT_EQ(fields_->relations.OpenRelations(), LevelNone);
  fields_->file.Clear();
  Set(fields_->file, "FLD:FARM", "HILL");
  ASSERT_EQ(fields_->manager.PrepareRecord(true), LevelNone);
  ASSERT_EQ(Get(fields_->file, "FLD:NUMBER"), "3");
  {
    RecordFile crops(CropsDeclaration());
    ASSERT_EQ(crops.Open(), 0);
    crops.Clear();
    Set(crops, "CRP:FARM", "HILL");
    Set(crops, "CRP:FIELD", "3");
    Set(crops, "CRP:YEAR", "2027");
    ASSERT_EQ(crops.Add(), 0);
  }

  EXPECT_EQ(fields_->relations.UndoNumbering(), LevelNone);
  EXPECT_FALSE(fields_->manager.AutoIncDone());
  ASSERT_EQ(fields_->relations.CloseRelations(), LevelNone);
  EXPECT_TRUE(presenter_.Messages().empty());
  ExpectRows(kFarms, kFields, kCrops);
}

// ---- inserts -------------------------------------------------------------------------

TEST_F(RelationsTest, AFramedInsertShowsItsFailureOnceAndCommitsItsSuccess) {
  farms_->relations.USELOGOUTONINSERT = true;
  ASSERT_EQ(farms_->relations.OpenRelations(), LevelNone);
  farms_->file.Clear();
  Set(farms_->file, "FRM:CODE", "HILL");
  EXPECT_EQ(farms_->relations.Insert(), LevelQuestion);
  EXPECT_EQ(Titles(), std::vector<std::string>{"Duplicate Key Error"});

  Set(farms_->file, "FRM:CODE", "MOOR");
  Set(farms_->file, "FRM:NAME", "Moor");
  EXPECT_EQ(farms_->relations.Insert(), LevelNone);
  EXPECT_EQ(Titles().size(), 1u);
  EXPECT_EQ(fields_->manager.Opened(), 1);
  EXPECT_EQ(crops_->manager.Opened(), 0);
  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  ExpectRows({"HILL/Hill", "VALE/Vale", "MOOR/Moor"}, kFields, kCrops);
}

// ---- aliases and quick scans -------------------------------------------------------------

TEST_F(RelationsTest, AChangeThroughAnAliasIsFramedOnTheAliasedFile) {
  TestFile alias(FarmsDeclaration(), errors_);
  alias.manager.Setup();
  alias.manager.ALIASEDFILE = &farms_->manager;
  alias.relations.Attach(alias.manager, true);
  alias.relations.ALIASFILE = &farms_->relations;
  alias.relations.declare = [&] {
    alias.relations.RegisterRelation(fields_->relations, ModeCascade, ModeCascade, kFieldFarmKey);
    alias.relations.AddLinkPair(Address(alias.file, "FRM:CODE"), 4, Address(fields_->file, "FLD:FARM"), 4);
  };
  field_update_ = ModeRestrict;
  ASSERT_EQ(farms_->relations.OpenRelations(), LevelNone);
  ASSERT_EQ(alias.relations.OpenRelations(), LevelNone);
  Set(alias.file, "FRM:CODE", "HILL");
  ASSERT_EQ(alias.manager.Fetch(kFarmCodeKey), LevelNone);
  alias.relations.SaveLinkValues();

  Set(alias.file, "FRM:NAME", "Hill Top");
  EXPECT_EQ(alias.relations.Update(), LevelNone);
  Set(alias.file, "FRM:CODE", "HIGH");
  EXPECT_EQ(alias.relations.Update(), LevelNotify);
  EXPECT_EQ(Titles(), std::vector<std::string>{"Referential Integrity Update Error"});
  EXPECT_EQ(Get(alias.file, "FRM:CODE"), "HILL");
  ASSERT_EQ(alias.relations.CloseRelations(), LevelNone);
  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  alias.relations.Shutdown();
  alias.manager.Shutdown();
  ExpectRows({"HILL/Hill Top", "VALE/Vale"}, kFields, kCrops);
}

TEST_F(RelationsTest, AnAliasDeletesTheRecordThatARolledBackUpdateLeftAsItWas) {
  TestFile alias(FarmsDeclaration(), errors_);
  alias.manager.Setup();
  alias.manager.ALIASEDFILE = &farms_->manager;
  alias.relations.Attach(alias.manager, true);
  alias.relations.ALIASFILE = &farms_->relations;
  alias.relations.declare = [&] {
    alias.relations.RegisterRelation(fields_->relations, ModeCascade, ModeCascade, kFieldFarmKey);
    alias.relations.AddLinkPair(Address(alias.file, "FRM:CODE"), 4, Address(fields_->file, "FLD:FARM"), 4);
  };
  field_update_ = ModeRestrict;
  ASSERT_EQ(farms_->relations.OpenRelations(), LevelNone);
  ASSERT_EQ(alias.relations.OpenRelations(), LevelNone);
  Set(alias.file, "FRM:CODE", "HILL");
  ASSERT_EQ(alias.manager.Fetch(kFarmCodeKey), LevelNone);
  alias.relations.SaveLinkValues();
  Set(alias.file, "FRM:CODE", "HIGH");
  ASSERT_EQ(alias.relations.Update(), LevelNotify);

  // The rollback undid the alias's write: neither a fresh write nor the
  // delete is taken for another station's change.
  Set(alias.file, "FRM:NAME", "Hill Top");
  EXPECT_EQ(alias.relations.Update(), LevelNone);
  EXPECT_EQ(alias.relations.Delete(false), LevelNone);
  EXPECT_EQ(Titles(), std::vector<std::string>{"Referential Integrity Update Error"});
  ASSERT_EQ(alias.relations.CloseRelations(), LevelNone);
  ASSERT_EQ(farms_->relations.CloseRelations(), LevelNone);
  alias.relations.Shutdown();
  alias.manager.Shutdown();
  ExpectRows({"VALE/Vale"}, {"VALE/1/East"}, {"VALE/1/2025/Oats"});
}

// True when `file` reads ahead: a record another station changes after the
// scan began is still read as it was.
bool ReadsAhead(RecordFile& file) {
  const platform::FieldDeclaration& last = file.Declaration().fields.back();
  file.Set(0);
  if (file.Next() != 0) return false;
  RecordFile other(file.Declaration());
  other.Open();
  other.Set(0);
  other.Next();
  other.Next();
  platform::SetFieldText(last, other.Record(), "Changed");
  other.Put();
  other.Close();
  return file.Next() == 0 && platform::FieldText(last, file.Record()) != "Changed";
}

struct QuickScanCase {
  const char* name;
  int propagate;
  bool farms;  // reached through the lookup
  bool crops;  // reached through the keyed relation
};

void PrintTo(const QuickScanCase& c, std::ostream* out) { *out << c.name; }

class RelationsQuickScanTest : public RelationsTest, public ::testing::WithParamInterface<QuickScanCase> {};

TEST_P(RelationsQuickScanTest, QuickScanGoesOnThroughTheRelationsItsPropagationNames) {
  fields_->relations.FORCINGOPEN = true;
  ASSERT_EQ(fields_->relations.OpenRelations(), LevelNone);
  fields_->relations.SetQuickScan(true, GetParam().propagate);
  EXPECT_TRUE(ReadsAhead(fields_->file));
  EXPECT_EQ(ReadsAhead(farms_->file), GetParam().farms);
  EXPECT_EQ(ReadsAhead(crops_->file), GetParam().crops);
  ASSERT_EQ(fields_->relations.CloseRelations(), LevelNone);
}

INSTANTIATE_TEST_SUITE_P(Propagation, RelationsQuickScanTest,
                         ::testing::Values(QuickScanCase{"None", 0, false, false},
                                           QuickScanCase{"Lookups", 1, true, false},
                                           QuickScanCase{"Keyed", 2, false, true},
                                           QuickScanCase{"All", 3, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qm::testing
