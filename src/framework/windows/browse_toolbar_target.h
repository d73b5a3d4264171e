// The toolbar target that a browse supplies: it shows which of the
// toolbar's buttons (3001 to 3013) its list can serve and turns their
// presses into the list's scroll events and the window's own buttons.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/windows/toolbar_manager.h"

namespace qm::platform {
class Window;
}

namespace qm {

class BrowseManager;

// Toolbar buttons.
inline constexpr int kToolbarInsert = 3001;
inline constexpr int kToolbarChange = 3002;
inline constexpr int kToolbarDelete = 3003;
inline constexpr int kToolbarSelect = 3004;
inline constexpr int kToolbarBottom = 3005;
inline constexpr int kToolbarTop = 3006;
inline constexpr int kToolbarPageDown = 3007;
inline constexpr int kToolbarPageUp = 3008;
inline constexpr int kToolbarDown = 3009;
inline constexpr int kToolbarUp = 3010;
inline constexpr int kToolbarLocate = 3011;
inline constexpr int kToolbarHistory = 3012;
inline constexpr int kToolbarHelp = 3013;

class BrowseToolbarTarget : public ToolbarTarget {
 public:
  // `window` is the window the list and the toolbar are on; it must outlive
  // the target.
  explicit BrowseToolbarTarget(platform::Window& window) : window_(window) {}

  // Disables 3012 and enables 3005 to 3011; 3001 to 3004, 3011 and 3013 are
  // enabled only when the window button they stand for is set, exists and
  // is not disabled.
  void DisplayButtons() override;
  // Sets the tool tips from the tips table, then DisplayButtons.
  void DisplayButtonsWithTips() override;
  // When the list is visible: DisplayButtonsWithTips and true.
  bool TryHandleToolbar() override;
  // 3004 selects (Update, RESPONSE 1, close) and gives 1; 3005 to 3011 post
  // their scroll or locate event to the list and give that event; 3001 to
  // 3003 accept the window's insert, change or delete button and give 1;
  // 3013 presses F1 and gives 1; any other control is given back as it is.
  std::int32_t HandleToolbar(int control, WindowManager& manager) override;

  // The tool tips as the program stores them: a count byte, then per
  // record the control (2 bytes, little-endian), the text length and text.
  static const std::vector<std::uint8_t>& TipsTable();

  std::int32_t HELPBUTTON = 0;
  std::int32_t INSERTBUTTON = 0;
  std::int32_t CHANGEBUTTON = 0;
  std::int32_t DELETEBUTTON = 0;
  std::int32_t SELECTBUTTON = 0;
  std::int32_t LOCATEBUTTON = 0;
  BrowseManager* BROWSE = nullptr;  // the browse that attached the target

 private:
  // Enables `toolbar_button` when `window_button` is set, exists and is enabled.
  void EnableFor(int toolbar_button, int window_button);

  platform::Window& window_;
};

}  // namespace qm
