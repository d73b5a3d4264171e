// What the checker does before its window: the shared settings it reads,
// the registration of every data file with the upgrade library, the
// comparison of the recorded data version with the one this checker is
// built for, and the one-time sign conversion of job costs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/upgrade_library.h"

namespace qm::checker {

class CheckerFiles;

// The data version this checker is built for.
inline constexpr std::string_view ProductVersion = "2.1e";
inline constexpr std::size_t kDataVersionLength = 5;
inline constexpr std::size_t kGlobalTextLength = 128;

// GLO:SPECSPATH and GLO:DATADIR, and the data version of the data
// directory's Qmoor.Ini.
struct CheckerSettings {
  std::string specs_path;
  std::string data_dir;
  std::string data_version;
};

// The reads of Main, from `current` (the process's current directory):
// "Specs"/"Path" of its Qmoor.Ini, then "USER"/"Datadrive" of the one there,
// both defaulting to `current`, then "SPECS"/"Version" of the data
// directory's, defaulting to "1" and cut to five characters.
CheckerSettings ReadCheckerSettings(const std::string& current);

// True when `data_version` is older than ProductVersion: compared as texts,
// character by character, the shorter padded with blanks.
bool VersionIsOlder(std::string_view data_version);

// The registration with the upgrade library, once per process: the work
// directory (the data directory found from `current`'s Qmoor.Ini), the
// options, the record driver and the seventeen files with their structure
// versions. Answers the data directory it gave the library.
std::string RegisterFiles(platform::UpgradeLibrary& library, const std::string& current);

// Values the sign conversion changed and wrote back.
struct SignConversionResult {
  std::int64_t job_costs = 0;         // TdV30 costs turned negative
  std::int64_t detail_costs = 0;      // TdV301 costs turned negative
  std::int64_t detail_quantities = 0; // TdV301 quantities turned negative
  std::int64_t not_written = 0;       // values that needed turning but could not be written
  std::int64_t Changed() const { return job_costs + detail_costs + detail_quantities; }
};

// Turns positive job costs of jobs with negative units, and positive costs
// and quantities of job details, negative, in one transaction over TdV30
// and TdV301. Both files must be open through `files`. A read error is
// reported and ends the conversion with what was written before it kept.
SignConversionResult SignConversion(CheckerFiles& files);

}  // namespace qm::checker
