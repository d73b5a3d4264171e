#include "platform/qt/list_format.h"

#include <cctype>

namespace qm::platform {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<ListFormat> Parse() {
    ListFormat format;
    bool in_group = false;
    bool group_seen = false;
    while (!AtEnd()) {
      const char next = Peek();
      if (std::isdigit(static_cast<unsigned char>(next))) {
        if (group_seen && !in_group) return std::nullopt;  // a column after the group's header
        auto column = ParseColumn();
        if (!column) return std::nullopt;
        format.columns.push_back(std::move(*column));
      } else if (next == '[') {
        if (in_group || group_seen) return std::nullopt;
        in_group = group_seen = true;
        ++position_;
      } else if (next == ']') {
        if (!in_group) return std::nullopt;
        in_group = false;
        ++position_;
        if (!ParseGroupModifiers(format)) return std::nullopt;
      } else {
        return std::nullopt;
      }
    }
    if (in_group || format.columns.empty()) return std::nullopt;
    return format;
  }

 private:
  bool AtEnd() const { return position_ >= text_.size(); }
  char Peek() const { return text_[position_]; }

  std::optional<int> Number() {
    if (AtEnd() || !std::isdigit(static_cast<unsigned char>(Peek()))) return std::nullopt;
    int value = 0;
    while (!AtEnd() && std::isdigit(static_cast<unsigned char>(Peek()))) {
      value = value * 10 + (Peek() - '0');
      if (value > 100000) return std::nullopt;
      ++position_;
    }
    return value;
  }

  // "(n)" after an alignment letter; absent means no indent.
  std::optional<int> Indent() {
    if (AtEnd() || Peek() != '(') return 0;
    ++position_;
    auto value = Number();
    if (!value || AtEnd() || Peek() != ')') return std::nullopt;
    ++position_;
    return value;
  }

  // The text up to the closing `delimiter`, which is consumed.
  std::optional<std::string> Delimited(char delimiter) {
    ++position_;
    const auto end = text_.find(delimiter, position_);
    if (end == std::string_view::npos) return std::nullopt;
    std::string value(text_.substr(position_, end - position_));
    position_ = end + 1;
    return value;
  }

  std::optional<ListColumn> ParseColumn() {
    ListColumn column;
    column.width = *Number();
    bool header_seen = false;
    bool header_aligned = false;
    while (!AtEnd()) {
      const char next = Peek();
      if (next == 'L' || next == 'R' || next == 'C' || next == 'D') {
        ++position_;
        auto indent = Indent();
        if (!indent) return std::nullopt;
        if (header_seen) {
          column.header_alignment = next;
          column.header_indent = *indent;
          header_aligned = true;
        } else {
          column.alignment = next;
          column.indent = *indent;
        }
      } else if (next == '|') {
        column.right_line = true;
        ++position_;
      } else if (next == 'M') {
        column.resizable = true;
        ++position_;
      } else if (next == '~') {
        auto header = Delimited('~');
        if (!header) return std::nullopt;
        column.header = std::move(*header);
        header_seen = true;
      } else if (next == '@') {
        auto picture = Delimited('@');
        if (!picture) return std::nullopt;
        column.picture = "@" + *picture;
      } else {
        break;
      }
    }
    if (!header_aligned) {
      column.header_alignment = column.alignment;
      column.header_indent = column.indent;
    }
    return column;
  }

  bool ParseGroupModifiers(ListFormat& format) {
    while (!AtEnd()) {
      const char next = Peek();
      if (next == '|' || next == 'M') {
        ++position_;
      } else if (next == '~') {
        auto header = Delimited('~');
        if (!header) return false;
        format.group_header = std::move(*header);
      } else {
        return false;
      }
    }
    return true;
  }

  std::string_view text_;
  std::size_t position_ = 0;
};

}  // namespace

std::optional<ListFormat> ParseListFormat(std::string_view format) { return Parser(format).Parse(); }

}  // namespace qm::platform
