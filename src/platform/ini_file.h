// INI files as users know them from their platform's profile functions.
//
// Sections and keys match without regard to letter case. A read gives the
// caller's default when the file, the section or the key is missing, or when
// the file cannot be read; a line that is neither a section header, an entry
// nor a comment is skipped. A write changes or removes only the entry it
// names: every other line, comment and blank line of the file stays as it
// was. The new file is written beside the old one, flushed to disk and
// renamed over it, so a reader never sees a half-written file.
//
// The path is used as given (relative paths to the current directory); when
// no file of that exact name exists, one whose name differs only in letter
// case is used instead. All operations are thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace qm::platform {

class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }

  // The value of `key` in `section`, surrounding blanks removed, or
  // `default_value`. Leaves the runtime error state alone.
  std::string Get(std::string_view section, std::string_view key,
                  std::string_view default_value = {}) const;

  // Sets `key` in `section` to `value`, creating the file and the section as
  // needed. Returns a runtime error code and sets the runtime error state
  // (cleared on success). A section or key that cannot stand in an INI file
  // (empty, a line break, "]" in a section, "=" in a key, surrounding blanks)
  // or a value with a line break is refused with 80 and nothing is written.
  // A file that exists but cannot be read is never replaced.
  int Put(std::string_view section, std::string_view key, std::string_view value);

  // Removes every entry `key` of `section`. Nothing to remove is success.
  int Delete(std::string_view section, std::string_view key);

 private:
  std::string path_;
};

}  // namespace qm::platform
