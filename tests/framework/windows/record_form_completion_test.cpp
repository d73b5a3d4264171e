// A record form completing its request, driven headless: the form runs its
// event loop on the test's thread while a user thread presses its buttons,
// each press once the form waits for its next event.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/errors/error_manager.h"
#include "framework/files/file_manager.h"
#include "framework/files/relation_manager.h"
#include "framework/windows/browse_manager.h"
#include "framework/windows/form_navigator.h"
#include "framework/windows/window_manager.h"
#include "platform/headless_presenter.h"
#include "platform/record_declaration.h"
#include "platform/record_fields.h"
#include "platform/record_file.h"
#include "platform/runtime_error.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::platform;

constexpr int kNameEntry = 1;
constexpr int kOkButton = 2;
constexpr int kCancelButton = 3;
constexpr int kSaveButton = 4;
constexpr int kEditButton = 5;  // runs the test's edit of the record on the form's thread
constexpr int kQuitButton = 6;  // leaves the loop, for a form that would stay open

constexpr int kOwnerCodeKey = 2;
constexpr int kItemOwnerKey = 1;

// Owners: NUMBER numbered automatically, CODE unique. Items belong to an
// owner, and an owner with items can be neither deleted nor renumbered.
RecordDeclaration OwnersDeclaration() {
  RecordDeclaration declaration;
  declaration.label = "Owners";
  declaration.disk_name = "OWNERS";
  declaration.prefix = "OWN";
  declaration.per_thread = true;
  const int number = declaration.AddField("OWN:NUMBER", FieldEncoding::kU32);
  const int code = declaration.AddField("OWN:CODE", FieldEncoding::kText, 4);
  declaration.AddField("OWN:NAME", FieldEncoding::kText, 10);
  declaration.keys.push_back({"OWN:NumberKey", {number}, true, false, true, true});
  declaration.keys.push_back({"OWN:CodeKey", {code}, true, false});
  return declaration;
}

RecordDeclaration ItemsDeclaration() {
  RecordDeclaration declaration;
  declaration.label = "Items";
  declaration.disk_name = "ITEMS";
  declaration.prefix = "ITM";
  declaration.per_thread = true;
  const int owner = declaration.AddField("ITM:OWNER", FieldEncoding::kU32);
  const int line = declaration.AddField("ITM:LINE", FieldEncoding::kU16);
  declaration.keys.push_back({"ITM:OwnerKey", {owner, line}, true, false, true});
  return declaration;
}

std::string Get(RecordFile& file, const std::string& field) {
  const int number = file.Declaration().FieldNumber(field);
  return FieldText(file.Declaration().fields[static_cast<std::size_t>(number - 1)], file.Record());
}

void Set(RecordFile& file, const std::string& field, const std::string& value) {
  const int number = file.Declaration().FieldNumber(field);
  ASSERT_TRUE(SetFieldText(file.Declaration().fields[static_cast<std::size_t>(number - 1)], file.Record(), value))
      << field;
}

class TableManager : public FileManager {
 public:
  TableManager(RecordFile& file, ErrorManager& errors) : file_(file), errors_(errors) {}

  void Setup() override {
    FILENAMEVALUE = file_.Declaration().label;
    ERRORS = &errors_;
    FILE = &file_;
    FileManager::Setup();
  }
  ErrorLevel EnsureOpen(int usage) override {
    if (usage != kUsageInitialize) {
      EnsureOpen(kUsageInitialize);
    } else if (!INITIALIZED) {
      INUSEFILE = true;
      Attach(file_, errors_);
      for (const KeyDeclaration& key : file_.Declaration().keys) AddKey(key.name, key.name, key.auto_number);
    }
    return FileManager::EnsureOpen(usage);
  }

 private:
  RecordFile& file_;
  ErrorManager& errors_;
};

class Relations : public RelationManager {
 public:
  std::function<void()> declare;
  void DeclareRelations() override {
    if (declare) declare();
  }
};

