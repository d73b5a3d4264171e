#include "framework/errors/error_manager.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <latch>
#include <mutex>
#include <sstream>
#include <thread>

#include "framework/errors/history_window.h"
#include "platform/headless_presenter.h"
#include "platform/runtime_error.h"
#include "platform/threads.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using platform::kButtonCancel;
using platform::kButtonHelp;
using platform::kButtonNo;
using platform::kButtonOk;
using platform::kButtonYes;

constexpr std::uint16_t kTestId = 900;

// Runs in a temporary current directory, where the manager's log goes.
class ErrorManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_directory_ = fs::current_path();
    directory_ = fs::temp_directory_path() /
                 ("qm-error-manager-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fs::current_path(directory_);
    platform::InstallPresenter(&presenter_);
    platform::ClearRuntimeError();
    manager_.Start(status_);
  }

  void TearDown() override {
    manager_.Shutdown();
    platform::InstallPresenter(nullptr);
    platform::ClearRuntimeError();
    fs::current_path(previous_directory_);
    fs::remove_all(directory_);
  }

  std::string LogContents() const {
    std::ifstream in(directory_ / "VLXError.Log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path previous_directory_;
  fs::path directory_;
  platform::HeadlessPresenter presenter_;
  platform::PerThread<ErrorStatus> status_;
  ErrorManager manager_;
};

// Shows every message box on standard error, so that a child process that
// ends can still be asked what the user saw.
class PrintingPresenter : public platform::HeadlessPresenter {
 public:
  unsigned ShowMessage(const platform::MessageBoxRequest& request) override {
    std::fprintf(stderr, "%s: %s\n", request.title.c_str(), request.text.c_str());
    return HeadlessPresenter::ShowMessage(request);
  }
};

TEST(ErrorManagerSubstitution, TokensAreFilledInFromTheThreadsStatus) {
  const struct {
    const char* what;
    std::string message;
    std::function<void(ErrorManager&)> prepare;
    std::string expected;
    std::string category = {};
  } cases[] = {
      {"longer file tokens win over %File", "%FileErrorCode/%FileError/%File",
       [](ErrorManager& m) {
         platform::SetRuntimeError(platform::kErrDriverError, "/data/TDV30.dat", "1205", "Disk full");
         m.SetFileName("TDV30");
       },
       "1205/Disk full/TDV30"},
      {"longer error tokens win over %Error", "%ErrorFile|%ErrorCode|%Error",
       [](ErrorManager&) { platform::SetRuntimeError(platform::kErrFileNotFound, "/data/TDV30.dat"); },
       "/data/TDV30.dat|2|File Not Found"},
      {"tokens in any letter case", "%file %FILE %fIlE %KEY",
       [](ErrorManager& m) {
         m.SetFileName("TDV30");
         m.SetKeyName("V30:JobNumberKey");
       },
       "TDV30 TDV30 TDV30 V30:JobNumberKey"},
      {"a file name holding %File is inserted once", "%File and %File",
       [](ErrorManager& m) { m.SetFileName("Copy of %File"); }, "Copy of %File and Copy of %File"},
      {"an inserted value is not expanded by a later token", "Open %File",
       [](ErrorManager& m) {
         m.SetFileName("A%KeyB%Message");
         m.SetKeyName("K");
         m.SetMessageText("M");
       },
       "Open A%KeyB%Message"},
      {"%ErrorText of a driver error shows the driver's text and code", "(%ErrorText)",
       [](ErrorManager&) { platform::SetRuntimeError(platform::kErrDriverError, "", "1205", "Disk full"); },
       "(Disk full (1205))"},
      {"%ErrorText of a declaration mismatch is the driver's too", "(%ErrorText)",
       [](ErrorManager&) {
         platform::SetRuntimeError(platform::kErrDeclarationMismatch, "", "12", "Field count differs");
       },
       "(Field count differs (12))"},
      {"%ErrorText of another error shows the runtime's text and code", "(%ErrorText)",
       [](ErrorManager&) { platform::SetRuntimeError(platform::kErrFileNotFound, "", "7", "ignored"); },
       "(File Not Found (2))"},
      {"message and field", "%Field must be lower than %Message",
       [](ErrorManager& m) {
         m.SetFieldName("V30:COST");
         m.SetMessageText("100");
       },
       "V30:COST must be lower than 100"},
      {"%Procedure is the calling thread's latest", "in %Procedure",
       [](ErrorManager& m) {
         m.PushProcedureName("Main");
         m.PushProcedureName("MakeBackups  ");
       },
       "in MakeBackups"},
      {"%Category is the entry's own", "[%Category]", [](ErrorManager&) {}, "[BKP]", "BKP"},
      {"%Category of an entry without one is empty", "[%Category]", [](ErrorManager&) {}, "[]"},
      {"%Previous is the raw message selected before", "Was: %Previous",
       [](ErrorManager& m) { m.SelectError(33); }, "Was: %File key file is invalid. Key must be rebuilt."},
      {"a value that reads as its token leaves the text alone", "%Message!",
       [](ErrorManager& m) { m.SetMessageText("%message"); }, "%Message!"},
      {"text that is no token stays", "100% sure %Nothing %", [](ErrorManager&) {}, "100% sure %Nothing %"},
      {"the result is cut to the working text", "%Message%Message",
       [](ErrorManager& m) { m.SetMessageText(std::string(1500, 'm')); }, std::string(1999, 'm')},
  };
  for (const auto& c : cases) {
    platform::ClearRuntimeError();
    platform::PerThread<ErrorStatus> status;
    ErrorManager manager;
    manager.Start(status);
    manager.AddError(kTestId, c.message, "Test", LevelNotify, c.category);
    c.prepare(manager);
    manager.CaptureRuntimeError();
    manager.SelectError(kTestId);
    EXPECT_EQ(manager.SubstituteText(), c.expected) << c.what;
    manager.Shutdown();
  }
  platform::ClearRuntimeError();
}

TEST_F(ErrorManagerTest, NotificationIsShownWithItsTitleAndStopIcon) {
  manager_.SetMsgStyle(7);
  manager_.SetFileName("TDV30");
  platform::SetRuntimeError(platform::kErrAccessDenied, "TDV30.dat");

  EXPECT_EQ(manager_.Raise(6), LevelNotify);

  const auto messages = presenter_.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const auto& shown = messages[0].request;
  EXPECT_EQ(shown.text, "File TDV30 could not be closed.  Error: Access Denied (5).");
  EXPECT_EQ(shown.title, "File Access Error");
  EXPECT_EQ(shown.icon, platform::kIconStop);
  EXPECT_EQ(shown.buttons, kButtonOk);
  EXPECT_EQ(shown.default_button, kButtonOk);
  EXPECT_EQ(shown.style, 7);
}

TEST_F(ErrorManagerTest, AddedEntryOverridesTheBuiltInOneUntilRemoved) {
  manager_.AddError(29, "Cannot open %File", "Open Failed", LevelNotify);
  manager_.SetFileName("TDV30");

  EXPECT_EQ(manager_.Raise(29), LevelNotify);
  const auto messages = presenter_.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].request.text, "Cannot open TDV30");
  EXPECT_EQ(messages[0].request.title, "Open Failed");

  manager_.RemoveError(29);
  manager_.SelectError(29);
  EXPECT_EQ(manager_.Fatality(), LevelFatal);
  EXPECT_EQ(manager_.Title(), "File Access Error");
}

