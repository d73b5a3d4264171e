#include "tools/qmzip/archive_writer.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/record_snapshot.h"
#include "tools/qmzip/archive_path.h"
#include "tools/qmzip/entry_name.h"
#include "tools/qmzip/name_mask.h"
#include "tools/qmzip/parallel_deflater.h"
#include "tools/qmzip/temp_file.h"
#include "tools/qmzip/zip_fields.h"

namespace qm::qmzip {
namespace {

struct PackedFile {
  std::string name;
  std::string source;  // what is read: the file itself, or a snapshot of a record file
  uint64_t size;
  time_t mtime;
  mode_t mode;
};

struct ZipCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipCloser>;

Failure WriteFailure(const std::string& path, const std::string& reason) {
  return Failure{ExitCode::ReadWriteError, "cannot write '" + path + "': " + reason};
}

std::string ZipReason(zip_error_t* error) { return zip_error_strerror(error); }

bool IsOurTempName(const std::string& name) {
  return !name.empty() && name[0] == '.' && name.find(".qmzip-") != std::string::npos;
}

// The matching regular files of the current directory, sorted by name. Links are
// followed: a backup stores the data a link points to.
std::variant<std::vector<PackedFile>, Failure> FindFiles(const std::vector<std::string>& masks,
                                                         const struct stat* archive_info) {
  std::vector<NameMask> compiled;
  for (const std::string& mask : masks) compiled.emplace_back(mask);
  DIR* listing = opendir(".");
  if (listing == nullptr)
    return Failure{ExitCode::ReadWriteError, "cannot list the current directory: " + SystemReason(errno)};
  std::vector<PackedFile> files;
  std::optional<Failure> failure;
  while (dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || IsOurTempName(name)) continue;
    if (std::none_of(compiled.begin(), compiled.end(), [&](const NameMask& m) { return m.Matches(name); })) continue;
    struct stat info;
    if (stat(name.c_str(), &info) != 0) {
      failure = Failure{ExitCode::ReadWriteError, "cannot read '" + name + "': " + SystemReason(errno)};
      break;
    }
    if (!S_ISREG(info.st_mode)) continue;
    if (archive_info != nullptr && info.st_dev == archive_info->st_dev && info.st_ino == archive_info->st_ino) continue;
    if (std::optional<std::string> reason = UnsafeNameReason(name)) {
      failure = Failure{ExitCode::UnsafeEntry, "'" + name + "' cannot be stored: it " + *reason};
      break;
    }
    files.push_back(PackedFile{name, name, static_cast<uint64_t>(info.st_size), info.st_mtime, info.st_mode});
  }
  closedir(listing);
  if (failure) return *failure;
  std::sort(files.begin(), files.end(), [](const PackedFile& a, const PackedFile& b) { return a.name < b.name; });
  return files;
}

// The zip source of one packed file: it hands libzip the deflate stream the workers
// made, and says so in its stat, so libzip stores the bytes without compressing again.
// Size and CRC are reported once the last piece is read; libzip writes them then.
class DeflatedFileSource {
 public:
  DeflatedFileSource(ParallelDeflater& deflater, size_t input, const PackedFile& file, Outcome& failure)
      : deflater_(deflater), input_(input), file_(file), failure_(failure) {
    zip_error_init(&error_);
  }
  ~DeflatedFileSource() { zip_error_fini(&error_); }

  static zip_int64_t Callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    return static_cast<DeflatedFileSource*>(state)->Handle(data, length, command);
  }

 private:
  zip_int64_t Handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
      case ZIP_SOURCE_OPEN:
        if (opened_) {
          zip_error_set(&error_, ZIP_ER_INTERNAL, 0);
          return -1;
        }
        opened_ = true;
        return 0;
      case ZIP_SOURCE_READ:
        return Read(static_cast<uint8_t*>(data), length);
      case ZIP_SOURCE_CLOSE:
        return 0;
      case ZIP_SOURCE_STAT: {
        zip_stat_t* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
        if (stat == nullptr) return -1;
        zip_stat_init(stat);
        stat->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD;
        stat->size = file_.size;
        stat->mtime = file_.mtime;
        stat->comp_method = ZIP_CM_DEFLATE;
        if (finished_) {
          stat->valid |= ZIP_STAT_CRC | ZIP_STAT_COMP_SIZE;
          stat->crc = deflater_.Crc(input_);
          stat->comp_size = compressed_size_;
        }
        return sizeof(*stat);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, length);
      case ZIP_SOURCE_FREE:
        delete this;
        return 0;
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
      default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  zip_int64_t Read(uint8_t* into, zip_uint64_t length) {
    zip_uint64_t copied = 0;
    while (copied < length) {
      if (position_ == piece_.size()) {
        if (finished_) break;
        bool last = false;
        if (Outcome failure = deflater_.Take(input_, piece_, last)) {
          if (!failure_) failure_ = failure;
          zip_error_set(&error_, ZIP_ER_READ, EIO);
          return -1;
        }
        position_ = 0;
        compressed_size_ += piece_.size();
        finished_ = last;
        continue;
      }
      const size_t chunk = static_cast<size_t>(std::min<zip_uint64_t>(length - copied, piece_.size() - position_));
      std::copy_n(piece_.data() + position_, chunk, into + copied);
      position_ += chunk;
      copied += chunk;
    }
    return static_cast<zip_int64_t>(copied);
  }

