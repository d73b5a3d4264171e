// A file mask such as "*.dat": '*' matches any run of characters, '?' one character,
// everything else itself without regard to letter case (ASCII).
#pragma once

#include <string>
#include <string_view>

namespace qm::qmzip {

class NameMask {
 public:
  explicit NameMask(std::string pattern);
  bool Matches(std::string_view name) const;

 private:
  std::string pattern_;  // lower-cased
};

// Compares two names without regard to ASCII letter case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace qm::qmzip
