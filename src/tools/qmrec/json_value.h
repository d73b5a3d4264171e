// The little JSON that qmrec reads and writes: declarations and records.
//
// Strings hold bytes: "\u0000" to "\u00FF" and UTF-8 characters up to U+00FF
// become one byte each, so record texts of the product's single-byte
// character set go through unchanged; a character above U+00FF cannot stand
// in a record and is refused. Numbers keep the text they were written as,
// so that a packed decimal loses no digit on the way.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::qmrec {

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // a number's text or a string's bytes
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;  // in the order written

  // The member named `name`, or nullptr.
  const JsonValue* Find(std::string_view name) const;

  // Parses one whole JSON text; nullopt with `error` set ("expected ':' at
  // column 12") when it is not one.
  static std::optional<JsonValue> Parse(std::string_view input, std::string* error);
};

// `bytes` as a JSON string, quotes included; bytes 80 to FF as \u0080 to \u00FF.
std::string JsonString(std::string_view bytes);

}  // namespace qm::qmrec
