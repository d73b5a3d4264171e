// Context menus built from named items. Items can mimic a button of the
// window (their text, state and icon follow it, and choosing them presses
// it); the chosen item is reported by name and its event is posted to the
// thread that made the popup. The items can also be shown as a floating
// "toolbox" window of buttons, on a logical thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/threads.h"

namespace qm::platform {
class Window;
}

namespace qm {

class IniManager;
class Translator;

class PopupManager {
 public:
  struct Item {
    std::int32_t CONTROLID = 0;
    std::int32_t DEPTH = 1;
    std::int32_t EVENT = 0;
    std::uint8_t MIMICMODE = 0;
    std::uint8_t DISABLED = 0;  // 0 from the control, 1 disabled, 2 enabled
    std::uint8_t CHECK = 0;     // 0 plain, 1 checked, 2 check-able
    std::uint8_t ONTOOLBOX = 0;
    std::string ICON;
    std::string NAME;
    std::string TEXT;           // "-" is a separator
  };

  PopupManager() = default;
  ~PopupManager();
  PopupManager(const PopupManager&) = delete;
  PopupManager& operator=(const PopupManager&) = delete;

  void Init();
  // Waits for an open toolbox to close, then disposes the items.
  void Teardown();

  // Inserts an item after the item named `after` (at the end when there is
  // none), at `depth` (0: the depth of the item it follows). Leading "~",
  // "+" and "-" in the text set DISABLED 1, CHECK 1 and CHECK 2. Returns the
  // unique name given.
  std::string AddItem(const std::string& text, const std::string& name, const std::string& after,
                      std::int32_t depth);
  std::string AddItem(const std::string& text, const std::string& name);
  std::string AddItem(const std::string& text);
  // An item that mimics `control`; a text beginning with "!" means the
  // control's own caption when it has one, else the rest of the text.
  std::string AddMirrorItem(const std::string& text, std::int32_t control);
  // Items from a menu string: "|" ends an item, "{" also opens a deeper
  // level and "}" closes one.
  void AddMenuText(const std::string& menu, const std::string& after);
  void AddNestedMenu(const std::string& text, const std::string& items, const std::string& after);

  void DeleteItem(const std::string& name);
  void SetItemEnabled(const std::string& name, bool enabled);
  void SetIcon(const std::string& name, const std::string& icon);
  void SetInToolbox(const std::string& name, bool on);
  void SetItemEvent(const std::string& name, std::int32_t event, std::int32_t control);
  // The number of items; with `selectable_only` those that are neither
  // separators nor sub-menu headers.
  int GetItems(bool selectable_only) const;
  // A copy: the toolbox's thread writes the selection.
  std::string GetLastSelection() const;
  void FreeItems();
  const Item* FindItem(const std::string& name) const;

  // Shows the menu on the calling thread's window and returns the chosen
  // item's name, empty when dismissed. Posts the item's event to MYTHREAD.
  std::string Ask(int x = 0, int y = 0);
  // The menu string Ask shows, with the mimic items refreshed.
  std::string MenuText();

  // Opens the toolbox window on its own logical thread, unless one is open.
  void ShowToolbox(const std::string& title);

  std::uint8_t CLEARKEYCODE = 0;
  std::uint8_t NOICONS = 0;
  std::string LASTSELECTION;              // Protected by items_lock_
  std::int32_t LASTNUMBERSELECTION = 0;   // Protected by items_lock_
  std::unique_ptr<std::vector<Item>> POPUPITEMS;
  Translator* TRANSLATOR = nullptr;
  IniManager* INIMGR = nullptr;
  std::atomic<std::uint8_t> INTOOLBOX = 0;
  std::int32_t MYTHREAD = 0;
  platform::Window* PARENTWINDOW = nullptr;
  std::shared_ptr<platform::Window> THISWINDOW;  // Protected by items_lock_

 private:
  // The letters, digits and underscores of the text; "Separator" for "-".
  static std::string NameFrom(const std::string& text);
  std::string UniqueName(const std::string& text) const;
  int IndexOf(const std::string& name) const;
  void Refresh(Item& item);
  // Whether the item shows disabled, a mirror item as its control on `window` is.
  static bool ShownDisabled(const Item& item, const platform::Window* window);
  bool IsHeader(size_t index) const;
  // Maps the n-th countable item to its name and posts its event.
  std::string Choose(int number, bool toolbox_mode);
  void RunToolbox(const std::string& title);

  // Guards POPUPITEMS while the toolbox thread reads it.
  mutable platform::CriticalSection items_lock_;
};

}  // namespace qm
