// The history window: the messages the error manager has kept, one row each
// with its text and category, above a row of message-box buttons. Pressing a
// button closes the window and answers that button's value.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "framework/errors/error_manager.h"
#include "framework/windows/window_manager.h"
#include "platform/window.h"

namespace qm {

class HistoryWindow : public WindowManager {
 public:
  static constexpr int kListControl = 1;
  static constexpr int kIconControl = 2;
  static constexpr int kFirstButtonControl = 100;  // up to eight buttons from here

  // `buttons` are MessageButton bits; `icon` empty shows the stop icon.
  HistoryWindow(ErrorManager& errors, const std::string& caption, const std::string& icon, unsigned buttons,
                unsigned default_button, int style = 0);

  // Copies the manager's history, runs the window on the calling thread and
  // answers the button pressed (the default button when the window was
  // closed without one).
  unsigned Show();

  ErrorLevel Init() override;
  ErrorLevel Teardown() override;
  ErrorLevel OnAccepted() override;

  unsigned BUTTONTYPES;
  std::string CAPTION;
  ErrorManager& ERR;
  std::string ICON;
  std::vector<qm::HistoryEntry> HISTORYHANDLER;  // the private copy the list shows
  unsigned MSGBUTTONS = 0;                   // buttons laid out
  std::array<unsigned, 8> MSGBUTTONID{};     // value of each button control, in order
  unsigned MSGRVAL;
  int STYLE;
  platform::WindowDef WIN;
};

}  // namespace qm
