// File-system operations of the runtime: existence, copy, rename, remove,
// directory listings, the current directory and free space.
//
// Operations return a runtime error code (0 on success) and set the calling
// thread's runtime error state, clearing it on success: 2 file not found,
// 3 path not found (the directory is missing), 5 access denied (refused, or
// the target is in the way), 90 any other failure, with the system's errno
// and its text as the driver's code and message. Queries return values or
// std::optional and leave the error state alone unless they say otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm::platform {

inline constexpr char kPathSeparator = '/';

// Directory-entry attributes, as the runtime's listing gives them.
inline constexpr unsigned kAttributeReadOnly = 0x01;
inline constexpr unsigned kAttributeHidden = 0x02;     // the name starts with "."
inline constexpr unsigned kAttributeDirectory = 0x10;

// True when `path` names an existing file or directory.
bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);

// Copies a file over `destination`, replacing one that is there. The data
// goes to a temporary file beside the destination, is flushed to disk, and
// only then renamed to the destination: a failed copy leaves the destination
// as it was and no temporary file behind. The copy keeps the source's
// permission bits.
int CopyFile(const std::string& source, const std::string& destination);

// Renames a file or directory. Never replaces an existing `new_name`: that is
// 5, and both stay as they are.
int RenameFile(const std::string& old_name, const std::string& new_name);

// Removes a file; a directory is not removed (5).
int RemoveFile(const std::string& path);

// Copies, renames and removals are on disk in the order they were made by
// the time they return, so a power cut cannot undo one and keep a later one.

// The file `path` names, found as the product's platform finds names,
// without regard to letter case: `path` itself when it exists, otherwise the
// one entry of its directory whose name differs from it only in case;
// `path` when there is none, or more than one.
std::string ExistingNameIgnoringCase(const std::string& path);

struct DirectoryEntry {
  std::string name;         // as stored, without the directory
  long date = 0;            // last change, local day number
  long time = 0;            // last change, local runtime time
  std::uint64_t size = 0;   // bytes; 0 for a directory
  unsigned attributes = 0;  // kAttribute... bits
};

// Lists the entries of `directory` whose names match `mask` (see
// MatchesMask), sorted by name without regard to letter case. Ordinary and
// read-only files are always listed; hidden entries and directories only
// when `attributes` asks for them; "." and ".." never. nullopt, with the
// runtime error state set, when the directory cannot be read.
std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& directory,
                                                         const std::string& mask,
                                                         unsigned attributes = 0);

// Matches a name against a mask without regard to letter case: "*" stands
// for any run of characters, "?" for one character; "*.*" and an empty mask
// match every name, with or without a dot.
bool MatchesMask(const std::string& name, const std::string& mask);

// The process's current directory; nullopt (error state set) when it is gone.
std::optional<std::string> CurrentDirectory();

// Changes the current directory of the whole process, for every thread.
int SetCurrentDirectory(const std::string& path);

// Bytes free to this user on the file system that holds `path`; nullopt
// (error state set) when it cannot be asked.
std::optional<std::uint64_t> FreeSpace(const std::string& path);

// `directory` and `name` joined by one separator; an empty directory gives
// `name` alone.
std::string JoinPath(const std::string& directory, const std::string& name);

// Sets the calling thread's runtime error state for a failed system call on
// `path` with `error_number` (an errno value) and returns the runtime code.
int ReportSystemError(int error_number, const std::string& path);

}  // namespace qm::platform
