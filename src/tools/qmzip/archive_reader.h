// Reads an archive: its catalogue and, entry by entry, the data with every check a
// reader can make (compressed length, deflate stream end, size, CRC-32). One reader
// serves one thread; open one per thread to read entries in parallel.
#pragma once

#include <sys/types.h>
#include <zip.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "tools/qmzip/failure.h"

namespace qm::qmzip {

struct EntryInfo {
  std::string name;
  uint64_t size = 0;
  uint64_t compressed_size = 0;
  uint32_t crc = 0;
  uint16_t method = 0;
  bool encrypted = false;
  time_t mtime = 0;
  bool is_link = false;          // a symbolic link stored by a Unix writer
  bool is_special = false;       // any other non-regular file type
  mode_t permissions = 0;        // 0 when the writer stored none
};

class ArchiveReader {
 public:
  // Opens `path`. With `check_consistency` every local header is compared with the
  // central directory. ArchiveMissing when there is no such file (or it is a
  // directory), ArchiveDamaged when it is no sound zip archive, ReadWriteError when it
  // cannot be read.
  static std::variant<std::unique_ptr<ArchiveReader>, Failure> Open(const std::string& path, bool check_consistency);
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  const std::vector<EntryInfo>& entries() const { return entries_; }

  // ArchiveDamaged when entry `index` uses a method other than store or deflate or is
  // encrypted: such an entry can be neither tested nor extracted.
  Outcome CheckReadable(size_t index) const;

  // Decompresses entry `index` to its end, handing the data to `sink` in order; a sink
  // returning a failure stops the read with it. ArchiveDamaged when the data is
  // truncated, the stream is corrupt or ends early or late, or size or CRC differ.
  using Sink = std::function<Outcome(const uint8_t* data, size_t length)>;
  Outcome ReadEntry(size_t index, const Sink& sink);

 private:
  ArchiveReader(std::string path, zip_t* archive) : path_(std::move(path)), archive_(archive) {}
  Failure Damaged(size_t index, const std::string& reason) const;

  std::string path_;
  zip_t* archive_;
  std::vector<EntryInfo> entries_;
};

}  // namespace qm::qmzip
