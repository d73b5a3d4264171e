// Plain text files written a line at a time (the error log): the runtime's
// ASCII file driver. Every operation returns a runtime error code and sets
// the calling thread's runtime error state (cleared on success).
//
// Lines are appended with one write each to a file opened for appending, so
// that lines from several writers, threads or processes, never interleave.
#pragma once

#include <string>
#include <utility>

namespace qm::platform {

class TextFile {
 public:
  explicit TextFile(std::string path) : path_(std::move(path)) {}
  ~TextFile();  // closes the file; the error state is left alone
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  const std::string& Path() const { return path_; }

  // Makes an empty file when there is none; an existing one is kept as it
  // is. Does not open it. 3 when the directory is missing, 5 when refused.
  int Create();

  // Opens the file for appending: 2 when it is missing, 3 when its directory
  // is, 5 when refused, 52 when this object already has it open.
  int Open();

  // Appends `line` and "\n". 90 when the file is not open or the write fails
  // (a full disk, for instance).
  int AppendLine(const std::string& line);

  // Closes the file; closing a file that is not open does nothing.
  int Close();

  bool IsOpen() const { return descriptor_ >= 0; }

 private:
  std::string path_;
  int descriptor_ = -1;
};

}  // namespace qm::platform
