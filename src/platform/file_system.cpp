#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/pictures.h"
#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparator);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return std::string(1, kPathSeparator);
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparator);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ErrorMessage(int error_number) {
  char buffer[256];
  return strerror_r(error_number, buffer, sizeof buffer);
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  ~Descriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return descriptor_; }
  // Closes now and returns close()'s errno, 0 on success.
  int CloseNow() {
    const int result = ::close(descriptor_);
    descriptor_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int descriptor_;
};

// Makes a rename, removal or creation in the directory of `path` survive a
// power cut, in the order it was made; a failure here loses nothing.
void SyncDirectoryOf(const std::string& path) {
  Descriptor directory(::open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() >= 0) ::fsync(directory.get());
}

// Writes all of `size` bytes; returns 0 or the errno of the failure.
int WriteAll(int descriptor, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(descriptor, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return 0;
}

// Copies the contents of one open file into another; returns 0, or the
// errno of the failure and in `failed_on_source` which side it was.
int CopyContents(int from, int to, bool& failed_on_source) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t count = ::read(from, buffer, sizeof buffer);
    if (count == 0) return 0;
    if (count < 0) {
      if (errno == EINTR) continue;
      failed_on_source = true;
      return errno;
    }
    if (const int error = WriteAll(to, buffer, static_cast<size_t>(count)); error != 0) {
      failed_on_source = false;
      return error;
    }
  }
}

int Succeed() {
  ClearRuntimeError();
  return kErrNone;
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string Folded(const std::string& text) {
  std::string folded = text;
  std::transform(folded.begin(), folded.end(), folded.begin(), Lower);
  return folded;
}

}  // namespace

int ReportSystemError(int error_number, const std::string& path) {
  int code = kErrDriverError;
  switch (error_number) {
    case ENOENT:
      code = FileExists(ParentOf(path)) ? kErrFileNotFound : kErrPathNotFound;
      break;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      code = kErrPathNotFound;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EEXIST:
    case EISDIR:
    case EBUSY:
    case ETXTBSY:
    case ENOTEMPTY:
    case EXDEV:
      code = kErrAccessDenied;
      break;
    default:
      break;
  }
  SetRuntimeError(code, path, std::to_string(error_number), ErrorMessage(error_number));
  return code;
}

bool FileExists(const std::string& path) {
  struct stat status;
  return !path.empty() && ::stat(path.c_str(), &status) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat status;
  return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

int CopyFile(const std::string& source, const std::string& destination) {
  Descriptor from(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (from.get() < 0) return ReportSystemError(errno, source);
  struct stat status;
  if (::fstat(from.get(), &status) != 0) return ReportSystemError(errno, source);
  if (S_ISDIR(status.st_mode)) return ReportSystemError(EISDIR, source);
  if (IsDirectory(destination)) return ReportSystemError(EISDIR, destination);

  // Hidden, so that a listing made meanwhile does not show it as a file.
  std::string temporary = JoinPath(ParentOf(destination), "." + NameOf(destination) + ".XXXXXX");
  Descriptor to(::mkostemp(temporary.data(), O_CLOEXEC));
  if (to.get() < 0) return ReportSystemError(errno, destination);

  const auto fail = [&](int error_number, const std::string& path) {
    ::unlink(temporary.c_str());
    return ReportSystemError(error_number, path);
  };
  bool failed_on_source = false;
  if (const int error = CopyContents(from.get(), to.get(), failed_on_source); error != 0) {
    return fail(error, failed_on_source ? source : destination);
  }
  // The copy keeps the source's permissions and times, as a copy made by the
  // user's file manager does; a restored generation keeps its old date.
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  if (::fchmod(to.get(), status.st_mode & 07777) != 0 || ::futimens(to.get(), times) != 0 ||
      ::fsync(to.get()) != 0) {
    return fail(errno, destination);
  }
  if (const int error = to.CloseNow(); error != 0) return fail(error, destination);
  if (::rename(temporary.c_str(), destination.c_str()) != 0) return fail(errno, destination);
  SyncDirectoryOf(destination);
  return Succeed();
}

int RenameFile(const std::string& old_name, const std::string& new_name) {
  if (::renameat2(AT_FDCWD, old_name.c_str(), AT_FDCWD, new_name.c_str(), RENAME_NOREPLACE) == 0) {
    SyncDirectoryOf(new_name);
    if (ParentOf(new_name) != ParentOf(old_name)) SyncDirectoryOf(old_name);
    return Succeed();
  }
  const int error = errno;
  if (error != EINVAL && error != ENOSYS) {
    // The name at fault: the one in the way, or the one whose directory is missing.
    const bool new_name_at_fault = error == EEXIST || (error == ENOENT && FileExists(old_name));
    return ReportSystemError(error, new_name_at_fault ? new_name : old_name);
  }
  // A file system that cannot refuse to replace: check, then rename.
  struct stat status;
  if (::lstat(new_name.c_str(), &status) == 0) return ReportSystemError(EEXIST, new_name);
  if (::rename(old_name.c_str(), new_name.c_str()) != 0) return ReportSystemError(errno, old_name);
  SyncDirectoryOf(new_name);
  if (ParentOf(new_name) != ParentOf(old_name)) SyncDirectoryOf(old_name);
  return Succeed();
}

int RemoveFile(const std::string& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    return ReportSystemError(EISDIR, path);
  }
  if (::unlink(path.c_str()) != 0) return ReportSystemError(errno, path);
  SyncDirectoryOf(path);
  return Succeed();
}

std::string ExistingNameIgnoringCase(const std::string& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) == 0) return path;
  DIR* stream = ::opendir(ParentOf(path).c_str());
  if (stream == nullptr) return path;
  const std::string wanted = NameOf(path);
  std::string found;
  int matches = 0;
  while (const dirent* entry = ::readdir(stream)) {
    if (::strcasecmp(entry->d_name, wanted.c_str()) == 0) {
      found = entry->d_name;
      ++matches;
    }
  }
  ::closedir(stream);
  if (matches != 1) return path;
  const size_t slash = path.find_last_of(kPathSeparator);
  return slash == std::string::npos ? found : path.substr(0, slash + 1) + found;
}