TEST_F(ErrorManagerTest, UnknownIdAnswersNoneAndLeavesNoTrace) {
  manager_.SetLogErrors(true);
  manager_.SetHistoryThreshold(-1);

  EXPECT_EQ(manager_.Raise(999), LevelNone);
  EXPECT_EQ(manager_.Ask(999, kButtonYes | kButtonNo | kButtonCancel, kButtonCancel), kButtonCancel);

  EXPECT_TRUE(presenter_.Messages().empty());
  EXPECT_TRUE(manager_.History().empty());
  EXPECT_FALSE(fs::exists(directory_ / "VLXError.Log"));
  EXPECT_EQ(manager_.ErrorId(), 0u);
}

TEST_F(ErrorManagerTest, QuestionAnswersNoneForYesAndCancelForNo) {
  const struct {
    ErrorLevel level;
    unsigned answer;
    ErrorLevel expected;
  } cases[] = {
      {LevelQuestion, kButtonYes, LevelNone},
      {LevelQuestion, kButtonNo, LevelCancel},
      {LevelCancel, kButtonYes, LevelNone},
      {LevelCancel, kButtonNo, LevelCancel},
  };
  for (const auto& c : cases) {
    manager_.AddError(kTestId, "Go on with %File?", "Question", c.level);
    manager_.SetFileName("TDV30");
    presenter_.QueueAnswer(c.answer);
    EXPECT_EQ(manager_.Raise(kTestId), c.expected) << "level " << c.level << " answer " << c.answer;

    const auto shown = presenter_.Messages().back().request;
    EXPECT_EQ(shown.text, "Go on with TDV30?");
    EXPECT_EQ(shown.icon, platform::kIconQuestion);
    EXPECT_EQ(shown.buttons, kButtonYes | kButtonNo);
    EXPECT_EQ(shown.default_button, kButtonYes);
  }
}