struct Table {
  Table(const RecordDeclaration& declaration, ErrorManager& errors) : file(declaration), manager(file, errors) {}
  RecordFile file;
  TableManager manager;
  Relations relations;
};

WindowDef OwnerWindow() {
  WindowDef window;
  window.id = "Test$OwnerForm";
  window.caption = "Owner";
  window.controls = {
      {kNameEntry, ControlKind::kEntry, ""},       {kOkButton, ControlKind::kButton, "&OK"},
      {kCancelButton, ControlKind::kButton, "Cancel"}, {kSaveButton, ControlKind::kButton, "&Save"},
      {kEditButton, ControlKind::kButton, "Edit"},  {kQuitButton, ControlKind::kButton, "Quit"},
  };
  return window;
}

// The record form of the owners file, set up as a program's procedure sets
// up its own.
class OwnerForm : public WindowManager {
 public:
  OwnerForm(Table& owners, ErrorManager& errors) : owners_(owners), errors_(errors) {}

  ErrorLevel Init() override {
    REQUEST = PendingRequest();
    if (const ErrorLevel level = WindowManager::Init(); level != LevelNone) return level;
    FIRSTFIELD = kNameEntry;
    VCRREQUEST = &NavigationRequest();
    ERRORS = &errors_;
    PendingRequest() = 0;
    PRIMARY = &owners_.relations;
    if (owners_.relations.OpenRelations() != LevelNone) return LevelFatal;
    FILESOPENED = 1;
    if (REQUEST != RequestInsert && owners_.manager.Fetch(kOwnerCodeKey) != LevelNone) return LevelFatal;
    if (configure) configure(*this);
    if (PrepareRequest() != LevelNone) return LevelFatal;
    OpenWindow(OwnerWindow(), nullptr);
    BUTTONS->push_back({kCancelButton, ResponseCancelled});
    OKCONTROL = kOkButton;
    SAVECONTROL = kSaveButton;
    return LevelNone;
  }
  ErrorLevel Teardown() override {
    if (const ErrorLevel level = WindowManager::Teardown(); level != LevelNone) return level;
    if (FILESOPENED) owners_.relations.CloseRelations();
    return LevelNone;
  }
  ErrorLevel OnAccepted() override {
    if (MYWINDOW->Accepted() == kEditButton) {
      if (edit) edit();
      return LevelNotify;
    }
    if (MYWINDOW->Accepted() == kQuitButton) return LevelFatal;
    return WindowManager::OnAccepted();
  }
  void PrepareNewRecord() override { Set(owners_.file, "OWN:NAME", "New"); }

  std::function<void(OwnerForm&)> configure;
  std::function<void()> edit;

 private:
  Table& owners_;
  ErrorManager& errors_;
};

// Walks a batch form through owners given by code.
class CodeNavigator : public FormNavigator {
 public:
  CodeNavigator(Table& owners, std::vector<std::string> codes) : owners_(owners), codes_(std::move(codes)) {}
  void MoveOn() override {
    ASSERT_LT(next_, codes_.size());
    owners_.file.Clear();
    Set(owners_.file, "OWN:CODE", codes_[next_++]);
    ASSERT_EQ(owners_.manager.Fetch(kOwnerCodeKey), LevelNone);
  }
  std::size_t moves() const { return next_; }

 private:
  Table& owners_;
  std::vector<std::string> codes_;
  std::size_t next_ = 0;
};

// One thing the user does once the form waits.
struct Step {
  enum Kind { kPress, kEdit } kind = kPress;
  int control = 0;
  std::function<void()> edit;
};
Step Press(int control) { return {Step::kPress, control, {}}; }

class RecordFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_directory_ = fs::current_path();
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("qm-forms-") + test->test_suite_name() + "-" + test->name();
    std::replace(name.begin(), name.end(), '/', '_');
    directory_ = fs::temp_directory_path() / name;
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fs::current_path(directory_);
    InstallPresenter(&presenter_);
    ClearRuntimeError();
    errors_.Start(status_);
    errors_.PushProcedureName("OwnerForm");

    Fill(OwnersDeclaration(), {"1/ALFA/Alfa", "2/BETA/Beta"});
    Fill(ItemsDeclaration(), {"1/1"});
    owners_ = std::make_unique<Table>(OwnersDeclaration(), errors_);
    items_ = std::make_unique<Table>(ItemsDeclaration(), errors_);
    for (Table* table : {owners_.get(), items_.get()}) {
      table->manager.Setup();
      table->relations.Attach(table->manager, true);
    }
    owners_->relations.declare = [this] {
      owners_->relations.RegisterRelation(items_->relations, ModeRestrict, ModeRestrict, kItemOwnerKey);
      owners_->relations.AddLinkPair(FieldReference(owners_->file, 1), FieldReference(items_->file, 1));
    };
    items_->relations.declare = [this] { items_->relations.RegisterRelation(owners_->relations); };
    form_ = std::make_unique<OwnerForm>(*owners_, errors_);
    messages_before_ = presenter_.Messages().size();
    pressed_.clear();
    left_open_ = false;
  }

  void TearDown() override {
    form_.reset();
    for (Table* table : {owners_.get(), items_.get()}) {
      table->relations.Shutdown();
      table->manager.Shutdown();
    }
    items_.reset();
    owners_.reset();
    errors_.Shutdown();
    InstallPresenter(nullptr);
    ClearRuntimeError();
    fs::current_path(previous_directory_);
    fs::remove_all(directory_);
  }

  static void Fill(const RecordDeclaration& declaration, const std::vector<std::string>& rows) {
    RecordFile file(declaration);
    ASSERT_EQ(file.Create(), 0);
    ASSERT_EQ(file.Open(), 0);
    for (const std::string& row : rows) {
      file.Clear();
      std::size_t start = 0;
      for (const FieldDeclaration& field : declaration.fields) {
        const std::size_t end = std::min(row.find('/', start), row.size());
        ASSERT_TRUE(SetFieldText(field, file.Record(), row.substr(start, end - start))) << row;
        start = end + 1;
      }
      ASSERT_EQ(file.Add(), 0) << row;
    }
  }

  // The owners as "NUMBER/CODE/NAME", in number order, read through a
  // connection of their own.
  static std::vector<std::string> Owners() {
    RecordFile file(OwnersDeclaration());
    std::vector<std::string> rows;
    if (file.Open(kAccessRead | kShareDenyNone) != 0) return {"cannot open"};
    file.Set(1);
    while (file.Next() == 0) rows.push_back(Get(file, "OWN:NUMBER") + "/" + Get(file, "OWN:CODE") + "/" +
                                            Get(file, "OWN:NAME"));
    return rows;
  }

  // Runs the form with `request` on the owner whose code is `code` while
  // the user takes `steps`; a form still open after them is left through
  // the quit button. Answers what Run returned.
  std::uint8_t RunForm(std::uint8_t request, const std::string& code, std::vector<Step> steps) {
    owners_->file.Clear();
    Set(owners_->file, "OWN:CODE", code);
    return RunFormOnBuffer(request, std::move(steps));
  }
  // Runs the form on the record the owners' buffer holds, as a browse calls it.
  std::uint8_t RunFormOnBuffer(std::uint8_t request, std::vector<Step> steps) {
    PendingRequest() = request;
    std::atomic<bool> finished = false;
    std::thread user([&] {
      std::shared_ptr<Window> window;
      while (!window && !finished) window = presenter_.WaitForWindow("Owner", std::chrono::milliseconds(10));
      if (!window) return;
      auto wait = [&] {
        while (window->IsOpen() && !window->WaitingForEvent()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      };
      for (const Step& step : steps) {
        wait();
        if (!window->IsOpen()) return;
        if (step.kind == Step::kEdit) {
          form_->edit = step.edit;
          presenter_.Press(*window, kEditButton);
        } else {
          pressed_.push_back(presenter_.Press(*window, step.control));
        }
      }
      wait();
      left_open_ = window->IsOpen();
      if (left_open_) presenter_.Press(*window, kQuitButton);
    });
    const std::uint8_t response = form_->Run();
    finished = true;
    user.join();
    return response;
  }

  Step Edit(const std::string& field, const std::string& value) {
    return {Step::kEdit, 0, [this, field, value] { Set(owners_->file, field, value); }};
  }

  std::vector<std::string> Titles() const {
    std::vector<std::string> titles;
    const auto shown = presenter_.Messages();
    for (std::size_t i = messages_before_; i < shown.size(); ++i) titles.push_back(shown[i].request.title);
    return titles;
  }

  fs::path previous_directory_;
  fs::path directory_;
  HeadlessPresenter presenter_;
  PerThread<ErrorStatus> status_;
  ErrorManager errors_;
  std::unique_ptr<Table> owners_;
  std::unique_ptr<Table> items_;
  std::unique_ptr<OwnerForm> form_;
  std::vector<bool> pressed_;
  bool left_open_ = false;
  std::size_t messages_before_ = 0;  // a case of a table runs in the same presenter as the one before
};