std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& directory,
                                                         const std::string& mask,
                                                         unsigned attributes) {
  const std::string path = directory.empty() ? "." : directory;
  DIR* stream = ::opendir(path.c_str());
  if (stream == nullptr) {
    ReportSystemError(errno == ENOENT ? ENOTDIR : errno, path);
    return std::nullopt;
  }
  std::vector<DirectoryEntry> entries;
  const int directory_descriptor = ::dirfd(stream);
  while (const dirent* item = ::readdir(stream)) {
    const std::string name = item->d_name;
    if (name == "." || name == ".." || !MatchesMask(name, mask)) continue;
    struct stat status;
    if (::fstatat(directory_descriptor, item->d_name, &status, 0) != 0) continue;
    const bool is_directory = S_ISDIR(status.st_mode);
    if (!is_directory && !S_ISREG(status.st_mode)) continue;

    DirectoryEntry entry;
    entry.name = name;
    if (is_directory) entry.attributes |= kAttributeDirectory;
    if (name.front() == '.') entry.attributes |= kAttributeHidden;
    if ((status.st_mode & 0222) == 0) entry.attributes |= kAttributeReadOnly;
    if (is_directory && (attributes & kAttributeDirectory) == 0) continue;
    if ((entry.attributes & kAttributeHidden) != 0 && (attributes & kAttributeHidden) == 0) continue;

    entry.size = is_directory ? 0 : static_cast<std::uint64_t>(status.st_size);
    std::tm local{};
    localtime_r(&status.st_mtim.tv_sec, &local);
    entry.date = DayNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    entry.time = TimeOfDay(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                           static_cast<int>(status.st_mtim.tv_nsec / 10000000));
    entries.push_back(std::move(entry));
  }
  ::closedir(stream);
  std::sort(entries.begin(), entries.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
    const std::string folded_a = Folded(a.name), folded_b = Folded(b.name);
    return folded_a != folded_b ? folded_a < folded_b : a.name < b.name;
  });
  ClearRuntimeError();
  return entries;
}

bool MatchesMask(const std::string& name, const std::string& mask) {
  if (mask.empty() || mask == "*.*") return true;
  // Greedy match with one point to return to: the last "*" seen.
  size_t n = 0, m = 0;
  size_t star = std::string::npos, star_name = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || Lower(mask[m]) == Lower(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      star = m++;
      star_name = n;
    } else if (star != std::string::npos) {
      m = star + 1;
      n = ++star_name;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

std::optional<std::string> CurrentDirectory() {
  std::string buffer(256, '\0');
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(std::strlen(buffer.c_str()));
      return buffer;
    }
    if (errno != ERANGE) {
      ReportSystemError(errno == ENOENT ? ENOTDIR : errno, ".");
      return std::nullopt;
    }
    buffer.resize(buffer.size() * 2);
  }
}

int SetCurrentDirectory(const std::string& path) {
  if (::chdir(path.c_str()) != 0) return ReportSystemError(errno == ENOENT ? ENOTDIR : errno, path);
  return Succeed();
}

std::optional<std::uint64_t> FreeSpace(const std::string& path) {
  struct statvfs status;
  if (::statvfs(path.c_str(), &status) != 0) {
    ReportSystemError(errno, path);
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  if (directory.back() == kPathSeparator) return directory + name;
  return directory + kPathSeparator + name;
}

}  // namespace qm::platform
