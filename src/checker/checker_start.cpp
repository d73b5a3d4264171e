#include "checker/checker_start.h"

#include <algorithm>
#include <vector>

#include "checker/data_dictionary.h"
#include "checker/file_managers.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/record_fields.h"
#include "platform/record_transaction.h"

namespace qm::checker {

namespace {

constexpr const char* kSharedSettings = "Qmoor.Ini";

std::string Clipped(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string Cut(std::string text, std::size_t length) {
  if (text.size() > length) text.resize(length);
  return text;
}

std::string ReadShared(const std::string& directory, std::string_view section, std::string_view key,
                       const std::string& default_value) {
  return platform::IniFile(platform::JoinPath(Clipped(directory), kSharedSettings)).Get(section, key, default_value);
}

const platform::FieldDeclaration& Field(platform::RecordFile& file, std::string_view name) {
  const platform::RecordDeclaration& declaration = file.Declaration();
  return declaration.fields[static_cast<std::size_t>(declaration.FieldNumber(name) - 1)];
}

// Negates a positive value of `field`; answers whether it did.
bool TurnNegative(platform::RecordFile& file, const platform::FieldDeclaration& field) {
  const double value = platform::FieldNumber(field, file.Record());
  if (!(value > 0.0)) return false;
  return platform::SetFieldNumber(field, file.Record(), value * -1.0);
}

// Reads `file` in `key_name` order from its start, through its manager.
void ReadAll(FileManager& manager, platform::RecordFile& file, std::string_view key_name,
             const std::function<void()>& each) {
  file.Clear();
  if (manager.SetOrder(file.Declaration().KeyNumber(key_name)) != LevelNone) return;
  while (manager.Next() == LevelNone) each();
}

}  // namespace

CheckerSettings ReadCheckerSettings(const std::string& current) {
  CheckerSettings settings;
  settings.specs_path = Cut(ReadShared(current, "Specs", "Path", current), kGlobalTextLength);
  settings.data_dir = Cut(ReadShared(settings.specs_path, "USER", "Datadrive", current), kGlobalTextLength);
  settings.data_version = Cut(ReadShared(settings.data_dir, "SPECS", "Version", "1"), kDataVersionLength);
  return settings;
}

bool VersionIsOlder(std::string_view data_version) {
  const std::size_t length = std::max(data_version.size(), ProductVersion.size());
  for (std::size_t i = 0; i < length; ++i) {
    const auto mine = static_cast<unsigned char>(i < data_version.size() ? data_version[i] : ' ');
    const auto product = static_cast<unsigned char>(i < ProductVersion.size() ? ProductVersion[i] : ' ');
    if (mine != product) return mine < product;
  }
  return false;
}

std::string RegisterFiles(platform::UpgradeLibrary& library, const std::string& current) {
  const std::string specs_path = Cut(ReadShared(current, "Specs", "Path", "1"), kGlobalTextLength);
  const std::string data_dir = Cut(ReadShared(specs_path, "USER", "Datadrive", current), kGlobalTextLength);
  library.SetUpgradePath(Clipped(data_dir), 0);
  library.SetOption("BadFile", 0);

  platform::RecordDeclaration placeholder_declaration;
  placeholder_declaration.label = "__GKREC";
  placeholder_declaration.disk_name = "__GKREC";
  placeholder_declaration.driver = "KEYREC";
  placeholder_declaration.prefix = "__GKREC";
  placeholder_declaration.AddField("__GKREC:A", platform::FieldEncoding::kU8);
  const platform::RecordFile placeholder(placeholder_declaration);
  library.AddDriver("Krec", placeholder, 1);

  library.IgnoreDriver("AllFiles", 1);
  library.SetOption("SPCreate", 1);

  using enum DictionaryFile;
  for (DictionaryFile id : {BvS01, TdI01, TdI02, TdV01, TdV02, TdV03, TdV04, TdV05, TdV06, TdV07, TdV08, TdV30,
                            TdV301, TdV40, TdV50, TdV51, TdW01}) {
    const FileDefinition& definition = DataDictionary::Definition(id);
    library.UsingFileEx(DataDictionary::File(id), definition.declaration.version, 0, definition.declaration.label,
                        definition.declaration.prefix);
  }
  return data_dir;
}

SignConversionResult SignConversion(CheckerFiles& files) {
  SignConversionResult result;
  platform::RecordFile& jobs = DataDictionary::File(DictionaryFile::TdV30);
  platform::RecordFile& details = DataDictionary::File(DictionaryFile::TdV301);
  FileManager* job_manager = files.Access(DictionaryFile::TdV30);
  FileManager* detail_manager = files.Access(DictionaryFile::TdV301);
  if (job_manager == nullptr || detail_manager == nullptr) return result;

  // Both files change together or not at all should the program stop part
  // way; a file that cannot join the transaction is still converted.
  platform::RecordTransaction transaction;
  transaction.Begin({&jobs, &details}, 1);

  const platform::FieldDeclaration& units = Field(jobs, "V30:JOBUNITS");
  const platform::FieldDeclaration& job_cost = Field(jobs, "V30:JOBCOST");
  // Only a change that was written is counted; one that was refused (a
  // file opened read-only refuses every write) is counted apart, so that
  // the user is not told there was nothing to convert.
  ReadAll(*job_manager, jobs, "V30:JobNumberKey", [&] {
    if (platform::FieldNumber(units, jobs.Record()) < 0.0 && TurnNegative(jobs, job_cost)) {
      ++(jobs.Put() == 0 ? result.job_costs : result.not_written);
    }
  });

  const platform::FieldDeclaration& detail_cost = Field(details, "V301:JOBCOST");
  const platform::FieldDeclaration& quantity = Field(details, "V301:ITEMQTY");
  ReadAll(*detail_manager, details, "V301:JobNumberKey", [&] {
    const bool cost = TurnNegative(details, detail_cost);
    const bool units_turned = TurnNegative(details, quantity);
    if (!cost && !units_turned) return;
    if (details.Put() == 0) {
      result.detail_costs += cost;
      result.detail_quantities += units_turned;
    } else {
      result.not_written += cost + units_turned;
    }
  });

  if (transaction.Active() && transaction.Commit() != 0) {
    // Nothing of the transaction was kept.
    result.not_written += result.Changed();
    result.job_costs = result.detail_costs = result.detail_quantities = 0;
  }
  return result;
}

}  // namespace qm::checker
