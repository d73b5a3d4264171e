// The order-preserving key values of the record file driver.
//
// A key value is a byte string such that comparing two values byte by byte
// (as SQLite compares BLOBs) gives the key's order: components in key
// order; texts as if padded with blanks without end, so trailing blanks do
// not count, and in upper case for a case-insensitive key; numbers by value
// (signed, unsigned, floating point, packed decimal). Records with equal key
// values are kept in record order by the file, not by the value.
#pragma once

#include <cstdint>
#include <string>

#include "platform/record_declaration.h"

namespace qm::platform {

class RecordKeyCodec {
 public:
  // The value of `key` for the record in `record` (record_size bytes).
  static std::string Encode(const RecordDeclaration& declaration, const KeyDeclaration& key,
                            const std::uint8_t* record);

  // The values [*low, *high) of `key` whose components before the last
  // equal those of `record` and whose last component, a text, starts with
  // a digit.
  static void DigitLedRange(const RecordDeclaration& declaration, const KeyDeclaration& key,
                            const std::uint8_t* record, std::string* low, std::string* high);
};

}  // namespace qm::platform
