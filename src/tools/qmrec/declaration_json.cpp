#include "declaration_json.h"

#include <algorithm>
#include <cstdlib>

namespace qm::qmrec {
namespace {

using platform::FieldEncoding;

bool TextMember(const JsonValue& object, const char* name, std::string* value, bool required,
                std::string* error) {
  const JsonValue* member = object.Find(name);
  if (!member) {
    if (required) *error = std::string("\"") + name + "\" is missing";
    return !required;
  }
  if (member->kind != JsonValue::Kind::kString) {
    *error = std::string("\"") + name + "\" must be a string";
    return false;
  }
  *value = member->text;
  return true;
}

bool NumberMember(const JsonValue& object, const char* name, long long* value, std::string* error) {
  const JsonValue* member = object.Find(name);
  if (!member) return true;
  char* end = nullptr;
  if (member->kind == JsonValue::Kind::kNumber) *value = std::strtoll(member->text.c_str(), &end, 10);
  if (member->kind != JsonValue::Kind::kNumber || *end != '\0' || *value < 0 || *value > 0xFFFFFF) {
    *error = std::string("\"") + name + "\" must be a whole number";
    return false;
  }
  return true;
}

bool FlagMember(const JsonValue& object, const char* name, bool* value, std::string* error) {
  const JsonValue* member = object.Find(name);
  if (!member) return true;
  if (member->kind != JsonValue::Kind::kBool) {
    *error = std::string("\"") + name + "\" must be true or false";
    return false;
  }
  *value = member->boolean;
  return true;
}

}  // namespace

std::optional<platform::RecordDeclaration> DeclarationFromJson(const JsonValue& json,
                                                              const std::string& disk_name,
                                                              std::string* error) {
  if (json.kind != JsonValue::Kind::kObject) {
    *error = "the declaration must be a JSON object";
    return std::nullopt;
  }
  platform::RecordDeclaration declaration;
  declaration.disk_name = disk_name;
  long long version = 0;
  long long record_size = 0;
  if (!TextMember(json, "label", &declaration.label, true, error) ||
      !TextMember(json, "prefix", &declaration.prefix, false, error) ||
      !TextMember(json, "driver", &declaration.driver, false, error) ||
      !NumberMember(json, "version", &version, error) ||
      !NumberMember(json, "record_size", &record_size, error) ||
      !FlagMember(json, "per_thread", &declaration.per_thread, error)) {
    return std::nullopt;
  }
  declaration.version = static_cast<int>(version);

  const JsonValue* fields = json.Find("fields");
  if (!fields || fields->kind != JsonValue::Kind::kArray || fields->items.empty()) {
    *error = "\"fields\" must be a list of fields";
    return std::nullopt;
  }
  for (const JsonValue& field : fields->items) {
    const std::string where = "field " + std::to_string(declaration.fields.size() + 1) + ": ";
    std::string name, encoding_name;
    long long width = 0, digits = 0, decimals = 0, offset = -1;
    if (field.kind != JsonValue::Kind::kObject) {
      *error = where + "must be an object";
      return std::nullopt;
    }
    if (!TextMember(field, "name", &name, true, error) ||
        !TextMember(field, "encoding", &encoding_name, true, error) ||
        !NumberMember(field, "width", &width, error) || !NumberMember(field, "digits", &digits, error) ||
        !NumberMember(field, "decimals", &decimals, error)) {
      *error = where + *error;
      return std::nullopt;
    }
    if (field.Find("offset") && !NumberMember(field, "offset", &offset, error)) {
      *error = where + *error;
      return std::nullopt;
    }
    FieldEncoding encoding;
    if (!platform::ParseEncoding(encoding_name, &encoding)) {
      *error = where + "unknown encoding \"" + encoding_name + "\"";
      return std::nullopt;
    }
    if (platform::FixedWidth(encoding) == 0 && encoding != FieldEncoding::kDecimal && width == 0) {
      *error = where + "a text needs its \"width\"";
      return std::nullopt;
    }
    if (encoding == FieldEncoding::kDecimal && digits == 0) {
      *error = where + "a decimal needs its \"digits\"";
      return std::nullopt;
    }
    declaration.AddField(name, encoding, static_cast<std::size_t>(width), static_cast<int>(digits),
                         static_cast<int>(decimals));
    if (offset >= 0) {
      declaration.fields.back().offset = static_cast<std::size_t>(offset);
      declaration.record_size = std::max(declaration.record_size,
                                         declaration.fields.back().offset + declaration.fields.back().width);
    }
  }
  if (record_size > 0) {
    if (static_cast<std::size_t>(record_size) < declaration.record_size) {
      *error = "\"record_size\" is smaller than the fields";
      return std::nullopt;
    }
    declaration.record_size = static_cast<std::size_t>(record_size);
  }

  if (const JsonValue* keys = json.Find("keys")) {
    if (keys->kind != JsonValue::Kind::kArray) {
      *error = "\"keys\" must be a list of keys";
      return std::nullopt;
    }
    for (const JsonValue& key_json : keys->items) {
      const std::string where = "key " + std::to_string(declaration.keys.size() + 1) + ": ";
      platform::KeyDeclaration key;
      if (key_json.kind != JsonValue::Kind::kObject || !TextMember(key_json, "name", &key.name, true, error) ||
          !FlagMember(key_json, "unique", &key.unique, error) ||
          !FlagMember(key_json, "no_case", &key.no_case, error) ||
          !FlagMember(key_json, "primary", &key.primary, error) ||
          !FlagMember(key_json, "auto_number", &key.auto_number, error)) {
        *error = where + (error->empty() ? "must be an object" : *error);
        return std::nullopt;
      }
      const JsonValue* components = key_json.Find("components");
      if (!components || components->kind != JsonValue::Kind::kArray) {
        *error = where + "\"components\" must be a list of field names";
        return std::nullopt;
      }
      for (const JsonValue& component : components->items) {
        const int number = component.kind == JsonValue::Kind::kString
                               ? declaration.FieldNumber(component.text)
                               : 0;
        if (number == 0) {
          *error = where + "\"" + component.text + "\" is not a field of the file";
          return std::nullopt;
        }
        key.components.push_back(number);
      }
      declaration.keys.push_back(std::move(key));
    }
  }
  const std::string problem = declaration.Problem();
  if (!problem.empty()) {
    *error = problem;
    return std::nullopt;
  }
  return declaration;
}

}  // namespace qm::qmrec
