// Where the error manager writes its log lines. The manager opens the log,
// writes one line and closes it again for every message it logs; each
// operation answers LevelNone or, on failure, LevelNotify.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/errors/error_level.h"
#include "platform/text_file.h"
#include "platform/threads.h"

namespace qm {

class ErrorLog {
 public:
  virtual ~ErrorLog() = default;
  virtual ErrorLevel Close(bool force) = 0;
  virtual ErrorLevel Open(bool force) = 0;
  virtual ErrorLevel Write(const std::string& line) = 0;
};

// The built-in log: the text file "VLXError.Log" in the current directory,
// one line per message. Opens nest: only the first Open opens the file and
// only the matching last Close closes it; `force` opens or closes it
// whatever the count. The file is created when missing.
class StdErrorLog : public ErrorLog {
 public:
  static constexpr std::size_t kLineLength = 1024;

  explicit StdErrorLog(std::string path = "VLXError.Log");
  ~StdErrorLog() override;  // closes the file whatever the count
  StdErrorLog(const StdErrorLog&) = delete;
  StdErrorLog& operator=(const StdErrorLog&) = delete;

  // LevelNotify when the file can neither be created nor opened; the count
  // then stays as it was.
  ErrorLevel Open(bool force) override;
  // Appends the line, cut to kLineLength characters. LevelNotify when the
  // log is not open or the line cannot be written.
  ErrorLevel Write(const std::string& line) override;
  // LevelNotify when the file cannot be closed; the count then stays as it
  // was. Closing a log that is not open does nothing.
  ErrorLevel Close(bool force) override;

  std::int32_t Usage() const;

  // How every StdErrorLog of the process opens its file once it exists,
  // for a program that opens every file through a library of its own
  // (TdxConv: the upgrade library). It is given the file and the mode 66
  // (read/write, deny none); an answer other than 0 makes Open fail with
  // LevelNotify. Empty: the text driver's own open.
  using FileOpen = std::function<int(platform::TextFile& file, int mode)>;
  static void SetFileOpen(FileOpen open);

 private:
  int OpenFile();

  mutable platform::CriticalSection CRITSECT;
  platform::TextFile file_;  // Protected by CRITSECT
  std::int32_t USAGE = 0;    // Protected by CRITSECT; open requests not yet closed
};

}  // namespace qm
