#include "tools/qmzip/name_mask.h"

#include <algorithm>
#include <cctype>

namespace qm::qmzip {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

}  // namespace

NameMask::NameMask(std::string pattern) : pattern_(std::move(pattern)) {
  std::transform(pattern_.begin(), pattern_.end(), pattern_.begin(), Lower);
}

// Iterative wildcard match with one back-tracking point: linear in practice and never
// recursive, whatever the mask.
bool NameMask::Matches(std::string_view name) const {
  size_t p = 0;
  size_t n = 0;
  size_t star = std::string::npos;
  size_t star_name = 0;
  while (n < name.size()) {
    if (p < pattern_.size() && (pattern_[p] == '?' || pattern_[p] == Lower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern_.size() && pattern_[p] == '*') {
      star = p++;
      star_name = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++star_name;
    } else {
      return false;
    }
  }
  while (p < pattern_.size() && pattern_[p] == '*') ++p;
  return p == pattern_.size();
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace qm::qmzip
