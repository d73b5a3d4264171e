#include "checker/check_report.h"

#include <algorithm>
#include <filesystem>

#include "platform/file_system.h"
#include "platform/record_share_lock.h"
#include "platform/runtime_error.h"

namespace qm::checker {

CheckReport::CheckReport(platform::UpgradeLibrary& library) : library_(library) {}

void CheckReport::Begin(const std::string& path, const std::string& data_version) {
  path_ = path;
  out_.open(path, std::ios::out | std::ios::trunc);
  written_ = out_.is_open();
  Write("Brevant File Integrity Checker: data version " + data_version);
}

int CheckReport::Open(platform::RecordFile& file, int mode) {
  const std::string label = file.Label();
  auto [found, first] = pending_.try_emplace(label);
  Pending& pending = found->second;
  if (first) {
    begun_.push_back(label);
    Write("Checking " + label + " (" + FullPath(file.Path()) + ")");
  }
  Show(label, "Checking");
  const int code = library_.FileOpen(file, mode);
  switch (code) {
    case 0:
    case platform::kErrFileAlreadyOpen:
      // A refused write open retried with the Recover wait may get its
      // write access after all.
      if ((mode & 0x03) != platform::kAccessRead) pending.read_only = false;
      break;
    case platform::kErrFileNotFound:
      pending.missing = true;
      Show(label, "Creating the missing file");
      return code;
    case platform::kErrKeyFileInvalid:
      pending.rebuilt = true;
      Show(label, "Rebuilding the keys");
      return code;
    case platform::kErrAccessDenied:
      if ((mode & 0x03) != platform::kAccessRead) pending.read_only = true;
      return code;
    default:
      pending.problem = platform::LastRuntimeError().file_error_message;
      if (pending.problem.empty()) pending.problem = "error " + std::to_string(code);
      Write("  " + label + " cannot be used: " + pending.problem);
      return code;
  }
  if (pending.row == 0) {
    const int saved = code;
    CheckRow row{label, FullPath(file.Path()), Outcome(pending), file.Records()};
    rows_.push_back(row);
    pending.row = rows_.size();
    Write(RowText(row));
    platform::ClearRuntimeError();
    return saved;
  }
  return code;
}

void CheckReport::Progress(const platform::UpgradeProgress& progress) {
  using Step = platform::UpgradeProgress::Step;
  switch (progress.step) {
    case Step::kChecking: Show(progress.label, "Checking"); break;
    case Step::kConverting:
      Show(progress.label, "Upgrading from version " + std::to_string(progress.from_version) + ": record " +
                               std::to_string(progress.done) + " of " + std::to_string(progress.total));
      break;
    case Step::kVerifying: Show(progress.label, "Checking the upgraded file"); break;
    case Step::kReplacing: Show(progress.label, "Putting the upgraded file in place"); break;
    case Step::kUpgraded: pending_[progress.label].upgraded_from = progress.from_version; break;
  }
}

void CheckReport::Finish(const std::string& summary) {
  for (const std::string& label : begun_) {
    Pending& pending = pending_[label];
    if (pending.row != 0) continue;
    CheckRow row{label, "", "unusable" + (pending.problem.empty() ? "" : ": " + pending.problem), -1};
    rows_.push_back(row);
    pending.row = rows_.size();
    Write(RowText(row));
  }
  summary_ = summary;
  if (!summary.empty()) Write(summary);
  out_.close();
}

void CheckReport::Write(const std::string& line) {
  if (!out_.is_open()) return;
  out_ << line << '\n';
  out_.flush();
  written_ = written_ && out_.good();
}

void CheckReport::Show(const std::string& label, const std::string& step) {
  if (status) status(label, step, static_cast<int>(rows_.size()));
}

std::string CheckReport::FullPath(const std::string& path) {
  std::filesystem::path full(path);
  if (full.is_relative()) full = std::filesystem::path(platform::CurrentDirectory().value_or("")) / full;
  return full.lexically_normal().string();
}

std::string CheckReport::Outcome(const Pending& pending) {
  std::string outcome;
  const auto add = [&](const std::string& part) { outcome += (outcome.empty() ? "" : ", ") + part; };
  if (pending.upgraded_from) add("upgraded from version " + std::to_string(*pending.upgraded_from));
  if (pending.missing) add("created");
  if (pending.rebuilt) add("keys rebuilt");
  if (pending.read_only) add("opened read-only");
  return outcome.empty() ? "sound" : outcome;
}

std::string CheckReport::RowText(const CheckRow& row) {
  std::string text = row.label;
  text.resize(std::max<std::size_t>(text.size() + 1, 8), ' ');
  text += row.outcome;
  if (row.records >= 0) text += ", " + std::to_string(row.records) + " records";
  if (!row.disk_name.empty()) text += " (" + row.disk_name + ")";
  return text;
}

}  // namespace qm::checker
