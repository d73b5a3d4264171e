// How a window declared as data is laid out: its body controls (everything
// but menus and the toolbar) in rows from top to bottom.
//
// Declarations carry no coordinates, so rows follow from the order and kind
// of the controls: a list has a row of its own and takes the spare height;
// a static text starts a row and labels the controls after it; the buttons
// that end the declaration form the bottom row. A static text left alone on
// its row just above the bottom row or a list labels the row before it and
// stands at its front.
#pragma once

#include <vector>

#include "platform/window.h"

namespace qm::platform {

struct ControlRow {
  std::vector<int> controls;  // control numbers, left to right
  bool stretches = false;     // holds a list
  bool is_button_row = false;
};

std::vector<ControlRow> ArrangeControls(const WindowDef& window);

// True for the kinds that live in the menu bar or the toolbar.
bool IsFrameControl(ControlKind kind);

}  // namespace qm::platform
