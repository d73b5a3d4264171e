#include "framework/errors/error_manager.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <string_view>

#include "framework/errors/history_window.h"
#include "framework/errors/message_table.h"
#include "platform/pictures.h"
#include "platform/presenter.h"
#include "platform/runtime_error.h"

namespace qm {
namespace {

// Messages are filled in within a 2000-byte working text.
constexpr std::size_t kWorkingTextLength = 1999;
constexpr std::uint16_t kIdMask = 0xFFFF;
constexpr std::string_view kFatalSuffix = "  Press OK to end this application";

std::string Clip(std::string_view text) {
  const auto end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(text.substr(0, end + 1));
}

std::string ClipTo(std::string_view text, std::size_t length) { return Clip(text).substr(0, length); }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

bool TokenAt(std::string_view text, std::size_t at, std::string_view token) {
  return text.size() - at >= token.size() && EqualIgnoringCase(text.substr(at, token.size()), token);
}

// Runtime error codes whose meaning lies with the file driver, so the
// driver's own text and code say more than the runtime's.
bool IsDriverError(std::int32_t code) { return code == 90 || code == 100 || code == 47; }

// The entry a lookup of `id` finds: the last one with that id, so that an
// entry added later overrides an earlier one. Null when there is none.
template <class Entries>
auto FindLast(Entries& errors, std::uint16_t id) -> decltype(&errors.front()) {
  const auto found = std::find_if(errors.rbegin(), errors.rend(),
                                  [id](const ErrorEntry& entry) { return (entry.ID & kIdMask) == id; });
  return found != errors.rend() ? &*found : nullptr;
}

// Writing the log goes through runtime file operations, which set the
// thread's runtime error state; a caller that raised an error must still
// find the state of its own failure afterwards.
class RuntimeErrorKeeper {
 public:
  RuntimeErrorKeeper() : saved_(platform::LastRuntimeError()) {}
  ~RuntimeErrorKeeper() {
    if (saved_.code == platform::kErrNone && saved_.file.empty() && saved_.file_error_code == "0" &&
        saved_.file_error_message.empty()) {
      platform::ClearRuntimeError();
    } else {
      platform::SetRuntimeError(saved_.code, saved_.file, saved_.file_error_code, saved_.file_error_message);
    }
  }
  RuntimeErrorKeeper(const RuntimeErrorKeeper&) = delete;
  RuntimeErrorKeeper& operator=(const RuntimeErrorKeeper&) = delete;

