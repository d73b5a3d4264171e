// What the user sees: the presenter draws the runtime's windows and asks the
// user questions. Logical threads never draw; they call the presenter, which
// may run on a thread of its own (Qt's GUI thread) and marshals to it.
//
// Three presenters implement this interface: headless (tests), script
// (end-to-end runs from a text script) and Qt (the desktop).
#pragma once

#include <optional>
#include <string>

namespace qm::platform {

class Window;

// Message box buttons as bit values; a message box returns the value of the
// button pressed.
enum MessageButton : unsigned {
  kButtonOk = 1,
  kButtonYes = 2,
  kButtonNo = 4,
  kButtonAbort = 8,
  kButtonRetry = 16,
  kButtonIgnore = 32,
  kButtonCancel = 64,
  kButtonHelp = 128,
};

// The caption of one button ("O&k", "&Yes", ...); empty for a value that is
// not exactly one button.
std::string ButtonCaption(unsigned button);

// The name of one button as scripts and transcripts write it ("Ok", "Yes").
std::string ButtonName(unsigned button);

// Icon designators understood by the message box: four bytes.
inline const std::string kIconQuestion = "\xFF\x01\x03\x7F";
inline const std::string kIconStop = "\xFF\x01\x04\x7F";

struct MessageBoxRequest {
  std::string text;   // a "|" is shown as a line break
  std::string title;
  std::string icon;   // kIconQuestion, kIconStop, or empty for none
  unsigned buttons = kButtonOk;
  unsigned default_button = kButtonOk;
  int style = 0;
};

enum class Cursor { kNormal, kWait };

class Presenter {
 public:
  virtual ~Presenter() = default;

  // A window was opened or closed by its logical thread.
  virtual void WindowOpened(Window& window) = 0;
  virtual void WindowClosed(Window& window) = 0;

  // A control's state (text, value, enabled, visible, rows) or a window
  // property changed; control 0 is the window itself.
  virtual void ControlChanged(Window& window, int control) = 0;

  // The program moved the focus to a control.
  virtual void FocusMoved(Window& window, int control) = 0;

  // Shows a message box and blocks the calling logical thread until the
  // user answers; returns the value of the button pressed.
  virtual unsigned ShowMessage(const MessageBoxRequest& request) = 0;

  // Asks for a directory; nullopt when the user cancels.
  virtual std::optional<std::string> ChooseDirectory(const std::string& title,
                                                     const std::string& initial_directory) = 0;

  // Shows a popup menu at the mouse; the menu text uses "|" between items.
  // Returns the chosen item's number from 1, or 0 when nothing was chosen.
  virtual int PopupMenu(Window& window, const std::string& menu_text) = 0;

  virtual void SetCursor(Window* window, Cursor cursor) = 0;
  virtual void Beep(int frequency, int duration) = 0;

  // A program was run and waited for; `exit_code` is what it returned.
  virtual void ProgramRan(const std::string& command_line, int exit_code) = 0;
};

// The presenter of this process. Until one is installed a headless presenter
// answers every question with its default button.
Presenter& CurrentPresenter();
void InstallPresenter(Presenter* presenter);

}  // namespace qm::platform
