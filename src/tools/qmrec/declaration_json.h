// A record file declaration written as JSON (docs/record-files.md).
#pragma once

#include <optional>
#include <string>

#include "json_value.h"
#include "platform/record_declaration.h"

namespace qm::qmrec {

// The declaration described by `json`, with `disk_name` as its disk name;
// nullopt with `error` set when a member is missing or wrong, or the
// declaration as a whole cannot describe a file.
std::optional<platform::RecordDeclaration> DeclarationFromJson(const JsonValue& json,
                                                              const std::string& disk_name,
                                                              std::string* error);

}  // namespace qm::qmrec