const std::vector<std::string> kOwners = {"1/ALFA/Alfa", "2/BETA/Beta"};

// ---- inserts -------------------------------------------------------------------------

TEST_F(RecordFormTest, AnInsertCompletedWithOkAddsTheRecordAndCloses) {
  EXPECT_EQ(RunForm(RequestInsert, "", {Edit("OWN:CODE", "GAMA"), Press(kOkButton)}), ResponseCompleted);
  EXPECT_FALSE(left_open_);
  EXPECT_EQ(Owners(), (std::vector<std::string>{"1/ALFA/Alfa", "2/BETA/Beta", "3/GAMA/New"}));
  EXPECT_TRUE(presenter_.Messages().empty());
}

TEST_F(RecordFormTest, RecordAddedAnsweredYesStaysOnAFreshRecordAndNoCloses) {
  struct Case {
    unsigned answer;
    bool stays_open;
  };
  for (const Case& c : {Case{kButtonYes, true}, Case{kButtonNo, false}}) {
    SCOPED_TRACE(c.answer);
    TearDown();
    SetUp();
    form_->configure = [](OwnerForm& form) { form.INSERTACTION = 4; };
    presenter_.QueueAnswer(c.answer);
    std::string number_shown, name_shown;
    Step look{Step::kEdit, 0, [&] {
                number_shown = Get(owners_->file, "OWN:NUMBER");
                name_shown = Get(owners_->file, "OWN:NAME");
              }};
    // Leaving the fresh record removes its unused number; the last one added stays current.
    EXPECT_EQ(RunForm(RequestInsert, "", {Edit("OWN:CODE", "GAMA"), Press(kOkButton), look, Press(kCancelButton)}),
              ResponseCompleted);
    EXPECT_FALSE(left_open_);
    EXPECT_EQ(Titles(), std::vector<std::string>{"Record Added"});
    EXPECT_EQ(number_shown, c.stays_open ? "4" : "");
    EXPECT_EQ(name_shown, c.stays_open ? "New" : "");
    EXPECT_EQ(Get(owners_->file, "OWN:CODE"), "GAMA");
    EXPECT_EQ(Owners(), (std::vector<std::string>{"1/ALFA/Alfa", "2/BETA/Beta", "3/GAMA/New"}));
  }
}

