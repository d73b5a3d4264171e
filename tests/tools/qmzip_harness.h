// A scratch directory and a way to run QmZip (or zip/unzip) in it as a child process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace qm::qmzip::testing {

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

struct RunOptions {
  std::vector<std::string> environment;  // "NAME=VALUE" added to the child's
  uint64_t file_size_limit = 0;          // RLIMIT_FSIZE in bytes; 0 leaves it alone
};

// Runs `program` (searched in PATH when it has no '/') with `args` in `directory`.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& directory,
              const RunOptions& options = {});

// Runs the QmZip under test.
RunResult RunQmZip(const std::vector<std::string>& args, const std::string& directory,
                   const RunOptions& options = {});

bool ProgramAvailable(const std::string& program);

// Every entry of a directory tree: relative path -> "file:<bytes>", "dir" or
// "link:<target>"; used to prove that a failed command changed nothing.
using Snapshot = std::map<std::string, std::string>;
Snapshot TakeSnapshot(const std::string& directory);

// Names and sizes only, for failure messages that stay readable.
std::string Summary(const Snapshot& snapshot);

// Record-like bytes (fixed-size records of numbers and padded words), deterministic.
std::string RecordData(size_t bytes, uint32_t seed);

class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  void Write(const std::string& name, const std::string& content, time_t mtime = 0) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  time_t ModificationTime(const std::string& name) const;
  std::string MakeSubdirectory(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace qm::qmzip::testing