  ParallelDeflater& deflater_;
  size_t input_;
  PackedFile file_;
  Outcome& failure_;
  zip_error_t error_;
  std::vector<uint8_t> piece_;
  size_t position_ = 0;
  uint64_t compressed_size_ = 0;
  bool opened_ = false;
  bool finished_ = false;
};

Outcome AddEntry(zip_t* archive, zip_source_t* source, const std::string& name, time_t mtime, uint32_t external,
                 const std::string& archive_path) {
  const zip_int64_t index = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_GUESS);
  if (index < 0) {
    zip_source_free(source);
    return WriteFailure(archive_path, "cannot add '" + name + "': " + ZipReason(zip_get_error(archive)));
  }
  const auto entry = static_cast<zip_uint64_t>(index);
  const std::array<uint8_t, kTimestampFieldSize> stamp = TimestampField(mtime);
  if (zip_set_file_compression(archive, entry, ZIP_CM_DEFLATE, 0) != 0 ||
      zip_file_set_mtime(archive, entry, mtime, 0) != 0 ||
      zip_file_set_external_attributes(archive, entry, 0, ZIP_OPSYS_UNIX, external) != 0 ||
      zip_file_extra_field_set(archive, entry, kTimestampFieldId, ZIP_EXTRA_FIELD_NEW, stamp.data(), stamp.size(),
                               ZIP_FL_LOCAL | ZIP_FL_CENTRAL) != 0)
    return WriteFailure(archive_path, "cannot describe '" + name + "': " + ZipReason(zip_get_error(archive)));
  return std::nullopt;
}

// Keeps an entry of the old archive: its compressed bytes are copied as they are, with
// its time, attributes and timestamp field.
Outcome CopyEntry(zip_t* archive, zip_t* old_archive, zip_uint64_t index, const std::string& archive_path) {
  const std::string damaged = "cannot update '" + archive_path + "': ";
  zip_stat_t stat;
  if (zip_stat_index(old_archive, index, 0, &stat) != 0)
    return Failure{ExitCode::ArchiveDamaged, damaged + ZipReason(zip_get_error(old_archive))};
  const char* name = zip_get_name(old_archive, index, ZIP_FL_ENC_RAW);
  zip_source_t* source = zip_source_zip(archive, old_archive, index, 0, 0, -1);
  if (name == nullptr || source == nullptr)
    return Failure{ExitCode::ArchiveDamaged, damaged + ZipReason(zip_get_error(archive))};
  const zip_int64_t added = zip_file_add(archive, name, source, ZIP_FL_ENC_GUESS);
  if (added < 0) {
    zip_source_free(source);
    return WriteFailure(archive_path, "cannot keep '" + std::string(name) + "': " + ZipReason(zip_get_error(archive)));
  }
  const auto entry = static_cast<zip_uint64_t>(added);
  zip_uint8_t opsys = ZIP_OPSYS_DEFAULT;
  zip_uint32_t attributes = 0;
  zip_uint16_t stamp_length = 0;
  const zip_uint8_t* stamp =
      zip_file_extra_field_get_by_id(old_archive, index, kTimestampFieldId, 0, &stamp_length, ZIP_FL_CENTRAL);
  const bool described =
      zip_set_file_compression(archive, entry, static_cast<zip_int32_t>(stat.comp_method), 0) == 0 &&
      zip_file_set_mtime(archive, entry, stat.mtime, 0) == 0 &&
      zip_file_get_external_attributes(old_archive, index, 0, &opsys, &attributes) == 0 &&
      zip_file_set_external_attributes(archive, entry, 0, opsys, attributes) == 0 &&
      (stamp == nullptr || zip_file_extra_field_set(archive, entry, kTimestampFieldId, ZIP_EXTRA_FIELD_NEW, stamp,
                                                     stamp_length, ZIP_FL_LOCAL | ZIP_FL_CENTRAL) == 0);
  if (!described)
    return WriteFailure(archive_path, "cannot keep '" + std::string(name) + "': " + ZipReason(zip_get_error(archive)));
  return std::nullopt;
}

// Replaces each record file among `files` by a snapshot of its committed
// state, so that a program writing it meanwhile cannot tear what is packed and
// a journal beside it is not needed. The snapshots live in `snapshots` and go
// with it. The header of each file is read before any SQLite connection to it
// is opened and never while one is held.
Outcome TakeRecordSnapshots(std::vector<PackedFile>& files, std::vector<TempFile>& snapshots) {
  for (PackedFile& file : files) {
    if (!platform::IsRecordFile(file.name)) continue;
    auto created = TempFile::CreateBeside(file.name);
    if (auto* failure = std::get_if<Failure>(&created)) return *failure;
    snapshots.push_back(std::move(std::get<TempFile>(created)));
    TempFile& snapshot = snapshots.back();
    snapshot.CloseDescriptor();
    const platform::RecordSnapshotResult taken = platform::SnapshotRecordFile(file.name, snapshot.path());
    if (taken.code != 0) return Failure{ExitCode::ReadWriteError, "cannot read '" + file.name + "': " + taken.reason};
    struct stat info;
    if (stat(snapshot.path().c_str(), &info) != 0)
      return Failure{ExitCode::ReadWriteError, "cannot read '" + file.name + "': " + SystemReason(errno)};
    file.source = snapshot.path();
    file.size = static_cast<uint64_t>(info.st_size);
  }
  return std::nullopt;
}

}  // namespace

