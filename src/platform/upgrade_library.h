// The file-structure upgrade library: brings a registered record file to
// the structure its program declares before the file is opened, and checks
// it on every open.
//
// A program registers its files once (UsingFileEx, with a structure
// version) and then opens every file through FileOpen instead of the
// driver's own open. FileOpen answers as RecordFile::Open would (0, 2 for a
// missing file, 52 when already open, ...), with the runtime error state set
// the same way, and afterwards an open file matches its declaration:
//
// - A stored structure older than, or other than, the registered one is
//   converted: fields matched by name, values converted between encodings
//   (numbers by value, refused when they do not fit; texts padded or cut),
//   new fields cleared, keys rebuilt. The conversion is built in a work
//   directory and checked whole (that check stands for the open's check);
//   the original is untouched until then. Then the
//   original is kept under "<disk name>.dat.v<old version>" (a name the
//   "*.dat" masks of a backup do not match) and the converted file takes
//   the original's name in one rename. A refused value or a duplicate of a
//   new unique key answers 47 with the record and field named in the driver
//   message; the original stays as it was.
// - A stored structure newer than the registered one is refused with 47,
//   never downgraded.
// - A file whose structure matches is checked after it is opened: the
//   store's integrity and every stored key value against its record. Keys
//   that do not match answer 46 (the file is left closed) so that the file
//   manager rebuilds them; any other damage answers 90.
// - A conversion killed part way leaves the original as it was and a work
//   file that the next FileOpen throws away before converting again.
//
// Files that are not registered, and files of drivers that were not added,
// are opened by the driver alone. docs/tdxconv.md says what the options do.
//
// Thread-safe: registration and options are guarded by one lock; opens run
// on the calling thread. Two conversions of one file exclude each other
// through the file's share lock (the second answers 5).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/record_file.h"
#include "platform/text_file.h"

namespace qm::platform {

// What the library is doing to a file, for a progress display.
struct UpgradeProgress {
  enum class Step {
    kChecking,    // checking an open file
    kConverting,  // copying records into the converted file; done of total
    kVerifying,   // checking the complete converted file
    kReplacing,   // the original is kept under its new name; the converted
                  // file is about to take the original's name
    kUpgraded,    // done: the file has the registered structure
  };
  Step step = Step::kChecking;
  std::string label;
  std::string path;
  int from_version = 0;
  int to_version = 0;
  std::int64_t done = 0;
  std::int64_t total = 0;
};
using UpgradeProgressFunction = std::function<void(const UpgradeProgress&)>;

// Faults of the upgrade library made on purpose, for tests, process-wide.
// Tests run as root, where file permissions refuse nothing.
class UpgradeFaults {
 public:
  // Opens for writing of files in `directory` answer 5, and conversions of
  // files there cannot make their work directory, as when the directory is
  // read-only. Paths compare after being made absolute.
  static void RefuseWrites(const std::string& directory);
  // Keeping the original as a second link fails as on a file system
  // without links, so that it is kept as a copy.
  static void FailLinks(bool fail);
  // Hears every step of every conversion before the progress function
  // does: a test stops the process there.
  static void SetStepHook(UpgradeProgressFunction hook);
  static void Clear();

  static bool WritesRefused(const std::string& path);
  static bool LinksFail();
  static void Step(const UpgradeProgress& progress);
};

class UpgradeLibrary {
 public:
  UpgradeLibrary() = default;
  virtual ~UpgradeLibrary() = default;
  UpgradeLibrary(const UpgradeLibrary&) = delete;
  UpgradeLibrary& operator=(const UpgradeLibrary&) = delete;

  // The one library of the process, used by the programs.
  static UpgradeLibrary& Process();

  // upg_PassHandleForUpgrading: the program hands itself to the library,
  // before any other entry. Answers 1, the library's interface version.
  virtual std::int32_t PassHandleForUpgrading();

  // upg_SetUPGPath: the directory where conversions work when "SPCreate" is
  // 0. `flags` is 0; no other value changes anything.
  virtual void SetUpgradePath(std::string_view directory, int flags);

  // upg_SetOption: "BadFile" and "SPCreate" (docs/tdxconv.md); other names
  // change nothing.
  virtual void SetOption(std::string_view name, int value);

  // upg_AddDriver: files of the placeholder's driver may be converted
  // (`value` non-zero) or no longer (0). `name` is the library's name for
  // the driver ("Krec"). The placeholder carries its record with it.
  virtual void AddDriver(std::string_view name, const RecordFile& placeholder, int value);

  // upg_IgnoreDriver: "AllFiles" 1 opens files that are not registered by
  // the driver alone; 0 checks them too (never converts them). A driver's
  // name with 1 leaves that driver's files to the driver, registered or not.
  virtual void IgnoreDriver(std::string_view name, int value);

  // upg_UsingFileEx: registers a file by its label with the structure
  // version it must have. `flags` is 0; no other value changes anything.
  // Registering a label again replaces its registration.
  virtual void UsingFileEx(const RecordFile& file, int version, int flags, std::string_view label,
                           std::string_view prefix);

  // upg_FileOpen for a record file (see above).
  virtual int FileOpen(RecordFile& file, int mode);
  // upg_FileOpen for a text file such as the error log: never registered,
  // opened as its driver opens it. `mode` is the runtime's and is not
  // needed by the text driver.
  virtual int FileOpen(TextFile& file, int mode);

  // Receives progress while files are checked and converted, on the thread
  // that opens them. Set it before opening files.
  void SetProgress(UpgradeProgressFunction progress);

  struct Registration {
    std::string label;
    std::string prefix;
    std::string driver;
    int version = 0;
  };
  // The registration of a label (letter case ignored); one with an empty
  // label when there is none.
  Registration Registered(std::string_view label) const;

 private:
  struct Settings {
    std::string upgrade_path;
    bool move_bad_files = false;  // "BadFile" 1
    bool work_beside_file = false;  // "SPCreate" 1
    bool ignore_unregistered = false;  // "AllFiles" 1
    std::map<std::string, bool> drivers;  // upper-case driver name -> may convert
    std::map<std::string, bool> ignored_drivers;
    std::map<std::string, Registration> files;  // by upper-case label
    UpgradeProgressFunction progress;
  };
  Settings Snapshot() const;

  mutable std::mutex mutex_;
  Settings settings_;  // Protected by mutex_
};

}  // namespace qm::platform
