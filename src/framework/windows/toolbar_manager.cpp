#include "framework/windows/toolbar_manager.h"

#include <algorithm>

#include "framework/windows/window_manager.h"
#include "platform/window.h"

namespace qm {

void ToolbarManager::Init() {
  LIST.emplace();
  current_ = nullptr;
}

void ToolbarManager::AddTarget(ToolbarTarget& target, int control) {
  if (!LIST) Init();
  target.CONTROL = control;
  // One target per list: a second one for the same list replaces the first.
  for (auto& entry : *LIST) {
    if (entry.ID == control) {
      if (current_ == entry.ITEM) current_ = &target;
      entry.ITEM = &target;
      return;
    }
  }
  auto position = std::lower_bound(LIST->begin(), LIST->end(), control,
                                   [](const Entry& entry, int id) { return entry.ID < id; });
  LIST->insert(position, Entry{control, &target});
}

void ToolbarManager::SetTarget(int control) {
  if (!LIST) return;
  if (control != 0) {
    for (const auto& entry : *LIST) {
      if (entry.ID == control) {
        current_ = entry.ITEM;
        current_->DisplayButtonsWithTips();
        return;
      }
    }
    return;
  }
  for (const auto& entry : *LIST) {
    if (entry.ITEM->TryHandleToolbar()) current_ = entry.ITEM;
  }
}

void ToolbarManager::DisplayButtons() {
  if (current_) current_->DisplayButtons();
}

void ToolbarManager::Teardown() {
  LIST.reset();
  current_ = nullptr;
}

void ToolbarManager::HandleEvent(std::int32_t& navigation_request, WindowManager& manager) {
  if (!LIST || LIST->empty() || !current_ || !manager.MYWINDOW) return;
  navigation_request = current_->HandleToolbar(manager.MYWINDOW->Accepted(), manager);
}

}  // namespace qm
