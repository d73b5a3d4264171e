// The command syntax the backup utility runs:
//   QmZip -add NAME MASK...
//   QmZip -test NAME
//   QmZip -ext -over=all NAME
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "tools/qmzip/failure.h"

namespace qm::qmzip {

enum class Command { Add, Test, Extract };

struct CommandLine {
  Command command = Command::Test;
  std::string archive_name;        // as given; ArchivePath turns it into a file name
  std::vector<std::string> masks;  // -add only, at least one
};

// Parses the arguments after the program name. Options are matched without regard to
// letter case. Anything else than the three forms above is a BadCommandLine failure
// whose message says what is wrong.
std::variant<CommandLine, Failure> ParseCommandLine(const std::vector<std::string>& args);

// The usage text printed with a BadCommandLine failure.
const char* UsageText();

}  // namespace qm::qmzip
