// Field values in a record buffer, read and written by declaration.
//
// A record buffer holds each field in its encoding (record_declaration.h);
// these functions turn a field into a value and back. Text values of text
// fields are bytes as the buffer holds them (one byte a character); blank
// padding is added on write and dropped on read. Numbers are written as
// text in plain decimal form: integers without a point, packed decimals with
// exactly their number of decimals, floating point in the shortest form that
// reads back to the same value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/record_declaration.h"

namespace qm::platform {

// Sets every field to its cleared value: numbers 0, texts all blanks,
// zero-terminated texts empty (all zero bytes). Bytes that no field covers
// become zero.
void ClearRecord(const RecordDeclaration& declaration, std::uint8_t* record);

// The field's value as text (see above). A text field loses its trailing
// blanks; a zero-terminated one ends at its first zero byte.
std::string FieldText(const FieldDeclaration& field, const std::uint8_t* record);

// What to do with a text longer than its field.
enum class TextFit {
  kRefuse,  // leave the field alone and fail
  kCut,     // store what fits, as an assignment of the runtime does
};

// Stores `text` in the field. Numbers must be written as FieldText writes
// them and must fit the field: an integer in its range, a packed decimal in
// its digits and decimals (trailing zeros after them are allowed). Returns
// false, leaving the field unchanged, when the text does not fit; `problem`
// then says why in a few words ("not a number", "out of range", "too long").
bool SetFieldText(const FieldDeclaration& field, std::uint8_t* record, std::string_view text,
                  TextFit fit = TextFit::kRefuse, std::string* problem = nullptr);

// The field's value as a number; texts give 0.
double FieldNumber(const FieldDeclaration& field, const std::uint8_t* record);

// Stores a number in a numeric field: integers and decimals take the value
// rounded to their precision. False when it is out of range or the field is
// a text.
bool SetFieldNumber(const FieldDeclaration& field, std::uint8_t* record, double value);

// Sets the field to the lowest or highest value it can hold in key order,
// for reading a range of a key.
void SetFieldLowest(const FieldDeclaration& field, std::uint8_t* record);
void SetFieldHighest(const FieldDeclaration& field, std::uint8_t* record);

bool IsNumeric(FieldEncoding encoding);
bool IsText(FieldEncoding encoding);

// A packed decimal's value without its decimal point (12.345 with three
// decimals is 12345), and storing one back; false when it does not fit.
std::int64_t DecimalUnscaled(const FieldDeclaration& field, const std::uint8_t* record);
bool SetDecimalUnscaled(const FieldDeclaration& field, std::uint8_t* record, std::int64_t value);

}  // namespace qm::platform
