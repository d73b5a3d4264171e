// The per-user registry: string values under (root key, path, name).
//
// The values live in one INI file, "registry.ini", in the user's settings
// directory: $QM_SETTINGS_DIR when set, else $XDG_CONFIG_HOME/quillmoor, else
// $HOME/.config/quillmoor. Each key path is a section named after its root
// key and path ("HKEY_CURRENT_USER\Software\Quillmoor"); each value an entry.
// Paths and names match without regard to letter case. The directory is made
// on the first write. Thread-safe, like IniFile.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::platform {

class Registry {
 public:
  static constexpr std::uint32_t kClassesRoot = 0x80000000;
  static constexpr std::uint32_t kCurrentUser = 0x80000001;
  static constexpr std::uint32_t kLocalMachine = 0x80000002;
  static constexpr std::uint32_t kUsers = 0x80000003;

  // The store of the current user, where the environment puts it now.
  static Registry ForUser();

  // A store in the given file (tests, tools).
  explicit Registry(std::string file) : file_(std::move(file)) {}

  const std::string& File() const { return file_; }

  // The user's settings directory, as ForUser finds it.
  static std::string SettingsDirectory();

  // The value, or empty text when it or its key is missing.
  std::string Get(std::uint32_t root, std::string_view path, std::string_view name) const;

  // Sets a string value, creating its key. Returns a runtime error code and
  // sets the runtime error state, as IniFile::Put does; a name with "=" or a
  // value with a line break cannot be stored (80).
  int Put(std::uint32_t root, std::string_view path, std::string_view name, std::string_view value);

  // Removes a value; a missing one is success.
  int Delete(std::uint32_t root, std::string_view path, std::string_view name);

 private:
  std::string file_;
};

}  // namespace qm::platform
