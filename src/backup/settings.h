// TdxBack's process-wide settings: where the product's shared settings
// file is, the archive-name prefix and the data directory. Read by the main
// frame on the main thread before any other thread starts; read-only after.
#pragma once

#include <string>

namespace qm::backup {

struct BackupSettings {
  std::string SPECSPATH;  // GLO:SPECSPATH
  std::string PROG;       // GLO:PROG, at most 7 characters
  std::string DATADIR;    // GLO:DATADIR
};

inline constexpr std::size_t kPrefixLength = 7;

BackupSettings& Settings();

// Reads the two levels of Qmoor.Ini starting from the current directory:
// "Specs"/"Path" there, then "USER"/"Prog" and "USER"/"Datadrive" from the
// Qmoor.Ini of that directory. Missing files or keys give the defaults.
void ReadSharedSettings();

}  // namespace qm::backup
