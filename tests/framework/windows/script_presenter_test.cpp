// End-to-end runs of small procedure windows under the script presenter,
// checked line by line against their transcripts.
#include "platform/script_presenter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/windows/window_manager.h"
#include "platform/threads.h"

namespace qm {
namespace {

using namespace qm::platform;

// A window that asks a question when "&Ask" is pressed and shows the answer.
class AskingProcedure : public WindowManager {
 public:
  static constexpr int kAnswer = 1;
  static constexpr int kAsk = 2;
  static constexpr int kClose = 3;

  ErrorLevel Init() override {
    if (const ErrorLevel level = WindowManager::Init(); level != LevelNone) return level;
    WindowDef window{.id = "Test$Asking", .caption = "Asking"};
    window.controls = {{kAnswer, ControlKind::kString, "none", "@s20"},
                       {kAsk, ControlKind::kButton, "&Ask"},
                       {kClose, ControlKind::kButton, "Close"}};
    OpenWindow(window, nullptr);
    FIRSTFIELD = kAsk;
    BUTTONS->push_back({kClose, ResponseCompleted});
    return LevelNone;
  }

  ErrorLevel OnAccepted() override {
    if (const ErrorLevel level = WindowManager::OnAccepted(); level != LevelNone) return level;
    if (MYWINDOW->Accepted() == kAsk) {
      const unsigned answer = CurrentPresenter().ShowMessage(
          {"Save the \"North\" field?|Yes or no", "Question", kIconQuestion, kButtonYes | kButtonNo,
           kButtonYes, 0});
      MYWINDOW->SetControlText(kAnswer, ButtonName(answer));
    }
    return LevelNone;
  }
};

struct ScriptRun {
  std::vector<std::string> lines;
  std::string thread;  // the procedure's logical thread
};

// Runs `script` against an AskingProcedure started on a new logical thread.
ScriptRun RunScript(const std::vector<std::string>& script) {
  std::FILE* transcript = std::tmpfile();
  ScriptPresenter presenter(script, transcript, std::chrono::milliseconds(2000));
  InstallPresenter(&presenter);
  int thread = 0;
  std::thread program([&] {
    BindCurrentThread(1);
    thread = StartThread([] { AskingProcedure().Run(); });
    JoinThreads();
  });
  EXPECT_EQ(presenter.RunSteps(), 0);
  program.join();
  InstallPresenter(nullptr);
  EXPECT_GT(thread, 1);

  std::rewind(transcript);
  std::vector<std::string> lines;
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, transcript)) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  std::fclose(transcript);
  return {lines, std::to_string(thread)};
}

TEST(ScriptPresenterTest, TranscriptFollowsWhatTheUserSawAndDid) {
  const auto run = RunScript({
      "# answer the question, then look at the answer",
      "wait open \"Asking\"",
      "press \"Asking\" \"&Ask\"",
      "answer no",
      "",
      "show \"Asking\" 1",
      "press \"Asking\" 3",
      "wait closed \"Asking\"",
  });
  const std::vector<std::string> expected = {
      "open \"Asking\" id=Test$Asking thread=" + run.thread,
      "focus \"Asking\" 2",
      "message \"Question\" \"Save the \\\"North\\\" field?|Yes or no\" buttons=Yes,No default=Yes -> No",
      "show \"Asking\" 1: \"No\"",
      "closed \"Asking\"",
  };
  EXPECT_EQ(run.lines, expected);
}

TEST(ScriptPresenterTest, UnansweredMessageTakesItsDefaultAndLeftoverWindowsAreClosed) {
  const auto run = RunScript({
      "wait open \"Asking\"",
      "press \"Asking\" \"&Ask\"",
      "show \"Asking\" 1",
  });
  const std::vector<std::string> expected = {
      "open \"Asking\" id=Test$Asking thread=" + run.thread,
      "focus \"Asking\" 2",
      "message \"Question\" \"Save the \\\"North\\\" field?|Yes or no\" buttons=Yes,No default=Yes -> Yes (default)",
      "show \"Asking\" 1: \"Yes\"",
      "closed \"Asking\"",
  };
  EXPECT_EQ(run.lines, expected);
}

// A step that cannot be done ends the program with 125 after an error line.
void RunFailingScript(const std::vector<std::string>& script) {
  ScriptPresenter presenter(script, stderr, std::chrono::milliseconds(200));
  InstallPresenter(&presenter);
  presenter.RunSteps();
}

TEST(ScriptPresenterDeathTest, StepsThatCannotBeDoneEndTheProgramWith125) {
  struct Case {
    std::string step;
    std::string error_line;
  };
  const Case cases[] = {
      {"wait open \"Nowhere\"", "error wait open \"Nowhere\": timed out after 200 ms"},
      {"press \"Nowhere\" 1", "error press \"Nowhere\" 1: timed out after 200 ms"},
      {"answer maybe", "error answer maybe: unknown button maybe"},
      {"answer yes", "error answer yes: no message box within 200 ms"},
      {"jump \"Asking\"", "error jump \"Asking\": unknown step"},
      {"wait open \"Unclosed", "error wait open \"Unclosed: a quote is not closed"},
  };
  for (const auto& test : cases) {
    EXPECT_EXIT(RunFailingScript({test.step}), ::testing::ExitedWithCode(kScriptErrorExitCode),
                ::testing::HasSubstr(test.error_line))
        << test.step;
  }
}

TEST(ScriptPresenterTest, QuoteEscapesQuotesAndBackslashes) {
  EXPECT_EQ(ScriptPresenter::Quote("C:\\Data \"new\""), "\"C:\\\\Data \\\"new\\\"\"");
}

}  // namespace
}  // namespace qm
