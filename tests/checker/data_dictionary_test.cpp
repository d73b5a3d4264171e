#include "checker/data_dictionary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/record_fields.h"
#include "platform/runtime_error.h"
#include "platform/threads.h"

namespace qm::checker {
namespace {

using platform::RecordDeclaration;
using E = platform::FieldEncoding;

const RecordDeclaration& Declared(std::string_view label) {
  const FileDefinition* definition = DataDictionary::Find(label);
  if (definition == nullptr) {
    ADD_FAILURE() << "no file " << label;
    static const RecordDeclaration empty;
    return empty;
  }
  return definition->declaration;
}

// The product's file table: label, prefix, disk name (BvS01's is set at run
// time), record bytes, fields, keys, structure version (0: none).
struct FileCase {
  const char* label;
  const char* prefix;
  const char* disk_name;
  std::size_t record_bytes;
  std::size_t fields;
  std::size_t keys;
  int version;
};
constexpr FileCase kFileTable[] = {
    {"TdV01", "V01", "TDV01", 110, 10, 2, 4},
    {"TdV02", "V02", "TDV02", 27, 2, 1, 2},
    {"TdV03", "V03", "TDV03", 48, 5, 2, 1},
    {"TdV04", "V04", "TDV04", 61, 5, 1, 3},
    {"TdV05", "V05", "TDV05", 29, 3, 2, 2},
    {"TdV06", "V06", "TDV06", 39, 3, 1, 2},
    {"TdV07", "V07", "TDV07", 39, 3, 1, 2},
    {"TdV08", "V08", "TDV08", 39, 3, 1, 2},
    {"TdV30", "V30", "TDV30", 371, 18, 7, 13},
    {"TdV301", "V301", "TDV301", 84, 6, 2, 1},
    {"TdV40", "V40", "TDV40", 49, 7, 4, 1},
    {"TdV50", "V50", "TdV50", 56, 6, 4, 8},
    {"TdV51", "V51", "TDV51", 58, 10, 2, 2},
    {"TdI01", "I01", "TdI01", 87, 8, 2, 3},
    {"TdI01A", "I01A", "TdI01", 87, 8, 2, 0},
    {"TdI02", "I02", "TDI02", 198, 7, 1, 2},
    {"TdW01", "W01", "TDW01", 803, 31, 8, 10},
    {"BvS01", "CS01", "", 88, 5, 1, 2},
};

TEST(DataDictionaryTest, DeclaresEveryFileOfTheFileTable) {
  ASSERT_EQ(DataDictionary::Files().size(), std::size(kFileTable));
  for (std::size_t i = 0; i < std::size(kFileTable); ++i) {
    const FileCase& expected = kFileTable[i];
    SCOPED_TRACE(expected.label);
    const FileDefinition& file = DataDictionary::Files()[i];
    EXPECT_EQ(file.declaration.label, expected.label);
    EXPECT_EQ(file.declaration.prefix, expected.prefix);
    EXPECT_EQ(file.declaration.disk_name, expected.disk_name);
    EXPECT_EQ(file.declaration.driver, "KEYREC");
    EXPECT_EQ(file.declaration.record_size, expected.record_bytes);
    EXPECT_EQ(file.declaration.fields.size(), expected.fields);
    EXPECT_EQ(file.declaration.keys.size(), expected.keys);
    EXPECT_EQ(file.declaration.version, expected.version);
    EXPECT_EQ(file.IsRegistered(), expected.version != 0);
    EXPECT_TRUE(file.declaration.per_thread);
    EXPECT_EQ(file.declaration.Problem(), "");
    EXPECT_EQ(DataDictionary::Find(expected.label), &file);
  }
  EXPECT_EQ(DataDictionary::Find("tdv30"), &DataDictionary::Definition(DictionaryFile::TdV30));
  EXPECT_EQ(DataDictionary::Find("TdV99"), nullptr);
}

// Every field of every layout: number, name, offset, width, encoding and,
// for packed decimals, digits and decimals.
struct FieldCase {
  const char* label;
  int number;
  const char* name;
  std::size_t offset;
  std::size_t width;
  E encoding;
  int digits;
  int decimals;
};
constexpr FieldCase kLayouts[] = {
    {"TdV01", 1, "V01:VEHNUMBER", 0, 6, E::kText, 0, 0},
    {"TdV01", 2, "V01:VEHDESCRIPTION", 6, 25, E::kText, 0, 0},
    {"TdV01", 3, "V01:STARTINGMETER", 31, 6, E::kDecimal, 11, 3},
    {"TdV01", 4, "V01:REGISTRATIONNUMBER", 37, 12, E::kText, 0, 0},
    {"TdV01", 5, "V01:ENGINENUMBER", 49, 20, E::kText, 0, 0},
    {"TdV01", 6, "V01:CHASSISNUMBER", 69, 20, E::kText, 0, 0},
    {"TdV01", 7, "V01:PURCHASEDATE", 89, 4, E::kI32, 0, 0},
    {"TdV01", 8, "V01:PURCHASEVALUE", 93, 8, E::kF64, 0, 0},
    {"TdV01", 9, "V01:SALVAGEVALUE", 101, 8, E::kF64, 0, 0},
    {"TdV01", 10, "V01:MARK", 109, 1, E::kU8, 0, 0},
    {"TdV02", 1, "V02:ALLOCNUMBER", 0, 2, E::kU16, 0, 0},
    {"TdV02", 2, "V02:ALLOCDESCRIPTION", 2, 25, E::kText, 0, 0},
    {"TdV03", 1, "V03:ANALNUMBER", 0, 2, E::kU16, 0, 0},
    {"TdV03", 2, "V03:ANALDESCRIPTION", 2, 25, E::kText, 0, 0},
    {"TdV03", 3, "V03:ANALYSISTYPE", 27, 1, E::kU8, 0, 0},
    {"TdV03", 4, "V03:UNITDESCRIPTION", 28, 10, E::kText, 0, 0},
    {"TdV03", 5, "V03:DISTANCEDESCRIPTION", 38, 10, E::kText, 0, 0},
    {"TdV04", 1, "V04:ACTNUMBER", 0, 2, E::kU16, 0, 0},
    {"TdV04", 2, "V04:ACTDESCRIPTION", 2, 25, E::kText, 0, 0},
    {"TdV04", 3, "V04:ACTCOST", 27, 8, E::kF64, 0, 0},
    {"TdV04", 4, "V04:ACTCOSTDESCRIPTION", 35, 25, E::kText, 0, 0},
    {"TdV04", 5, "V04:MARK", 60, 1, E::kU8, 0, 0},
    {"TdV05", 1, "V05:ACCNUMBER", 0, 2, E::kU16, 0, 0},
    {"TdV05", 2, "V05:ACCDESCRIPTION", 2, 25, E::kText, 0, 0},
    {"TdV05", 3, "V05:ANALNUMBER", 27, 2, E::kU16, 0, 0},
    {"TdV06", 1, "V06:FARMNO", 0, 8, E::kText, 0, 0},
    {"TdV06", 2, "V06:FARMDESC", 8, 30, E::kText, 0, 0},
    {"TdV06", 3, "V06:MARK", 38, 1, E::kU8, 0, 0},
    {"TdV07", 1, "V07:ENTNO", 0, 8, E::kText, 0, 0},
    {"TdV07", 2, "V07:ENTDESC", 8, 30, E::kText, 0, 0},
    {"TdV07", 3, "V07:MARK", 38, 1, E::kU8, 0, 0},
    {"TdV08", 1, "V08:FIELDNO", 0, 8, E::kText, 0, 0},
    {"TdV08", 2, "V08:FIELDDESC", 8, 30, E::kText, 0, 0},
    {"TdV08", 3, "V08:MARK", 38, 1, E::kU8, 0, 0},
    {"TdV30", 1, "V30:JOBNUMBER", 0, 4, E::kU32, 0, 0},
    {"TdV30", 2, "V30:JOBDATE", 4, 4, E::kI32, 0, 0},
    {"TdV30", 3, "V30:JOBDESCRIPTION", 8, 40, E::kText, 0, 0},
    {"TdV30", 4, "V30:WORKSHOPJOB", 48, 1, E::kU8, 0, 0},
    {"TdV30", 5, "V30:JOBCOST", 49, 8, E::kF64, 0, 0},
    {"TdV30", 6, "V30:JOBMETER", 57, 6, E::kDecimal, 11, 3},
    {"TdV30", 7, "V30:JOBUNITS", 63, 4, E::kF32, 0, 0},
    {"TdV30", 8, "V30:JOBANALYSIS", 67, 8, E::kF64, 0, 0},
    {"TdV30", 9, "V30:VEHNUMBER", 75, 6, E::kText, 0, 0},
    {"TdV30", 10, "V30:ALLOCNUMBER", 81, 2, E::kU16, 0, 0},
    {"TdV30", 11, "V30:ACCNUMBER", 83, 2, E::kU16, 0, 0},
    {"TdV30", 12, "V30:ANALNUMBER", 85, 2, E::kU16, 0, 0},
    {"TdV30", 13, "V30:ITEMCODE", 87, 10, E::kText, 0, 0},
    {"TdV30", 14, "V30:RUNNINGBALANCE", 97, 8, E::kF64, 0, 0},
    {"TdV30", 15, "V30:RECORDSTATUS", 105, 2, E::kU16, 0, 0},
    {"TdV30", 16, "V30:TRANFERFROMNUMBER", 107, 4, E::kU32, 0, 0},
    {"TdV30", 17, "V30:TRANSFERTONUMBER", 111, 4, E::kU32, 0, 0},
    {"TdV30", 18, "V30:WORKDONEDESCRIPTION", 115, 256, E::kCString, 0, 0},
    {"TdV301", 1, "V301:JOBNUMBER", 0, 4, E::kU32, 0, 0},
    {"TdV301", 2, "V301:ITEMCODE", 4, 10, E::kText, 0, 0},
    {"TdV301", 3, "V301:JOBDETAILDATE", 14, 4, E::kI32, 0, 0},
    {"TdV301", 4, "V301:JOBDESCRIPTION", 18, 50, E::kText, 0, 0},
    {"TdV301", 5, "V301:ITEMQTY", 68, 8, E::kF64, 0, 0},
    {"TdV301", 6, "V301:JOBCOST", 76, 8, E::kF64, 0, 0},
    {"TdV40", 1, "V40:TRANSNUMBER", 0, 4, E::kU32, 0, 0},
    {"TdV40", 2, "V40:ACTIVITYDATE", 4, 4, E::kI32, 0, 0},
    {"TdV40", 3, "V40:ALLOCNUMBER", 8, 2, E::kU16, 0, 0},
    {"TdV40", 4, "V40:ACTNUMBER", 10, 2, E::kU16, 0, 0},
    {"TdV40", 5, "V40:DESCRIPTION", 12, 25, E::kText, 0, 0},
    {"TdV40", 6, "V40:UNITS", 37, 4, E::kF32, 0, 0},
    {"TdV40", 7, "V40:COST", 41, 8, E::kF64, 0, 0},
    {"TdV50", 1, "V50:AUTONUMBER", 0, 4, E::kI32, 0, 0},
    {"TdV50", 2, "V50:VECHILENO", 4, 6, E::kText, 0, 0},
    {"TdV50", 3, "V50:DATE", 10, 4, E::kI32, 0, 0},
    {"TdV50", 4, "V50:STARTUNITS", 14, 6, E::kDecimal, 11, 3},
    {"TdV50", 5, "V50:ENDUNITS", 20, 6, E::kDecimal, 11, 3},
    {"TdV50", 6, "V50:DESCRIPTION", 26, 30, E::kText, 0, 0},
    {"TdV51", 1, "V51:AUTONUMBER", 0, 4, E::kI32, 0, 0},
    {"TdV51", 2, "V51:FARMNO", 4, 8, E::kText, 0, 0},
    {"TdV51", 3, "V51:ENTNO", 12, 8, E::kText, 0, 0},
    {"TdV51", 4, "V51:FIELDNO", 20, 8, E::kText, 0, 0},
    {"TdV51", 5, "V51:ACTNO", 28, 2, E::kU16, 0, 0},
    {"TdV51", 6, "V51:STARTUNITS", 30, 6, E::kDecimal, 11, 3},
    {"TdV51", 7, "V51:ENDUNITS", 36, 6, E::kDecimal, 11, 3},
    {"TdV51", 8, "V51:UNITS", 42, 6, E::kDecimal, 11, 3},
    {"TdV51", 9, "V51:UNITCOST", 48, 5, E::kDecimal, 9, 2},
    {"TdV51", 10, "V51:TOTALCOST", 53, 5, E::kDecimal, 9, 2},
    {"TdI01", 1, "I01:ITEMCODE", 0, 10, E::kText, 0, 0},
    {"TdI01", 2, "I01:DESCRIPTION", 10, 40, E::kText, 0, 0},
    {"TdI01", 3, "I01:SUPPLIERCODE", 50, 4, E::kText, 0, 0},
    {"TdI01", 4, "I01:STOCKONHAND", 54, 8, E::kF64, 0, 0},
    {"TdI01", 5, "I01:AVERAGECOST", 62, 8, E::kF64, 0, 0},
    {"TdI01", 6, "I01:MINIMUMLEVEL", 70, 8, E::kF64, 0, 0},
    {"TdI01", 7, "I01:MAXIMUMLEVEL", 78, 8, E::kF64, 0, 0},
    {"TdI01", 8, "I01:MARK", 86, 1, E::kU8, 0, 0},
    {"TdI02", 1, "I02:SUPPLIERCODE", 0, 4, E::kText, 0, 0},
    {"TdI02", 2, "I02:NAME", 4, 40, E::kText, 0, 0},
    {"TdI02", 3, "I02:ACCOUNTNUMBER", 44, 10, E::kText, 0, 0},
    {"TdI02", 4, "I02:TELEPHONE", 54, 20, E::kText, 0, 0},
    {"TdI02", 5, "I02:FAXNUMBER", 74, 20, E::kText, 0, 0},
    {"TdI02", 6, "I02:EMAIL", 94, 64, E::kText, 0, 0},
    {"TdI02", 7, "I02:CONTACTPERSON", 158, 40, E::kText, 0, 0},
    {"TdW01", 1, "W01:VEHNUMBER", 0, 6, E::kText, 0, 0},
    {"TdW01", 2, "W01:ALLOCNUMBER", 6, 2, E::kU16, 0, 0},
    {"TdW01", 3, "W01:ACCNUMBER", 8, 2, E::kU16, 0, 0},
    {"TdW01", 4, "W01:ACTNUMBER", 10, 2, E::kU16, 0, 0},
    {"TdW01", 5, "W01:JOBNUMBER", 12, 4, E::kU32, 0, 0},
    {"TdW01", 6, "W01:ACTIVITYNUMBER", 16, 4, E::kU32, 0, 0},
    {"TdW01", 7, "W01:ANALNUMBER", 20, 2, E::kU16, 0, 0},
    {"TdW01", 8, "W01:TRANSDATE", 22, 4, E::kI32, 0, 0},
    {"TdW01", 9, "W01:DESCRIPTION", 26, 60, E::kText, 0, 0},
    {"TdW01", 10, "W01:UNITS", 86, 7, E::kDecimal, 13, 3},
    {"TdW01", 11, "W01:COST", 93, 8, E::kF64, 0, 0},
    {"TdW01", 12, "W01:METERREADING", 101, 6, E::kDecimal, 11, 3},
    {"TdW01", 13, "W01:JOBANALYSIS", 107, 7, E::kDecimal, 13, 3},
    {"TdW01", 14, "W01:ITEMCODE", 114, 10, E::kText, 0, 0},
    {"TdW01", 15, "W01:RUNNINGSTOCK", 124, 8, E::kF64, 0, 0},
    {"TdW01", 16, "W01:RUNNINGBALANCE", 132, 8, E::kF64, 0, 0},
    {"TdW01", 17, "W01:FARMNO", 140, 8, E::kText, 0, 0},
    {"TdW01", 18, "W01:ENTNO", 148, 8, E::kText, 0, 0},
    {"TdW01", 19, "W01:FIELDNO", 156, 8, E::kText, 0, 0},
    {"TdW01", 20, "W01:SORTFIELD", 164, 255, E::kText, 0, 0},
    {"TdW01", 21, "W01:REGISTERNAME", 419, 45, E::kText, 0, 0},
    {"TdW01", 22, "W01:DATASETS", 464, 2, E::kU16, 0, 0},
    {"TdW01", 23, "W01:NETWORKS", 466, 2, E::kU16, 0, 0},
    {"TdW01", 24, "W01:CLIENTNAME", 468, 45, E::kText, 0, 0},
    {"TdW01", 25, "W01:ADDRESS1", 513, 45, E::kText, 0, 0},
    {"TdW01", 26, "W01:ADDRESS2", 558, 45, E::kText, 0, 0},
    {"TdW01", 27, "W01:TOWN", 603, 45, E::kText, 0, 0},
    {"TdW01", 28, "W01:POSTALCODE", 648, 20, E::kText, 0, 0},
    {"TdW01", 29, "W01:TELEPHONE", 668, 45, E::kText, 0, 0},
    {"TdW01", 30, "W01:FAX", 713, 45, E::kText, 0, 0},
    {"TdW01", 31, "W01:EMAIL", 758, 45, E::kText, 0, 0},
    {"BvS01", 1, "CS01:SYSNUMBER", 0, 2, E::kU16, 0, 0},
    {"BvS01", 2, "CS01:SYSTEMNAME", 2, 40, E::kText, 0, 0},
    {"BvS01", 3, "CS01:MODULENUMBER", 42, 2, E::kU16, 0, 0},
    {"BvS01", 4, "CS01:MODULENAME", 44, 40, E::kText, 0, 0},
    {"BvS01", 5, "CS01:DATASETS", 84, 4, E::kI32, 0, 0},
};

void ExpectField(const FieldCase& expected, std::string_view label, const std::string& name) {
  const RecordDeclaration& declaration = Declared(label);
  SCOPED_TRACE(std::string(label) + " " + name);
  ASSERT_LE(static_cast<std::size_t>(expected.number), declaration.fields.size());
  const platform::FieldDeclaration& field = declaration.fields[static_cast<std::size_t>(expected.number - 1)];
  EXPECT_EQ(field.name, name);
  EXPECT_EQ(field.offset, expected.offset);
  EXPECT_EQ(field.width, expected.width);
  EXPECT_EQ(field.encoding, expected.encoding);
  EXPECT_EQ(field.digits, expected.digits);
  EXPECT_EQ(field.decimals, expected.decimals);
}

TEST(DataDictionaryTest, LaysOutEveryFieldAtItsOffsetWidthAndEncoding) {
  for (const FieldCase& expected : kLayouts) {
    ExpectField(expected, expected.label, expected.name);
    // TdI01A repeats TdI01 field for field under its own prefix.
    if (std::string_view(expected.label) == "TdI01") {
      ExpectField(expected, "TdI01A", "I01A" + std::string(expected.name).substr(3));
    }
  }
}

// Every key, in registration order: components and the four attributes.
struct KeyCase {
  const char* label;
  const char* name;
  std::vector<const char*> components;
  bool unique;
  bool no_case;
  bool primary;
  bool auto_number;
};
const KeyCase kKeys[] = {
    {"TdV01", "V01:VehNumberKey", {"V01:VEHNUMBER"}, true, true, true, true},
    {"TdV01", "V01:RegistrationNumberKey", {"V01:REGISTRATIONNUMBER"}, true, true, false, false},
    {"TdV02", "V02:AllocNumberKey", {"V02:ALLOCNUMBER"}, true, true, true, true},
    {"TdV03", "V03:AnalNumberKey", {"V03:ANALNUMBER"}, true, true, true, true},
    {"TdV03", "V03:AnalysisTypeKey", {"V03:ANALYSISTYPE"}, false, true, false, false},
    {"TdV04", "V04:ActNumberKey", {"V04:ACTNUMBER"}, true, true, true, true},
    {"TdV05", "V05:AccNumberKey", {"V05:ACCNUMBER"}, true, true, true, true},
    {"TdV05", "V05:AnalNumberKey", {"V05:ANALNUMBER"}, false, true, false, false},
    {"TdV06", "V06:KeyFarmNo", {"V06:FARMNO"}, true, true, true, false},
    {"TdV07", "V07:KeyEntNo", {"V07:ENTNO"}, true, true, true, false},
    {"TdV08", "V08:KeyFieldNo", {"V08:FIELDNO"}, true, true, true, false},
    {"TdV30", "V30:JobNumberKey", {"V30:JOBNUMBER"}, true, true, true, true},
    {"TdV30", "V30:VehNumberKey", {"V30:VEHNUMBER", "V30:JOBDATE"}, false, true, false, false},
    {"TdV30", "V30:AllocNumberKey", {"V30:ALLOCNUMBER", "V30:JOBDATE"}, false, true, false, false},
    {"TdV30", "V30:AccNumberKey", {"V30:ACCNUMBER", "V30:JOBDATE"}, false, true, false, false},
    {"TdV30", "V30:VehAccDateKey", {"V30:VEHNUMBER", "V30:ACCNUMBER", "V30:JOBDATE"}, false, true, false, false},
    {"TdV30", "V30:AnalNumberKey", {"V30:ANALNUMBER", "V30:JOBDATE"}, false, true, false, false},
    {"TdV30", "V30:ItemCodeKey", {"V30:ITEMCODE", "V30:JOBDATE"}, false, true, false, false},
    {"TdV301", "V301:JobNumberKey", {"V301:JOBNUMBER", "V301:JOBDETAILDATE"}, false, true, false, false},
    {"TdV301", "V301:ItemCodeKey", {"V301:ITEMCODE"}, false, true, false, false},
    {"TdV40", "V40:TransNumberKey", {"V40:TRANSNUMBER"}, true, true, true, true},
    {"TdV40", "V40:AllocNumberKey", {"V40:ALLOCNUMBER", "V40:ACTIVITYDATE"}, false, true, false, false},
    {"TdV40", "V40:ActNumberKey", {"V40:ACTNUMBER", "V40:ACTIVITYDATE"}, false, true, false, false},
    {"TdV40", "V40:AllocActDateKey", {"V40:ALLOCNUMBER", "V40:ACTNUMBER", "V40:ACTIVITYDATE"}, false, true, false, false},
    {"TdV50", "V50:AutoNumberKey", {"V50:AUTONUMBER"}, true, true, true, false},
    {"TdV50", "V50:VechileNoKey", {"V50:VECHILENO"}, false, true, false, false},
    {"TdV50", "V50:VechNoDateKey", {"V50:VECHILENO", "V50:DATE"}, false, true, false, false},
    {"TdV50", "V50:DateKey", {"V50:DATE"}, false, true, false, false},
    {"TdV51", "V51:KeyAutoNumber", {"V51:AUTONUMBER"}, false, false, false, false},
    {"TdV51", "V51:FarmNoKey", {"V51:FARMNO"}, false, true, false, false},
    {"TdI01", "I01:ItemCodeKey", {"I01:ITEMCODE"}, true, false, true, false},
    {"TdI01", "I01:SupplierCodeKey", {"I01:SUPPLIERCODE"}, false, true, false, false},
    {"TdI02", "I02:SupplierCodeKey", {"I02:SUPPLIERCODE"}, true, false, true, false},
    {"TdW01", "W01:VehAllocDateKey", {"W01:VEHNUMBER", "W01:ACCNUMBER", "W01:TRANSDATE"}, false, true, false, false},
    {"TdW01", "W01:AllocDateKey", {"W01:ALLOCNUMBER", "W01:ACCNUMBER", "W01:TRANSDATE"}, false, true, false, false},
    {"TdW01", "W01:AccDateKey", {"W01:ACCNUMBER", "W01:TRANSDATE"}, false, true, false, false},
    {"TdW01", "W01:ActDateKey", {"W01:ACTNUMBER", "W01:TRANSDATE"}, false, true, false, false},
    {"TdW01", "W01:JobNumberKey", {"W01:JOBNUMBER"}, false, true, false, false},
    {"TdW01", "W01:AnalNumberKey", {"W01:ANALNUMBER"}, false, true, false, false},
    {"TdW01", "W01:ItemCodekey", {"W01:ITEMCODE"}, false, false, false, false},
    {"TdW01", "W01:SortFieldKey", {"W01:SORTFIELD"}, false, true, false, false},
    {"BvS01", "CS01:SysNumberKey", {"CS01:SYSNUMBER", "CS01:MODULENUMBER"}, true, false, true, false},
};

void ExpectKey(const KeyCase& expected, int number, std::string_view label, const std::string& prefix) {
  const RecordDeclaration& declaration = Declared(label);
  const auto renamed = [&](std::string_view name) { return prefix + std::string(name.substr(name.find(':'))); };
  SCOPED_TRACE(std::string(label) + " " + expected.name);
  ASSERT_LE(static_cast<std::size_t>(number), declaration.keys.size());
  const platform::KeyDeclaration& key = declaration.keys[static_cast<std::size_t>(number - 1)];
  EXPECT_EQ(key.name, renamed(expected.name));
  std::vector<int> components;
  for (const char* component : expected.components) {
    components.push_back(declaration.FieldNumber(renamed(component)));
  }
  EXPECT_EQ(key.components, components);
  EXPECT_EQ(key.unique, expected.unique);
  EXPECT_EQ(key.no_case, expected.no_case);
  EXPECT_EQ(key.primary, expected.primary);
  EXPECT_EQ(key.auto_number, expected.auto_number);
}

TEST(DataDictionaryTest, DeclaresEveryKeyWithItsComponentsAndAttributes) {
  std::string label;
  int number = 0;
  for (const KeyCase& expected : kKeys) {
    number = label == expected.label ? number + 1 : 1;
    label = expected.label;
    ExpectKey(expected, number, label, std::string(expected.name).substr(0, std::string(expected.name).find(':')));
    if (label == "TdI01") ExpectKey(expected, number, "TdI01A", "I01A");
  }
}

// The relation lists, in registration order. Actions: 0 none, 2 restrict,
// 3 cascade.
struct RelationCase {
  const char* label;
  int number;
  const char* related;
  RelationKind kind;
  const char* field = "";
  const char* related_field = "";
  const char* related_key = "";
  int update = 0;
  int remove = 0;
};
const RelationCase kRelations[] = {
    {"TdV01", 1, "TdW01", RelationKind::kOneToMany, "V01:VEHNUMBER", "W01:VEHNUMBER", "W01:VehAllocDateKey", 0, 0},
    {"TdV01", 2, "TdV30", RelationKind::kOneToMany, "V01:VEHNUMBER", "V30:VEHNUMBER", "V30:VehNumberKey", 3, 2},
    {"TdV02", 1, "TdW01", RelationKind::kOneToMany, "V02:ALLOCNUMBER", "W01:ALLOCNUMBER", "W01:AllocDateKey", 0, 0},
    {"TdV02", 2, "TdV40", RelationKind::kOneToMany, "V02:ALLOCNUMBER", "V40:ALLOCNUMBER", "V40:AllocNumberKey", 3, 3},
    {"TdV02", 3, "TdV30", RelationKind::kOneToMany, "V02:ALLOCNUMBER", "V30:ALLOCNUMBER", "V30:AllocNumberKey", 3, 2},
    {"TdV03", 1, "TdW01", RelationKind::kOneToMany, "V03:ANALNUMBER", "W01:ANALNUMBER", "W01:AnalNumberKey", 0, 0},
    {"TdV03", 2, "TdV30", RelationKind::kOneToMany, "V03:ANALNUMBER", "V30:ANALNUMBER", "V30:AnalNumberKey", 3, 2},
    {"TdV03", 3, "TdV05", RelationKind::kOneToMany, "V03:ANALNUMBER", "V05:ANALNUMBER", "V05:AnalNumberKey", 3, 2},
    {"TdV04", 1, "TdW01", RelationKind::kOneToMany, "V04:ACTNUMBER", "W01:ACTNUMBER", "W01:ActDateKey", 0, 0},
    {"TdV04", 2, "TdV40", RelationKind::kOneToMany, "V04:ACTNUMBER", "V40:ACTNUMBER", "V40:ActNumberKey", 3, 3},
    {"TdV05", 1, "TdW01", RelationKind::kOneToMany, "V05:ACCNUMBER", "W01:ACCNUMBER", "W01:AccDateKey", 0, 0},
    {"TdV05", 2, "TdV03", RelationKind::kLookup},
    {"TdV05", 3, "TdV30", RelationKind::kOneToMany, "V05:ACCNUMBER", "V30:ACCNUMBER", "V30:AccNumberKey", 3, 2},
    {"TdV30", 1, "TdI01", RelationKind::kLookup},
    {"TdV30", 2, "TdW01", RelationKind::kOneToMany, "V30:JOBNUMBER", "W01:JOBNUMBER", "W01:JobNumberKey", 0, 0},
    {"TdV30", 3, "TdV03", RelationKind::kLookup},
    {"TdV30", 4, "TdV05", RelationKind::kLookup},
    {"TdV30", 5, "TdV02", RelationKind::kLookup},
    {"TdV30", 6, "TdV01", RelationKind::kLookup},
    {"TdV30", 7, "TdV301", RelationKind::kOneToMany, "V30:JOBNUMBER", "V301:JOBNUMBER", "V301:JobNumberKey", 3, 3},
    {"TdV301", 1, "TdI01A", RelationKind::kLookup},
    {"TdV301", 2, "TdW01", RelationKind::kLookup},
    {"TdV301", 3, "TdV30", RelationKind::kLookup},
    {"TdV40", 1, "TdV02", RelationKind::kLookup},
    {"TdV40", 2, "TdV04", RelationKind::kLookup},
    {"TdV50", 1, "TdV51", RelationKind::kOneToMany, "V50:AUTONUMBER", "V51:AUTONUMBER", "V51:KeyAutoNumber", 3, 3},
    {"TdV51", 1, "TdV50", RelationKind::kLookup},
    {"TdI01", 1, "TdW01", RelationKind::kOneToMany, "I01:ITEMCODE", "W01:ITEMCODE", "W01:ItemCodekey", 0, 0},
    {"TdI01", 2, "TdV30", RelationKind::kOneToMany, "I01:ITEMCODE", "V30:ITEMCODE", "V30:ItemCodeKey", 3, 2},
    {"TdI01", 3, "TdI02", RelationKind::kLookup},
    {"TdI01A", 1, "TdV301", RelationKind::kOneToMany, "I01A:ITEMCODE", "V301:ITEMCODE", "V301:ItemCodeKey", 3, 2},
    {"TdI02", 1, "TdI01", RelationKind::kOneToMany, "I02:SUPPLIERCODE", "I01:SUPPLIERCODE", "I01:SupplierCodeKey", 3, 2},
    {"TdW01", 1, "TdI01", RelationKind::kLookup},
    {"TdW01", 2, "TdV301", RelationKind::kOneToMany, "W01:JOBNUMBER", "V301:JOBNUMBER", "V301:JobNumberKey", 0, 0},
    {"TdW01", 3, "TdV03", RelationKind::kLookup},
    {"TdW01", 4, "TdV01", RelationKind::kLookup},
    {"TdW01", 5, "TdV04", RelationKind::kLookup},
    {"TdW01", 6, "TdV05", RelationKind::kLookup},
    {"TdW01", 7, "TdV30", RelationKind::kLookup},
    {"TdW01", 8, "TdV02", RelationKind::kLookup},
};

TEST(DataDictionaryTest, DeclaresEveryRelationInItsOrder) {
  std::vector<std::size_t> counted(DataDictionary::Files().size(), 0);
  for (const RelationCase& expected : kRelations) {
    SCOPED_TRACE(std::string(expected.label) + " relation " + std::to_string(expected.number));
    const FileDefinition* file = DataDictionary::Find(expected.label);
    const FileDefinition* related = DataDictionary::Find(expected.related);
    ASSERT_NE(file, nullptr);
    ASSERT_NE(related, nullptr);
    ++counted[static_cast<std::size_t>(file->id)];
    ASSERT_LE(static_cast<std::size_t>(expected.number), file->relations.size());
    const RelationDeclaration& relation = file->relations[static_cast<std::size_t>(expected.number - 1)];
    EXPECT_EQ(relation.related, related->id);
    EXPECT_EQ(relation.kind, expected.kind);
    EXPECT_EQ(relation.field, file->declaration.FieldNumber(expected.field));
    EXPECT_EQ(relation.related_field, related->declaration.FieldNumber(expected.related_field));
    EXPECT_EQ(relation.related_key, related->declaration.KeyNumber(expected.related_key));
    EXPECT_EQ(static_cast<int>(relation.update), expected.update);
    EXPECT_EQ(static_cast<int>(relation.remove), expected.remove);
  }
  for (const FileDefinition& file : DataDictionary::Files()) {
    EXPECT_EQ(file.relations.size(), counted[static_cast<std::size_t>(file.id)]) << file.declaration.label;
  }
}

// A link pairs two fields of one encoding and width, and the child key it
// goes through starts with the child's linking field.
TEST(DataDictionaryTest, LinksPairFieldsOfOneEncodingThroughTheChildKeysLeadingComponent) {
  for (const FileDefinition& file : DataDictionary::Files()) {
    for (const RelationDeclaration& relation : file.relations) {
      if (relation.kind != RelationKind::kOneToMany) continue;
      const RecordDeclaration& related = DataDictionary::Definition(relation.related).declaration;
      const auto& field = file.declaration.fields[static_cast<std::size_t>(relation.field - 1)];
      const auto& related_field = related.fields[static_cast<std::size_t>(relation.related_field - 1)];
      SCOPED_TRACE(field.name + " = " + related_field.name);
      EXPECT_EQ(field.encoding, related_field.encoding);
      EXPECT_EQ(field.width, related_field.width);
      EXPECT_EQ(related.keys[static_cast<std::size_t>(relation.related_key - 1)].components.front(),
                relation.related_field);
    }
  }
}

class DictionaryFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-dict-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    DataDictionary::ReleaseThread();
    DataDictionary::SetSystemFileName("");
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // The calling thread's file, created and open.
  static platform::RecordFile& Opened(DictionaryFile id) {
    platform::RecordFile& file = DataDictionary::File(id);
    EXPECT_EQ(file.Create(), 0) << platform::LastRuntimeError().file_error_message;
    EXPECT_EQ(file.Open(), 0) << platform::LastRuntimeError().file_error_message;
    return file;
  }

