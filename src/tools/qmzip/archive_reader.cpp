#include "tools/qmzip/archive_reader.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>

#include "tools/qmzip/temp_file.h"
#include "tools/qmzip/zip_fields.h"

namespace qm::qmzip {
namespace {

constexpr size_t kChunkBytes = size_t{256} << 10;

std::string ZipReason(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string reason = zip_error_strerror(&error);
  zip_error_fini(&error);
  return reason;
}

}  // namespace

std::variant<std::unique_ptr<ArchiveReader>, Failure> ArchiveReader::Open(const std::string& path,
                                                                            bool check_consistency) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Failure{ExitCode::ArchiveMissing, "'" + path + "' does not exist"};
    return Failure{ExitCode::ReadWriteError, "cannot read '" + path + "': " + SystemReason(errno)};
  }
  if (S_ISDIR(info.st_mode)) return Failure{ExitCode::ArchiveMissing, "'" + path + "' is a directory, not an archive"};
  if (!S_ISREG(info.st_mode)) return Failure{ExitCode::ArchiveMissing, "'" + path + "' is not a regular file"};

  int error_code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | (check_consistency ? ZIP_CHECKCONS : 0), &error_code);
  if (archive == nullptr) {
    if (error_code == ZIP_ER_OPEN || error_code == ZIP_ER_READ || error_code == ZIP_ER_MEMORY)
      return Failure{ExitCode::ReadWriteError, "cannot read '" + path + "': " + ZipReason(error_code)};
    return Failure{ExitCode::ArchiveDamaged, "'" + path + "' is damaged: " + ZipReason(error_code)};
  }
  std::unique_ptr<ArchiveReader> reader(new ArchiveReader(path, archive));

  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t stat;
    if (zip_stat_index(archive, index, ZIP_FL_ENC_RAW, &stat) != 0 || (stat.valid & ZIP_STAT_NAME) == 0)
      return Failure{ExitCode::ArchiveDamaged, "'" + path + "' is damaged: an entry cannot be read"};
    EntryInfo entry;
    entry.name = stat.name;
    entry.size = stat.size;
    entry.compressed_size = stat.comp_size;
    entry.crc = stat.crc;
    entry.method = stat.comp_method;
    entry.encrypted = stat.encryption_method != ZIP_EM_NONE;
    entry.mtime = stat.mtime;
    zip_uint16_t stamp_length = 0;
    const zip_uint8_t* stamp =
        zip_file_extra_field_get_by_id(archive, index, kTimestampFieldId, 0, &stamp_length, ZIP_FL_CENTRAL);
    if (std::optional<time_t> exact = ParseTimestampField(stamp, stamp_length)) entry.mtime = *exact;
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &opsys, &attributes) == 0 && opsys == ZIP_OPSYS_UNIX) {
      const auto mode = static_cast<mode_t>(attributes >> 16);
      const mode_t type = mode & S_IFMT;
      entry.is_link = type == S_IFLNK;
      entry.is_special = type != 0 && type != S_IFREG && type != S_IFLNK;
      entry.permissions = mode & 0777;
    }
    reader->entries_.push_back(std::move(entry));
  }
  return reader;
}

ArchiveReader::~ArchiveReader() { zip_discard(archive_); }

Failure ArchiveReader::Damaged(size_t index, const std::string& reason) const {
  return Failure{ExitCode::ArchiveDamaged, "'" + path_ + "' is damaged: entry '" + entries_[index].name + "' " + reason};
}

Outcome ArchiveReader::CheckReadable(size_t index) const {
  const EntryInfo& entry = entries_[index];
  if (entry.encrypted) return Damaged(index, "is encrypted");
  if (entry.method != ZIP_CM_STORE && entry.method != ZIP_CM_DEFLATE)
    return Damaged(index, "uses compression method " + std::to_string(entry.method) + ", which QmZip cannot read");
  return std::nullopt;
}