TEST_F(RecordFormTest, TheNextRecordOfAStayingFormIsClosedWithTheLastOneAddedCurrent) {
  form_->configure = [](OwnerForm& form) { form.INSERTACTION = 3; };
  EXPECT_EQ(RunForm(RequestInsert, "", {Edit("OWN:CODE", "GAMA"), Press(kOkButton), Press(kCancelButton)}),
            ResponseCompleted);
  EXPECT_FALSE(left_open_);
  EXPECT_EQ(Get(owners_->file, "OWN:CODE"), "GAMA");
  EXPECT_EQ(Owners(), (std::vector<std::string>{"1/ALFA/Alfa", "2/BETA/Beta", "3/GAMA/New"}));
  EXPECT_TRUE(presenter_.Messages().empty());
}

TEST_F(RecordFormTest, CancellingAnUnchangedInsertRemovesItsNumberWithoutAsking) {
  EXPECT_EQ(RunForm(RequestInsert, "", {Press(kCancelButton)}), ResponseCancelled);
  EXPECT_FALSE(left_open_);
  EXPECT_EQ(Owners(), kOwners);
  EXPECT_TRUE(presenter_.Messages().empty());
}

// A browse whose insert runs the owner form as its update procedure.
class BrowseHost : public WindowManager {
 public:
  std::uint8_t RunProcedure(int, std::uint8_t request) override { return run(request); }
  std::function<std::uint8_t(std::uint8_t)> run;
};

TEST_F(RecordFormTest, AnInsertFromABrowseNumbersItsRecordOnce) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::uint8_t response;
    std::vector<std::string> owners;
  };
  const Case cases[] = {
      {"Completed", {Edit("OWN:CODE", "GAMA"), Press(kOkButton)}, ResponseCompleted,
       {"1/ALFA/Alfa", "2/BETA/Beta", "3/GAMA/New"}},
      {"Cancelled", {Press(kCancelButton)}, ResponseCancelled, kOwners},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    ASSERT_EQ(owners_->relations.OpenRelations(), LevelNone);
    BrowseHost host;
    host.CL = std::make_unique<std::vector<WindowManager::ComponentEntry>>();
    WindowDef list_window{.id = "Test$OwnerBrowse", .caption = "Owners list"};
    list_window.controls = {{1, ControlKind::kList, ""}};
    host.OpenWindow(list_window, nullptr);
    BrowseManager browse;
    ASSERT_EQ(browse.Init(1, host, owners_->relations), LevelNone);
    browse.AddOrder(1);
    browse.AddField(1);
    browse.ASKPROCEDURE = 1;
    std::uint8_t response = 0;
    host.run = [&](std::uint8_t request) { return response = RunFormOnBuffer(request, c.steps); };
    browse.Ask(RequestInsert);
    EXPECT_EQ(response, c.response);
    EXPECT_EQ(Owners(), c.owners);
    browse.Teardown();
    owners_->relations.CloseRelations();
  }
}

// ---- changes -------------------------------------------------------------------------

TEST_F(RecordFormTest, AChangeSavedWithOkWritesTheRecordAndCloses) {
  EXPECT_EQ(RunForm(RequestChange, "BETA", {Edit("OWN:NAME", "Bravo"), Press(kOkButton)}), ResponseCompleted);
  EXPECT_FALSE(left_open_);
  EXPECT_EQ(Owners(), (std::vector<std::string>{"1/ALFA/Alfa", "2/BETA/Bravo"}));
  EXPECT_TRUE(presenter_.Messages().empty());
}

