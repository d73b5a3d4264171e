#include "checker/checker_main.h"

#include "checker/data_dictionary.h"
#include "checker/file_managers.h"
#include "framework/errors/error_log.h"
#include "framework/errors/error_manager.h"
#include "framework/files/file_opener.h"
#include "framework/settings/ini_manager.h"
#include "framework/text/text_matcher.h"
#include "framework/windows/application.h"
#include "framework/windows/thread_globals.h"
#include "platform/file_system.h"
#include "platform/threads.h"

namespace qm::checker {

namespace {

using platform::ControlKind;
using enum DictionaryFile;

constexpr int kPropertyFrameFlag = 30976;

std::string Clipped(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string CurrentDirectoryText() { return Clipped(platform::CurrentDirectory().value_or(".")); }

platform::WindowDef FrameDefinition() {
  return {.id = "TdxConv$TdxConv001",
          .caption = "Brevant File Integrity Checker",
          .is_frame = true,
          .resizable = true,
          .x = 24,
          .y = 24,
          .width = 860,
          .height = 420,
          .controls = {{kReportList, ControlKind::kList, "",
                        "[52L(2)|M~File~@s8@200L(2)|M~Disk name~@s128@130L(2)|M~Found and done~@s80@"
                        "50R(2)|M~Records~@s14@]|M~What the check found~"},
                       {kSummary, ControlKind::kString, "", "@s255"},
                       {kClose, ControlKind::kButton, "&Close", "", "", "", 0, false, false, true}}};
}

platform::WindowDef ProgressDefinition() {
  return {.id = "TdxConv$Progress",
          .caption = "Checking the data files",
          .x = 120,
          .y = 120,
          .width = 460,
          .height = 120,
          .controls = {{1, ControlKind::kPrompt, "Checking the data files, one after the other. Please wait."},
                       {kProgressFile, ControlKind::kString, "", "@s40"},
                       {kProgressStep, ControlKind::kString, "", "@s80"},
                       {kProgressCount, ControlKind::kString, "", "@s40"}}};
}

}  // namespace

CheckerMain::CheckerMain(CheckerFiles& files, CheckReport& report)
    : ProcedureWindow("Main", FrameDefinition()), files_(files), report_(report) {}

ErrorLevel CheckerMain::Init() {
  settings_ = ReadCheckerSettings(CurrentDirectoryText());
  DataDictionary::SetSystemFileName(platform::JoinPath(Clipped(settings_.specs_path), "BvS01"));
  return ProcedureWindow::Init();
}

ErrorLevel CheckerMain::OpenFiles() {
  OpenProgress();
  report_.Begin(platform::JoinPath(Clipped(settings_.data_dir), kReportFileName), settings_.data_version);
  // The forced opens reach every file related to TdI01 and TdV50; the
  // others are opened one by one. What goes wrong is reported as it
  // happens, and the report shows it; no result stops the check.
  files_.Relations(BvS01)->OpenRelations();
  files_.Relations(TdI01)->FORCINGOPEN = true;
  files_.Relations(TdI01)->OpenRelations();
  for (DictionaryFile file : {TdV06, TdV07, TdV08}) files_.Relations(file)->OpenRelations();
  files_.Relations(TdV50)->FORCINGOPEN = true;
  files_.Relations(TdV50)->OpenRelations();
  files_.Relations(TdW01)->OpenRelations();
  for (DictionaryFile file : {TdI02, TdV01, TdV02, TdV03, TdV04, TdV05, TdV30, TdV301, TdV40, TdV51}) {
    if (FileManager* manager = files_.Access(file)) manager->EnsureOpen(kUsageReturns);
  }
  return LevelNone;
}

void CheckerMain::InitComponents() {
  std::string summary;
  if (VersionIsOlder(settings_.data_version)) {
    if (progress_) progress_->SetControlText(kProgressStep, "Converting the signs of job costs");
    conversion_ = SignConversion(files_);
    converted_ = true;
    summary = "Sign conversion for data version " + settings_.data_version + ": " +
              std::to_string(conversion_.job_costs) + " job costs, " + std::to_string(conversion_.detail_costs) +
              " detail costs, " + std::to_string(conversion_.detail_quantities) + " detail quantities made negative.";
    if (conversion_.not_written > 0) {
      summary += " " + std::to_string(conversion_.not_written) + " could not be written and are still positive.";
    }
  } else {
    summary = "Data version " + settings_.data_version + ": no sign conversion needed.";
  }
  report_.Finish(summary);
  CloseProgress();
}

ErrorLevel CheckerMain::SetupWindow() {
  BUTTONS->push_back({kClose, ResponseCompleted});
  std::vector<std::vector<std::string>> rows;
  for (const CheckRow& row : report_.Rows()) {
    rows.push_back({row.label, row.disk_name, row.outcome, row.records < 0 ? "" : std::to_string(row.records)});
  }
  MYWINDOW->SetListRows(kReportList, std::move(rows));
  std::string summary = report_.Summary();
  if (!report_.Written() && !report_.Path().empty()) {
    summary += " The report could not be written to " + report_.Path() + ".";
  }
  MYWINDOW->SetControlText(kSummary, summary);
  MYWINDOW->SetProperty(kPropertyFrameFlag, 0L);
  return LevelNone;
}

void CheckerMain::CloseFiles() {
  for (DictionaryFile file : {BvS01, TdI01, TdV06, TdV07, TdV08, TdV50, TdW01}) {
    if (RelationManager* relations = files_.Relations(file)) relations->CloseRelations();
  }
}

void CheckerMain::OpenProgress() {
  progress_ = platform::OpenWindow(ProgressDefinition(), nullptr);
  report_.status = [this](const std::string& label, const std::string& step, int done) {
    if (!progress_) return;
    progress_->SetControlText(kProgressFile, label);
    progress_->SetControlText(kProgressStep, step);
    progress_->SetControlText(kProgressCount, std::to_string(done) + " of " +
                                                  std::to_string(kDictionaryFileCount) + " files done");
  };
}

void CheckerMain::CloseProgress() {
  report_.status = nullptr;
  if (progress_) progress_->Close();
  progress_.reset();
}

int ProgramEntry() {
  ErrorManager& errors = GlobalErrorManager();
  errors.Start(GlobalErrorStatus());
  GlobalTextMatcher().Init();
  GlobalTextMatcher().SetOption(1, true);
  GlobalTextMatcher().SetOption(2, false);
  GlobalIniManager().Setup("./TdxConv.INI", 0, 0);
  platform::SetThreadHooks([] { CheckerFiles::Thread().Start(GlobalErrorManager()); },
                           [] { CheckerFiles::ReleaseThread(); });
  CheckerFiles::Thread().Start(errors);

  platform::UpgradeLibrary& library = platform::UpgradeLibrary::Process();
  library.PassHandleForUpgrading();
  static bool registration_done = false;
  if (!registration_done) {
    registration_done = true;
    RegisterFiles(library, CurrentDirectoryText());
  }

  // The error log is opened through the library like every other file.
  StdErrorLog::SetFileOpen([&library](platform::TextFile& file, int mode) { return library.FileOpen(file, mode); });

  CheckReport report(library);
  library.SetProgress([&report](const platform::UpgradeProgress& progress) { report.Progress(progress); });
  SetPhysicalOpen([&report](platform::RecordFile& file, int mode) { return report.Open(file, mode); });
  {
    CheckerMain main(CheckerFiles::Thread(), report);
    LastResponse() = main.Run();
  }
  CheckerFiles::ReleaseThread();
  SetPhysicalOpen({});
  library.SetProgress({});
  GlobalIniManager().FinishHook();
  GlobalIniManager().Finish();
  GlobalTextMatcher().Kill();
  return 0;
}

}  // namespace qm::checker
