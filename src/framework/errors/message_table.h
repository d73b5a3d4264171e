// Message tables in their packed form: a 16-bit little-endian count, then
// per entry a 16-bit little-endian id, one level byte, the title as a length
// byte and that many characters, and the message likewise. Titles and
// messages are therefore at most 255 characters.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "framework/errors/error_entry.h"

namespace qm {

// The program's built-in messages, packed, in their stored order.
std::span<const std::uint8_t> BuiltInMessageTable();

// Unpacks a table in stored order; every entry has an empty category.
// Returns nullopt when the block ends before its last entry does, so a
// damaged table is never half read. Bytes after the last entry are ignored.
std::optional<std::vector<ErrorEntry>> ReadMessageTable(std::span<const std::uint8_t> table);

}  // namespace qm
