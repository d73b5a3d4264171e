// Plain text files written a line at a time (the error log): the runtime's
// ASCII file driver. Every operation returns a runtime error code and sets
// the calling thread's runtime error state.
#pragma once

#include <string>

namespace qm::platform {

class TextFile {
 public:
  explicit TextFile(std::string path) : path_(std::move(path)) {}
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  const std::string& Path() const { return path_; }
  int Create();                       // an empty file; an existing one is kept
  int Open();                         // for appending; 2 when missing
  int AppendLine(const std::string& line);  // one line, "\n" added
  int Close();
  bool IsOpen() const { return descriptor_ >= 0; }

 private:
  std::string path_;
  int descriptor_ = -1;
};

}  // namespace qm::platform
