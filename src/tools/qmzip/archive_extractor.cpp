#include "tools/qmzip/archive_extractor.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <map>
#include <vector>

#include "platform/record_share_lock.h"
#include "platform/record_snapshot.h"

#include "tools/qmzip/archive_reader.h"
#include "tools/qmzip/entry_name.h"
#include "tools/qmzip/entry_workers.h"
#include "tools/qmzip/name_mask.h"
#include "tools/qmzip/temp_file.h"

namespace qm::qmzip {
namespace {

std::string Lowered(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

Failure Refused(const std::string& archive_path, const std::string& name, const std::string& reason) {
  return Failure{ExitCode::UnsafeEntry, "'" + archive_path + "': entry '" + name + "' is refused: it " + reason};
}

// Entry names checked before anything is written.
Outcome CheckEntries(const std::string& archive_path, const ArchiveReader& catalogue) {
  std::map<std::string, std::string> seen;
  for (size_t i = 0; i < catalogue.entries().size(); ++i) {
    const EntryInfo& entry = catalogue.entries()[i];
    if (std::optional<std::string> reason = UnsafeNameReason(entry.name))
      return Refused(archive_path, entry.name, *reason);
    if (entry.is_link) return Refused(archive_path, entry.name, "is a link");
    if (entry.is_special) return Refused(archive_path, entry.name, "is not a plain file");
    if (!seen.emplace(Lowered(entry.name), entry.name).second)
      return Refused(archive_path, entry.name, "appears more than once");
    if (Outcome failure = catalogue.CheckReadable(i)) return failure;
  }
  return std::nullopt;
}

// The file each entry replaces: the file of that exact name, else the only file whose
// name matches it without regard to letter case, else a new file of the entry's name.
std::variant<std::vector<std::string>, Failure> TargetNames(const ArchiveReader& catalogue) {
  std::map<std::string, std::vector<std::string>> existing;
  if (DIR* listing = opendir(".")) {
    while (dirent* entry = readdir(listing)) existing[Lowered(entry->d_name)].push_back(entry->d_name);
    closedir(listing);
  }
  std::vector<std::string> targets;
  for (const EntryInfo& entry : catalogue.entries()) {
    std::string target = entry.name;
    struct stat info;
    if (lstat(target.c_str(), &info) != 0) {
      auto found = existing.find(Lowered(entry.name));
      if (found != existing.end() && found->second.size() == 1) target = found->second.front();
    }
    if (lstat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
      return Failure{ExitCode::ReadWriteError, "cannot replace '" + target + "': it is a directory"};
    targets.push_back(target);
  }
  return targets;
}

Outcome WriteAll(int fd, const uint8_t* data, size_t length, const std::string& target) {
  while (length > 0) {
    const ssize_t written = write(fd, data, length);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return Failure{ExitCode::ReadWriteError, "cannot write '" + target + "': " + SystemReason(errno)};
    data += written;
    length -= static_cast<size_t>(written);
  }
  return std::nullopt;
}

mode_t DefaultMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// What was at a target before it was replaced, kept until every rename has succeeded.
struct KeptFile {
  std::string path;
  bool moved = false;  // renamed away, not linked: the target is absent until replaced
};

// A hard link to the file being replaced, so that it can be put back. File systems
// without hard links (a FAT stick) get the file renamed aside instead.
std::variant<KeptFile, Failure> KeepOldFile(const std::string& target) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto created = TempFile::CreateBeside(target + ".old");
    if (auto* failure = std::get_if<Failure>(&created)) return *failure;
    TempFile placeholder = std::move(std::get<TempFile>(created));
    const std::string name = placeholder.path();
    placeholder.Discard();
    if (link(target.c_str(), name.c_str()) == 0) return KeptFile{name, false};
    if (errno == EEXIST) continue;
    if (rename(target.c_str(), name.c_str()) == 0) return KeptFile{name, true};
    return Failure{ExitCode::ReadWriteError, "cannot keep a copy of '" + target + "': " + SystemReason(errno)};
  }
  return Failure{ExitCode::ReadWriteError, "cannot keep a copy of '" + target + "'"};
}

}  // namespace

Outcome ArchiveExtractor::Extract(const std::string& archive_path) {
  auto opened = ArchiveReader::Open(archive_path, true);
  if (auto* failure = std::get_if<Failure>(&opened)) return *failure;
  const ArchiveReader& catalogue = *std::get<std::unique_ptr<ArchiveReader>>(opened);
  const std::vector<EntryInfo>& entries = catalogue.entries();

  if (Outcome failure = CheckEntries(archive_path, catalogue)) return failure;
  auto resolved = TargetNames(catalogue);
  if (auto* failure = std::get_if<Failure>(&resolved)) return *failure;
  const std::vector<std::string> targets = std::move(std::get<std::vector<std::string>>(resolved));

  uint64_t total = 0;
  for (const EntryInfo& entry : entries) total += entry.size;
  progress_.SetTotal(total);

  const mode_t default_mode = DefaultMode();
  std::vector<std::optional<TempFile>> written(entries.size());
  Outcome failure = EntryWorkers::Run(
      archive_path, catalogue, threads_, [&](ArchiveReader& reader, size_t index) -> Outcome {
        auto created = TempFile::CreateBeside(targets[index]);
        if (auto* create_failure = std::get_if<Failure>(&created)) return *create_failure;
        written[index].emplace(std::move(std::get<TempFile>(created)));
        TempFile& temp = *written[index];
        const std::string& target = targets[index];
        if (Outcome read_failure = reader.ReadEntry(index, [&](const uint8_t* data, size_t length) {
              progress_.Advance(length);
              return WriteAll(temp.fd(), data, length, target);
            }))
          return read_failure;
        const EntryInfo& entry = entries[index];
        const timespec times[2] = {{entry.mtime, 0}, {entry.mtime, 0}};
        // Permissions are best effort (a FAT file system has none); the time is kept.
        fchmod(temp.fd(), entry.permissions != 0 ? entry.permissions : default_mode);
        if (futimens(temp.fd(), times) != 0)
          return Failure{ExitCode::ReadWriteError, "cannot write '" + target + "': " + SystemReason(errno)};
        return temp.Sync();
      });
  if (failure) return failure;  // the temporary files remove themselves

  // A record file about to be replaced is claimed against every other open
  // of it, so that no program goes on writing the copy it has open, and is
  // brought to its committed state: a journal a crashed writer left beside
  // it would otherwise be applied to the restored file at its next open. The
  // claims last until every rename is done.
  std::deque<platform::RecordShareLock> claims;
  for (const std::string& target : targets) {
    if (!platform::IsRecordFile(target)) continue;
    if (claims.emplace_back().Acquire(target, platform::kAccessReadWrite | platform::kShareDenyAll) != 0)
      return Failure{ExitCode::ReadWriteError, "cannot replace '" + target + "': another program has it open"};
    const platform::RecordSnapshotResult rolled_back = platform::RollBackRecordJournal(target);
    if (rolled_back.code != 0)
      return Failure{ExitCode::ReadWriteError,
                     "cannot replace '" + target + "': its journal cannot be rolled back: " + rolled_back.reason};
  }

  struct Replaced {
    std::string target;
    std::optional<KeptFile> kept;  // empty when the target did not exist
  };
  std::vector<Replaced> replaced;
  auto put_back = [&replaced] {
    for (auto at = replaced.rbegin(); at != replaced.rend(); ++at) {
      if (at->kept) rename(at->kept->path.c_str(), at->target.c_str());
      else unlink(at->target.c_str());
    }
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    std::optional<KeptFile> kept;
    struct stat info;
    if (lstat(targets[i].c_str(), &info) == 0) {
      auto keeping = KeepOldFile(targets[i]);
      if (auto* keep_failure = std::get_if<Failure>(&keeping)) {
        put_back();
        return *keep_failure;
      }
      kept = std::get<KeptFile>(keeping);
    }
    if (Outcome rename_failure = written[i]->RenameTo(targets[i])) {
      if (kept && kept->moved) rename(kept->path.c_str(), targets[i].c_str());
      else if (kept) unlink(kept->path.c_str());
      put_back();
      return rename_failure;
    }
    replaced.push_back(Replaced{targets[i], kept});
  }
  if (Outcome sync_failure = SyncDirectory(".")) {
    put_back();
    return sync_failure;
  }
  for (const Replaced& done : replaced)
    if (done.kept) unlink(done.kept->path.c_str());
  // The new files are in place and on disk; a failure to flush the removal of the kept
  // copies cannot undo the restore.
  SyncDirectory(".");
  progress_.Finish();
  return std::nullopt;
}

}  // namespace qm::qmzip
