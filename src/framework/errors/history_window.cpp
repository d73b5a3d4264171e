#include "framework/errors/history_window.h"

#include "platform/presenter.h"

namespace qm {
namespace {

constexpr int kButtonSlots = 8;

platform::ControlDef Control(int number, platform::ControlKind kind) {
  platform::ControlDef control;
  control.number = number;
  control.kind = kind;
  return control;
}

platform::WindowDef HistoryWindowDef() {
  platform::WindowDef window;
  window.id = "ErrorManager$HistoryWindow";
  window.caption = "Errors History";
  window.modal = true;
  window.resizable = true;
  window.width = 400;
  window.height = 200;
  auto& list = window.controls.emplace_back(Control(HistoryWindow::kListControl, platform::ControlKind::kList));
  list.picture = "TXT|CATEGORY";
  window.controls.push_back(Control(HistoryWindow::kIconControl, platform::ControlKind::kImage));
  for (int slot = 0; slot < kButtonSlots; ++slot) {
    auto& button = window.controls.emplace_back(
        Control(HistoryWindow::kFirstButtonControl + slot, platform::ControlKind::kButton));
    button.hidden = true;
  }
  return window;
}

}  // namespace

HistoryWindow::HistoryWindow(ErrorManager& errors, const std::string& caption, const std::string& icon,
                             unsigned buttons, unsigned default_button, int style)
    : BUTTONTYPES(buttons),
      CAPTION(caption),
      ERR(errors),
      ICON(icon),
      MSGRVAL(default_button),
      STYLE(style),
      WIN(HistoryWindowDef()) {}

unsigned HistoryWindow::Show() {
  HISTORYHANDLER = ERR.History();
  Run();
  return MSGRVAL;
}

ErrorLevel HistoryWindow::Init() {
  if (const ErrorLevel level = WindowManager::Init(); level != LevelNone) return level;
  ERRORS = &ERR;
  if (!CAPTION.empty()) WIN.caption = CAPTION;
  OpenWindow(WIN, nullptr);

  std::vector<std::vector<std::string>> rows;
  rows.reserve(HISTORYHANDLER.size());
  for (const auto& entry : HISTORYHANDLER) rows.push_back({entry.TXT, entry.CATEGORY});
  MYWINDOW->SetListRows(kListControl, std::move(rows));

  // Help comes first and Ok last, as on the runtime's own message box.
  const unsigned default_button = MSGRVAL;
  int control = kFirstButtonControl;
  for (unsigned button = platform::kButtonHelp; button != 0; button >>= 1) {
    if (!(BUTTONTYPES & button)) continue;
    MYWINDOW->SetControlText(control, platform::ButtonCaption(button));
    MYWINDOW->SetControlVisible(control, true);
    if (button == default_button) FIRSTFIELD = control;
    MSGBUTTONID[control - kFirstButtonControl] = button;
    ++MSGBUTTONS;
    ++control;
  }
  MYWINDOW->SetControlText(kIconControl, ICON.empty() ? platform::kIconStop : ICON);
  return LevelNone;
}

ErrorLevel HistoryWindow::Teardown() {
  const ErrorLevel level = WindowManager::Teardown();
  HISTORYHANDLER.clear();
  return level;
}

ErrorLevel HistoryWindow::OnAccepted() {
  const int slot = MYWINDOW->Accepted() - kFirstButtonControl;
  if (slot < 0 || slot >= static_cast<int>(MSGBUTTONS)) return WindowManager::OnAccepted();
  MSGRVAL = MSGBUTTONID[slot];
  return LevelFatal;
}

}  // namespace qm
