#include "backup/settings.h"

#include "platform/file_system.h"
#include "platform/ini_file.h"

namespace qm::backup {
namespace {

std::string Cut(std::string value, std::size_t length) {
  if (value.size() > length) value.resize(length);
  return value;
}

std::string ClipTrailingBlanks(std::string value) {
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value;
}

}  // namespace

BackupSettings& Settings() {
  static BackupSettings settings;
  return settings;
}

void ReadSharedSettings() {
  const std::string current = ClipTrailingBlanks(platform::CurrentDirectory().value_or("."));
  BackupSettings& settings = Settings();
  // Paths are kept whole: a long data directory must work.
  settings.SPECSPATH = platform::IniFile(platform::JoinPath(current, "Qmoor.Ini")).Get("Specs", "Path", "1");
  const platform::IniFile shared(platform::JoinPath(ClipTrailingBlanks(settings.SPECSPATH), "Qmoor.Ini"));
  settings.PROG = Cut(shared.Get("USER", "Prog", "Tdx"), kPrefixLength);
  settings.DATADIR = shared.Get("USER", "Datadrive", current);
}

}  // namespace qm::backup