TEST_F(ErrorManagerTest, AskShowsTheQuestionWithoutLoggingOrHistory) {
  manager_.SetLogErrors(true);
  manager_.SetHistoryThreshold(-1);
  presenter_.QueueAnswer(kButtonNo);

  EXPECT_EQ(manager_.Ask(41, kButtonYes | kButtonNo | kButtonCancel, kButtonCancel), kButtonNo);

  const auto messages = presenter_.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].request.text, "Do you want to save the changes to this record?");
  EXPECT_EQ(messages[0].request.title, "Save Record");
  EXPECT_EQ(messages[0].request.icon, platform::kIconQuestion);
  EXPECT_EQ(messages[0].request.buttons, 70u);
  EXPECT_EQ(messages[0].request.default_button, kButtonCancel);
  EXPECT_TRUE(manager_.History().empty());
  EXPECT_FALSE(fs::exists(directory_ / "VLXError.Log"));
}

TEST_F(ErrorManagerTest, SilentShowsNothingButStillLogs) {
  manager_.SetSilent(true);
  manager_.SetLogErrors(true);

  EXPECT_EQ(manager_.Ask(41, kButtonYes | kButtonNo | kButtonCancel, kButtonCancel), kButtonCancel);
  EXPECT_EQ(manager_.RaiseWithText(30, "Report"), LevelNotify);

  EXPECT_TRUE(presenter_.Messages().empty());
  EXPECT_NE(LogContents().find(" --> The Procedure Report has not been defined.\n"), std::string::npos);
}

TEST_F(ErrorManagerTest, HistoryThresholdKeepsTheLatestMessages) {
  manager_.SetHistoryThreshold(3);
  for (const char* name : {"A", "B", "C", "D"}) EXPECT_EQ(manager_.RaiseWithText(30, name), LevelNotify);

  const auto history = manager_.History();
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0].TXT, "The Procedure B has not been defined.");
  EXPECT_EQ(history[1].TXT, "The Procedure C has not been defined.");
  EXPECT_EQ(history[2].TXT, "The Procedure D has not been defined.");
  EXPECT_EQ(history[2].ID, 30u);
  EXPECT_EQ(history[2].CATEGORY, "VLX");
}

TEST_F(ErrorManagerTest, WithHistoryOnAMessageBelowTheViewLevelIsLoggedKeptAndNotShown) {
  manager_.SetLogErrors(true);
  manager_.SetHistoryThreshold(-1);
  manager_.SetFileName("TDV30");

  EXPECT_EQ(manager_.Raise(2), LevelNotify);
  EXPECT_EQ(manager_.Report("Keep going?", "Question", platform::kIconQuestion, kButtonYes | kButtonNo,
                            kButtonNo, 0),
            kButtonNo);

  EXPECT_TRUE(presenter_.Messages().empty());
  const auto history = manager_.History();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].TXT, "Could not get write access to TDV30 so trying read-only.");
  EXPECT_EQ(history[0].ID, 2u);
  const std::string log = LogContents();
  EXPECT_NE(log.find(" --> Could not get write access to TDV30 so trying read-only.\n"), std::string::npos);
  EXPECT_NE(log.find(" --> Keep going?\n"), std::string::npos);
}