 private:
  const platform::RuntimeErrorState saved_;
};

}  // namespace

ErrorManager::ErrorManager() = default;

ErrorManager::~ErrorManager() = default;

void ErrorManager::Start(platform::PerThread<ErrorStatus>& status) {
  STATUS = &status;
  platform::CriticalSectionGuard guard(CRITSECT);
  if (STDERRORLOG) return;
  STDERRORLOG = std::make_unique<StdErrorLog>();
  DEFAULTCATEGORY = "VLX";
  ERRORS.clear();
  PROCNAMES.clear();
  HISTORY.clear();
  HISTORYTHRESHOLD = 0;
  HISTORYVIEWLEVEL = LevelFatal;
  HISTORYRESETONVIEW = false;
  Setup(*STDERRORLOG);
}

void ErrorManager::Shutdown() {
  platform::CriticalSectionGuard guard(CRITSECT);
  ERRORS.clear();
  HISTORY.clear();
  PROCNAMES.clear();
  if (ERRORLOG == STDERRORLOG.get()) ERRORLOG = nullptr;
  STDERRORLOG.reset();
}

void ErrorManager::AddError(std::uint32_t id, const std::string& message, const std::string& title,
                            ErrorLevel level, const std::string& category) {
  platform::CriticalSectionGuard guard(CRITSECT);
  ERRORS.push_back(ErrorEntry{id, message, title, level, category});
}

bool ErrorManager::LoadMessageTable(std::span<const std::uint8_t> table) {
  auto entries = ReadMessageTable(table);
  if (!entries) return false;
  platform::CriticalSectionGuard guard(CRITSECT);
  ERRORS.insert(ERRORS.end(), std::make_move_iterator(entries->begin()),
                std::make_move_iterator(entries->end()));
  return true;
}

void ErrorManager::AddHistoryEntry(const HistoryEntry& entry) {
  platform::CriticalSectionGuard guard(CRITSECT);
  HISTORY.push_back(entry);
}

unsigned ErrorManager::ShowHistory(const std::string& caption, const std::string& icon, unsigned buttons,
                                   unsigned default_button) {
  HistoryWindow window(*this, caption, icon, buttons, default_button);
  return window.Show();
}

unsigned ErrorManager::Report(const std::string& text, const std::string& title, const std::string& icon,
                              unsigned buttons, unsigned default_button, int style) {
  bool silent;
  std::int32_t threshold;
  std::int32_t view_level;
  bool reset_on_view;
  {
    platform::CriticalSectionGuard guard(CRITSECT);
    if (LOGERRORS && ERRORLOG) {
      const RuntimeErrorKeeper keeper;
      // A log that cannot be written must not keep the user from the message.
      if (ERRORLOG->Open(false) == LevelNone) {
        ERRORLOG->Write(platform::FormatPicture("D17", std::to_string(platform::Today())) + " " +
                        platform::FormatPicture("T8", std::to_string(platform::ClockNow())) +
                        " --> " + text);
        ERRORLOG->Close(false);
      }
    }
    if (HISTORYTHRESHOLD != 0) {
      if (HISTORYTHRESHOLD > 0) {
        while (HISTORY.size() >= static_cast<std::size_t>(HISTORYTHRESHOLD)) HISTORY.pop_front();
      }
      const auto id = static_cast<std::uint16_t>(ErrorId() & kIdMask);
      AddHistoryEntry(HistoryEntry{CategoryOf(id), text.substr(0, kStatusTextLength), id});
    }
    silent = SILENT;
    threshold = HISTORYTHRESHOLD;
    view_level = HISTORYVIEWLEVEL;
    reset_on_view = HISTORYRESETONVIEW;
  }

  if (silent) return default_button;
  if (threshold == 0) return ShowMessageBox(text, title, icon, buttons, default_button, style);
  if (static_cast<std::int32_t>(Fatality()) != view_level) return default_button;
  const unsigned answer = ShowHistory(title, icon, buttons, default_button);
  if (reset_on_view) ClearHistory();
  return answer;
}

unsigned ErrorManager::ShowMessageBox(const std::string& text, const std::string& title,
                                      const std::string& icon, unsigned buttons, unsigned default_button,
                                      int style) {
  return platform::CurrentPresenter().ShowMessage(
      platform::MessageBoxRequest{text, title, icon, buttons, default_button, style});
}

void ErrorManager::RemoveError(std::uint16_t id) {
  platform::CriticalSectionGuard guard(CRITSECT);
  if (const ErrorEntry* entry = Find(id)) ERRORS.erase(ERRORS.begin() + (entry - ERRORS.data()));
}

void ErrorManager::Setup(ErrorLog& error_log) {
  platform::CriticalSectionGuard guard(CRITSECT);
  ERRORLOG = &error_log;
  LoadMessageTable(BuiltInMessageTable());
}

std::string ErrorManager::SubstituteText() {
  ErrorStatus* status = Status();
  if (!status) return {};
  const ErrorStatus& s = *status;
  auto error_text = [&] {
    if (IsDriverError(s.SAVEERRORCODE)) return s.SAVEFILEERROR + " (" + s.SAVEFILEERRORCODE + ")";
    return s.SAVEERROR + " (" + std::to_string(s.SAVEERRORCODE) + ")";
  };
  auto previous = [&] {
    platform::CriticalSectionGuard guard(CRITSECT);
    const ErrorEntry* entry = Find(static_cast<std::uint16_t>(s.PREVERRORID & kIdMask));
    return entry ? entry->MESSAGE : std::string();
  };
  // In this order a longer token is tried before any token that is its
  // prefix ("%FileErrorCode" before "%FileError" before "%File").
  const std::pair<std::string_view, std::function<std::string()>> tokens[] = {
      {"%ErrorFile", [&] { return s.SAVEERRORFILE; }},
      {"%FileErrorCode", [&] { return s.SAVEFILEERRORCODE; }},
      {"%FileError", [&] { return s.SAVEFILEERROR; }},
      {"%File", [&] { return s.FILENAME; }},
      {"%Key", [&] { return s.KEYNAME; }},
      {"%ErrorCode", [&] { return std::to_string(s.SAVEERRORCODE); }},
      {"%ErrorText", error_text},
      {"%Error", [&] { return s.SAVEERROR; }},
      {"%Message", [&] { return s.MESSAGETEXT; }},
      {"%Field", [&] { return s.FIELDNAME; }},
      {"%Procedure", [&] { return CurrentProcedureName(); }},
      {"%Category", [&] { return s.ERRORBUFFER.CATEGORY; }},
      {"%Previous", previous},
  };

  // One pass over the message: a value is inserted as it is and never
  // searched for tokens, so a file name holding "%Key" stays a file name.
  const std::string_view message = s.ERRORBUFFER.MESSAGE;
  std::string text;
  std::size_t at = 0;
  while (at < message.size() && text.size() < kWorkingTextLength) {
    auto token = std::end(tokens);
    if (message[at] == '%') {
      token = std::find_if(std::begin(tokens), std::end(tokens),
                           [&](const auto& candidate) { return TokenAt(message, at, candidate.first); });
    }
    if (token == std::end(tokens)) {
      text += message[at++];
      continue;
    }
    const std::string value = token->second();
    // A value that reads as the token itself leaves the text as it was.
    if (EqualIgnoringCase(value, token->first)) {
      text += message.substr(at, token->first.size());
    } else {
      text += value;
    }
    at += token->first.size();
  }
  if (text.size() > kWorkingTextLength) text.resize(kWorkingTextLength);
  return text;
}

ErrorLevel ErrorManager::HandleNone() { return LevelNone; }

ErrorLevel ErrorManager::HandleFatal() {
  Report(SubstituteText() + std::string(kFatalSuffix), Title(), platform::kIconStop, platform::kButtonOk,
         platform::kButtonOk, MsgStyle());
  platform::Halt(kFatalExitCode);
}

ErrorLevel ErrorManager::HandleNotify() {
  Report(SubstituteText(), Title(), platform::kIconStop, platform::kButtonOk, platform::kButtonOk,
         MsgStyle());
  return LevelNotify;
}

ErrorLevel ErrorManager::HandleOther() { return HandleProgram(); }

ErrorLevel ErrorManager::HandleProgram() { return HandleFatal(); }

ErrorLevel ErrorManager::HandleQuestion() {
  const unsigned answer = Report(SubstituteText(), Title(), platform::kIconQuestion,
                                 platform::kButtonYes | platform::kButtonNo, platform::kButtonYes, MsgStyle());
  return answer == platform::kButtonYes ? LevelNone : LevelCancel;
}

unsigned ErrorManager::ViewHistory() {
  return ShowHistory("Errors History", "", platform::kButtonOk | platform::kButtonHelp, platform::kButtonOk);
}

void ErrorManager::SetFieldName(const std::string& text) {
  if (ErrorStatus* status = Status()) status->FIELDNAME = ClipTo(text, kStatusTextLength);
}

void ErrorManager::SetFileName(const std::string& text) {
  if (ErrorStatus* status = Status()) status->FILENAME = ClipTo(text, kStatusTextLength);
}

void ErrorManager::SetKeyName(const std::string& text) {
  if (ErrorStatus* status = Status()) status->KEYNAME = ClipTo(text, kStatusTextLength);
}

void ErrorManager::SetMessageText(const std::string& text) {
  if (ErrorStatus* status = Status()) status->MESSAGETEXT = ClipTo(text, kStatusTextLength);
}

void ErrorManager::CaptureRuntimeError() {
  ErrorStatus* status = Status();
  if (!status) return;
  const platform::RuntimeErrorState& runtime = platform::LastRuntimeError();
  status->SAVEERRORFILE = ClipTo(runtime.file, kSavedTextLength);
  status->SAVEERRORCODE = runtime.code;
  status->SAVEERROR = ClipTo(runtime.text, kSavedTextLength);
  status->SAVEFILEERRORCODE = ClipTo(runtime.file_error_code, kSavedTextLength);
  status->SAVEFILEERROR = ClipTo(runtime.file_error_message, kSavedTextLength);
}

void ErrorManager::SelectError(std::uint16_t id) { Select(id); }

bool ErrorManager::Select(std::uint16_t id) {
  ErrorStatus* status = Status();
  if (!status) return false;
  status->PREVERRORID = static_cast<std::int32_t>(status->ERRORBUFFER.ID);
  platform::CriticalSectionGuard guard(CRITSECT);
  const ErrorEntry* entry = Find(id);
  status->ERRORBUFFER = entry ? *entry : ErrorEntry{};
  return entry != nullptr;
}

ErrorLevel ErrorManager::Dispatch(std::uint16_t id) {
  if (!Status()) return LevelNone;
  SelectError(id);
  switch (Fatality()) {
    case LevelNone:
      return HandleNone();
    case LevelQuestion:
    case LevelCancel:
      return HandleQuestion();
    case LevelProgram:
      return HandleProgram();
    case LevelFatal:
      return HandleFatal();
    case LevelNotify:
      HandleNotify();
      return LevelNotify;
    default:
      return HandleOther();
  }
}

ErrorLevel ErrorManager::Raise(std::uint16_t id) {
  CaptureRuntimeError();
  return Dispatch(id);
}

ErrorLevel ErrorManager::RaiseWithText(std::uint16_t id, const std::string& text) {
  SetMessageText(text);
  return Raise(id);
}

unsigned ErrorManager::Ask(std::uint16_t id, unsigned buttons, unsigned default_button) {
  if (Silent()) return default_button;
  // An empty question cannot be answered knowingly.
  if (!Select(id)) return default_button;
  return ShowMessageBox(SubstituteText(), Title(), platform::kIconQuestion, buttons, default_button,
                        MsgStyle());
}

std::string ErrorManager::CategoryOf(std::uint16_t id) const {
  platform::CriticalSectionGuard guard(CRITSECT);
  if (id == kDefaultCategoryId) return DEFAULTCATEGORY;
  const ErrorEntry* entry = Find(id);
  return entry && !entry->CATEGORY.empty() ? entry->CATEGORY : DEFAULTCATEGORY;
}

void ErrorManager::AssignCategory(std::uint16_t id, const std::string& category) {
  platform::CriticalSectionGuard guard(CRITSECT);
  if (id == kDefaultCategoryId) {
    DEFAULTCATEGORY = category;
  } else if (ErrorEntry* entry = FindLast(ERRORS, id)) {
    entry->CATEGORY = category;
  }
}

void ErrorManager::PushProcedureName(const std::string& name) {
  platform::CriticalSectionGuard guard(CRITSECT);
  PROCNAMES.push_back(ProcNameEntry{platform::CurrentThread(), Clip(name)});
}

void ErrorManager::PopProcedureName() {
  platform::CriticalSectionGuard guard(CRITSECT);
  const int thread = platform::CurrentThread();
  const auto found = std::find_if(PROCNAMES.rbegin(), PROCNAMES.rend(),
                                  [thread](const ProcNameEntry& entry) { return entry.THREAD == thread; });
  if (found != PROCNAMES.rend()) PROCNAMES.erase(std::next(found).base());
}

std::string ErrorManager::CurrentProcedureName() const {
  platform::CriticalSectionGuard guard(CRITSECT);
  const int thread = platform::CurrentThread();
  const auto found = std::find_if(PROCNAMES.rbegin(), PROCNAMES.rend(),
                                  [thread](const ProcNameEntry& entry) { return entry.THREAD == thread; });
  return found != PROCNAMES.rend() ? found->NAME : std::string();
}

void ErrorManager::ClearHistory() {
  platform::CriticalSectionGuard guard(CRITSECT);
  HISTORY.clear();
}

std::vector<HistoryEntry> ErrorManager::History() const {
  platform::CriticalSectionGuard guard(CRITSECT);
  return {HISTORY.begin(), HISTORY.end()};
}

bool ErrorManager::Silent() const {
  platform::CriticalSectionGuard guard(CRITSECT);
  return SILENT;
}

void ErrorManager::SetSilent(bool silent) {
  platform::CriticalSectionGuard guard(CRITSECT);
  SILENT = silent;
}

bool ErrorManager::LogErrors() const {
  platform::CriticalSectionGuard guard(CRITSECT);
  return LOGERRORS;
}

void ErrorManager::SetLogErrors(bool log_errors) {
  platform::CriticalSectionGuard guard(CRITSECT);
  LOGERRORS = log_errors;
}

std::int32_t ErrorManager::HistoryThreshold() const {
  platform::CriticalSectionGuard guard(CRITSECT);
  return HISTORYTHRESHOLD;
}

void ErrorManager::SetHistoryThreshold(std::int32_t threshold) {
  platform::CriticalSectionGuard guard(CRITSECT);
  HISTORYTHRESHOLD = threshold;
}

std::int32_t ErrorManager::HistoryViewLevel() const {
  platform::CriticalSectionGuard guard(CRITSECT);
  return HISTORYVIEWLEVEL;
}

void ErrorManager::SetHistoryViewLevel(std::int32_t level) {
  platform::CriticalSectionGuard guard(CRITSECT);
  HISTORYVIEWLEVEL = level;
}

bool ErrorManager::HistoryResetOnView() const {
  platform::CriticalSectionGuard guard(CRITSECT);
  return HISTORYRESETONVIEW;
}

void ErrorManager::SetHistoryResetOnView(bool reset) {
  platform::CriticalSectionGuard guard(CRITSECT);
  HISTORYRESETONVIEW = reset;
}

std::string ErrorManager::DefaultCategory() const {
  platform::CriticalSectionGuard guard(CRITSECT);
  return DEFAULTCATEGORY;
}

void ErrorManager::SetDefaultCategory(const std::string& category) {
  platform::CriticalSectionGuard guard(CRITSECT);
  DEFAULTCATEGORY = category;
}

std::int16_t ErrorManager::MsgStyle() const {
  platform::CriticalSectionGuard guard(CRITSECT);
  return MSGSTYLE;
}

void ErrorManager::SetMsgStyle(std::int16_t style) {
  platform::CriticalSectionGuard guard(CRITSECT);
  MSGSTYLE = style;
}

std::string ErrorManager::Title() const {
  const ErrorStatus* status = Status();
  return status ? status->ERRORBUFFER.TITLE : std::string();
}

ErrorLevel ErrorManager::Fatality() const {
  const ErrorStatus* status = Status();
  return status ? status->ERRORBUFFER.FATALITY : LevelNone;
}

std::uint32_t ErrorManager::ErrorId() const {
  const ErrorStatus* status = Status();
  return status ? status->ERRORBUFFER.ID : 0;
}

ErrorStatus* ErrorManager::Status() const { return STATUS ? &STATUS->Get() : nullptr; }

const ErrorEntry* ErrorManager::Find(std::uint16_t id) const { return FindLast(ERRORS, id); }

}  // namespace qm
