#include "tools/qmzip/entry_name.h"

#include <array>

#include "tools/qmzip/name_mask.h"

namespace qm::qmzip {
namespace {

// Names that open a device instead of a file on the platform the product came from;
// a restore there must not touch them, so no archive of ours may hold them.
bool IsDeviceName(std::string_view name) {
  const std::string_view stem = name.substr(0, name.find('.'));
  static constexpr std::array<std::string_view, 4> kFixed = {"con", "prn", "aux", "nul"};
  for (std::string_view device : kFixed)
    if (SameNameIgnoringCase(stem, device)) return true;
  if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9')
    return SameNameIgnoringCase(stem.substr(0, 3), "com") || SameNameIgnoringCase(stem.substr(0, 3), "lpt");
  return false;
}

}  // namespace

std::optional<std::string> UnsafeNameReason(std::string_view name) {
  if (name.empty()) return "has an empty name";
  if (name.back() == '/' || name.back() == '\\') return "is a directory, not a plain file";
  if (name.find('/') != std::string_view::npos || name.find('\\') != std::string_view::npos)
    return "names a path outside the current directory";
  if (name == "." || name == "..") return "names a path outside the current directory";
  if (name.find(':') != std::string_view::npos) return "names a drive or stream";
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) return "has control characters in its name";
  if (IsDeviceName(name)) return "names a device";
  return std::nullopt;
}

}  // namespace qm::qmzip
