// fcBackupRestore: runs one archiver command line behind a busy window on
// the caller's thread and returns its exit code; 0 is success.
#pragma once

#include <cstdint>
#include <string>

namespace qm::backup {

// A command that cannot be started yields a non-zero code (-1).
std::int16_t fcBackupRestore(const std::string& command_line);

// Puts a word that holds a blank in double quotes, so that it reaches the
// program as one word; other words are returned as they are.
std::string QuoteIfBlank(const std::string& word);

}  // namespace qm::backup
