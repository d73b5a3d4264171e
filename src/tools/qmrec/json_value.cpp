#include "json_value.h"

#include <cctype>
#include <cstdio>

namespace qm::qmrec {
namespace {

class Parser {
 public:
  Parser(std::string_view input, std::string* error) : input_(input), error_(error) {}

  std::optional<JsonValue> Document() {
    JsonValue value;
    if (!Value(value, 0)) return std::nullopt;
    SkipSpace();
    if (position_ != input_.size()) return Fail("unexpected text after the value");
    return value;
  }

 private:
  static constexpr int kMaxDepth = 64;

  std::nullopt_t Fail(const std::string& what) {
    if (error_->empty()) *error_ = what + " at column " + std::to_string(position_ + 1);
    return std::nullopt;
  }

  void SkipSpace() {
    while (position_ < input_.size() &&
           (input_[position_] == ' ' || input_[position_] == '\t' || input_[position_] == '\r' ||
            input_[position_] == '\n')) {
      ++position_;
    }
  }

  bool Literal(std::string_view word) {
    if (input_.substr(position_, word.size()) != word) return false;
    position_ += word.size();
    return true;
  }

  bool Value(JsonValue& value, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply"), false;
    SkipSpace();
    if (position_ >= input_.size()) return Fail("expected a value"), false;
    const char c = input_[position_];
    if (c == '{') return Object(value, depth);
    if (c == '[') return Array(value, depth);
    if (c == '"') {
      value.kind = JsonValue::Kind::kString;
      return String(value.text);
    }
    if (c == '-' || (c >= '0' && c <= '9')) return Number(value);
    if (Literal("true")) {
      value.kind = JsonValue::Kind::kBool;
      value.boolean = true;
      return true;
    }
    if (Literal("false")) {
      value.kind = JsonValue::Kind::kBool;
      return true;
    }
    if (Literal("null")) return true;
    return Fail("expected a value"), false;
  }

  bool Number(JsonValue& value) {
    const std::size_t start = position_;
    auto digits = [&] {
      const std::size_t first = position_;
      while (position_ < input_.size() && std::isdigit(static_cast<unsigned char>(input_[position_]))) ++position_;
      return position_ > first;
    };
    if (input_[position_] == '-') ++position_;
    if (!digits()) return Fail("expected digits"), false;
    if (position_ < input_.size() && input_[position_] == '.') {
      ++position_;
      if (!digits()) return Fail("expected digits after the point"), false;
    }
    if (position_ < input_.size() && (input_[position_] == 'e' || input_[position_] == 'E')) {
      ++position_;
      if (position_ < input_.size() && (input_[position_] == '+' || input_[position_] == '-')) ++position_;
      if (!digits()) return Fail("expected an exponent"), false;
    }
    value.kind = JsonValue::Kind::kNumber;
    value.text = std::string(input_.substr(start, position_ - start));
    return true;
  }

  bool Hex4(unsigned* code) {
    if (position_ + 4 > input_.size()) return false;
    *code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = input_[position_++];
      *code <<= 4;
      if (c >= '0' && c <= '9') *code |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') *code |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') *code |= static_cast<unsigned>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  bool String(std::string& out) {
    ++position_;  // the opening quote
    while (true) {
      if (position_ >= input_.size()) return Fail("unterminated string"), false;
      const unsigned char c = static_cast<unsigned char>(input_[position_]);
      if (c == '"') {
        ++position_;
        return true;
      }
      if (c < 0x20) return Fail("control character in a string"), false;
      if (c == '\\') {
        if (++position_ >= input_.size()) return Fail("unterminated string"), false;
        const char escape = input_[position_++];
        switch (escape) {
          case '"': out += '"'; break;
          case '\\': out += '\\'; break;
          case '/': out += '/'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'n': out += '\n'; break;
          case 'r': out += '\r'; break;
          case 't': out += '\t'; break;
          case 'u': {
            const std::size_t start = position_ - 2;
            unsigned code;
            const bool read = Hex4(&code);
            if (!read || code > 0xFF) {
              position_ = start;
              return Fail(read ? "character above U+00FF" : "bad \\u escape"), false;
            }
            out += static_cast<char>(code);
            break;
          }
          default: return Fail("bad escape"), false;
        }
        continue;
      }
      if (c >= 0x80) {
        // A two-byte UTF-8 character up to U+00FF becomes its one byte; any
        // byte that does not start valid UTF-8 is taken as it is.
        if ((c == 0xC2 || c == 0xC3) && position_ + 1 < input_.size() &&
            (static_cast<unsigned char>(input_[position_ + 1]) & 0xC0) == 0x80) {
          out += static_cast<char>(((c & 0x03) << 6) | (input_[position_ + 1] & 0x3F));
          position_ += 2;
          continue;
        }
        if (c >= 0xC4 && c <= 0xF4) return Fail("character above U+00FF"), false;
      }
      out += static_cast<char>(c);
      ++position_;
    }
  }

  bool Array(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::kArray;
    ++position_;
    SkipSpace();
    if (position_ < input_.size() && input_[position_] == ']') {
      ++position_;
      return true;
    }
    while (true) {
      JsonValue item;
      if (!Value(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
      SkipSpace();
      if (position_ < input_.size() && input_[position_] == ',') {
        ++position_;
        continue;
      }
      if (position_ < input_.size() && input_[position_] == ']') {
        ++position_;
        return true;
      }
      return Fail("expected ',' or ']'"), false;
    }
  }

  bool Object(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::kObject;
    ++position_;
    SkipSpace();
    if (position_ < input_.size() && input_[position_] == '}') {
      ++position_;
      return true;
    }
    while (true) {
      SkipSpace();
      if (position_ >= input_.size() || input_[position_] != '"') return Fail("expected a member name"), false;
      std::string name;
      if (!String(name)) return false;
      SkipSpace();
      if (position_ >= input_.size() || input_[position_] != ':') return Fail("expected ':'"), false;
      ++position_;
      JsonValue member;
      if (!Value(member, depth + 1)) return false;
      if (value.Find(name)) return Fail("member \"" + name + "\" given twice"), false;
      value.members.emplace_back(std::move(name), std::move(member));
      SkipSpace();
      if (position_ < input_.size() && input_[position_] == ',') {
        ++position_;
        continue;
      }
      if (position_ < input_.size() && input_[position_] == '}') {
        ++position_;
        return true;
      }
      return Fail("expected ',' or '}'"), false;
    }
  }

  std::string_view input_;
  std::string* error_;
  std::size_t position_ = 0;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view name) const {
  for (const auto& [member_name, member] : members) {
    if (member_name == name) return &member;
  }
  return nullptr;
}

std::optional<JsonValue> JsonValue::Parse(std::string_view input, std::string* error) {
  error->clear();
  return Parser(input, error).Document();
}

std::string JsonString(std::string_view bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04X", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace qm::qmrec
