#include "framework/windows/browse_toolbar_target.h"

#include <string>

#include "framework/windows/window_manager.h"
#include "platform/window.h"

namespace qm {
namespace {

// List events the toolbar's navigation buttons post.
constexpr int kEventScrollUp = 3;
constexpr int kEventScrollDown = 4;
constexpr int kEventPageUp = 5;
constexpr int kEventPageDown = 6;
constexpr int kEventScrollTop = 7;
constexpr int kEventScrollBottom = 8;
constexpr int kEventLocate = 9;
constexpr int kKeyF1 = 112;

struct Tip {
  int control;
  const char* text;
};

// In the order the program has always stored them, the repeated first
// record included.
constexpr Tip kTips[] = {
    {kToolbarDown, "Go to the Next Record"},    {kToolbarBottom, "Go to the Last Page"},
    {kToolbarTop, "Go to the First Page"},      {kToolbarPageDown, "Go to the Next Page"},
    {kToolbarPageUp, "Go to the Prior Page"},   {kToolbarDown, "Go to the Next Record"},
    {kToolbarUp, "Go to the Prior Record"},     {kToolbarInsert, "Insert a new Record"},
};

std::vector<std::uint8_t> PackTips() {
  std::vector<std::uint8_t> packed{static_cast<std::uint8_t>(std::size(kTips))};
  for (const Tip& tip : kTips) {
    const std::string text = tip.text;
    packed.push_back(static_cast<std::uint8_t>(tip.control & 0xFF));
    packed.push_back(static_cast<std::uint8_t>(tip.control >> 8));
    packed.push_back(static_cast<std::uint8_t>(text.size()));
    packed.insert(packed.end(), text.begin(), text.end());
  }
  return packed;
}

}  // namespace

const std::vector<std::uint8_t>& BrowseToolbarTarget::TipsTable() {
  static const std::vector<std::uint8_t> table = PackTips();
  return table;
}

void BrowseToolbarTarget::EnableFor(int toolbar_button, int window_button) {
  const bool usable = window_button != 0 && window_.HasControl(window_button) &&
                      window_.Property(platform::kPropDisable, window_button).empty();
  window_.SetControlEnabled(toolbar_button, usable);
}

void BrowseToolbarTarget::DisplayButtons() {
  window_.SetControlEnabled(kToolbarHistory, false);
  for (int button = kToolbarBottom; button <= kToolbarLocate; ++button) window_.SetControlEnabled(button, true);
  EnableFor(kToolbarSelect, SELECTBUTTON);
  EnableFor(kToolbarDelete, DELETEBUTTON);
  EnableFor(kToolbarChange, CHANGEBUTTON);
  EnableFor(kToolbarInsert, INSERTBUTTON);
  EnableFor(kToolbarHelp, HELPBUTTON);
  EnableFor(kToolbarLocate, LOCATEBUTTON);
}

void BrowseToolbarTarget::DisplayButtonsWithTips() {
  const auto& table = TipsTable();
  // Read as stored, never past its end.
  std::size_t position = 1;
  const std::size_t count = table.empty() ? 0 : table[0];
  for (std::size_t record = 0; record < count && position + 3 <= table.size(); ++record) {
    const int control = table[position] | (table[position + 1] << 8);
    const std::size_t length = table[position + 2];
    position += 3;
    if (position + length > table.size()) break;
    window_.SetProperty(platform::kPropTip,
                        std::string(table.begin() + static_cast<std::ptrdiff_t>(position),
                                    table.begin() + static_cast<std::ptrdiff_t>(position + length)),
                        control);
    position += length;
  }
  DisplayButtons();
}

bool BrowseToolbarTarget::TryHandleToolbar() {
  if (!window_.ControlVisible(CONTROL)) return false;
  DisplayButtonsWithTips();
  return true;
}

std::int32_t BrowseToolbarTarget::HandleToolbar(int control, WindowManager& manager) {
  auto post = [&](int event, int to_control) {
    if (to_control != 0) window_.Post({event, to_control, 0});
  };
  switch (control) {
    case kToolbarSelect:
      manager.Update();
      manager.RESPONSE = ResponseCompleted;
      window_.Post({platform::kEventCloseWindow, 0, 0});
      return 1;
    case kToolbarBottom: post(kEventScrollBottom, CONTROL); return kEventScrollBottom;
    case kToolbarTop: post(kEventScrollTop, CONTROL); return kEventScrollTop;
    case kToolbarPageDown: post(kEventPageDown, CONTROL); return kEventPageDown;
    case kToolbarPageUp: post(kEventPageUp, CONTROL); return kEventPageUp;
    case kToolbarDown: post(kEventScrollDown, CONTROL); return kEventScrollDown;
    case kToolbarUp: post(kEventScrollUp, CONTROL); return kEventScrollUp;
    case kToolbarLocate: post(kEventLocate, CONTROL); return kEventLocate;
    case kToolbarInsert: post(platform::kEventAccepted, INSERTBUTTON); return 1;
    case kToolbarChange: post(platform::kEventAccepted, CHANGEBUTTON); return 1;
    case kToolbarDelete: post(platform::kEventAccepted, DELETEBUTTON); return 1;
    case kToolbarHelp: window_.Post({platform::kEventAlertKey, window_.Focus(), kKeyF1}); return 1;
    default: return control;
  }
}

}  // namespace qm
