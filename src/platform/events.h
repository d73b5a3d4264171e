// Event, property and control-type numbers of the runtime, defined once.
#pragma once

namespace qm::platform {

// Events.
inline constexpr int kEventAccepted = 1;
inline constexpr int kEventNewSelection = 2;
inline constexpr int kEventAlertKey = 15;
inline constexpr int kEventListScrollDrag = 20;  // the user drags a list's thumb
inline constexpr int kEventRejected = 26;
inline constexpr int kEventSelected = 257;
inline constexpr int kEventCloseWindow = 513;
inline constexpr int kEventCloseDown = 514;
inline constexpr int kEventOpenWindow = 515;
inline constexpr int kEventLoseFocus = 517;
inline constexpr int kEventGainFocus = 518;
inline constexpr int kEventNotify = 522;
inline constexpr int kEventCompleted = 549;
inline constexpr int kEventSized = 561;
inline constexpr int kEventDoResize = 1023;

// Properties of a window (control 0) or of a control.
inline constexpr int kPropLazyDisplay = 30976;
inline constexpr int kPropText = 31744;  // a control's caption
inline constexpr int kPropType = 31745;
inline constexpr int kPropXPos = 31746;
inline constexpr int kPropYPos = 31747;
inline constexpr int kPropWidth = 31748;
inline constexpr int kPropHeight = 31749;
inline constexpr int kPropResize = 31770;
inline constexpr int kPropMenuStyle = 31835;
inline constexpr int kPropDisable = 31839;
inline constexpr int kPropIcon = 31848;
inline constexpr int kPropIconize = 31849;
inline constexpr int kPropImmediate = 31850;
inline constexpr int kPropMaximize = 31855;
inline constexpr int kPropThread = 31893;
inline constexpr int kPropActive = 31895;
inline constexpr int kPropNoRefresh = 31898;
inline constexpr int kPropTip = 31904;
inline constexpr int kPropMenuIconBlock = 31764;
inline constexpr int kPropAlertKey = 32006;

// Properties of a list control that the presenter reports.
inline constexpr int kPropListItems = 31886;     // rows the control shows whole
inline constexpr int kPropListThumb = 31902;     // thumb position, 0 to 100
inline constexpr int kPropListMouseRow = 32464;  // the row under the mouse, 0 for none

// Key codes the presenter delivers as alert keys of a list.
inline constexpr int kKeyMouseRight = 130;
inline constexpr int kKeyApps = 93;  // the menu key

// Control type codes (what kPropType reads).
inline constexpr int kTypeEntry = 1;
inline constexpr int kTypeButton = 9;
inline constexpr int kTypeString = 13;
inline constexpr int kTypePrompt = 14;
inline constexpr int kTypeImage = 17;
inline constexpr int kTypeList = 37;
inline constexpr int kTypeMenu = 40;
inline constexpr int kTypeMenuItem = 41;
inline constexpr int kTypeToolButton = 42;

}  // namespace qm::platform
