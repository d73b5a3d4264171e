#include "platform/qt/control_rows.h"

namespace qm::platform {

bool IsFrameControl(ControlKind kind) {
  return kind == ControlKind::kMenu || kind == ControlKind::kMenuItem ||
         kind == ControlKind::kSeparator || kind == ControlKind::kToolButton;
}

std::vector<ControlRow> ArrangeControls(const WindowDef& window) {
  std::vector<const ControlDef*> body;
  for (const auto& control : window.controls) {
    if (!IsFrameControl(control.kind)) body.push_back(&control);
  }
  std::size_t first_trailing_button = body.size();
  while (first_trailing_button > 0 && body[first_trailing_button - 1]->kind == ControlKind::kButton) {
    --first_trailing_button;
  }

  std::vector<ControlRow> rows;
  auto kind_of = [&](int number) {
    for (const auto* control : body) {
      if (control->number == number) return control->kind;
    }
    return ControlKind::kPrompt;
  };
  // Moves a label that ended up alone on the last row to the front of the
  // row before, when that row has no label of its own.
  auto attach_lone_label = [&] {
    if (rows.size() < 2) return;
    ControlRow& last = rows.back();
    ControlRow& before = rows[rows.size() - 2];
    if (last.controls.size() != 1 || kind_of(last.controls[0]) != ControlKind::kPrompt) return;
    if (before.stretches || before.controls.empty() || kind_of(before.controls[0]) == ControlKind::kPrompt)
      return;
    before.controls.insert(before.controls.begin(), last.controls[0]);
    rows.pop_back();
  };

  bool row_open = false;
  for (std::size_t index = 0; index < first_trailing_button; ++index) {
    const ControlDef& control = *body[index];
    if (control.kind == ControlKind::kList) {
      attach_lone_label();
      rows.push_back({{control.number}, true, false});
      row_open = false;
      continue;
    }
    if (control.kind == ControlKind::kPrompt || !row_open) {
      rows.push_back({});
      row_open = true;
    }
    rows.back().controls.push_back(control.number);
  }
  if (first_trailing_button < body.size()) {
    attach_lone_label();
    ControlRow buttons;
    buttons.is_button_row = true;
    for (std::size_t index = first_trailing_button; index < body.size(); ++index) {
      buttons.controls.push_back(body[index]->number);
    }
    rows.push_back(std::move(buttons));
  }
  return rows;
}

}  // namespace qm::platform
