#include "tools/qmzip/archive_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include "tools/qmzip/name_mask.h"

namespace qm::qmzip {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ArchivePath(const std::string& name) {
  std::string path = name;
  const std::string base = BaseNameOf(path);
  // A leading dot starts a hidden name, not an extension.
  if (base.find('.', 1) == std::string::npos) path += ".Zip";

  struct stat info;
  if (lstat(path.c_str(), &info) == 0) return path;

  const std::string directory = DirectoryOf(path);
  const std::string wanted = BaseNameOf(path);
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) return path;
  std::string found;
  int matches = 0;
  while (dirent* entry = readdir(listing)) {
    if (SameNameIgnoringCase(entry->d_name, wanted)) {
      found = entry->d_name;
      ++matches;
    }
  }
  closedir(listing);
  if (matches != 1) return path;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? found : path.substr(0, slash + 1) + found;
}

}  // namespace qm::qmzip
