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
};

}  // namespace qm::platform