// True when `line` is a date "dd/mm/yyyy", a blank, a time "hh:mm:ss", the
// separator " --> " and then exactly `text`.
bool IsLogLine(const std::string& line, const std::string& text) {
  const std::string stamp = "99/99/9999 99:99:99";
  if (line.size() != stamp.size() + 5 + text.size()) return false;
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (stamp[i] == '9' ? !digit : line[i] != stamp[i]) return false;
  }
  return line.substr(stamp.size()) == " --> " + text;
}

TEST_F(ErrorManagerTest, LogLineIsDateTimeArrowAndText) {
  manager_.SetLogErrors(true);
  manager_.RaiseWithText(30, "First");
  manager_.RaiseWithText(30, "Second");

  std::istringstream log(LogContents());
  std::string first, second, rest;
  std::getline(log, first);
  std::getline(log, second);
  EXPECT_TRUE(IsLogLine(first, "The Procedure First has not been defined.")) << first;
  EXPECT_TRUE(IsLogLine(second, "The Procedure Second has not been defined.")) << second;
  EXPECT_FALSE(std::getline(log, rest)) << rest;
  EXPECT_EQ(presenter_.Messages().size(), 2u);
}

TEST_F(ErrorManagerTest, LogThatCannotBeWrittenIsSwallowed) {
  fs::create_directories(directory_ / "VLXError.Log");
  manager_.SetLogErrors(true);
  manager_.SetFileName("TDV30");
  platform::SetRuntimeError(platform::kErrAccessDenied, "TDV30.dat");

  EXPECT_EQ(manager_.Raise(6), LevelNotify);

  const auto messages = presenter_.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].request.text, "File TDV30 could not be closed.  Error: Access Denied (5).");
  // The caller still finds the state of its own failure, not the log's.
  EXPECT_EQ(platform::LastRuntimeError().code, platform::kErrAccessDenied);
  EXPECT_EQ(platform::LastRuntimeError().file, "TDV30.dat");
}

TEST_F(ErrorManagerTest, LoggingKeepsTheCallersRuntimeErrorState) {
  manager_.SetLogErrors(true);
  platform::SetRuntimeError(platform::kErrDriverError, "TDV30.dat", "1205", "Disk full");

  manager_.Raise(6);

  EXPECT_EQ(platform::LastRuntimeError().code, platform::kErrDriverError);
  EXPECT_EQ(platform::LastRuntimeError().file_error_code, "1205");
  EXPECT_EQ(platform::LastRuntimeError().file_error_message, "Disk full");
  EXPECT_FALSE(LogContents().empty());
}

TEST_F(ErrorManagerTest, FatalAndProgramErrorsEndTheProgramAfterTheMessage) {
  manager_.SetLogErrors(true);
  manager_.AddError(kTestId, "Level %Message is unknown", "Odd Level", 9);
  const struct {
    std::uint16_t id;
    const char* shown;
  } cases[] = {
      {29, "File Access Error: File TDV30 could not be opened.  Error: File Not Found \\(2\\)."
           "  Press OK to end this application"},
      {45, "File Usage Error: Attempt to use file \\(TDV30\\) before it was opened"
           "  Press OK to end this application"},
      {kTestId, "Odd Level: Level 9 is unknown  Press OK to end this application"},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          PrintingPresenter presenter;
          platform::InstallPresenter(&presenter);
          manager_.SetFileName("TDV30");
          manager_.SetMessageText("9");
          platform::SetRuntimeError(platform::kErrFileNotFound, "TDV30.dat");
          manager_.Raise(c.id);
          std::fprintf(stderr, "returned\n");
          std::exit(99);
        },
        ::testing::ExitedWithCode(ErrorManager::kFatalExitCode), c.shown)
        << c.id;
  }
  EXPECT_NE(LogContents().find(" --> File TDV30 could not be opened.  Error: File Not Found (2)."
                               "  Press OK to end this application\n"),
            std::string::npos);
}

