// One entry of the error manager's message list.
#pragma once

#include <cstdint>
#include <string>

#include "framework/errors/error_level.h"

namespace qm {

struct ErrorEntry {
  std::uint32_t ID = 0;  // only the low 16 bits name the message
  std::string MESSAGE;   // may hold % tokens; "|" is a line break
  std::string TITLE;
  ErrorLevel FATALITY = LevelNone;
  std::string CATEGORY;  // empty: the manager's DEFAULTCATEGORY applies
};

}  // namespace qm
