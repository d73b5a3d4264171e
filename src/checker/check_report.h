// The report of a check: one row per file opened, telling what was found and
// done, and its record count.
//
// It stands between the file managers and the upgrade library: every
// physical open passes through Open, which hands it to the library and
// notes the outcome. A row is written to the report file as soon as its
// file is done, and a line before each file is begun, so that when a fatal
// message ends the program the file still tells what was checked and which
// file stopped it.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/record_file.h"
#include "platform/upgrade_library.h"

namespace qm::checker {

// The report file's name in the data directory.
inline constexpr const char* kReportFileName = "TdxConv.txt";

struct CheckRow {
  std::string label;
  std::string disk_name;  // the path the file was opened under
  std::string outcome;    // "sound", "created", "keys rebuilt", ...
  std::int64_t records = -1;  // -1: unusable
};

class CheckReport {
 public:
  explicit CheckReport(platform::UpgradeLibrary& library);

  // Starts the report file `path`, replacing an older one; a file that
  // cannot be written leaves the report on the screen only.
  void Begin(const std::string& path, const std::string& data_version);

  // The physical open of `file` through the upgrade library.
  int Open(platform::RecordFile& file, int mode);
  // The library's progress while it checks and converts.
  void Progress(const platform::UpgradeProgress& progress);

  // Rows of files that never opened are marked unusable; `summary` is added
  // below the rows.
  void Finish(const std::string& summary);

  const std::vector<CheckRow>& Rows() const { return rows_; }
  const std::string& Summary() const { return summary_; }
  bool Written() const { return written_; }
  const std::string& Path() const { return path_; }

  // What is being done now, for a progress window: the file's label and a
  // line on the step, and how many files are done.
  std::function<void(const std::string& label, const std::string& step, int done)> status;

 private:
  struct Pending {
    bool missing = false;
    bool rebuilt = false;
    bool read_only = false;
    std::optional<int> upgraded_from;  // a file can be upgraded from version 0
    std::string problem;
    std::size_t row = 0;  // index + 1 into rows_ once done
  };
  void Write(const std::string& line);
  void Show(const std::string& label, const std::string& step);
  static std::string FullPath(const std::string& path);
  static std::string Outcome(const Pending& pending);
  static std::string RowText(const CheckRow& row);

  platform::UpgradeLibrary& library_;
  std::map<std::string, Pending> pending_;  // by label
  std::vector<std::string> begun_;          // labels in the order first opened
  std::vector<CheckRow> rows_;
  std::string summary_;
  std::string path_;
  std::ofstream out_;
  bool written_ = false;  // every line so far reached the report file
};

}  // namespace qm::checker
