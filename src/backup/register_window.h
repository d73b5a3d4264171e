// What "Make a Backup" and "Restore a Backup" share: the backup register
// opened through its relation manager while the window is open, the
// directory dialog that picks a drive, and messages under the window's
// caption.
#pragma once

#include <string>

#include "backup/archive_guard.h"
#include "framework/windows/styled_window.h"

namespace qm::backup {

// The value of an entry field as the runtime compares it: without the
// blanks that pad it.
std::string ClipTrailingBlanks(std::string value);

// Shows `text` with an OK button under `caption`.
void Tell(const char* caption, const std::string& text);

class RegisterWindow : public StyledWindow {
 public:
  // `caption` is the caption of the window's messages.
  RegisterWindow(const char* procedure, platform::WindowDef definition, const char* caption);

 protected:
  ErrorLevel OpenFiles() override;
  void CloseFiles() override;

  void Say(const std::string& text) const { Tell(caption_, text); }

  // The directory dialog, starting at `drive`. A directory chosen there
  // becomes `drive`, with a trailing separator (archive names are joined
  // to it without one), and is shown in `shown_control`. The current
  // directory is always set back: the local commands rely on it.
  void ChooseDrive(std::string& drive, int shown_control);

  // Takes `guard` on the data directory `directory`. When another backup or
  // restore holds it, says so and the window stays open for another try;
  // when it cannot be taken at all (a missing or read-only directory), shows
  // `failure` and closes the window, as a failed attempt does.
  bool LockDataDirectory(ArchiveGuard& guard, const std::string& directory, const std::string& failure);

 private:
  const char* const caption_;
};

}  // namespace qm::backup
