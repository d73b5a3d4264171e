#include "checker/data_dictionary.h"

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>

#include "platform/threads.h"

namespace qm::checker {
namespace {

using platform::FieldEncoding;
using enum DictionaryFile;

// The tables below are written as the product's documentation prints them:
// fields in order with their encodings (offsets follow from the widths),
// keys with their attribute columns, relations with their links.

struct Encoding {
  FieldEncoding encoding;
  std::size_t width;
  int digits = 0;
  int decimals = 0;
};

constexpr Encoding u8{FieldEncoding::kU8, 1};
constexpr Encoding u16{FieldEncoding::kU16, 2};
constexpr Encoding i32{FieldEncoding::kI32, 4};
constexpr Encoding u32{FieldEncoding::kU32, 4};
constexpr Encoding f32{FieldEncoding::kF32, 4};
constexpr Encoding f64{FieldEncoding::kF64, 8};
constexpr Encoding text(std::size_t width) { return {FieldEncoding::kText, width}; }
constexpr Encoding cstring(std::size_t width) { return {FieldEncoding::kCString, width}; }
constexpr Encoding decimal(int digits, int decimals) {
  return {FieldEncoding::kDecimal, static_cast<std::size_t>(digits + 1) / 2, digits, decimals};
}

struct FieldRow {
  std::string_view name;
  Encoding encoding;
};

constexpr bool yes = true;
constexpr bool no = false;

struct KeyRow {
  std::string_view name;
  std::array<std::string_view, 3> components;
  bool unique;
  bool no_case;
  bool primary;
  bool auto_number;
};

constexpr RelationKind one_to_many = RelationKind::kOneToMany;
constexpr RelationKind lookup = RelationKind::kLookup;
constexpr RelationAction none = RelationAction::kNone;
constexpr RelationAction restrict = RelationAction::kRestrict;
constexpr RelationAction cascade = RelationAction::kCascade;

struct RelationRow {
  DictionaryFile related;
  RelationKind kind;
  std::string_view field = {};          // this file = related file
  std::string_view related_field = {};
  std::string_view related_key = {};
  RelationAction update = none;
  RelationAction remove = none;
};

// ---- TdV01: vehicles ----
constexpr FieldRow kTdV01Fields[] = {
    {"V01:VEHNUMBER", text(6)},
    {"V01:VEHDESCRIPTION", text(25)},
    {"V01:STARTINGMETER", decimal(11, 3)},
    {"V01:REGISTRATIONNUMBER", text(12)},
    {"V01:ENGINENUMBER", text(20)},
    {"V01:CHASSISNUMBER", text(20)},
    {"V01:PURCHASEDATE", i32},
    {"V01:PURCHASEVALUE", f64},
    {"V01:SALVAGEVALUE", f64},
    {"V01:MARK", u8},
};
constexpr KeyRow kTdV01Keys[] = {
    // key                         components                   unique case-ins primary auto
    {"V01:VehNumberKey",          {"V01:VEHNUMBER"},            yes,   yes,     yes,    yes},
    {"V01:RegistrationNumberKey", {"V01:REGISTRATIONNUMBER"},   yes,   yes,     no,     no},
};
constexpr RelationRow kTdV01Relations[] = {
    {TdW01, one_to_many, "V01:VEHNUMBER", "W01:VEHNUMBER", "W01:VehAllocDateKey", none, none},
    {TdV30, one_to_many, "V01:VEHNUMBER", "V30:VEHNUMBER", "V30:VehNumberKey", cascade, restrict},
};

// ---- TdV02: allocations ----
constexpr FieldRow kTdV02Fields[] = {
    {"V02:ALLOCNUMBER", u16},
    {"V02:ALLOCDESCRIPTION", text(25)},
};
constexpr KeyRow kTdV02Keys[] = {
    {"V02:AllocNumberKey", {"V02:ALLOCNUMBER"}, yes, yes, yes, yes},
};
constexpr RelationRow kTdV02Relations[] = {
    {TdW01, one_to_many, "V02:ALLOCNUMBER", "W01:ALLOCNUMBER", "W01:AllocDateKey", none, none},
    {TdV40, one_to_many, "V02:ALLOCNUMBER", "V40:ALLOCNUMBER", "V40:AllocNumberKey", cascade, cascade},
    {TdV30, one_to_many, "V02:ALLOCNUMBER", "V30:ALLOCNUMBER", "V30:AllocNumberKey", cascade, restrict},
};

// ---- TdV03: analysis codes ----
constexpr FieldRow kTdV03Fields[] = {
    {"V03:ANALNUMBER", u16},
    {"V03:ANALDESCRIPTION", text(25)},
    {"V03:ANALYSISTYPE", u8},
    {"V03:UNITDESCRIPTION", text(10)},
    {"V03:DISTANCEDESCRIPTION", text(10)},
};
constexpr KeyRow kTdV03Keys[] = {
    {"V03:AnalNumberKey",   {"V03:ANALNUMBER"},   yes, yes, yes, yes},
    {"V03:AnalysisTypeKey", {"V03:ANALYSISTYPE"}, no,  yes, no,  no},
};
constexpr RelationRow kTdV03Relations[] = {
    {TdW01, one_to_many, "V03:ANALNUMBER", "W01:ANALNUMBER", "W01:AnalNumberKey", none, none},
    {TdV30, one_to_many, "V03:ANALNUMBER", "V30:ANALNUMBER", "V30:AnalNumberKey", cascade, restrict},
    {TdV05, one_to_many, "V03:ANALNUMBER", "V05:ANALNUMBER", "V05:AnalNumberKey", cascade, restrict},
};

// ---- TdV04: activities with their cost rates ----
constexpr FieldRow kTdV04Fields[] = {
    {"V04:ACTNUMBER", u16},
    {"V04:ACTDESCRIPTION", text(25)},
    {"V04:ACTCOST", f64},
    {"V04:ACTCOSTDESCRIPTION", text(25)},
    {"V04:MARK", u8},
};
constexpr KeyRow kTdV04Keys[] = {
    {"V04:ActNumberKey", {"V04:ACTNUMBER"}, yes, yes, yes, yes},
};
constexpr RelationRow kTdV04Relations[] = {
    {TdW01, one_to_many, "V04:ACTNUMBER", "W01:ACTNUMBER", "W01:ActDateKey", none, none},
    {TdV40, one_to_many, "V04:ACTNUMBER", "V40:ACTNUMBER", "V40:ActNumberKey", cascade, cascade},
};

// ---- TdV05: accounts, each tied to an analysis code ----
constexpr FieldRow kTdV05Fields[] = {
    {"V05:ACCNUMBER", u16},
    {"V05:ACCDESCRIPTION", text(25)},
    {"V05:ANALNUMBER", u16},
};
constexpr KeyRow kTdV05Keys[] = {
    {"V05:AccNumberKey",  {"V05:ACCNUMBER"},  yes, yes, yes, yes},
    {"V05:AnalNumberKey", {"V05:ANALNUMBER"}, no,  yes, no,  no},
};
constexpr RelationRow kTdV05Relations[] = {
    {TdW01, one_to_many, "V05:ACCNUMBER", "W01:ACCNUMBER", "W01:AccDateKey", none, none},
    {TdV03, lookup},
    {TdV30, one_to_many, "V05:ACCNUMBER", "V30:ACCNUMBER", "V30:AccNumberKey", cascade, restrict},
};

// ---- TdV06, TdV07, TdV08: farms, ENT codes, fields ----
constexpr FieldRow kTdV06Fields[] = {
    {"V06:FARMNO", text(8)},
    {"V06:FARMDESC", text(30)},
    {"V06:MARK", u8},
};
constexpr KeyRow kTdV06Keys[] = {
    {"V06:KeyFarmNo", {"V06:FARMNO"}, yes, yes, yes, no},
};

constexpr FieldRow kTdV07Fields[] = {
    {"V07:ENTNO", text(8)},
    {"V07:ENTDESC", text(30)},
    {"V07:MARK", u8},
};
constexpr KeyRow kTdV07Keys[] = {
    {"V07:KeyEntNo", {"V07:ENTNO"}, yes, yes, yes, no},
};

constexpr FieldRow kTdV08Fields[] = {
    {"V08:FIELDNO", text(8)},
    {"V08:FIELDDESC", text(30)},
    {"V08:MARK", u8},
};
constexpr KeyRow kTdV08Keys[] = {
    {"V08:KeyFieldNo", {"V08:FIELDNO"}, yes, yes, yes, no},
};

// ---- TdV30: jobs ----
constexpr FieldRow kTdV30Fields[] = {
    {"V30:JOBNUMBER", u32},
    {"V30:JOBDATE", i32},
    {"V30:JOBDESCRIPTION", text(40)},
    {"V30:WORKSHOPJOB", u8},
    {"V30:JOBCOST", f64},
    {"V30:JOBMETER", decimal(11, 3)},
    {"V30:JOBUNITS", f32},
    {"V30:JOBANALYSIS", f64},
    {"V30:VEHNUMBER", text(6)},
    {"V30:ALLOCNUMBER", u16},
    {"V30:ACCNUMBER", u16},
    {"V30:ANALNUMBER", u16},
    {"V30:ITEMCODE", text(10)},
    {"V30:RUNNINGBALANCE", f64},
    {"V30:RECORDSTATUS", u16},
    {"V30:TRANFERFROMNUMBER", u32},
    {"V30:TRANSFERTONUMBER", u32},
    {"V30:WORKDONEDESCRIPTION", cstring(256)},
};
constexpr KeyRow kTdV30Keys[] = {
    {"V30:JobNumberKey",   {"V30:JOBNUMBER"},                                yes, yes, yes, yes},
    {"V30:VehNumberKey",   {"V30:VEHNUMBER", "V30:JOBDATE"},                 no,  yes, no,  no},
    {"V30:AllocNumberKey", {"V30:ALLOCNUMBER", "V30:JOBDATE"},               no,  yes, no,  no},
    {"V30:AccNumberKey",   {"V30:ACCNUMBER", "V30:JOBDATE"},                 no,  yes, no,  no},
    {"V30:VehAccDateKey",  {"V30:VEHNUMBER", "V30:ACCNUMBER", "V30:JOBDATE"}, no,  yes, no,  no},
    {"V30:AnalNumberKey",  {"V30:ANALNUMBER", "V30:JOBDATE"},                no,  yes, no,  no},
    {"V30:ItemCodeKey",    {"V30:ITEMCODE", "V30:JOBDATE"},                  no,  yes, no,  no},
};
constexpr RelationRow kTdV30Relations[] = {
    {TdI01, lookup},
    {TdW01, one_to_many, "V30:JOBNUMBER", "W01:JOBNUMBER", "W01:JobNumberKey", none, none},
    {TdV03, lookup},
    {TdV05, lookup},
    {TdV02, lookup},
    {TdV01, lookup},
    {TdV301, one_to_many, "V30:JOBNUMBER", "V301:JOBNUMBER", "V301:JobNumberKey", cascade, cascade},
};

// ---- TdV301: job detail lines ----
constexpr FieldRow kTdV301Fields[] = {
    {"V301:JOBNUMBER", u32},
    {"V301:ITEMCODE", text(10)},
    {"V301:JOBDETAILDATE", i32},
    {"V301:JOBDESCRIPTION", text(50)},
    {"V301:ITEMQTY", f64},
    {"V301:JOBCOST", f64},
};
constexpr KeyRow kTdV301Keys[] = {
    {"V301:JobNumberKey", {"V301:JOBNUMBER", "V301:JOBDETAILDATE"}, no, yes, no, no},
    {"V301:ItemCodeKey",  {"V301:ITEMCODE"},                        no, yes, no, no},
};
constexpr RelationRow kTdV301Relations[] = {
    {TdI01A, lookup},
    {TdW01, lookup},
    {TdV30, lookup},
};

// ---- TdV40: activity transactions ----
constexpr FieldRow kTdV40Fields[] = {
    {"V40:TRANSNUMBER", u32},
    {"V40:ACTIVITYDATE", i32},
    {"V40:ALLOCNUMBER", u16},
    {"V40:ACTNUMBER", u16},
    {"V40:DESCRIPTION", text(25)},
    {"V40:UNITS", f32},
    {"V40:COST", f64},
};
constexpr KeyRow kTdV40Keys[] = {
    {"V40:TransNumberKey",   {"V40:TRANSNUMBER"},                                     yes, yes, yes, yes},
    {"V40:AllocNumberKey",   {"V40:ALLOCNUMBER", "V40:ACTIVITYDATE"},                 no,  yes, no,  no},
    {"V40:ActNumberKey",     {"V40:ACTNUMBER", "V40:ACTIVITYDATE"},                   no,  yes, no,  no},
    {"V40:AllocActDateKey",  {"V40:ALLOCNUMBER", "V40:ACTNUMBER", "V40:ACTIVITYDATE"}, no,  yes, no,  no},
};
constexpr RelationRow kTdV40Relations[] = {
    {TdV02, lookup},
    {TdV04, lookup},
};

// ---- TdV50: vehicle usage entries ----
constexpr FieldRow kTdV50Fields[] = {
    {"V50:AUTONUMBER", i32},
    {"V50:VECHILENO", text(6)},
    {"V50:DATE", i32},
    {"V50:STARTUNITS", decimal(11, 3)},
    {"V50:ENDUNITS", decimal(11, 3)},
    {"V50:DESCRIPTION", text(30)},
};
constexpr KeyRow kTdV50Keys[] = {
    {"V50:AutoNumberKey", {"V50:AUTONUMBER"},           yes, yes, yes, no},
    {"V50:VechileNoKey",  {"V50:VECHILENO"},            no,  yes, no,  no},
    {"V50:VechNoDateKey", {"V50:VECHILENO", "V50:DATE"}, no,  yes, no,  no},
    {"V50:DateKey",       {"V50:DATE"},                 no,  yes, no,  no},
};
constexpr RelationRow kTdV50Relations[] = {
    {TdV51, one_to_many, "V50:AUTONUMBER", "V51:AUTONUMBER", "V51:KeyAutoNumber", cascade, cascade},
};

// ---- TdV51: the split of a usage entry ----
constexpr FieldRow kTdV51Fields[] = {
    {"V51:AUTONUMBER", i32},
    {"V51:FARMNO", text(8)},
    {"V51:ENTNO", text(8)},
    {"V51:FIELDNO", text(8)},
    {"V51:ACTNO", u16},
    {"V51:STARTUNITS", decimal(11, 3)},
    {"V51:ENDUNITS", decimal(11, 3)},
    {"V51:UNITS", decimal(11, 3)},
    {"V51:UNITCOST", decimal(9, 2)},
    {"V51:TOTALCOST", decimal(9, 2)},
};
constexpr KeyRow kTdV51Keys[] = {
    {"V51:KeyAutoNumber", {"V51:AUTONUMBER"}, no, no,  no, no},
    {"V51:FarmNoKey",     {"V51:FARMNO"},     no, yes, no, no},
};
constexpr RelationRow kTdV51Relations[] = {
    {TdV50, lookup},
};

// ---- TdI01: stock items (TdI01A repeats it under the prefix I01A) ----
constexpr FieldRow kTdI01Fields[] = {
    {"I01:ITEMCODE", text(10)},
    {"I01:DESCRIPTION", text(40)},
    {"I01:SUPPLIERCODE", text(4)},
    {"I01:STOCKONHAND", f64},
    {"I01:AVERAGECOST", f64},
    {"I01:MINIMUMLEVEL", f64},
    {"I01:MAXIMUMLEVEL", f64},
    {"I01:MARK", u8},
};
constexpr KeyRow kTdI01Keys[] = {
    {"I01:ItemCodeKey",     {"I01:ITEMCODE"},     yes, no,  yes, no},
    {"I01:SupplierCodeKey", {"I01:SUPPLIERCODE"}, no,  yes, no,  no},
};
constexpr RelationRow kTdI01Relations[] = {
    {TdW01, one_to_many, "I01:ITEMCODE", "W01:ITEMCODE", "W01:ItemCodekey", none, none},
    {TdV30, one_to_many, "I01:ITEMCODE", "V30:ITEMCODE", "V30:ItemCodeKey", cascade, restrict},
    {TdI02, lookup},
};
constexpr RelationRow kTdI01ARelations[] = {
    {TdV301, one_to_many, "I01A:ITEMCODE", "V301:ITEMCODE", "V301:ItemCodeKey", cascade, restrict},
};

// ---- TdI02: suppliers ----
constexpr FieldRow kTdI02Fields[] = {
    {"I02:SUPPLIERCODE", text(4)},
    {"I02:NAME", text(40)},
    {"I02:ACCOUNTNUMBER", text(10)},
    {"I02:TELEPHONE", text(20)},
    {"I02:FAXNUMBER", text(20)},
    {"I02:EMAIL", text(64)},
    {"I02:CONTACTPERSON", text(40)},
};
constexpr KeyRow kTdI02Keys[] = {
    {"I02:SupplierCodeKey", {"I02:SUPPLIERCODE"}, yes, no, yes, no},
};
constexpr RelationRow kTdI02Relations[] = {
    {TdI01, one_to_many, "I02:SUPPLIERCODE", "I01:SUPPLIERCODE", "I01:SupplierCodeKey", cascade, restrict},
};

// ---- TdW01: work records ----
constexpr FieldRow kTdW01Fields[] = {
    {"W01:VEHNUMBER", text(6)},
    {"W01:ALLOCNUMBER", u16},
    {"W01:ACCNUMBER", u16},
    {"W01:ACTNUMBER", u16},
    {"W01:JOBNUMBER", u32},
    {"W01:ACTIVITYNUMBER", u32},
    {"W01:ANALNUMBER", u16},
    {"W01:TRANSDATE", i32},
    {"W01:DESCRIPTION", text(60)},
    {"W01:UNITS", decimal(13, 3)},
    {"W01:COST", f64},
    {"W01:METERREADING", decimal(11, 3)},
    {"W01:JOBANALYSIS", decimal(13, 3)},
    {"W01:ITEMCODE", text(10)},
    {"W01:RUNNINGSTOCK", f64},
    {"W01:RUNNINGBALANCE", f64},
    {"W01:FARMNO", text(8)},
    {"W01:ENTNO", text(8)},
    {"W01:FIELDNO", text(8)},
    {"W01:SORTFIELD", text(255)},
    {"W01:REGISTERNAME", text(45)},
    {"W01:DATASETS", u16},
    {"W01:NETWORKS", u16},
    {"W01:CLIENTNAME", text(45)},
    {"W01:ADDRESS1", text(45)},
    {"W01:ADDRESS2", text(45)},
    {"W01:TOWN", text(45)},
    {"W01:POSTALCODE", text(20)},
    {"W01:TELEPHONE", text(45)},
    {"W01:FAX", text(45)},
    {"W01:EMAIL", text(45)},
};
// The second component of both of the first two keys is W01:ACCNUMBER, as
// the product declares them.
constexpr KeyRow kTdW01Keys[] = {
    {"W01:VehAllocDateKey", {"W01:VEHNUMBER", "W01:ACCNUMBER", "W01:TRANSDATE"},   no, yes, no, no},
    {"W01:AllocDateKey",    {"W01:ALLOCNUMBER", "W01:ACCNUMBER", "W01:TRANSDATE"}, no, yes, no, no},
    {"W01:AccDateKey",      {"W01:ACCNUMBER", "W01:TRANSDATE"},                    no, yes, no, no},
    {"W01:ActDateKey",      {"W01:ACTNUMBER", "W01:TRANSDATE"},                    no, yes, no, no},
    {"W01:JobNumberKey",    {"W01:JOBNUMBER"},                                     no, yes, no, no},
    {"W01:AnalNumberKey",   {"W01:ANALNUMBER"},                                    no, yes, no, no},
    {"W01:ItemCodekey",     {"W01:ITEMCODE"},                                      no, no,  no, no},
    {"W01:SortFieldKey",    {"W01:SORTFIELD"},                                     no, yes, no, no},
};
constexpr RelationRow kTdW01Relations[] = {
    {TdI01, lookup},
    {TdV301, one_to_many, "W01:JOBNUMBER", "V301:JOBNUMBER", "V301:JobNumberKey", none, none},
    {TdV03, lookup},
    {TdV01, lookup},
    {TdV04, lookup},
    {TdV05, lookup},
    {TdV30, lookup},
    {TdV02, lookup},
};

// ---- BvS01: systems and modules of the product ----
constexpr FieldRow kBvS01Fields[] = {
    {"CS01:SYSNUMBER", u16},
    {"CS01:SYSTEMNAME", text(40)},
    {"CS01:MODULENUMBER", u16},
    {"CS01:MODULENAME", text(40)},
    {"CS01:DATASETS", i32},
};
constexpr KeyRow kBvS01Keys[] = {
    {"CS01:SysNumberKey", {"CS01:SYSNUMBER", "CS01:MODULENUMBER"}, yes, no, yes, no},
};

struct FileRow {
  DictionaryFile id;
  std::string_view label;
  std::string_view prefix;
  std::string_view disk_name;  // empty: set at run time
  std::size_t record_bytes;
  int version;  // 0: not registered
  std::span<const FieldRow> fields;
  std::span<const KeyRow> keys;
  std::span<const RelationRow> relations;
  DictionaryFile aliased;
  std::string_view holds;
};

// The file table, in DictionaryFile order. An alias lists the rows of the
// file it repeats; its names take its own prefix.
constexpr FileRow kFiles[] = {
    {TdV01, "TdV01", "V01", "TDV01", 110, 4, kTdV01Fields, kTdV01Keys, kTdV01Relations, TdV01, "vehicles"},
    {TdV02, "TdV02", "V02", "TDV02", 27, 2, kTdV02Fields, kTdV02Keys, kTdV02Relations, TdV02, "allocations"},
    {TdV03, "TdV03", "V03", "TDV03", 48, 1, kTdV03Fields, kTdV03Keys, kTdV03Relations, TdV03, "analysis codes"},
    {TdV04, "TdV04", "V04", "TDV04", 61, 3, kTdV04Fields, kTdV04Keys, kTdV04Relations, TdV04,
     "activities with their cost rates"},
    {TdV05, "TdV05", "V05", "TDV05", 29, 2, kTdV05Fields, kTdV05Keys, kTdV05Relations, TdV05,
     "accounts, each tied to an analysis code"},
    {TdV06, "TdV06", "V06", "TDV06", 39, 2, kTdV06Fields, kTdV06Keys, {}, TdV06, "farms"},
    {TdV07, "TdV07", "V07", "TDV07", 39, 2, kTdV07Fields, kTdV07Keys, {}, TdV07, "ENT codes"},
    {TdV08, "TdV08", "V08", "TDV08", 39, 2, kTdV08Fields, kTdV08Keys, {}, TdV08, "fields"},
    {TdV30, "TdV30", "V30", "TDV30", 371, 13, kTdV30Fields, kTdV30Keys, kTdV30Relations, TdV30, "jobs"},
    {TdV301, "TdV301", "V301", "TDV301", 84, 1, kTdV301Fields, kTdV301Keys, kTdV301Relations, TdV301,
     "job detail lines"},
    {TdV40, "TdV40", "V40", "TDV40", 49, 1, kTdV40Fields, kTdV40Keys, kTdV40Relations, TdV40,
     "activity transactions"},
    {TdV50, "TdV50", "V50", "TdV50", 56, 8, kTdV50Fields, kTdV50Keys, kTdV50Relations, TdV50,
     "vehicle usage entries"},
    {TdV51, "TdV51", "V51", "TDV51", 58, 2, kTdV51Fields, kTdV51Keys, kTdV51Relations, TdV51,
     "the split of a usage entry"},
    {TdI01, "TdI01", "I01", "TdI01", 87, 3, kTdI01Fields, kTdI01Keys, kTdI01Relations, TdI01, "stock items"},
    {TdI01A, "TdI01A", "I01A", "TdI01", 87, 0, kTdI01Fields, kTdI01Keys, kTdI01ARelations, TdI01,
     "alias of TdI01"},
    {TdI02, "TdI02", "I02", "TDI02", 198, 2, kTdI02Fields, kTdI02Keys, kTdI02Relations, TdI02, "suppliers"},
    {TdW01, "TdW01", "W01", "TDW01", 803, 10, kTdW01Fields, kTdW01Keys, kTdW01Relations, TdW01,
     "work records"},
    {BvS01, "BvS01", "CS01", "", 88, 2, kBvS01Fields, kBvS01Keys, {}, BvS01,
     "systems and modules of the product"},
};

constexpr std::size_t RecordBytes(std::span<const FieldRow> fields) {
  std::size_t bytes = 0;
  for (const FieldRow& field : fields) bytes += field.encoding.width;
  return bytes;
}

constexpr bool TableIsInOrderAndSized() {
  if (std::size(kFiles) != static_cast<std::size_t>(kDictionaryFileCount)) return false;
  for (std::size_t i = 0; i < std::size(kFiles); ++i) {
    if (static_cast<std::size_t>(kFiles[i].id) != i) return false;
    if (RecordBytes(kFiles[i].fields) != kFiles[i].record_bytes) return false;
  }
  return true;
}
static_assert(TableIsInOrderAndSized(), "a file's fields do not add up to its record size");

// "I01:ITEMCODE" under the prefix "I01A" is "I01A:ITEMCODE".
std::string WithPrefix(std::string_view name, std::string_view prefix) {
  const std::size_t colon = name.find(':');
  return std::string(prefix) + ":" + std::string(name.substr(colon + 1));
}

platform::RecordDeclaration Declare(const FileRow& row) {
  platform::RecordDeclaration declaration;
  declaration.label = row.label;
  declaration.disk_name = row.disk_name;
  declaration.prefix = row.prefix;
  declaration.version = row.version;
  declaration.per_thread = true;
  for (const FieldRow& field : row.fields) {
    declaration.AddField(WithPrefix(field.name, row.prefix), field.encoding.encoding, field.encoding.width,
                         field.encoding.digits, field.encoding.decimals);
  }
  for (const KeyRow& key : row.keys) {
    platform::KeyDeclaration declared;
    declared.name = WithPrefix(key.name, row.prefix);
    for (std::string_view component : key.components) {
      if (!component.empty()) {
        declared.components.push_back(declaration.FieldNumber(WithPrefix(component, row.prefix)));
      }
    }
    declared.unique = key.unique;
    declared.no_case = key.no_case;
    declared.primary = key.primary;
    declared.auto_number = key.auto_number;
    declaration.keys.push_back(std::move(declared));
  }
  return declaration;
}

std::vector<FileDefinition> BuildDefinitions() {
  std::vector<FileDefinition> files;
  files.reserve(std::size(kFiles));
  for (const FileRow& row : kFiles) {
    files.push_back(FileDefinition{row.id, Declare(row), {}, row.aliased, std::string(row.holds)});
  }
  // Links name fields and keys of other files, so they are resolved once
  // every declaration exists.
  for (const FileRow& row : kFiles) {
    FileDefinition& file = files[static_cast<std::size_t>(row.id)];
    for (const RelationRow& relation : row.relations) {
      const platform::RecordDeclaration& related =
          files[static_cast<std::size_t>(relation.related)].declaration;
      RelationDeclaration declared;
      declared.related = relation.related;
      declared.kind = relation.kind;
      if (relation.kind == RelationKind::kOneToMany) {
        declared.field = file.declaration.FieldNumber(relation.field);
        declared.related_field = related.FieldNumber(relation.related_field);
        declared.related_key = related.KeyNumber(relation.related_key);
        declared.update = relation.update;
        declared.remove = relation.remove;
      }
      file.relations.push_back(declared);
    }
  }
  return files;
}

const std::vector<FileDefinition>& Definitions() {
  static const std::vector<FileDefinition> definitions = BuildDefinitions();
  return definitions;
}

constexpr std::size_t kSystemFileNameLength = 128;

std::mutex system_file_name_mutex;
std::string system_file_name;  // Protected by system_file_name_mutex

// One logical thread's files, each with its own declaration copy and buffer.
struct ThreadFiles {
  ThreadFiles() {
    for (const FileDefinition& definition : Definitions()) {
      files.push_back(std::make_unique<platform::RecordFile>(definition.declaration));
    }
  }
  std::vector<std::unique_ptr<platform::RecordFile>> files;
};

platform::PerThread<ThreadFiles> thread_files;

}  // namespace

std::span<const FileDefinition> DataDictionary::Files() { return Definitions(); }

const FileDefinition& DataDictionary::Definition(DictionaryFile file) {
  return Definitions()[static_cast<std::size_t>(file)];
}

const FileDefinition* DataDictionary::Find(std::string_view label) {
  for (const FileDefinition& definition : Definitions()) {
    if (platform::SameName(definition.declaration.label, label)) return &definition;
  }
  return nullptr;
}

std::string DataDictionary::DiskName(DictionaryFile file) {
  if (file == BvS01) return SystemFileName();
  return Definition(file).declaration.disk_name;
}

platform::RecordFile& DataDictionary::File(DictionaryFile file) {
  platform::RecordFile& record_file = *thread_files.Get().files[static_cast<std::size_t>(file)];
  if (file == BvS01 && !record_file.IsOpen()) {
    std::string name = SystemFileName();
    if (record_file.Declaration().disk_name != name) record_file.SetDiskName(std::move(name));
  }
  return record_file;
}

void DataDictionary::ReleaseThread() { thread_files.Release(); }

void DataDictionary::SetSystemFileName(std::string_view name) {
  std::lock_guard lock(system_file_name_mutex);
  system_file_name = std::string(name.substr(0, kSystemFileNameLength));
}

std::string DataDictionary::SystemFileName() {
  std::lock_guard lock(system_file_name_mutex);
  return system_file_name;
}

}  // namespace qm::checker
