// The error context of one thread: the names and text a caller supplies for
// the next message, the runtime's error state captured when an error was
// raised, and the entry selected last. Each thread has its own instance.
#pragma once

#include <cstdint>
#include <string>

#include "framework/errors/error_entry.h"

namespace qm {

// Longest text a 1024-byte zero-terminated status field holds.
inline constexpr std::size_t kStatusTextLength = 1023;
// Longest text a 255-byte field of the captured runtime state holds.
inline constexpr std::size_t kSavedTextLength = 254;

struct ErrorStatus {
  std::string FIELDNAME;
  std::string FILENAME;
  std::string KEYNAME;
  std::string MESSAGETEXT;
  std::string SAVEERRORFILE;             // the file the runtime's error concerns
  std::string SAVEERROR;                 // the runtime's error text
  std::int32_t SAVEERRORCODE = 0;        // the runtime's error code
  std::string SAVEFILEERROR;             // the file driver's own message
  std::string SAVEFILEERRORCODE = "0";   // the file driver's own code
  ErrorEntry ERRORBUFFER;                // the entry selected last
  std::int32_t PREVERRORID = 0;          // the id selected before it
};

}  // namespace qm
