#include "backup/make_backups.h"

#include <csignal>
#include <cstdlib>

#include "backup/archive_guard.h"
#include "backup/command_runner.h"
#include "backup/register_file.h"
#include "backup/register_window.h"
#include "backup/settings.h"
#include "framework/settings/ini_manager.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/presenter.h"

namespace qm::backup {
namespace {

using platform::ControlKind;

constexpr const char* kCaption = "Backup";
constexpr const char* kUndoneMessage =
    "An unfinished backup was found and undone: the backups are as they were before it.";
constexpr const char* kSection = "Attempt";

// Test seam: with QM_TDXBACK_KILL_AT naming a step ("copied", "rotated",
// "local", "aside", "target", "tested"), TdxBack kills itself with SIGKILL
// there, as a power cut would, so the tests can check the recovery.
void KillPoint(const char* step) {
  const char* wanted = std::getenv("QM_TDXBACK_KILL_AT");
  if (wanted && std::string(wanted) == step) std::raise(SIGKILL);
}

struct Names {
  std::string directory;
  std::string generation[4];
  std::string saved[4];
  std::string journal;
};

Names NamesOf(const std::string& directory, const std::string& prefix) {
  Names names;
  names.directory = directory;
  for (int n = 1; n <= 3; ++n) {
    const std::string number = "0" + std::to_string(n);
    names.generation[n] = platform::JoinPath(directory, prefix + number + ".Zip");
    names.saved[n] = platform::JoinPath(directory, prefix + number + ".Old");
  }
  names.journal = platform::JoinPath(directory, kJournalName);
  return names;
}

// Puts the generations back as the journal says they were, puts a target
// archive moved aside back in its place, and removes the safety copies and
// the journal. Every step may be repeated, so a kill during recovery is
// undone by the next recovery.
void Recover(const Names& names) {
  const platform::IniFile journal(names.journal);
  const std::string phase = journal.Get(kSection, "Phase");
  const std::string target = journal.Get(kSection, "Target");
  const std::string aside = journal.Get(kSection, "Aside");
  if (phase == "rotating") {
    for (int n = 1; n <= 3; ++n) {
      const bool had = journal.Get(kSection, "Had" + std::to_string(n)) == "1";
      if (had) {
        if (platform::CopyFile(names.saved[n], names.generation[n]) != 0) return;
      } else if (platform::FileExists(names.generation[n]) && platform::RemoveFile(names.generation[n]) != 0) {
        return;
      }
    }
  }
  if (!aside.empty() && platform::FileExists(aside)) {
    if (phase == "done") {
      if (platform::RemoveFile(aside) != 0) return;
    } else {
      if (platform::FileExists(target) && platform::RemoveFile(target) != 0) return;
      if (platform::RenameFile(aside, target) != 0) return;
    }
  }
  // A directory of that name is not a safety copy of ours.
  for (int n = 1; n <= 3; ++n) {
    if (platform::FileExists(names.saved[n]) && !platform::IsDirectory(names.saved[n]) &&
        platform::RemoveFile(names.saved[n]) != 0) {
      return;
    }
  }
  platform::RemoveFile(names.journal);
}

class BackupWindow : public RegisterWindow {
 public:
  static constexpr int kData = 2;
  static constexpr int kDrive = 4;
  static constexpr int kTarget = 5;
  static constexpr int kBackup = 6;
  static constexpr int kCancel = 7;

  BackupWindow()
      : RegisterWindow("MakeBackups", {.id = "TdxBack$TdxBack002",
                                     .caption = "Make a Backup",
                                     .icon = "Backup.ico",
                                     .controls = {{1, ControlKind::kPrompt, "Backup Data .:"},
                                                  {kData, ControlKind::kString, "", "@s128"},
                                                  {3, ControlKind::kPrompt, "Backup To ? .:"},
                                                  {kDrive, ControlKind::kButton, "Drive"},
                                                  {kTarget, ControlKind::kString, "", "@s50"},
                                                  {kBackup, ControlKind::kButton, "&Backup", "", "Backup.ico"},
                                                  {kCancel, ControlKind::kButton, "Cancel", "", "Cancel.ico"}}},
                       kCaption) {}

 protected:
  ErrorLevel SetupWindow() override {
    BUTTONS->push_back({kCancel, ResponseCancelled});
    MYWINDOW->SetControlText(kData, Settings().DATADIR);
    return LevelNone;
  }

  ErrorLevel OnAccepted() override {
    const int accepted = MYWINDOW->Accepted();
    if (accepted == kDrive) {
      ChooseDrive(target_, kTarget);
    } else if (accepted == kBackup) {
      Backup();
    }
    return RegisterWindow::OnAccepted();
  }

