#include "platform/record_declaration.h"

#include <algorithm>
#include <cctype>

namespace qm::platform {

std::size_t FixedWidth(FieldEncoding encoding) {
  switch (encoding) {
    case FieldEncoding::kU8: return 1;
    case FieldEncoding::kU16: return 2;
    case FieldEncoding::kI32:
    case FieldEncoding::kU32:
    case FieldEncoding::kF32: return 4;
    case FieldEncoding::kF64: return 8;
    case FieldEncoding::kText:
    case FieldEncoding::kCString:
    case FieldEncoding::kDecimal: return 0;
  }
  return 0;
}

std::string_view EncodingName(FieldEncoding encoding) {
  switch (encoding) {
    case FieldEncoding::kU8: return "u8";
    case FieldEncoding::kU16: return "u16";
    case FieldEncoding::kI32: return "i32";
    case FieldEncoding::kU32: return "u32";
    case FieldEncoding::kF32: return "f32";
    case FieldEncoding::kF64: return "f64";
    case FieldEncoding::kText: return "text";
    case FieldEncoding::kCString: return "cstring";
    case FieldEncoding::kDecimal: return "decimal";
  }
  return "";
}

bool ParseEncoding(std::string_view name, FieldEncoding* encoding) {
  static constexpr FieldEncoding kAll[] = {
      FieldEncoding::kU8,  FieldEncoding::kU16,  FieldEncoding::kI32,
      FieldEncoding::kU32, FieldEncoding::kF32,  FieldEncoding::kF64,
      FieldEncoding::kText, FieldEncoding::kCString, FieldEncoding::kDecimal};
  for (FieldEncoding candidate : kAll) {
    if (SameName(EncodingName(candidate), name)) {
      *encoding = candidate;
      return true;
    }
  }
  return false;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::toupper(x) == std::toupper(y);
         });
}

int RecordDeclaration::AddField(std::string name, FieldEncoding encoding, std::size_t width,
                                int digits, int decimals) {
  FieldDeclaration field;
  field.name = std::move(name);
  field.encoding = encoding;
  field.offset = fields.empty() ? 0 : fields.back().offset + fields.back().width;
  field.width = FixedWidth(encoding) != 0 ? FixedWidth(encoding) : width;
  if (encoding == FieldEncoding::kDecimal) {
    field.digits = digits;
    field.decimals = decimals;
    field.width = static_cast<std::size_t>(digits + 1) / 2;
  }
  record_size = std::max(record_size, field.offset + field.width);
  fields.push_back(std::move(field));
  return static_cast<int>(fields.size());
}

int RecordDeclaration::FieldNumber(std::string_view name) const {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (SameName(fields[i].name, name)) return static_cast<int>(i + 1);
  }
  return 0;
}

int RecordDeclaration::KeyNumber(std::string_view name) const {
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (SameName(keys[i].name, name)) return static_cast<int>(i + 1);
  }
  return 0;
}

std::string RecordDeclaration::Problem() const {
  if (record_size == 0) return "the record has no bytes";
  std::vector<bool> covered(record_size, false);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldDeclaration& field = fields[i];
    const std::string what = "field " + field.name;
    if (field.name.empty()) return "field " + std::to_string(i + 1) + " has no name";
    if (FieldNumber(field.name) != static_cast<int>(i + 1)) return what + " is declared twice";
    if (field.width == 0) return what + " has no width";
    if (field.width > 0xFFFF) return what + " is wider than 65535 bytes";
    const std::size_t fixed = FixedWidth(field.encoding);
    if (fixed != 0 && field.width != fixed) return what + " does not have its encoding's width";
    if (field.encoding == FieldEncoding::kDecimal &&
        (field.digits < 1 || field.digits > 18 || field.decimals < 0 ||
         field.decimals > field.digits ||
         field.width != static_cast<std::size_t>(field.digits + 1) / 2)) {
      return what + " is not a packed decimal of 1 to 18 digits in (digits + 1) / 2 bytes";
    }
    if (field.encoding == FieldEncoding::kCString && field.width < 1) return what + " has no room";
    if (field.offset + field.width > record_size) return what + " lies outside the record";
    for (std::size_t byte = field.offset; byte < field.offset + field.width; ++byte) {
      if (covered[byte]) return what + " overlaps another field";
      covered[byte] = true;
    }
  }
  int primaries = 0;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const KeyDeclaration& key = keys[i];
    const std::string what = "key " + key.name;
    if (key.name.empty()) return "key " + std::to_string(i + 1) + " has no name";
    if (KeyNumber(key.name) != static_cast<int>(i + 1)) return what + " is declared twice";
    if (key.components.empty()) return what + " has no components";
    for (int component : key.components) {
      if (component < 1 || component > static_cast<int>(fields.size())) {
        return what + " names an unknown field";
      }
    }
    if (key.primary && ++primaries > 1) return "more than one key is primary";
  }
  return {};
}

namespace {

// A field or key name without its record prefix: an alias declares the
// same file under a prefix of its own ("I01A:ITEMCODE" is "I01:ITEMCODE").
std::string_view Unprefixed(std::string_view name) {
  const auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

}  // namespace

bool SameRecordLayout(const RecordDeclaration& a, const RecordDeclaration& b) {
  if (a.record_size != b.record_size || a.fields.size() != b.fields.size()) return false;
  for (std::size_t i = 0; i < a.fields.size(); ++i) {
    const FieldDeclaration& x = a.fields[i];
    const FieldDeclaration& y = b.fields[i];
    if (!SameName(Unprefixed(x.name), Unprefixed(y.name)) || x.encoding != y.encoding || x.offset != y.offset ||
        x.width != y.width || x.digits != y.digits || x.decimals != y.decimals) {
      return false;
    }
  }
  return true;
}

bool SameKeys(const RecordDeclaration& a, const RecordDeclaration& b) {
  if (a.keys.size() != b.keys.size()) return false;
  for (std::size_t i = 0; i < a.keys.size(); ++i) {
    const KeyDeclaration& x = a.keys[i];
    const KeyDeclaration& y = b.keys[i];
    if (!SameName(Unprefixed(x.name), Unprefixed(y.name)) || x.components != y.components || x.unique != y.unique ||
        x.no_case != y.no_case) {
      return false;
    }
  }
  return true;
}

}  // namespace qm::platform
