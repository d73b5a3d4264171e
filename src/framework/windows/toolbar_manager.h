// The window's toolbar of standard navigation and record buttons (controls
// 3001 to 3013). Button presses go to whichever list of the window is the
// current target.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace qm {

class WindowManager;

// What a list offers the toolbar (a browse supplies one).
class ToolbarTarget {
 public:
  virtual ~ToolbarTarget() = default;
  virtual void DisplayButtons() = 0;
  virtual void DisplayButtonsWithTips() = 0;
  // Becomes the current target when its list is visible.
  virtual bool TryHandleToolbar() = 0;
  // Acts on a toolbar button; returns what the navigation request becomes.
  virtual std::int32_t HandleToolbar(int control, WindowManager& manager) = 0;

  std::int32_t CONTROL = 0;  // the list control served
};

class ToolbarManager {
 public:
  virtual ~ToolbarManager() = default;

  void Init();
  // Sets the target's CONTROL and adds it for that list; a second target
  // for the same list replaces the first. The target must outlive its entry.
  void AddTarget(ToolbarTarget& target, int control);
  // With a control its target becomes current and shows its buttons; with 0
  // the last target that can handle the toolbar becomes current.
  void SetTarget(int control);

  virtual void DisplayButtons();
  virtual void Teardown();
  // Hands the accepted control to the current target, when there is one.
  virtual void HandleEvent(std::int32_t& navigation_request, WindowManager& manager);

 private:
  struct Entry {
    std::int32_t ID = 0;
    ToolbarTarget* ITEM = nullptr;
  };
  std::optional<std::vector<Entry>> LIST;
  ToolbarTarget* current_ = nullptr;
};

}  // namespace qm