Outcome ArchiveReader::ReadEntry(size_t index, const Sink& sink) {
  if (Outcome unreadable = CheckReadable(index)) return unreadable;
  const EntryInfo& entry = entries_[index];
  zip_file_t* file = zip_fopen_index(archive_, index, ZIP_FL_COMPRESSED);
  if (file == nullptr) return Damaged(index, std::string("cannot be opened: ") + zip_strerror(archive_));
  struct FileCloser {
    zip_file_t* file;
    ~FileCloser() { zip_fclose(file); }
  } closer{file};

  const bool deflated = entry.method == ZIP_CM_DEFLATE;
  z_stream stream{};
  if (deflated && inflateInit2(&stream, -15) != Z_OK)
    return Failure{ExitCode::ReadWriteError, "cannot read '" + path_ + "': out of memory"};
  struct StreamEnder {
    z_stream* stream;
    ~StreamEnder() {
      if (stream != nullptr) inflateEnd(stream);
    }
  } ender{deflated ? &stream : nullptr};

  std::vector<uint8_t> input(kChunkBytes);
  std::vector<uint8_t> output(deflated ? kChunkBytes * 4 : 0);
  uint64_t compressed_left = entry.compressed_size;
  uint64_t produced = 0;
  uLong crc = crc32(0, nullptr, 0);
  bool stream_ended = !deflated;

  auto deliver = [&](const uint8_t* data, size_t length) -> Outcome {
    produced += length;
    if (produced > entry.size) return Damaged(index, "holds more data than its recorded size");
    crc = crc32(crc, data, static_cast<uInt>(length));
    return sink(data, length);
  };

  while (compressed_left > 0) {
    const auto want = static_cast<zip_uint64_t>(std::min<uint64_t>(compressed_left, input.size()));
    const zip_int64_t got = zip_fread(file, input.data(), want);
    if (got < 0) return Damaged(index, std::string("cannot be read: ") + zip_file_strerror(file));
    if (got == 0) return Damaged(index, "is truncated");
    compressed_left -= static_cast<uint64_t>(got);
    if (!deflated) {
      if (Outcome failure = deliver(input.data(), static_cast<size_t>(got))) return failure;
      continue;
    }
    if (stream_ended) return Damaged(index, "has data after the end of its compressed stream");
    stream.next_in = input.data();
    stream.avail_in = static_cast<uInt>(got);
    while (stream.avail_in > 0 && !stream_ended) {
      stream.next_out = output.data();
      stream.avail_out = static_cast<uInt>(output.size());
      const int result = inflate(&stream, Z_NO_FLUSH);
      if (result == Z_STREAM_END) {
        stream_ended = true;
      } else if (result != Z_OK && result != Z_BUF_ERROR) {
        return Damaged(index, "has corrupt compressed data");
      }
      const size_t length = output.size() - stream.avail_out;
      if (length > 0) {
        if (Outcome failure = deliver(output.data(), length)) return failure;
      } else if (result == Z_BUF_ERROR) {
        return Damaged(index, "has corrupt compressed data");
      }
    }
    if (stream_ended && (stream.avail_in > 0 || compressed_left > 0))
      return Damaged(index, "has data after the end of its compressed stream");
  }
  if (deflated) {
    // The stream may still hold output once all input is in.
    while (!stream_ended) {
      stream.next_in = nullptr;
      stream.avail_in = 0;
      stream.next_out = output.data();
      stream.avail_out = static_cast<uInt>(output.size());
      const int result = inflate(&stream, Z_NO_FLUSH);
      const size_t length = output.size() - stream.avail_out;
      if (length > 0)
        if (Outcome failure = deliver(output.data(), length)) return failure;
      if (result == Z_STREAM_END) stream_ended = true;
      else if (length == 0) return Damaged(index, "is truncated");
    }
  }
  if (produced != entry.size) return Damaged(index, "is shorter than its recorded size");
  if (static_cast<uint32_t>(crc) != entry.crc) return Damaged(index, "fails its CRC check");
  return std::nullopt;
}

}  // namespace qm::qmzip