TEST_F(ErrorManagerTest, ThreadsKeepTheirOwnStatusAndProcedureNames) {
  manager_.AddError(kTestId, "%File in %Procedure: %Message", "Test", LevelNotify);
  manager_.SetFileName("MAIN.DAT");
  const std::string files[] = {"TDV30", "QMSY01"};
  const std::string procedures[] = {"MakeBackups", "RestoreBackups"};
  std::string texts[2];
  std::latch all_named(2);
  for (int i = 0; i < 2; ++i) {
    platform::StartThread([&, i] {
      manager_.SetFileName(files[i]);
      manager_.PushProcedureName(procedures[i]);
      all_named.arrive_and_wait();
      manager_.RaiseWithText(kTestId, std::to_string(i));
      texts[i] = manager_.SubstituteText();
      manager_.PopProcedureName();
    });
  }
  platform::JoinThreads();

  EXPECT_EQ(texts[0], "TDV30 in MakeBackups: 0");
  EXPECT_EQ(texts[1], "QMSY01 in RestoreBackups: 1");
  EXPECT_EQ(manager_.CurrentProcedureName(), "");
  manager_.SelectError(kTestId);
  EXPECT_EQ(manager_.SubstituteText(), "MAIN.DAT in : ");
  EXPECT_EQ(presenter_.Messages().size(), 2u);
}

TEST_F(ErrorManagerTest, StatusTextsAreClippedAndCut) {
  manager_.SetFileName("TDV30   ");
  manager_.SetKeyName(std::string(1100, 'k'));
  platform::SetRuntimeError(platform::kErrFileNotFound, std::string(300, 'f'), "12  ", std::string(300, 'e'));
  manager_.CaptureRuntimeError();

  const ErrorStatus& status = *manager_.Status();
  EXPECT_EQ(status.FILENAME, "TDV30");
  EXPECT_EQ(status.KEYNAME, std::string(1023, 'k'));
  EXPECT_EQ(status.SAVEERRORFILE, std::string(254, 'f'));
  EXPECT_EQ(status.SAVEFILEERRORCODE, "12");
  EXPECT_EQ(status.SAVEFILEERROR, std::string(254, 'e'));
  EXPECT_EQ(status.SAVEERRORCODE, platform::kErrFileNotFound);
  EXPECT_EQ(status.SAVEERROR, "File Not Found");
}

TEST_F(ErrorManagerTest, CategoriesFallBackToTheDefault) {
  EXPECT_EQ(manager_.CategoryOf(2), "VLX");
  manager_.AssignCategory(ErrorManager::kDefaultCategoryId, "QM");
  EXPECT_EQ(manager_.CategoryOf(2), "QM");
  EXPECT_EQ(manager_.CategoryOf(999), "QM");
  manager_.AssignCategory(2, "FILES");
  manager_.AssignCategory(999, "NOWHERE");
  EXPECT_EQ(manager_.CategoryOf(2), "FILES");
  EXPECT_EQ(manager_.CategoryOf(999), "QM");
  EXPECT_EQ(manager_.DefaultCategory(), "QM");

  manager_.SetHistoryThreshold(-1);
  manager_.Raise(2);
  EXPECT_EQ(manager_.History().back().CATEGORY, "FILES");
}

TEST_F(ErrorManagerTest, DamagedTableAddsNothing) {
  const std::uint8_t damaged[] = {1, 0, 29, 0, 5, 3, 'B', 'a'};
  EXPECT_FALSE(manager_.LoadMessageTable(damaged));
  manager_.SelectError(29);
  EXPECT_EQ(manager_.Title(), "File Access Error");

  const std::uint8_t table[] = {1, 0, 29, 0, 5, 2, 'H', 'i', 2, 'O', 'k'};
  EXPECT_TRUE(manager_.LoadMessageTable(table));
  manager_.SelectError(29);
  EXPECT_EQ(manager_.Title(), "Hi");
  EXPECT_EQ(manager_.Fatality(), LevelNotify);
}

// What the history window showed, read by the user's thread while the
// reporting thread waits in the window's event loop.
struct SeenHistoryWindow {
  bool opened = false;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> captions;  // of the visible buttons, in control order
  int focus = 0;
  std::string icon;
};