Outcome ArchiveWriter::Add(const std::string& archive_path, const std::vector<std::string>& masks) {
  struct stat archive_info;
  const bool archive_exists = stat(archive_path.c_str(), &archive_info) == 0;
  if (archive_exists && S_ISDIR(archive_info.st_mode))
    return WriteFailure(archive_path, "it is a directory");
  if (archive_exists && !S_ISREG(archive_info.st_mode))
    return WriteFailure(archive_path, "it is not a regular file");

  auto found = FindFiles(masks, archive_exists ? &archive_info : nullptr);
  if (auto* failure = std::get_if<Failure>(&found)) return *failure;
  std::vector<PackedFile> files = std::move(std::get<std::vector<PackedFile>>(found));
  if (files.empty()) return Failure{ExitCode::NothingMatched, "no file matches the masks for '" + archive_path + "'"};
  std::vector<TempFile> snapshots;
  if (Outcome failure = TakeRecordSnapshots(files, snapshots)) return failure;

  ZipHandle old_archive;
  if (archive_exists) {
    int error_code = 0;
    old_archive.reset(zip_open(archive_path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error_code));
    if (!old_archive) {
      zip_error_t error;
      zip_error_init_with_code(&error, error_code);
      const std::string reason = ZipReason(&error);
      zip_error_fini(&error);
      const bool unreadable = error_code == ZIP_ER_OPEN || error_code == ZIP_ER_READ;
      return Failure{unreadable ? ExitCode::ReadWriteError : ExitCode::ArchiveDamaged,
                     "cannot update '" + archive_path + "': " + reason};
    }
  }

  auto created = TempFile::CreateBeside(archive_path);
  if (auto* failure = std::get_if<Failure>(&created)) return *failure;
  TempFile temp = std::move(std::get<TempFile>(created));
  temp.CloseDescriptor();

  int error_code = 0;
  ZipHandle archive(zip_open(temp.path().c_str(), ZIP_TRUNCATE, &error_code));
  if (!archive) {
    zip_error_t error;
    zip_error_init_with_code(&error, error_code);
    const std::string reason = ZipReason(&error);
    zip_error_fini(&error);
    return WriteFailure(archive_path, reason);
  }

  uint64_t total = 0;
  for (const PackedFile& file : files) total += file.size;
  progress_.SetTotal(total);

  if (old_archive) {
    const zip_int64_t count = zip_get_num_entries(old_archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
      const auto index = static_cast<zip_uint64_t>(i);
      const char* name = zip_get_name(old_archive.get(), index, ZIP_FL_ENC_RAW);
      if (name == nullptr) return Failure{ExitCode::ArchiveDamaged, "cannot update '" + archive_path + "': unreadable entry name"};
      const bool replaced = std::any_of(files.begin(), files.end(),
                                        [&](const PackedFile& f) { return SameNameIgnoringCase(f.name, name); });
      if (replaced) continue;
      if (Outcome failure = CopyEntry(archive.get(), old_archive.get(), index, archive_path)) return failure;
    }
  }

  Outcome read_failure;
  ParallelDeflater deflater(
      [&files] {
        std::vector<DeflateInput> inputs;
        for (const PackedFile& file : files) inputs.push_back(DeflateInput{file.source, file.size});
        return inputs;
      }(),
      threads_, progress_);
  for (size_t i = 0; i < files.size(); ++i) {
    auto* state = new DeflatedFileSource(deflater, i, files[i], read_failure);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_function_create(&DeflatedFileSource::Callback, state, &error);
    zip_error_fini(&error);
    if (source == nullptr) {
      delete state;
      return WriteFailure(archive_path, "out of memory");
    }
    const uint32_t external = static_cast<uint32_t>(files[i].mode & 0xFFFF) << 16;
    if (Outcome failure = AddEntry(archive.get(), source, files[i].name, files[i].mtime, external, archive_path))
      return failure;
  }

  if (zip_close(archive.get()) != 0) {
    if (read_failure) return read_failure;
    return WriteFailure(archive_path, ZipReason(zip_get_error(archive.get())));
  }
  archive.release();

  const mode_t mode = archive_exists ? (archive_info.st_mode & 07777) : [] {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  // Best effort: a target on a FAT stick has no permissions to set.
  chmod(temp.path().c_str(), mode);
  if (Outcome failure = temp.CommitAs(archive_path)) return failure;
  progress_.Finish();
  return std::nullopt;
}

}  // namespace qm::qmzip