TEST_F(RecordFormTest, AChangeThatDuplicatesAKeyAsksWhetherToTryAgain) {
  struct Case {
    const char* name;
    std::vector<unsigned> answers;
    std::uint8_t response;
    bool stays_open;
    std::vector<std::string> titles;
  };
  const std::vector<Case> cases = {
      // No to trying again gives the change up and closes without asking to save it.
      {"retry", {kButtonOk, kButtonYes, kButtonOk, kButtonNo}, ResponseCancelled, false,
       {"Record was not updated", "Record Update Error", "Record was not updated", "Record Update Error"}},
      {"no", {kButtonOk, kButtonNo}, ResponseCancelled, false, {"Record was not updated", "Record Update Error"}},
      {"cancel", {kButtonOk, kButtonCancel}, ResponseCancelled, true, {"Record was not updated", "Record Update Error"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    for (unsigned answer : c.answers) presenter_.QueueAnswer(answer);
    std::string code_kept;
    Step look{Step::kEdit, 0, [&] { code_kept = Get(owners_->file, "OWN:CODE"); }};
    EXPECT_EQ(RunForm(RequestChange, "BETA", {Edit("OWN:CODE", "ALFA"), Press(kOkButton), look}), c.response);
    EXPECT_EQ(left_open_, c.stays_open);
    EXPECT_EQ(Titles(), c.titles);
    EXPECT_EQ(code_kept, c.stays_open ? "ALFA" : "");
    EXPECT_EQ(Owners(), kOwners);
  }
}

// ---- deletes -------------------------------------------------------------------------

TEST_F(RecordFormTest, ADeleteRefusedByItsItemsAsksWhetherToTryAgain) {
  struct Case {
    const char* name;
    std::vector<unsigned> answers;  // after each refusal: the relation's own retry question, then the form's
    bool stays_open;
    int refusals;
  };
  const std::vector<Case> cases = {
      {"yes then cancel", {kButtonOk, kButtonNo, kButtonYes, kButtonOk, kButtonNo, kButtonCancel}, true, 2},
      {"no", {kButtonOk, kButtonNo, kButtonNo}, false, 1},
      {"cancel", {kButtonOk, kButtonNo, kButtonCancel}, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    form_->configure = [](OwnerForm& form) { form.DELETEACTION = 3; };
    for (unsigned answer : c.answers) presenter_.QueueAnswer(answer);
    EXPECT_EQ(RunForm(RequestDelete, "ALFA", {Press(kOkButton)}), ResponseCancelled);
    EXPECT_EQ(left_open_, c.stays_open);
    std::vector<std::string> titles;
    for (int i = 0; i < c.refusals; ++i) {
      titles.insert(titles.end(),
                    {"Referential Integrity Delete Error", "Record Delete Error", "Record Delete Error"});
    }
    EXPECT_EQ(Titles(), titles);
    EXPECT_EQ(Owners(), kOwners);
  }
}

TEST_F(RecordFormTest, ADeleteCompletedWithOkRemovesTheRecordAndCloses) {
  form_->configure = [](OwnerForm& form) { form.DELETEACTION = 3; };
  EXPECT_EQ(RunForm(RequestDelete, "BETA", {Press(kOkButton)}), ResponseCompleted);
  EXPECT_FALSE(left_open_);
  EXPECT_EQ(Owners(), std::vector<std::string>{"1/ALFA/Alfa"});
  EXPECT_TRUE(presenter_.Messages().empty());
}

TEST_F(RecordFormTest, ADeleteAskedForWithConfirmationNeedsNoWindow) {
  presenter_.QueueAnswer(kButtonYes);
  EXPECT_EQ(RunForm(RequestDelete, "BETA", {}), ResponseCompleted);
  EXPECT_EQ(Titles(), std::vector<std::string>{"Confirm Delete"});
  EXPECT_EQ(Owners(), std::vector<std::string>{"1/ALFA/Alfa"});
}

// ---- closing with changes ------------------------------------------------------------

TEST_F(RecordFormTest, AChangeThatCannotBeSavedOnClosingCanStillBeGivenUp) {
  form_->configure = [](OwnerForm& form) { form.CANCELACTION = 1; };
  for (unsigned answer : {kButtonOk, kButtonNo}) presenter_.QueueAnswer(answer);
  EXPECT_EQ(RunForm(RequestChange, "BETA", {Edit("OWN:CODE", "ALFA"), Press(kCancelButton)}), ResponseCancelled);
  EXPECT_FALSE(left_open_);
  EXPECT_EQ(Titles(), (std::vector<std::string>{"Record was not updated", "Record Update Error"}));
  EXPECT_EQ(Owners(), kOwners);
}

TEST_F(RecordFormTest, ClosingAChangedRecordFollowsTheCancelAction) {
  struct Case {
    const char* name;
    std::uint8_t cancel_action;
    std::vector<unsigned> answers;
    std::uint8_t response;
    bool stays_open;
    std::vector<std::string> titles;
    std::string name_written;
  };
  const std::vector<Case> cases = {
      {"no action", 0, {}, ResponseCancelled, false, {}, "Beta"},
      {"save without asking", 1, {}, ResponseCompleted, false, {}, "Bravo"},
      {"ask, yes", 3, {kButtonYes}, ResponseCompleted, false, {"Save Record"}, "Bravo"},
      {"ask, no", 3, {kButtonNo}, ResponseCancelled, false, {"Save Record"}, "Beta"},
      {"ask, cancel", 3, {kButtonCancel}, ResponseCancelled, true, {"Save Record"}, "Beta"},
      {"warn, yes", 2, {kButtonYes}, ResponseCancelled, false, {"Changes will be lost!"}, "Beta"},
      {"warn, no", 2, {kButtonNo}, ResponseCancelled, true, {"Changes will be lost!"}, "Beta"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    form_->configure = [&c](OwnerForm& form) { form.CANCELACTION = c.cancel_action; };
    for (unsigned answer : c.answers) presenter_.QueueAnswer(answer);
    EXPECT_EQ(RunForm(RequestChange, "BETA", {Edit("OWN:NAME", "Bravo"), Press(kCancelButton)}), c.response);
    EXPECT_EQ(left_open_, c.stays_open);
    EXPECT_EQ(Titles(), c.titles);
    EXPECT_EQ(Owners(), (std::vector<std::string>{"1/ALFA/Alfa", "2/BETA/" + c.name_written}));
  }
}

// ---- the save button -----------------------------------------------------------------

TEST_F(RecordFormTest, SavingDuringAnInsertThenAChangeWritesBothAndOkCompletes) {
  form_->configure = [](OwnerForm& form) { form.DISABLECANCELBUTTON = 1; };
  std::vector<std::string> after_first_save;
  Step look{Step::kEdit, 0, [&] { after_first_save = Owners(); }};
  EXPECT_EQ(RunForm(RequestInsert, "",
                    {Edit("OWN:CODE", "GAMA"), Press(kSaveButton), look, Edit("OWN:NAME", "Gamma"),
                     Press(kSaveButton), Press(kOkButton)}),
            ResponseCompleted);
  EXPECT_EQ(pressed_, std::vector<bool>(3, true));
  EXPECT_FALSE(left_open_);
  EXPECT_EQ(after_first_save, (std::vector<std::string>{"1/ALFA/Alfa", "2/BETA/Beta", "3/GAMA/New"}));
  EXPECT_EQ(Owners(), (std::vector<std::string>{"1/ALFA/Alfa", "2/BETA/Beta", "3/GAMA/Gamma"}));
  EXPECT_TRUE(presenter_.Messages().empty());
}

TEST_F(RecordFormTest, TheCancelButtonIsDisabledOnceTheInsertWasSaved) {
  form_->configure = [](OwnerForm& form) { form.DISABLECANCELBUTTON = 1; };
  EXPECT_EQ(RunForm(RequestInsert, "", {Edit("OWN:CODE", "GAMA"), Press(kSaveButton), Press(kCancelButton)}),
            ResponseCancelled);
  ASSERT_EQ(pressed_.size(), 2u);
  EXPECT_TRUE(pressed_[0]);
  EXPECT_FALSE(pressed_[1]);
  EXPECT_TRUE(left_open_);
  // The saved record stays though the form was left without completing.
  EXPECT_EQ(Owners(), (std::vector<std::string>{"1/ALFA/Alfa", "2/BETA/Beta", "3/GAMA/New"}));
}

TEST_F(RecordFormTest, TheSaveButtonOfAViewDoesNothing) {
  EXPECT_EQ(RunForm(RequestView, "BETA", {Edit("OWN:NAME", "Bravo"), Press(kSaveButton)}), ResponseCancelled);
  EXPECT_TRUE(left_open_);
  EXPECT_EQ(Owners(), kOwners);
}

// ---- batch forms --------------------------------------------------------------------

TEST_F(RecordFormTest, ABatchChangeFormWritesEachRecordAndMovesOn) {
  CodeNavigator navigator(*owners_, {"BETA", "ALFA"});
  form_->configure = [&](OwnerForm& form) {
    form.BATCHPROCESSING = 1;
    form.FORMVCR = &navigator;
  };
  // Leaving a record just moved to asks nothing: it is compared with what was read.
  EXPECT_EQ(RunForm(RequestChange, "ALFA",
                    {Edit("OWN:NAME", "Able"), Press(kOkButton), Edit("OWN:NAME", "Bravo"), Press(kOkButton),
                     Press(kCancelButton)}),
            ResponseCancelled);
  EXPECT_FALSE(left_open_);
  EXPECT_EQ(navigator.moves(), 2u);
  EXPECT_EQ(Owners(), (std::vector<std::string>{"1/ALFA/Able", "2/BETA/Bravo"}));
  EXPECT_TRUE(presenter_.Messages().empty());
}

TEST_F(RecordFormTest, ABatchFormStaysOpenAfterADeleteOrAView) {
  struct Case {
    std::uint8_t request;
    std::vector<std::string> owners;
  };
  for (const Case& c : {Case{RequestDelete, {"1/ALFA/Alfa"}}, Case{RequestView, kOwners}}) {
    SCOPED_TRACE(static_cast<int>(c.request));
    TearDown();
    SetUp();
    CodeNavigator navigator(*owners_, {"ALFA"});
    form_->configure = [&](OwnerForm& form) {
      form.BATCHPROCESSING = 1;
      form.FORMVCR = &navigator;
      form.DELETEACTION = 3;
    };
    std::string shown;
    Step look{Step::kEdit, 0, [&] { shown = Get(owners_->file, "OWN:CODE"); }};
    RunForm(c.request, "BETA", {Press(kOkButton), look});
    EXPECT_TRUE(left_open_);
    EXPECT_EQ(navigator.moves(), 1u);
    EXPECT_EQ(shown, "ALFA");
    EXPECT_EQ(Owners(), c.owners);
  }
}

// ---- field history -------------------------------------------------------------------

TEST(FieldHistoryTest, CompletionKeepsEachVariableOnceAndRecallRestoresIt) {
  WindowManager form;
  std::string name = "Alfa";
  std::string code = "ALFA";
  form.HISTORY = std::make_unique<std::vector<WindowManager::HistoryEntry>>();
  form.HISTORY->push_back({&name, "", kNameEntry});
  form.HISTORY->push_back({&name, "kept", kNameEntry + 10});  // a second control on the same variable
  form.HISTORY->push_back({&code, "", kNameEntry + 20});
  EXPECT_EQ(form.OnCompleted(), LevelNone);
  EXPECT_EQ((*form.HISTORY)[0].SAVED, "Alfa");
  EXPECT_EQ((*form.HISTORY)[1].SAVED, "kept");
  EXPECT_EQ((*form.HISTORY)[2].SAVED, "ALFA");

  name = "Bravo";
  code = "BETA";
  form.RecallFieldHistory(kNameEntry);
  EXPECT_EQ(name, "Alfa");
  EXPECT_EQ(code, "BETA");
  form.RecallFieldHistory(99);
  EXPECT_EQ(code, "BETA");
}

}  // namespace
}  // namespace qm
