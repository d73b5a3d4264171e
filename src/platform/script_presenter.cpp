#include "platform/script_presenter.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/threads.h"

namespace qm::platform {
namespace {

struct Word {
  std::string text;
  bool quoted = false;
};

// Splits a script line into words; nullopt when a quote is not closed.
std::optional<std::vector<Word>> SplitWords(const std::string& line) {
  std::vector<Word> words;
  size_t position = 0;
  while (position < line.size()) {
    if (line[position] == ' ' || line[position] == '\t') {
      ++position;
      continue;
    }
    Word word;
    if (line[position] == '"') {
      word.quoted = true;
      ++position;
      bool closed = false;
      while (position < line.size()) {
        const char c = line[position++];
        if (c == '\\' && position < line.size()) {
          word.text += line[position++];
        } else if (c == '"') {
          closed = true;
          break;
        } else {
          word.text += c;
        }
      }
      if (!closed) return std::nullopt;
    } else {
      while (position < line.size() && line[position] != ' ' && line[position] != '\t') {
        word.text += line[position++];
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::optional<int> ParseNumber(const std::string& text) {
  int number = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return number;
}

std::optional<unsigned> ButtonByName(const std::string& name) {
  static const std::pair<const char*, unsigned> kNames[] = {
      {"ok", kButtonOk},         {"yes", kButtonYes},       {"no", kButtonNo},
      {"abort", kButtonAbort},   {"retry", kButtonRetry},   {"ignore", kButtonIgnore},
      {"cancel", kButtonCancel}, {"help", kButtonHelp},
  };
  for (const auto& [text, button] : kNames) {
    if (name == text) return button;
  }
  return std::nullopt;
}

std::string ButtonList(unsigned buttons) {
  std::string list;
  for (unsigned bit = kButtonOk; bit <= kButtonHelp; bit <<= 1) {
    if (!(buttons & bit)) continue;
    if (!list.empty()) list += ",";
    list += ButtonName(bit);
  }
  return list;
}

std::string SecondsText(std::chrono::milliseconds timeout) {
  const auto count = timeout.count();
  if (count % 1000 == 0) return std::to_string(count / 1000) + " s";
  return std::to_string(count) + " ms";
}

}  // namespace

ScriptPresenter::ScriptPresenter(std::vector<std::string> script_lines, std::FILE* transcript,
                                 std::chrono::milliseconds timeout)
    : script_lines_(std::move(script_lines)), transcript_(transcript), timeout_(timeout) {}

ScriptPresenter::~ScriptPresenter() = default;

std::unique_ptr<ScriptPresenter> ScriptPresenter::FromEnvironment() {
  const char* script_path = std::getenv("QM_UI_SCRIPT");
  if (!script_path) return nullptr;
  std::FILE* transcript = stderr;
  if (const char* transcript_path = std::getenv("QM_UI_TRANSCRIPT")) {
    transcript = std::fopen(transcript_path, "w");
    if (!transcript) {
      std::fprintf(stderr, "error transcript %s: %s\n", transcript_path, std::strerror(errno));
      Halt(kScriptErrorExitCode);
    }
  }
  std::chrono::milliseconds timeout(10000);
  if (const char* timeout_text = std::getenv("QM_UI_TIMEOUT")) {
    const auto seconds = ParseNumber(timeout_text);
    if (seconds && *seconds > 0) timeout = std::chrono::seconds(*seconds);
  }
  std::ifstream script(script_path);
  if (!script) {
    std::fprintf(transcript, "error script %s: cannot be read\n", Quote(script_path).c_str());
    std::fflush(transcript);
    Halt(kScriptErrorExitCode);
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(script, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return std::make_unique<ScriptPresenter>(std::move(lines), transcript, timeout);
}

std::string ScriptPresenter::Quote(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

void ScriptPresenter::Write(const std::string& line) {
  std::lock_guard lock(transcript_mutex_);
  std::fputs(line.c_str(), transcript_);
  std::fputc('\n', transcript_);
  std::fflush(transcript_);
}

void ScriptPresenter::WindowOpened(Window& window) {
  Write("open " + Quote(window.Caption()) + " id=" + window.Definition().id +
        " thread=" + std::to_string(window.Thread()));
  HeadlessPresenter::WindowOpened(window);
}

void ScriptPresenter::WindowClosed(Window& window) {
  Write("closed " + Quote(window.Caption()));
  HeadlessPresenter::WindowClosed(window);
}

void ScriptPresenter::FocusMoved(Window& window, int control) {
  Write("focus " + Quote(window.Caption()) + " " + std::to_string(control));
  HeadlessPresenter::FocusMoved(window, control);
}

void ScriptPresenter::SetRunnerWaiting(bool waiting) {
  {
    std::lock_guard lock(mutex_);
    runner_waiting_ = waiting;
  }
  changed_.notify_all();
}

unsigned ScriptPresenter::ShowMessage(const MessageBoxRequest& request) {
  unsigned answer = request.default_button;
  bool by_default = true;
  {
    std::unique_lock lock(mutex_);
    // Between two steps the runner is busy for a moment only; waiting for
    // it makes "press, then answer" deterministic.
    changed_.wait_for(lock, timeout_, [this] { return runner_waiting_; });
    if (waiting_answer_) {
      answer = *waiting_answer_;
      by_default = false;
      waiting_answer_.reset();
    }
    messages_.push_back({request, answer, by_default});
  }
  changed_.notify_all();
  Write("message " + Quote(request.title) + " " + Quote(request.text) +
        " buttons=" + ButtonList(request.buttons) + " default=" + ButtonName(request.default_button) +
        " -> " + ButtonName(answer) + (by_default ? " (default)" : ""));
  return answer;
}

std::optional<std::string> ScriptPresenter::ChooseDirectory(const std::string& title,
                                                            const std::string& initial_directory) {
  std::optional<std::string> answer;
  bool by_default = true;
  {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout_, [this] { return runner_waiting_; });
    if (waiting_dialog_) {
      answer = *waiting_dialog_;
      by_default = false;
      waiting_dialog_.reset();
    }
    dialogs_.push_back({title, initial_directory, answer, by_default});
  }
  changed_.notify_all();
  Write("dialog directory " + Quote(initial_directory) + " -> " +
        (answer ? Quote(*answer) : std::string("cancel")) + (by_default ? " (default)" : ""));
  return answer;
}

void ScriptPresenter::ProgramRan(const std::string& command_line, int exit_code) {
  HeadlessPresenter::ProgramRan(command_line, exit_code);
  Write("run " + Quote(command_line) + " -> " + std::to_string(exit_code));
}

void ScriptPresenter::Fail(const std::string& line, const std::string& reason) {
  Write("error " + line + ": " + reason);
  Halt(kScriptErrorExitCode);
}

std::shared_ptr<Window> ScriptPresenter::AwaitWindow(const std::string& line,
                                                     const std::string& caption) {
  auto window = WaitForWindow(caption, timeout_);
  if (!window) Fail(line, "timed out after " + SecondsText(timeout_));
  return window;
}

int ScriptPresenter::AwaitControl(const std::string& line, Window& window,
                                  const std::string& control) {
  const auto number = ParseNumber(control);
  const int found = number ? (window.HasControl(*number) ? *number : 0)
                           : ControlByText(window, control);
  if (found == 0) Fail(line, "no control " + (number ? control : Quote(control)));
  return found;
}

// Waits until the window's thread has handled every event so far, so that
// what a step reads is what the user would see. A question asked meanwhile
// gets its default: no answer step is waiting for it.
void ScriptPresenter::AwaitIdle(Window& window) {
  SetRunnerWaiting(true);
  const auto deadline = std::chrono::steady_clock::now() + timeout_;
  while (window.IsOpen() && std::chrono::steady_clock::now() < deadline) {
    const auto active = ActiveWindowOf(window.Thread());
    if (!active || active->WaitingForEvent()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  SetRunnerWaiting(false);
}

void ScriptPresenter::PollUntil(const std::string& line, const std::function<bool()>& done,
                                const std::string& reason, std::chrono::milliseconds interval) {
  const auto deadline = std::chrono::steady_clock::now() + timeout_;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) Fail(line, reason);
    std::this_thread::sleep_for(interval);
  }
}

int ScriptPresenter::RunSteps() {
  for (const auto& raw_line : script_lines_) {
    const auto first = raw_line.find_first_not_of(" \t");
    if (first == std::string::npos || raw_line[first] == '#') continue;
    const auto last = raw_line.find_last_not_of(" \t");
    RunStep(raw_line.substr(first, last - first + 1));
  }
  SetRunnerWaiting(true);
  for (;;) {
    const auto windows = OpenWindows();
    if (windows.empty()) break;
    auto& window = *windows.back();
    CloseBox(window);
    PollUntil("close " + Quote(window.Caption()), [&window] { return !window.IsOpen(); },
              "timed out after " + SecondsText(timeout_), std::chrono::milliseconds(5));
  }
  return 0;
}

void ScriptPresenter::RunStep(const std::string& line) {
  SetRunnerWaiting(false);
  const auto parsed = SplitWords(line);
  if (!parsed || parsed->empty()) Fail(line, "a quote is not closed");
  const auto& words = *parsed;
  const std::string& verb = words[0].text;
  auto argument = [&](size_t index, bool quoted) -> const std::string& {
    if (index >= words.size() || (quoted && !words[index].quoted)) {
      Fail(line, "missing or malformed argument " + std::to_string(index));
    }
    return words[index].text;
  };
  auto expect_count = [&](size_t count) {
    if (words.size() != count) Fail(line, "expected " + std::to_string(count - 1) + " arguments");
  };

  if (verb == "wait" && words.size() == 3 && (words[1].text == "open" || words[1].text == "closed")) {
    const std::string& caption = argument(2, true);
    SetRunnerWaiting(true);
    if (words[1].text == "open") {
      AwaitWindow(line, caption);
      return;
    }
    PollUntil(line, [&] { return !FindWindow(caption); }, "timed out after " + SecondsText(timeout_),
              std::chrono::milliseconds(20));
  } else if (verb == "press") {
    expect_count(3);
    auto window = AwaitWindow(line, argument(1, true));
    const int control = AwaitControl(line, *window, words[2].text);
    AwaitIdle(*window);
    PollUntil(line, [&] { return Press(*window, control); }, "control " + words[2].text + " cannot be pressed",
              std::chrono::milliseconds(10));
  } else if (verb == "select") {
    expect_count(4);
    auto window = AwaitWindow(line, argument(1, true));
    const int control = AwaitControl(line, *window, words[2].text);
    const auto row = ParseNumber(words[3].text);
    if (!row) Fail(line, "row must be a number");
    AwaitIdle(*window);
    PollUntil(line, [&] { return SelectRow(*window, control, *row); }, "no row " + words[3].text,
              std::chrono::milliseconds(10));
  } else if (verb == "close") {
    expect_count(2);
    CloseBox(*AwaitWindow(line, argument(1, true)));
  } else if (verb == "answer") {
    expect_count(2);
    const auto button = ButtonByName(words[1].text);
    if (!button) Fail(line, "unknown button " + words[1].text);
    std::unique_lock lock(mutex_);
    waiting_answer_ = *button;
    runner_waiting_ = true;
    changed_.notify_all();
    if (!changed_.wait_for(lock, timeout_, [this] { return !waiting_answer_; })) {
      waiting_answer_.reset();
      lock.unlock();
      Fail(line, "no message box within " + SecondsText(timeout_));
    }
  } else if (verb == "dialog") {
    expect_count(2);
    std::optional<std::string> answer;
    if (words[1].quoted) {
      answer = words[1].text;
    } else if (words[1].text != "cancel") {
      Fail(line, "expected a path in quotes or cancel");
    }
    std::unique_lock lock(mutex_);
    waiting_dialog_ = answer;
    runner_waiting_ = true;
    changed_.notify_all();
    if (!changed_.wait_for(lock, timeout_, [this] { return !waiting_dialog_; })) {
      waiting_dialog_.reset();
      lock.unlock();
      Fail(line, "no dialog within " + SecondsText(timeout_));
    }
  } else if (verb == "show") {
    expect_count(3);
    auto window = AwaitWindow(line, argument(1, true));
    const int control = AwaitControl(line, *window, words[2].text);
    AwaitIdle(*window);
    const std::string prefix = "show " + Quote(window->Caption()) + " " + std::to_string(control);
    const auto* definition = window->FindControl(control);
    if (definition && definition->kind == ControlKind::kList) {
      const auto rows = window->ListRows(control);
      if (rows.empty()) Write(prefix + " no rows");
      for (size_t row = 0; row < rows.size(); ++row) {
        std::string text = prefix + " row " + std::to_string(row + 1) + ":";
        for (const auto& cell : rows[row]) text += " " + Quote(cell);
        Write(text);
      }
    } else {
      Write(prefix + ": " + Quote(window->ControlShows(control)));
    }
  } else if (verb == "sleep") {
    expect_count(2);
    const auto seconds = ParseNumber(words[1].text);
    if (!seconds || *seconds < 0) Fail(line, "seconds must be a number");
    SetRunnerWaiting(true);
    std::this_thread::sleep_for(std::chrono::seconds(*seconds));
  } else {
    Fail(line, "unknown step");
  }
}

}  // namespace qm::platform
