#include "framework/windows/popup_manager.h"

#include <cctype>
#include <chrono>
#include <thread>

#include "framework/windows/translator.h"
#include "platform/presenter.h"
#include "platform/window.h"

namespace qm {
namespace {

using namespace qm::platform;

bool IsSeparator(const PopupManager::Item& item) { return item.TEXT == "-"; }

std::string TrimRight(const std::string& text) {
  const auto end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// The text without "&" accelerators; "&&" stands for one "&".
std::string WithoutAccelerators(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') plain += '&', ++i;
      continue;
    }
    plain += text[i];
  }
  return plain;
}

// The window the calling thread is working in: where menus are shown and
// mimicked controls live.
std::shared_ptr<Window> CurrentWindow() { return ActiveWindowOf(CurrentThread()); }

constexpr int kEventRebuildToolbox = 523;

}  // namespace

PopupManager::~PopupManager() { Teardown(); }

void PopupManager::Init() {
  CriticalSectionGuard guard(items_lock_);
  POPUPITEMS = std::make_unique<std::vector<Item>>();
  CLEARKEYCODE = 1;
  MYTHREAD = CurrentThread();
  LASTNUMBERSELECTION = 0;
  NOICONS = 0;
}

void PopupManager::Teardown() {
  // The toolbox thread reads the items: it must be gone first.
  while (INTOOLBOX) {
    {
      CriticalSectionGuard guard(items_lock_);
      if (THISWINDOW) THISWINDOW->Post({kEventCloseWindow, 0, 0});
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  CriticalSectionGuard guard(items_lock_);
  POPUPITEMS.reset();
}

std::string PopupManager::NameFrom(const std::string& text) {
  const std::string trimmed = TrimRight(text);
  if (trimmed == "-") return "Separator";
  std::string base;
  for (const unsigned char c : trimmed) {
    if (std::isalnum(c) || c == '_') base += static_cast<char>(c);
  }
  return base;
}

std::string PopupManager::UniqueName(const std::string& text) const {
  const std::string base = NameFrom(text);
  std::string name = base;
  for (int suffix = 1; IndexOf(name) >= 0; ++suffix) name = base + std::to_string(suffix);
  return name;
}

int PopupManager::IndexOf(const std::string& name) const {
  if (!POPUPITEMS) return -1;
  for (size_t i = 0; i < POPUPITEMS->size(); ++i) {
    if ((*POPUPITEMS)[i].NAME == name) return static_cast<int>(i);
  }
  return -1;
}

std::string PopupManager::AddItem(const std::string& text, const std::string& name,
                                  const std::string& after, std::int32_t depth) {
  CriticalSectionGuard guard(items_lock_);
  if (!POPUPITEMS) POPUPITEMS = std::make_unique<std::vector<Item>>();
  Item item;
  std::string shown = text;
  if (shown != "-") {
    size_t flags = 0;
    for (; flags < shown.size(); ++flags) {
      const char c = shown[flags];
      if (c == '~') {
        item.DISABLED = 1;
      } else if (c == '+') {
        item.CHECK = 1;
      } else if (c == '-') {
        item.CHECK = 2;
      } else {
        break;
      }
    }
    shown.erase(0, flags);
  }
  item.TEXT = shown;
  item.NAME = UniqueName(name.empty() ? shown : name);
  const int previous = IndexOf(after);
  const size_t position = previous >= 0 ? previous + 1 : POPUPITEMS->size();
  if (depth == 0) {
    depth = position > 0 ? (*POPUPITEMS)[position - 1].DEPTH : 1;
  }
  item.DEPTH = depth;
  POPUPITEMS->insert(POPUPITEMS->begin() + position, item);
  return item.NAME;
}

std::string PopupManager::AddItem(const std::string& text, const std::string& name) {
  return AddItem(text, name, std::string(), 0);
}

std::string PopupManager::AddItem(const std::string& text) { return AddItem(text, std::string()); }

std::string PopupManager::AddMirrorItem(const std::string& text, std::int32_t control) {
  CriticalSectionGuard guard(items_lock_);
  int index = IndexOf(NameFrom(text));
  if (index < 0) {
    AddItem(text, text);
    index = static_cast<int>(POPUPITEMS->size()) - 1;
  }
  auto& item = (*POPUPITEMS)[index];
  item.CONTROLID = control;
  item.EVENT = kEventAccepted;
  item.MIMICMODE = 1;
  item.ONTOOLBOX = 1;
  item.TEXT = text;
  return item.NAME;
}

void PopupManager::AddMenuText(const std::string& menu, const std::string& after) {
  CriticalSectionGuard guard(items_lock_);
  std::string previous = after;
  const int found = IndexOf(after);
  std::int32_t depth = found >= 0 ? (*POPUPITEMS)[found].DEPTH : 1;
  std::string text;
  auto flush = [&] {
    if (!text.empty()) previous = AddItem(text, std::string(), previous, depth);
    text.clear();
  };
  for (const char c : menu) {
    if (c == '|') {
      flush();
    } else if (c == '{') {
      flush();
      ++depth;
    } else if (c == '}') {
      flush();
      if (depth > 1) --depth;
    } else {
      text += c;
    }
  }
  flush();
}

void PopupManager::AddNestedMenu(const std::string& text, const std::string& items,
                                 const std::string& after) {
  AddMenuText(text + "{" + items + "}", after);
}

void PopupManager::DeleteItem(const std::string& name) {
  CriticalSectionGuard guard(items_lock_);
  if (const int index = IndexOf(name); index >= 0) POPUPITEMS->erase(POPUPITEMS->begin() + index);
}

void PopupManager::SetItemEnabled(const std::string& name, bool enabled) {
  CriticalSectionGuard guard(items_lock_);
  const int index = IndexOf(name);
  if (index < 0 || IsSeparator((*POPUPITEMS)[index])) return;
  (*POPUPITEMS)[index].DISABLED = enabled ? 2 : 1;
}

void PopupManager::SetIcon(const std::string& name, const std::string& icon) {
  CriticalSectionGuard guard(items_lock_);
  if (const int index = IndexOf(name); index >= 0) (*POPUPITEMS)[index].ICON = icon;
}

void PopupManager::SetInToolbox(const std::string& name, bool on) {
  CriticalSectionGuard guard(items_lock_);
  if (const int index = IndexOf(name); index >= 0) (*POPUPITEMS)[index].ONTOOLBOX = on ? 1 : 0;
}

void PopupManager::SetItemEvent(const std::string& name, std::int32_t event, std::int32_t control) {
  CriticalSectionGuard guard(items_lock_);
  if (const int index = IndexOf(name); index >= 0) {
    (*POPUPITEMS)[index].EVENT = event;
    (*POPUPITEMS)[index].CONTROLID = control;
  }
}

bool PopupManager::IsHeader(size_t index) const {
  return index + 1 < POPUPITEMS->size() && (*POPUPITEMS)[index + 1].DEPTH > (*POPUPITEMS)[index].DEPTH;
}

int PopupManager::GetItems(bool selectable_only) const {
  CriticalSectionGuard guard(items_lock_);
  if (!POPUPITEMS) return 0;
  if (!selectable_only) return static_cast<int>(POPUPITEMS->size());
  int count = 0;
  for (size_t i = 0; i < POPUPITEMS->size(); ++i) {
    if (!IsSeparator((*POPUPITEMS)[i]) && !IsHeader(i)) ++count;
  }
  return count;
}

std::string PopupManager::GetLastSelection() const {
  CriticalSectionGuard guard(items_lock_);
  return LASTSELECTION;
}

void PopupManager::FreeItems() {
  CriticalSectionGuard guard(items_lock_);
  if (POPUPITEMS) POPUPITEMS->clear();
}

const PopupManager::Item* PopupManager::FindItem(const std::string& name) const {
  CriticalSectionGuard guard(items_lock_);
  const int index = IndexOf(name);
  return index >= 0 ? &(*POPUPITEMS)[index] : nullptr;
}

void PopupManager::Refresh(Item& item) {
  if (!item.MIMICMODE) return;
  const auto window = CurrentWindow();
  const std::string caption = window ? window->Property(kPropText, item.CONTROLID) : std::string();
  if (!caption.empty() && (item.TEXT.empty() || item.TEXT[0] == '!')) item.TEXT = caption;
  if (!item.TEXT.empty() && item.TEXT[0] == '!') item.TEXT.erase(0, 1);
  if (item.ICON.empty() && window) item.ICON = window->Property(kPropIcon, item.CONTROLID);
}

bool PopupManager::ShownDisabled(const Item& item, const platform::Window* window) {
  // A mirror item takes its button's state anew each time it is shown.
  if (item.DISABLED == 0 && item.MIMICMODE && window) {
    return window->Property(kPropDisable, item.CONTROLID) == "1";
  }
  return item.DISABLED == 1;
}

std::string PopupManager::MenuText() {
  CriticalSectionGuard guard(items_lock_);
  if (!POPUPITEMS) return {};
  const auto window = CurrentWindow();
  bool icon_blocks = false;
  if (!NOICONS) {
    for (auto& item : *POPUPITEMS) {
      Refresh(item);
      if (!item.ICON.empty()) icon_blocks = true;
    }
  }
  std::string menu;
  std::int32_t previous_depth = 1;
  for (size_t i = 0; i < POPUPITEMS->size(); ++i) {
    auto& item = (*POPUPITEMS)[i];
    if (i > 0) {
      menu += item.DEPTH == previous_depth ? "|" : item.DEPTH > previous_depth ? "{" : "}";
    }
    previous_depth = item.DEPTH;
    Refresh(item);
    if (ShownDisabled(item, window.get())) menu += "~";
    if (item.CHECK == 1) menu += "+";
    if (item.CHECK == 2) menu += "-";
    if (icon_blocks && !IsSeparator(item)) {
      menu += "[";
      if (!item.ICON.empty()) menu += std::to_string(kPropIcon) + "(~" + item.ICON + "),";
      menu += std::to_string(kPropMenuIconBlock) + "(" +
              (window ? window->Property(kPropMenuStyle) : std::string()) + ")]";
    }
    if (TRANSLATOR) TRANSLATOR->TranslateText(item.TEXT);
    menu += item.TEXT;
  }
  return menu;
}

std::string PopupManager::Choose(int number, bool toolbox_mode) {
  CriticalSectionGuard guard(items_lock_);
  LASTNUMBERSELECTION = number;
  LASTSELECTION.clear();
  if (number == 0 || !POPUPITEMS) return LASTSELECTION;
  int counted = 0;
  const Item* chosen = nullptr;
  for (size_t i = 0; i < POPUPITEMS->size() && !chosen; ++i) {
    const auto& item = (*POPUPITEMS)[i];
    const bool countable = toolbox_mode ? item.ONTOOLBOX != 0 : !IsSeparator(item) && !IsHeader(i);
    if (countable && ++counted == number) chosen = &item;
  }
  if (!chosen) return LASTSELECTION;
  LASTSELECTION = chosen->NAME;
  if (chosen->EVENT != 0 || chosen->MIMICMODE) {
    if (CLEARKEYCODE) SetKeyCode(0);
    const int event = chosen->MIMICMODE ? kEventAccepted : chosen->EVENT;
    PostToThread(MYTHREAD, {event, chosen->CONTROLID, 0});
  }
  return LASTSELECTION;
}

std::string PopupManager::Ask(int, int) {
  if (GetItems(false) == 0) {
    CriticalSectionGuard guard(items_lock_);
    LASTSELECTION.clear();
    return LASTSELECTION;
  }
  SetKeyCode(0);
  const std::string menu = MenuText();
  const auto window = CurrentWindow();
  const int number = window ? CurrentPresenter().PopupMenu(*window, menu) : 0;
  return Choose(number, false);
}

void PopupManager::ShowToolbox(const std::string& title) {
  std::uint8_t closed = 0;
  if (!INTOOLBOX.compare_exchange_strong(closed, 1)) return;
  PARENTWINDOW = CurrentWindow().get();
  StartThread([this, title] { RunToolbox(title); });
}

void PopupManager::RunToolbox(const std::string& title) {
  // The buttons are rebuilt from the items each time the window opens or is
  // asked to (event 523), so the window is declared afresh from the items.
  auto declare = [&] {
    WindowDef toolbox{.id = "Framework$Toolbox", .caption = title};
    CriticalSectionGuard guard(items_lock_);
    int number = 0;
    int x = 0;
    int height = 0;
    for (const auto& item : *POPUPITEMS) {
      if (!item.ONTOOLBOX) continue;
      ControlDef button{++number, ControlKind::kButton};
      if (!item.ICON.empty()) {
        button.icon = "~" + item.ICON;
        button.help = WithoutAccelerators(item.TEXT);
      } else {
        button.text = item.TEXT;
      }
      button.disabled = ShownDisabled(item, PARENTWINDOW);
      toolbox.controls.push_back(button);
      x += 24;
      height = 24;
    }
    toolbox.width = x;
    toolbox.height = height;
    return toolbox;
  };
  auto disable_others = [&](bool disable) {
    if (!PARENTWINDOW) return;
    CriticalSectionGuard guard(items_lock_);
    for (const auto& item : *POPUPITEMS) {
      if (item.ONTOOLBOX || IsSeparator(item) || item.CONTROLID == 0) continue;
      if (disable || item.DISABLED != 1) PARENTWINDOW->SetControlEnabled(item.CONTROLID, !disable);
    }
  };

  disable_others(true);
  for (bool rebuild = true; rebuild;) {
    rebuild = false;
    auto window = platform::OpenWindow(declare(), PARENTWINDOW);
    {
      CriticalSectionGuard guard(items_lock_);
      THISWINDOW = window;
    }
    while (window->NextEvent()) {
      const int event = window->CurrentEvent();
      if (event == kEventAccepted) {
        Choose(window->CurrentField(), true);
      } else if (event == kEventCloseWindow || event == kEventCloseDown) {
        Choose(0, true);
      } else if (event == kEventRebuildToolbox) {
        rebuild = true;
        window->Close();
        break;
      }
      if (window->EndEvent(0)) break;
    }
    window->Close();
  }
  {
    CriticalSectionGuard guard(items_lock_);
    THISWINDOW.reset();
  }
  disable_others(false);
  INTOOLBOX = 0;
}

}  // namespace qm
