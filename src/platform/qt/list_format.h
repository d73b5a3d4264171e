// The list format of a list box: its columns, each with header, width,
// alignment and indent, and the header of the group they stand under, e.g.
// "[18R(2)|M~#~@n3@62L(2)|M~File~@s13@]|M~Pick one~".
//
// A column is its width, then in any order: a data alignment L, R, C or D
// with an optional indent "(n)", "|" (a line at its right), "M" (the user
// may resize it), "~header~" (an alignment after the header aligns the
// header) and "@picture@". "[" and "]" enclose a group; a "~header~" after
// the "]" is the group's header. Widths and indents are dialog units.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::platform {

struct ListColumn {
  int width = 0;
  char alignment = 'L';          // L, R, C or D (decimal, shown as right)
  int indent = 0;
  std::string header;
  char header_alignment = 'L';   // the data alignment unless one follows the header
  int header_indent = 0;
  bool resizable = false;
  bool right_line = false;
  std::string picture;           // with its leading "@"
};

struct ListFormat {
  std::vector<ListColumn> columns;
  std::string group_header;      // empty when the columns stand under no group
};

// The parsed format; nullopt when the text is not a list format (the list
// then shows its cells in plain columns).
std::optional<ListFormat> ParseListFormat(std::string_view format);

}  // namespace qm::platform
