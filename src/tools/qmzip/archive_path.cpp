#include "tools/qmzip/archive_path.h"

#include "platform/file_system.h"

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
  return platform::ExistingNameIgnoringCase(path);
}

}  // namespace qm::qmzip