 private:
  void Finish() {
    platform::SetCursor(MYWINDOW.get(), platform::Cursor::kNormal);
    MYWINDOW->Post({platform::kEventCloseWindow});
  }

  void Backup() {
    const std::string target = ClipTrailingBlanks(target_);
    if (target.empty()) {
      MYWINDOW->Select(kDrive);
      return;
    }
    const std::string directory = ClipTrailingBlanks(Settings().DATADIR);
    const std::string& prefix = Settings().PROG;
    ArchiveGuard guard;
    if (!guard.TryAcquire(directory)) {
      if (guard.RefusedAsBusy()) {
        Say(kBusyMessage);
        return;
      }
      // Nothing can be kept safe in a data directory we cannot write.
      Say("Error in ZIP file on harddisk");
      Finish();
      return;
    }
    const Names names = NamesOf(directory, prefix);
    if (platform::FileExists(names.journal)) {
      Recover(names);
      Say(kUndoneMessage);
    }
    if (RegisterManager()) RegisterManager()->Close();
    platform::SetCursor(MYWINDOW.get(), platform::Cursor::kWait);

    platform::IniFile journal(names.journal);
    bool had[4] = {false, false, false, false};
    bool ok = journal.Put(kSection, "Phase", "copying") == 0;
    for (int n = 1; ok && n <= 3; ++n) {
      had[n] = platform::FileExists(names.generation[n]);
      ok = journal.Put(kSection, "Had" + std::to_string(n), had[n] ? "1" : "0") == 0 &&
           (!had[n] || platform::CopyFile(names.generation[n], names.saved[n]) == 0);
    }
    if (!ok) {
      Recover(names);
      Say("The safety copies of the backups could not be made in " + directory +
          ".|Nothing was changed. Check that the directory is writable and has room.");
      Finish();
      return;
    }
    KillPoint("copied");
    const std::string archive = target + prefix + ".Zip";
    const std::string aside = archive + ".Bak";
    ok = journal.Put(kSection, "Target", archive) == 0 && journal.Put(kSection, "Aside", aside) == 0 &&
         journal.Put(kSection, "Phase", "rotating") == 0;
    if (ok && had[3]) ok = platform::RemoveFile(names.generation[3]) == 0;
    if (ok && had[2]) ok = platform::RenameFile(names.generation[2], names.generation[3]) == 0;
    if (ok && had[1]) ok = platform::RenameFile(names.generation[1], names.generation[2]) == 0;
    if (!ok) {
      Recover(names);
      Say("The backups in " + directory + " could not be rotated.|Nothing was changed.");
      Finish();
      return;
    }
    KillPoint("rotated");

    Say("If not internal drive, insert disk/CD in drive " + target + " ...");
    std::int16_t result = fcBackupRestore("QmZip -add " + prefix + "01 *.dat *.ini");
    if (result == 0) result = fcBackupRestore("QmZip -test " + prefix + "01.Zip");
    KillPoint("local");
    if (result != 0) {
      Say("Error in ZIP file on harddisk");
      Recover(names);
      Finish();
      return;
    }
    ok = !platform::FileExists(aside) || platform::RemoveFile(aside) == 0;
    if (ok && platform::FileExists(archive)) ok = platform::RenameFile(archive, aside) == 0;
    KillPoint("aside");
    if (ok) {
      result = fcBackupRestore("QmZip -add " + QuoteIfBlank(target + prefix) + " *.dat *.ini");
      KillPoint("target");
      if (result == 0) result = fcBackupRestore("QmZip -test " + QuoteIfBlank(archive));
    }
    KillPoint("tested");
    if (!ok || result != 0) {
      Say("Error with ZIP file on disk " + target);
      Recover(names);
      Finish();
      return;
    }
    journal.Put(kSection, "Phase", "done");
    Recover(names);
    Say("Data backup was successful");
    Finish();
  }

  std::string target_;
};

}  // namespace

void MakeBackups() { LastResponse() = BackupWindow().Run(); }

bool RecoverUnfinishedBackup() {
  const std::string directory = ClipTrailingBlanks(Settings().DATADIR);
  const Names names = NamesOf(directory, Settings().PROG);
  if (!platform::FileExists(names.journal)) return false;
  ArchiveGuard guard;
  if (!guard.TryAcquire(directory)) return false;
  Recover(names);
  Tell(kCaption, kUndoneMessage);
  return true;
}

}  // namespace qm::backup
