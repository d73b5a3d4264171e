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
#include "platform/runtime_error.h"

namespace qm::backup {
namespace {

using platform::ControlKind;

constexpr const char* kCaption = "Backup";
constexpr const char* kUndoneMessage =
    "An unfinished backup was found and undone: the backups are as they were before it.";
constexpr const char* kSection = "Attempt";

// Test seam: with QM_TDXBACK_KILL_AT naming a step ("copied", "rotated",
// "local", "aside", "target", "tested", "finished"), TdxBack kills itself with SIGKILL
// there, as a power cut would, so the tests can check the recovery.
void KillPoint(const char* step) {
  const char* wanted = std::getenv("QM_TDXBACK_KILL_AT");
  if (wanted && std::string(wanted) == step) std::raise(SIGKILL);
}

// The files of one attempt. Generations are named as they are found on
// disk, in whatever letter case, as the archiver finds them.
struct Names {
  std::string generation[4];
  std::string saved[4];
  std::string journal;
  std::string finished;  // the journal, renamed once the attempt has succeeded
};

Names NamesOf(const std::string& directory, const std::string& prefix) {
  Names names;
  for (int n = 1; n <= 3; ++n) {
    const std::string number = "0" + std::to_string(n);
    names.generation[n] = platform::ExistingNameIgnoringCase(platform::JoinPath(directory, prefix + number + ".Zip"));
    names.saved[n] = platform::JoinPath(directory, prefix + number + ".Old");
  }
  names.journal = platform::JoinPath(directory, kJournalName);
  names.finished = platform::JoinPath(directory, kFinishedJournalName);
  return names;
}

enum class Recovery {
  kNothing,    // no attempt was left unfinished
  kUndone,     // the generations and the target archive are back as they were
  kCompleted,  // the attempt had succeeded; only its leftovers were removed
  kFailed,     // something could not be put back; the journal stays for the next try
};

int Remove(const std::string& path) { return platform::FileExists(path) ? platform::RemoveFile(path) : 0; }

// A directory of a safety copy's name is not one of ours.
bool SafetyCopyExists(const std::string& path) { return platform::FileExists(path) && !platform::IsDirectory(path); }

// What a killed or failed attempt left, put right as its journal says.
// Generations are put back by renaming their safety copies, which needs no
// free space, and every step may be repeated, so a recovery that is itself
// killed is finished by the next one.
Recovery Recover(const Names& current) {
  const bool finished = platform::FileExists(current.finished);
  if (!finished && !platform::FileExists(current.journal)) return Recovery::kNothing;
  const platform::IniFile journal(finished ? current.finished : current.journal);
  Names names = current;
  for (int n = 1; n <= 3; ++n) {
    const std::string recorded = journal.Get(kSection, "Generation" + std::to_string(n));
    if (!recorded.empty()) names.generation[n] = recorded;
  }
  const std::string target = journal.Get(kSection, "Target");
  const std::string new_archive = journal.Get(kSection, "NewArchive");
  const std::string aside = journal.Get(kSection, "Aside");

  if (!finished && journal.Get(kSection, "Phase") == "rotating") {
    // The new generation 1 gets the archiver's name for it, which differs
    // from the old one's when that was named in another letter case.
    if (Remove(journal.Get(kSection, "NewGeneration")) != 0) return Recovery::kFailed;
    for (int n = 1; n <= 3; ++n) {
      const bool had = journal.Get(kSection, "Had" + std::to_string(n)) == "1";
      if (!had) {
        if (Remove(names.generation[n]) != 0) return Recovery::kFailed;
      } else if (SafetyCopyExists(names.saved[n])) {
        // A copy that is gone was put back by an earlier recovery.
        if (Remove(names.generation[n]) != 0 || platform::RenameFile(names.saved[n], names.generation[n]) != 0) {
          return Recovery::kFailed;
        }
      }
    }
  }
  // The old target archive is only named in the journal once it was moved
  // aside. A drive that is not there now keeps it under its aside name,
  // which the next backup to that drive takes back.
  if (!aside.empty() && platform::FileExists(aside)) {
    if (finished) {
      if (platform::RemoveFile(aside) != 0) return Recovery::kFailed;
    } else if (Remove(new_archive) != 0 || Remove(target) != 0 || platform::RenameFile(aside, target) != 0) {
      return Recovery::kFailed;
    }
  }
  for (int n = 1; n <= 3; ++n) {
    if (SafetyCopyExists(names.saved[n]) && platform::RemoveFile(names.saved[n]) != 0) return Recovery::kFailed;
  }
  if (Remove(current.journal) != 0 || Remove(current.finished) != 0) return Recovery::kFailed;
  return finished ? Recovery::kCompleted : Recovery::kUndone;
}

std::string RecoveryFailedMessage(const std::string& directory) {
  return "An unfinished backup could not be undone: " + platform::LastRuntimeError().file_error_message + " (" +
         platform::LastRuntimeError().file + ").|The earlier backups are kept in " + directory +
         ". Make room or check the directory, then try again.";
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
    if (!LockDataDirectory(guard, directory, "Error in ZIP file on harddisk")) return;
    switch (Recover(NamesOf(directory, prefix))) {
      case Recovery::kUndone: Say(kUndoneMessage); break;
      case Recovery::kFailed:
        Say(RecoveryFailedMessage(directory));
        Finish();
        return;
      case Recovery::kNothing:
      case Recovery::kCompleted: break;
    }
    // Named after the recovery, which may have renamed generations.
    const Names names = NamesOf(directory, prefix);
    if (RegisterManager()) RegisterManager()->Close();
    platform::SetCursor(MYWINDOW.get(), platform::Cursor::kWait);

    // Each attempt writes a journal of its own from the start.
    platform::IniFile journal(names.journal);
    bool had[4] = {false, false, false, false};
    bool ok = journal.Put(kSection, "Phase", "copying") == 0;
    for (int n = 1; ok && n <= 3; ++n) {
      const std::string number = std::to_string(n);
      had[n] = platform::FileExists(names.generation[n]);
      ok = journal.Put(kSection, "Generation" + number, names.generation[n]) == 0 &&
           journal.Put(kSection, "Had" + number, had[n] ? "1" : "0") == 0 &&
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
    const std::string new_archive = target + prefix + ".Zip";
    const std::string archive = platform::ExistingNameIgnoringCase(new_archive);
    const std::string aside = new_archive + ".Bak";
    ok = journal.Put(kSection, "NewGeneration", platform::JoinPath(directory, prefix + "01.Zip")) == 0 &&
         journal.Put(kSection, "Target", archive) == 0 && journal.Put(kSection, "NewArchive", new_archive) == 0 &&
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
    std::int16_t result = fcBackupRestore("QmZip -add " + QuoteIfBlank(prefix + "01") + " *.dat *.ini");
    if (result == 0) result = fcBackupRestore("QmZip -test " + QuoteIfBlank(prefix + "01.Zip"));
    KillPoint("local");
    if (result != 0) {
      Say("Error in ZIP file on harddisk");
      Recover(names);
      Finish();
      return;
    }
    ok = MoveAside(journal, archive, aside);
    KillPoint("aside");
    if (ok) {
      result = fcBackupRestore("QmZip -add " + QuoteIfBlank(target + prefix) + " *.dat *.ini");
      KillPoint("target");
      if (result == 0) result = fcBackupRestore("QmZip -test " + QuoteIfBlank(new_archive));
    }
    KillPoint("tested");
    if (!ok || result != 0) {
      Say("Error with ZIP file on disk " + target);
      Recover(names);
      Finish();
      return;
    }
    // Renaming needs no room on a full disk: once the journal has its
    // finished name, a recovery keeps this attempt instead of undoing it.
    if (platform::RenameFile(names.journal, names.finished) != 0) {
      Say("Error in ZIP file on harddisk");
      Recover(names);
      Finish();
      return;
    }
    KillPoint("finished");
    Recover(names);
    Say("Data backup was successful");
    Finish();
  }

  // Moves the target's archive out of the new one's way, keeping it until
  // the new one has been tested. An aside archive with no archive beside it
  // is the last one that was tested (a recovery could not reach the drive):
  // it is taken back first. Named in the journal only once it is aside, so
  // that a recovery never takes another file for it.
  static bool MoveAside(platform::IniFile& journal, const std::string& archive, const std::string& aside) {
    if (!platform::FileExists(archive) && platform::FileExists(aside) && platform::RenameFile(aside, archive) != 0) {
      return false;
    }
    if (Remove(aside) != 0) return false;
    if (!platform::FileExists(archive)) return true;
    if (platform::RenameFile(archive, aside) != 0) return false;
    if (journal.Put(kSection, "Aside", aside) == 0) return true;
    platform::RenameFile(aside, archive);
    return false;
  }

  std::string target_;
};

}  // namespace

void MakeBackups() { LastResponse() = BackupWindow().Run(); }

bool RecoverUnfinishedBackup() {
  const std::string directory = ClipTrailingBlanks(Settings().DATADIR);
  const Names names = NamesOf(directory, Settings().PROG);
  if (!platform::FileExists(names.journal) && !platform::FileExists(names.finished)) return false;
  ArchiveGuard guard;
  if (!guard.TryAcquire(directory)) return false;
  switch (Recover(names)) {
    case Recovery::kUndone: Tell(kCaption, kUndoneMessage); return true;
    case Recovery::kFailed: Tell(kCaption, RecoveryFailedMessage(directory)); return true;
    case Recovery::kNothing:
    case Recovery::kCompleted: return false;
  }
  return false;
}

}  // namespace qm::backup