  static void Set(platform::RecordFile& file, const char* name, const std::string& value) {
    const int number = file.Declaration().FieldNumber(name);
    ASSERT_NE(number, 0) << name;
    ASSERT_TRUE(platform::SetFieldText(file.Declaration().fields[static_cast<std::size_t>(number - 1)],
                                       file.Record(), value, platform::TextFit::kCut))
        << name;
  }

  static std::string Get(const platform::RecordFile& file, const char* name) {
    const int number = file.Declaration().FieldNumber(name);
    return platform::FieldText(file.Declaration().fields[static_cast<std::size_t>(number - 1)], file.Record());
  }

  std::string dir_;
  std::filesystem::path previous_;
};

TEST_F(DictionaryFilesTest, EachLogicalThreadHasItsOwnFilesAndBuffers) {
  platform::RecordFile* mine = &DataDictionary::File(DictionaryFile::TdV30);
  EXPECT_EQ(&DataDictionary::File(DictionaryFile::TdV30), mine);
  EXPECT_EQ(mine->RecordSize(), 371u);
  Set(*mine, "V30:JOBDESCRIPTION", "main thread");

  platform::RecordFile* theirs = nullptr;
  std::string theirs_seen;
  platform::StartThread([&] {
    theirs = &DataDictionary::File(DictionaryFile::TdV30);
    theirs_seen = Get(*theirs, "V30:JOBDESCRIPTION");
    DataDictionary::ReleaseThread();
  });
  platform::JoinThreads();
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(theirs_seen, "");
  EXPECT_EQ(Get(*mine, "V30:JOBDESCRIPTION"), "main thread");
}

TEST_F(DictionaryFilesTest, SystemFileTakesTheRunTimeNameWhileClosed) {
  EXPECT_EQ(DataDictionary::DiskName(DictionaryFile::BvS01), "");
  DataDictionary::SetSystemFileName(dir_ + "/specs/BvS01");
  EXPECT_EQ(DataDictionary::DiskName(DictionaryFile::BvS01), dir_ + "/specs/BvS01");
  EXPECT_EQ(DataDictionary::File(DictionaryFile::BvS01).Path(), dir_ + "/specs/BvS01.dat");
  EXPECT_EQ(DataDictionary::Definition(DictionaryFile::BvS01).declaration.disk_name, "");

  DataDictionary::SetSystemFileName(std::string(200, 'x'));
  EXPECT_EQ(DataDictionary::SystemFileName(), std::string(128, 'x'));
}

// Keys behave as declared: a registration number differing only in letter
// case is a duplicate, item codes differing only in case are not.
TEST_F(DictionaryFilesTest, CaseInsensitiveUniqueKeysRefuseWhatCaseSensitiveOnesAccept) {
  struct Case {
    DictionaryFile file;
    const char* field;
    const char* first;
    const char* second;
    int second_add;
  };
  const Case cases[] = {
      {DictionaryFile::TdV01, "V01:REGISTRATIONNUMBER", "CA 123-456", "ca 123-456", platform::kErrDuplicateKey},
      {DictionaryFile::TdI01, "I01:ITEMCODE", "BOLT-10", "bolt-10", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    platform::RecordFile& file = Opened(c.file);
    file.Clear();
    if (c.file == DictionaryFile::TdV01) Set(file, "V01:VEHNUMBER", "V1");
    Set(file, c.field, c.first);
    ASSERT_EQ(file.Add(), 0);
    file.Clear();
    if (c.file == DictionaryFile::TdV01) Set(file, "V01:VEHNUMBER", "V2");
    Set(file, c.field, c.second);
    EXPECT_EQ(file.Add(), c.second_add);
    EXPECT_EQ(file.Records(), c.second_add == 0 ? 2 : 1);
    file.Close();
  }
}

TEST_F(DictionaryFilesTest, WorkDoneDescriptionKeepsAtMost255CharactersAndItsTerminator) {
  platform::RecordFile& file = DataDictionary::File(DictionaryFile::TdV30);
  Set(file, "V30:WORKDONEDESCRIPTION", std::string(300, 'w'));
  EXPECT_EQ(Get(file, "V30:WORKDONEDESCRIPTION"), std::string(255, 'w'));
  EXPECT_EQ(file.Record()[115 + 255], 0);
}

TEST_F(DictionaryFilesTest, AliasReadsWhatTheStockFileWrote) {
  platform::RecordFile& stock = Opened(DictionaryFile::TdI01);
  Set(stock, "I01:ITEMCODE", "NUT-6");
  Set(stock, "I01:DESCRIPTION", "Hex nut");
  Set(stock, "I01:STOCKONHAND", "12.5");
  ASSERT_EQ(stock.Add(), 0);

  platform::RecordFile& alias = DataDictionary::File(DictionaryFile::TdI01A);
  ASSERT_EQ(alias.Path(), stock.Path());
  ASSERT_EQ(alias.Open(), 0) << platform::LastRuntimeError().file_error_message;
  Set(alias, "I01A:ITEMCODE", "NUT-6");
  ASSERT_EQ(alias.Get(1), 0);
  EXPECT_EQ(Get(alias, "I01A:DESCRIPTION"), "Hex nut");
  EXPECT_EQ(Get(alias, "I01A:STOCKONHAND"), "12.5");
}

}  // namespace
}  // namespace qm::checker
