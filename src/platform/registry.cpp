#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/ini_file.h"
#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

std::string RootName(std::uint32_t root) {
  switch (root) {
    case Registry::kClassesRoot: return "HKEY_CLASSES_ROOT";
    case Registry::kCurrentUser: return "HKEY_CURRENT_USER";
    case Registry::kLocalMachine: return "HKEY_LOCAL_MACHINE";
    case Registry::kUsers: return "HKEY_USERS";
    default: {
      char name[16];
      std::snprintf(name, sizeof name, "%08X", static_cast<unsigned>(root));
      return name;
    }
  }
}

// "a\\b\" and "a\b" name the same key, as they do in the registry.
std::string KeySection(std::uint32_t root, std::string_view path) {
  std::string section = RootName(root);
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) section += "\\" + std::string(path.substr(start, end - start));
    start = end + 1;
  }
  return section;
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::string Registry::SettingsDirectory() {
  std::string directory = EnvironmentValue("QM_SETTINGS_DIR");
  if (!directory.empty()) return directory;
  std::string config = EnvironmentValue("XDG_CONFIG_HOME");
  if (config.empty()) config = EnvironmentValue("HOME") + "/.config";
  return config + "/quillmoor";
}

Registry Registry::ForUser() { return Registry(SettingsDirectory() + "/registry.ini"); }

std::string Registry::Get(std::uint32_t root, std::string_view path, std::string_view name) const {
  return IniFile(file_).Get(KeySection(root, path), name);
}

int Registry::Put(std::uint32_t root, std::string_view path, std::string_view name,
                  std::string_view value) {
  std::filesystem::path directory = std::filesystem::path(file_).parent_path();
  if (!directory.empty()) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
      SetRuntimeError(kErrPathNotFound, directory.string(), std::to_string(error.value()),
                      error.message());
      return kErrPathNotFound;
    }
  }
  return IniFile(file_).Put(KeySection(root, path), name, value);
}

int Registry::Delete(std::uint32_t root, std::string_view path, std::string_view name) {
  return IniFile(file_).Delete(KeySection(root, path), name);
}

}  // namespace qm::platform
