// A record file declared as data: its label, disk name, driver, prefix, the
// layout of its record buffer and its keys.
//
// The record file driver stores this declaration in every file it creates
// and compares it with the declared one on each open. Field numbers and key
// numbers are 1-based in declaration order; a key names its components by
// field number. Names compare without regard to letter case, as the driver
// holds them in upper case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm::platform {

enum class FieldEncoding {
  kU8,       // unsigned 8-bit
  kU16,      // unsigned 16-bit, little-endian
  kI32,      // signed 32-bit, little-endian (dates as day numbers)
  kU32,      // unsigned 32-bit, little-endian
  kF32,      // IEEE 754 single precision
  kF64,      // IEEE 754 double precision
  kText,     // fixed-length text padded with blanks, no terminator
  kCString,  // text of at most width-1 characters and a zero byte
  kDecimal,  // signed packed decimal: digit nibbles, high first, then a sign nibble
};

struct FieldDeclaration {
  std::string name;  // "V30:JOBNUMBER"
  FieldEncoding encoding = FieldEncoding::kU8;
  std::size_t offset = 0;
  std::size_t width = 0;
  int digits = 0;    // kDecimal: digits in all, width = (digits + 1) / 2
  int decimals = 0;  // kDecimal: digits after the decimal point
};

struct KeyDeclaration {
  std::string name;             // "V30:JobNumberKey"
  std::vector<int> components;  // field numbers, in key order, all ascending
  bool unique = false;
  bool no_case = false;      // text components compare in upper case
  bool primary = false;      // at most one key of a file
  bool auto_number = false;  // the file manager numbers the last component
};

struct RecordDeclaration {
  std::string label;      // "TdV30": the name in messages
  std::string disk_name;  // "TDV30": the driver adds ".dat"
  std::string driver = "KEYREC";
  std::string prefix;     // "V30"
  std::size_t record_size = 0;
  std::vector<FieldDeclaration> fields;
  std::vector<KeyDeclaration> keys;
  int version = 0;          // structure version; 0 for none
  bool per_thread = false;  // each logical thread declares its own instance

  // Appends a field right after the last one and grows `record_size` to
  // cover it. `width` is implied for the numeric encodings; a decimal takes
  // its digits and decimals. Returns the new field's number.
  int AddField(std::string name, FieldEncoding encoding, std::size_t width = 0, int digits = 0,
               int decimals = 0);

  // Field or key number by name (letter case ignored); 0 when there is none.
  int FieldNumber(std::string_view name) const;
  int KeyNumber(std::string_view name) const;

  // Empty when the declaration can describe a file; otherwise why not: a
  // field outside the record, a width that does not fit its encoding, fields
  // that overlap, a key without components or with an unknown field, two
  // primary keys, two fields or keys of one name.
  std::string Problem() const;
};

// The width an encoding always has; 0 for texts and decimals.
std::size_t FixedWidth(FieldEncoding encoding);

// "u8", "u16", "i32", "u32", "f32", "f64", "text", "cstring", "decimal".
std::string_view EncodingName(FieldEncoding encoding);
bool ParseEncoding(std::string_view name, FieldEncoding* encoding);

// True when both declare the same record: size and every field's name,
// encoding, offset, width, digits and decimals.
bool SameRecordLayout(const RecordDeclaration& a, const RecordDeclaration& b);

// True when both declare the same keys: names, components, unique and case
// attributes, in order. The primary and auto-number marks do not change
// what an index holds and are not compared.
bool SameKeys(const RecordDeclaration& a, const RecordDeclaration& b);

// Letter-case-blind equality of ASCII names.
bool SameName(std::string_view a, std::string_view b);

}  // namespace qm::platform