std::thread PressWhenShown(platform::HeadlessPresenter& presenter, const std::string& caption, int control,
                           SeenHistoryWindow& seen) {
  return std::thread([&presenter, caption, control, &seen] {
    auto window = presenter.WaitForWindow(caption, std::chrono::seconds(10));
    if (!window) return;
    while (!window->WaitingForEvent()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    seen.opened = true;
    seen.rows = window->ListRows(HistoryWindow::kListControl);
    for (int button = HistoryWindow::kFirstButtonControl; button < HistoryWindow::kFirstButtonControl + 8; ++button) {
      if (window->ControlVisible(button)) seen.captions.push_back(window->ControlText(button));
    }
    seen.focus = presenter.FocusOf(*window);
    seen.icon = window->ControlText(HistoryWindow::kIconControl);
    presenter.Press(*window, control);
  });
}

TEST_F(ErrorManagerTest, MessageAtTheViewLevelOpensTheHistoryWindow) {
  manager_.SetHistoryThreshold(-1);
  manager_.SetHistoryResetOnView(true);
  manager_.RaiseWithText(30, "Kept");
  manager_.SetHistoryViewLevel(LevelNotify);

  SeenHistoryWindow seen;
  auto user = PressWhenShown(presenter_, "Procedure not defined", HistoryWindow::kFirstButtonControl, seen);
  EXPECT_EQ(manager_.RaiseWithText(30, "Shown"), LevelNotify);
  user.join();

  ASSERT_TRUE(seen.opened);
  const std::vector<std::vector<std::string>> rows = {{"The Procedure Kept has not been defined.", "VLX"},
                                                      {"The Procedure Shown has not been defined.", "VLX"}};
  EXPECT_EQ(seen.rows, rows);
  EXPECT_EQ(seen.captions, std::vector<std::string>{"O&k"});
  EXPECT_EQ(seen.focus, HistoryWindow::kFirstButtonControl);
  EXPECT_EQ(seen.icon, platform::kIconStop);
  EXPECT_TRUE(presenter_.Messages().empty());
  EXPECT_TRUE(manager_.History().empty());
}

TEST_F(ErrorManagerTest, ViewHistoryOffersHelpAndOkAndAnswersThePressedButton) {
  manager_.SetHistoryThreshold(-1);
  manager_.RaiseWithText(30, "Kept");

  SeenHistoryWindow seen;
  auto user = PressWhenShown(presenter_, "Errors History", HistoryWindow::kFirstButtonControl, seen);
  EXPECT_EQ(manager_.ViewHistory(), kButtonHelp);
  user.join();

  ASSERT_TRUE(seen.opened);
  EXPECT_EQ(seen.rows.size(), 1u);
  EXPECT_EQ(seen.captions, (std::vector<std::string>{"&Help", "O&k"}));
  EXPECT_EQ(seen.focus, HistoryWindow::kFirstButtonControl + 1);
  EXPECT_EQ(manager_.History().size(), 1u);
}

TEST_F(ErrorManagerTest, HistoryWindowLaysOutButtonsFromHelpDownToOk) {
  SeenHistoryWindow seen;
  auto user = PressWhenShown(presenter_, "Pick", HistoryWindow::kFirstButtonControl + 2, seen);
  EXPECT_EQ(manager_.ShowHistory("Pick", platform::kIconQuestion, kButtonOk | kButtonNo | kButtonCancel, kButtonNo),
            kButtonOk);
  user.join();

  ASSERT_TRUE(seen.opened);
  EXPECT_EQ(seen.captions, (std::vector<std::string>{"&Cancel", "&No", "O&k"}));
  EXPECT_EQ(seen.focus, HistoryWindow::kFirstButtonControl + 1);
  EXPECT_EQ(seen.icon, platform::kIconQuestion);
}

TEST_F(ErrorManagerTest, HistoryWindowClosedWithoutAButtonAnswersTheDefault) {
  std::thread user([this] {
    auto window = presenter_.WaitForWindow("Errors History", std::chrono::seconds(10));
    if (window) presenter_.CloseBox(*window);
  });
  EXPECT_EQ(manager_.ShowHistory("", "", kButtonYes | kButtonNo, kButtonNo), kButtonNo);
  user.join();
}

}  // namespace
}  // namespace qm
