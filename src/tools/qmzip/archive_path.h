// From the NAME on the command line to the archive file.
#pragma once

#include <string>

namespace qm::qmzip {

// NAME with ".Zip" added when its last path component has no extension
// ("Tdx01" -> "Tdx01.Zip", "/media/usb/Tdx" -> "/media/usb/Tdx.Zip"). When no file of
// that exact name exists but exactly one file of its directory matches it without
// regard to letter case, that file's name is returned: archive names are matched the
// way the product's platform matches them.
std::string ArchivePath(const std::string& name);

// The directory part of `path` ("." when it has none).
std::string DirectoryOf(const std::string& path);

// The last component of `path`.
std::string BaseNameOf(const std::string& path);

}  // namespace qm::qmzip
