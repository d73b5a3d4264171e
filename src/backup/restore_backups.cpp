#include "backup/restore_backups.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "backup/archive_guard.h"
#include "backup/command_runner.h"
#include "backup/register_file.h"
#include "backup/register_window.h"
#include "backup/settings.h"
#include "framework/settings/ini_manager.h"
#include "framework/windows/browse_manager.h"
#include "platform/file_system.h"
#include "platform/presenter.h"
#include "platform/record_fields.h"
#include "platform/threads.h"

namespace qm::backup {
namespace {

using platform::ControlKind;

constexpr const char* kCaption = "Restore";
constexpr const char* kExtDrive = "Ext drive";
constexpr std::size_t kRegisterNameLength = 13;

constexpr int kNumberField = 1;
constexpr int kNameField = 2;
constexpr int kDateField = 3;
constexpr int kTimeField = 4;
constexpr int kSizeField = 5;

std::string RegisterField(int field) {
  const platform::RecordFile& file = RegisterFile();
  return FieldText(file.Declaration().fields[static_cast<std::size_t>(field - 1)], file.Record());
}

void SetRegisterField(int field, const std::string& value) {
  platform::RecordFile& file = RegisterFile();
  SetFieldText(file.Declaration().fields[static_cast<std::size_t>(field - 1)], file.Record(), value);
}

// Every restore window of the process rebuilds the one register file on
// disk; one at a time, so that no list is filled from a half-built one.
platform::CriticalSection& RegisterRebuild() {
  static auto* section = new platform::CriticalSection;
  return *section;
}

// One archive of the listing. The register holds 13 characters of a name;
// the restore needs the whole of it.
struct Listed {
  std::string name;
  long date = 0;
  long time = 0;
  std::int32_t size = 0;
};

// "Drive" only makes sense on the "Ext drive" row, which has no date. The
// register buffer follows the highlighted row once the browse has seen the
// event, so the button is set after it, and is right for the next press.
class RestoreBrowse : public BrowseManager {
 public:
  explicit RestoreBrowse(int drive_control) : drive_control_(drive_control) {}

  ErrorLevel HandleEvent() override {
    const ErrorLevel level = BrowseManager::HandleEvent();
    if (WINDOW && WINDOW->MYWINDOW) {
      FollowHighlight();
      const std::string date = RegisterField(kDateField);
      WINDOW->MYWINDOW->SetControlEnabled(drive_control_, date.empty() || date == "0");
    }
    return level;
  }

  // Puts the register buffer on the row the list highlights.
  void FollowHighlight() {
    const int chosen = WINDOW->MYWINDOW->SelectedRow(ILC);
    if (chosen >= 1 && chosen <= Rows()) CURRENTCHOICE = chosen;
    UpdateBuffer();
  }

 private:
  const int drive_control_;
};

class RestoreWindow : public RegisterWindow {
 public:
  static constexpr int kList = 1;
  static constexpr int kDrive = 2;
  static constexpr int kSource = 3;
  static constexpr int kRestore = 5;
  static constexpr int kCancel = 6;

  RestoreWindow()
      : RegisterWindow(
            "RestoreBackups",
            {.id = "TdxBack$TdxBack003",
             .caption = "Restore a Backup",
             .icon = "Restore.ico",
             .controls = {{kList, ControlKind::kList, "",
                           "[18R(2)|M~#~@n3@62L(2)|M~Backup File~@s13@48R(2)|M~Date~@d17b@32R(2)|M~Time~@T1b@"
                           "56R(1)|M~Size~R(2)@n-14b@]|M~Select which file to restore from please~"},
                          {kDrive, ControlKind::kButton, "Drive"},
                          {kSource, ControlKind::kString, "", "@s50"},
                          {4, ControlKind::kPrompt, "Restore From ? .:"},
                          {kRestore, ControlKind::kButton, "&Restore", "", "Restore.ico"},
                          {kCancel, ControlKind::kButton, "Cancel", "", "Cancel.ico"}}},
            kCaption),
        browse_(kDrive) {}

  void Open() override {
    platform::CriticalSectionGuard rebuilding(RegisterRebuild());
    Refill();
    RegisterWindow::Open();
  }

  ErrorLevel Teardown() override {
    listed_.clear();
    return RegisterWindow::Teardown();
  }

