// qmrec: shows, dumps, loads, creates and checks record files.
//
//   qmrec info FILE
//   qmrec dump FILE [--key NAME] [--format jsonl|csv]
//   qmrec load FILE            (JSON lines on standard input)
//   qmrec create FILE --declaration DECL.json
//   qmrec check FILE
//
// Exit code 0 on success; 1 with one line on standard error otherwise.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "declaration_json.h"
#include "json_value.h"
#include "platform/record_fields.h"
#include "platform/record_file.h"
#include "platform/record_transaction.h"
#include "platform/runtime_error.h"

namespace qm::qmrec {
namespace {

using platform::FieldDeclaration;
using platform::FieldEncoding;
using platform::RecordDeclaration;
using platform::RecordFile;

constexpr const char* kUsage =
    "usage: qmrec info FILE | dump FILE [--key NAME] [--format jsonl|csv] | load FILE | "
    "create FILE --declaration DECL.json | check FILE";

int Fail(const std::string& message) {
  std::cerr << "qmrec: " << message << "\n";
  return 1;
}

// What the runtime said about the last failure, for a message.
std::string RuntimeReason() {
  const platform::RuntimeErrorState& error = platform::LastRuntimeError();
  std::string reason = error.text;
  if (!error.file_error_message.empty()) reason += " (" + error.file_error_message + ")";
  return reason;
}

// FILE with or without ".dat": the disk name the driver wants.
std::string DiskNameOf(const std::string& file) {
  const std::string extension = ".dat";
  if (file.size() > extension.size() &&
      platform::SameName(file.substr(file.size() - extension.size()), extension)) {
    return file.substr(0, file.size() - extension.size());
  }
  return file;
}

// Opens an existing file under its own stored declaration.
std::unique_ptr<RecordFile> OpenStored(const std::string& file, int mode, std::string* error) {
  const std::string disk_name = DiskNameOf(file);
  RecordDeclaration declaration;
  const int read = RecordFile::ReadDeclaration(disk_name + ".dat", &declaration);
  if (read == platform::kErrFileNotFound) {
    *error = disk_name + ".dat: no such file";
    return nullptr;
  }
  if (read != 0) {
    *error = disk_name + ".dat: not a record file";
    return nullptr;
  }
  declaration.disk_name = disk_name;
  auto record_file = std::make_unique<RecordFile>(std::move(declaration));
  const int opened = record_file->Open(mode);
  if (opened != 0) {
    *error = disk_name + ".dat: " + RuntimeReason();
    return nullptr;
  }
  return record_file;
}

std::string KeyAttributes(const platform::KeyDeclaration& key) {
  std::string text;
  if (key.unique) text += " unique";
  if (key.no_case) text += " no-case";
  if (key.primary) text += " primary";
  if (key.auto_number) text += " auto-number";
  return text;
}

int Info(const std::string& file) {
  std::string error;
  auto record_file = OpenStored(file, platform::kShareDenyNone, &error);
  if (!record_file) return Fail(error);
  const RecordDeclaration& d = record_file->Declaration();
  std::cout << "File: " << record_file->Path() << "\n"
            << "Label: " << d.label << "\n"
            << "Prefix: " << d.prefix << "\n"
            << "Driver: " << d.driver << "\n"
            << "Version: " << d.version << "\n"
            << "Record size: " << d.record_size << "\n"
            << "Records: " << record_file->Records() << "\n"
            << "Fields: " << d.fields.size() << "\n";
  for (std::size_t i = 0; i < d.fields.size(); ++i) {
    const FieldDeclaration& field = d.fields[i];
    std::cout << "  " << i + 1 << " " << field.name << " " << platform::EncodingName(field.encoding);
    if (field.encoding == FieldEncoding::kDecimal) std::cout << " " << field.digits << "," << field.decimals;
    std::cout << " offset " << field.offset << " width " << field.width << "\n";
  }
  std::cout << "Keys: " << d.keys.size() << "\n";
  for (std::size_t i = 0; i < d.keys.size(); ++i) {
    const platform::KeyDeclaration& key = d.keys[i];
    std::cout << "  " << i + 1 << " " << key.name << " (";
    for (std::size_t c = 0; c < key.components.size(); ++c) {
      std::cout << (c ? ", " : "") << d.fields[static_cast<std::size_t>(key.components[c] - 1)].name;
    }
    std::cout << ")" << KeyAttributes(key) << "\n";
  }
  return 0;
}

std::string JsonFieldValue(const FieldDeclaration& field, const std::uint8_t* record) {
  const std::string text = platform::FieldText(field, record);
  if (platform::IsText(field.encoding)) return JsonString(text);
  if ((field.encoding == FieldEncoding::kF32 || field.encoding == FieldEncoding::kF64) &&
      !std::isfinite(platform::FieldNumber(field, record))) {
    return JsonString(text);
  }
  return text;
}

std::string CsvFieldValue(const FieldDeclaration& field, const std::uint8_t* record) {
  const std::string text = platform::FieldText(field, record);
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

int Dump(const std::string& file, const std::string& key_name, const std::string& format) {
  if (format != "jsonl" && format != "csv") return Fail("unknown format \"" + format + "\": use jsonl or csv");
  std::string error;
  auto record_file = OpenStored(file, platform::kShareDenyNone, &error);
  if (!record_file) return Fail(error);
  const RecordDeclaration& d = record_file->Declaration();
  int key_number = 0;
  if (!key_name.empty()) {
    key_number = d.KeyNumber(key_name);
    if (key_number == 0) return Fail(record_file->Path() + ": no key \"" + key_name + "\"");
  }
  record_file->Send("QUICKSCAN=on");
  record_file->Set(key_number);
  std::string line;
  if (format == "csv") {
    for (std::size_t i = 0; i < d.fields.size(); ++i) line += (i ? "," : "") + d.fields[i].name;
    std::cout << line << "\n";
  }
  int result;
  while ((result = record_file->Next()) == 0) {
    line.clear();
    for (std::size_t i = 0; i < d.fields.size(); ++i) {
      const FieldDeclaration& field = d.fields[i];
      if (format == "csv") {
        line += (i ? "," : "") + CsvFieldValue(field, record_file->Record());
      } else {
        line += (i ? ", " : "{") + JsonString(field.name) + ": " + JsonFieldValue(field, record_file->Record());
      }
    }
    if (format == "jsonl") line += d.fields.empty() ? "{}" : "}";
    std::cout << line << "\n";
  }
  if (result != platform::kErrNoRecord) return Fail(record_file->Path() + ": " + RuntimeReason());
  std::cout.flush();
  if (!std::cout) return Fail("cannot write the dump");
  return 0;
}

// Fills the record buffer from one JSON line; false with `error` set.
bool RecordFromLine(RecordFile& record_file, const std::string& line, std::string* error) {
  std::string parse_error;
  const auto json = JsonValue::Parse(line, &parse_error);
  if (!json) {
    *error = "not JSON: " + parse_error;
    return false;
  }
  if (json->kind != JsonValue::Kind::kObject) {
    *error = "a record must be a JSON object";
    return false;
  }
  const RecordDeclaration& d = record_file.Declaration();
  record_file.Clear();
  for (const auto& [name, value] : json->members) {
    const int number = d.FieldNumber(name);
    if (number == 0) {
      *error = "no field \"" + name + "\" in the file";
      return false;
    }
    const FieldDeclaration& field = d.fields[static_cast<std::size_t>(number - 1)];
    const bool text = platform::IsText(field.encoding);
    if ((text && value.kind != JsonValue::Kind::kString) ||
        (!text && value.kind != JsonValue::Kind::kNumber && value.kind != JsonValue::Kind::kString)) {
      *error = field.name + ": " + (text ? "a text must be a JSON string" : "a number must be a JSON number");
      return false;
    }
    std::string problem;
    if (!platform::SetFieldText(field, record_file.Record(), value.text, platform::TextFit::kRefuse, &problem)) {
      *error = field.name + ": " + JsonString(value.text) + " does not fit (" + problem + ")";
      return false;
    }
  }
  return true;
}

int Load(const std::string& file) {
  std::string error;
  auto record_file = OpenStored(file, platform::kAccessReadWrite | platform::kShareDenyWrite, &error);
  if (!record_file) return Fail(error);
  platform::RecordTransaction transaction;
  if (transaction.Begin({record_file.get()}, 10) != 0) {
    return Fail(record_file->Path() + ": " + RuntimeReason());
  }
  std::string line;
  long line_number = 0;
  long added = 0;
  while (std::getline(std::cin, line)) {
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (!RecordFromLine(*record_file, line, &error)) {
      transaction.Rollback();
      return Fail("line " + std::to_string(line_number) + ": " + error + "; nothing was loaded");
    }
    if (record_file->Add() != 0) {
      const std::string reason = RuntimeReason();
      std::string keys;
      for (int key : record_file->DuplicatedKeys()) {
        keys += (keys.empty() ? " of " : ", ") + record_file->Declaration().keys[static_cast<std::size_t>(key - 1)].name;
      }
      transaction.Rollback();
      return Fail("line " + std::to_string(line_number) + ": " + reason + keys + "; nothing was loaded");
    }
    ++added;
  }
  if (std::cin.bad()) {
    transaction.Rollback();
    return Fail("cannot read standard input; nothing was loaded");
  }
  if (transaction.Commit() != 0) return Fail(record_file->Path() + ": " + RuntimeReason() + "; nothing was loaded");
  std::cerr << "qmrec: " << added << " records loaded into " << record_file->Path() << "\n";
  return 0;
}

int Create(const std::string& file, const std::string& declaration_path) {
  std::ifstream input(declaration_path, std::ios::binary);
  if (!input) return Fail(declaration_path + ": cannot read the declaration");
  std::stringstream contents;
  contents << input.rdbuf();
  std::string error;
  const auto json = JsonValue::Parse(contents.str(), &error);
  if (!json) return Fail(declaration_path + ": not JSON: " + error);
  const auto declaration = DeclarationFromJson(*json, DiskNameOf(file), &error);
  if (!declaration) return Fail(declaration_path + ": " + error);
  RecordFile record_file(*declaration);
  if (record_file.Create() != 0) return Fail(record_file.Path() + ": " + RuntimeReason());
  return 0;
}

int Check(const std::string& file) {
  std::string error;
  auto record_file = OpenStored(file, platform::kShareDenyNone, &error);
  if (!record_file) return Fail(error);
  const platform::RecordFileCheck check = record_file->Check();
  for (const std::string& problem : check.problems) std::cout << record_file->Path() << ": " << problem << "\n";
  if (!check.problems.empty()) return Fail(record_file->Path() + ": " + std::to_string(check.problems.size()) + " problems found");
  std::cout << record_file->Path() << ": sound, " << check.records << " records\n";
  return 0;
}

int Run(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2) return Fail(kUsage);
  const std::string& command = arguments[0];
  const std::string& file = arguments[1];
  std::string key_name, format = "jsonl", declaration_path;
  for (std::size_t i = 2; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    const bool has_value = i + 1 < arguments.size();
    if (option == "--key" && has_value && command == "dump") key_name = arguments[++i];
    else if (option == "--format" && has_value && command == "dump") format = arguments[++i];
    else if (option == "--declaration" && has_value && command == "create") declaration_path = arguments[++i];
    else return Fail("unexpected \"" + option + "\"; " + kUsage);
  }
  if (command == "info") return Info(file);
  if (command == "dump") return Dump(file, key_name, format);
  if (command == "load") return Load(file);
  if (command == "check") return Check(file);
  if (command == "create") {
    if (declaration_path.empty()) return Fail("create needs --declaration DECL.json");
    return Create(file, declaration_path);
  }
  return Fail("unknown command \"" + command + "\"; " + kUsage);
}

}  // namespace
}  // namespace qm::qmrec

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  try {
    return qm::qmrec::Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& error) {
    return qm::qmrec::Fail(error.what());
  }
}
