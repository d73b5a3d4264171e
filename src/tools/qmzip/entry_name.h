// Which archive entry names may become files of the current directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm::qmzip {

// Empty when `name` is a plain file name that stays in the current directory; otherwise
// the reason it is refused: a path (separator, absolute, "." or ".."), a drive or
// stream (':'), a device name (CON, NUL, COM1...), control characters, or a directory
// entry. Both -add and -ext use it, so every archive QmZip writes can be extracted.
std::optional<std::string> UnsafeNameReason(std::string_view name);

}  // namespace qm::qmzip