 protected:
  ErrorLevel SetupWindow() override {
    BUTTONS->push_back({kCancel, ResponseCancelled});
    if (!RegisterRelations()) return LevelFatal;
    browse_.Init(kList, *this, *RegisterRelations());
    browse_.FILELOADED = 1;
    browse_.AddOrder(0);
    browse_.AddField(kNumberField, "@n3");
    browse_.AddField(kNameField, "@s13");
    browse_.AddField(kDateField, "@d17b");
    browse_.AddField(kTimeField, "@T1b");
    browse_.AddField(kSizeField, "@n-14b");
    return LevelNone;
  }

  // The window's own handling of a new selection redraws the list from the
  // browse's current row before the browse sees the event, which would put
  // the highlight back; the browse takes the user's row first.
  ErrorLevel OnSelectionChange() override {
    if (MYWINDOW->CurrentField() == kList) browse_.FollowHighlight();
    return RegisterWindow::OnSelectionChange();
  }

  ErrorLevel OnAccepted() override {
    const int accepted = MYWINDOW->Accepted();
    if (accepted == kDrive) {
      ChooseDrive(drive_, kSource);
    } else if (accepted == kRestore) {
      Restore();
    }
    return RegisterWindow::OnAccepted();
  }

 private:
  // Empties the register and fills it from a fresh listing of the archives,
  // with "Ext drive" last. Names are cut to what the register holds; the
  // whole names stay in listed_.
  void Refill() {
    listed_.clear();
    const std::string directory = platform::CurrentDirectory().value_or(".");
    if (auto entries = platform::ListDirectory(directory, "*.Zip")) {
      for (const platform::DirectoryEntry& entry : *entries) {
        const auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
        listed_.push_back({entry.name, entry.date, entry.time,
                           static_cast<std::int32_t>(std::min(entry.size, largest))});
      }
    }
    listed_.push_back({kExtDrive});
    RegisterFileManager* manager = RegisterManager();
    if (!manager) return;
    platform::RecordFile& file = RegisterFile();
    manager->EnsureOpen();
    file.Stream();
    file.Clear();
    file.Set();
    while (manager->Next() == LevelNone) file.Delete();
    for (std::size_t i = 0; i < listed_.size(); ++i) {
      const Listed& entry = listed_[i];
      file.Clear();
      SetRegisterField(kNumberField, std::to_string(i + 1));
      SetRegisterField(kNameField, entry.name.substr(0, kRegisterNameLength));
      SetRegisterField(kDateField, std::to_string(entry.date));
      SetRegisterField(kTimeField, std::to_string(entry.time));
      SetRegisterField(kSizeField, std::to_string(entry.size));
      manager->Insert();
    }
    file.Flush();
  }

  // The whole name of the highlighted archive; empty for "Ext drive" or
  // when there is no row.
  std::string HighlightedArchive() const {
    const std::string number = RegisterField(kNumberField);
    const std::string date = RegisterField(kDateField);
    if (date.empty() || date == "0") return {};
    const long row = std::atol(number.c_str());
    if (row < 1 || row > static_cast<long>(listed_.size())) return {};
    return listed_[static_cast<std::size_t>(row - 1)].name;
  }

  void Restore() {
    browse_.FollowHighlight();
    const std::string drive = ClipTrailingBlanks(drive_);
    const std::string archive =
        drive.empty() ? HighlightedArchive() : drive + Settings().PROG;
    if (archive.empty()) {
      MYWINDOW->Select(kDrive);
      return;
    }
    ArchiveGuard guard;
    if (!LockDataDirectory(guard, ClipTrailingBlanks(Settings().DATADIR), "Error - Restore was unsuccessful")) return;
    RegisterFile().Close();
    platform::SetCursor(MYWINDOW.get(), platform::Cursor::kWait);
    if (!drive.empty()) Say("If not internal drive, insert disk/CD in drive " + drive);
    MYWINDOW->Display();
    // Tested whole first: a damaged archive is refused before any file is
    // touched, and the extraction replaces the files only once all are
    // complete.
    const std::string name = QuoteIfBlank(archive);
    std::int16_t result = fcBackupRestore("QmZip -test " + name);
    if (result == 0) result = fcBackupRestore("QmZip -ext -over=all " + name);
    Say(result != 0 ? "Error - Restore was unsuccessful" : "Restore was successful");
    platform::SetCursor(MYWINDOW.get(), platform::Cursor::kNormal);
    MYWINDOW->Post({platform::kEventCloseWindow});
  }

  RestoreBrowse browse_;
  std::string drive_;
  std::vector<Listed> listed_;
};

}  // namespace

void RestoreBackups() { LastResponse() = RestoreWindow().Run(); }

}  // namespace qm::backup
