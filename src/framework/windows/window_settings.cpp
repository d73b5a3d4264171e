#include "framework/windows/window_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/settings/ini_manager.h"
#include "platform/registry.h"
#include "platform/window.h"

namespace qm {
namespace {

constexpr std::size_t kFontNameLength = 31;
constexpr std::string_view kDebugTag = "[WindowSettings] ";

// The runtime's own codes for controls that never change font: the two
// kinds of the window frame, the menu bar's three and the toolbar.
constexpr int kTypeFrameA = 270;
constexpr int kTypeFrameB = 271;
constexpr int kTypeMenuBarA = 19;
constexpr int kTypeMenuBarB = 20;
constexpr int kTypeMenuBarC = 22;
constexpr int kTypeToolbar = 128;
// Static texts, which ApplyToControls leaves alone.
constexpr int kTypeStaticA = 14;
constexpr int kTypeStaticB = 15;

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// A STRING(31): cut to its length, trailing blanks dropped.
std::string FontName(std::string_view name) {
  name = name.substr(0, std::min(name.size(), kFontNameLength));
  const auto last = name.find_last_not_of(' ');
  return std::string(last == std::string_view::npos ? std::string_view() : name.substr(0, last + 1));
}

}  // namespace

const FontPreference::Values& FontPreference::Load(IniManager& ini) {
  std::lock_guard lock(mutex_);
  if (!loaded_) {
    ini.FetchInto(kSection, "FontName", values_.FontName);
    ini.FetchInto(kSection, "FontSize", values_.FontSize);
    ini.FetchInto(kSection, "FontColor", values_.FontColor);
    ini.FetchInto(kSection, "FontStyle", values_.FontStyle);
    ini.FetchInto(kSection, "FontCharset", values_.FontCharset);
    ini.FetchInto(kSection, "Disable", values_.Disable);
    values_.FontName = FontName(values_.FontName);
    loaded_ = true;
  }
  return values_;
}

FontPreference& GlobalFontPreference() {
  static auto* preference = new FontPreference;  // read by threads until the end
  return *preference;
}

void WindowSettings::Init(platform::Window& window) {
  window_ = &window;
  _CTRLQ.clear();
  PRESERVETOOLBAR = 1;
  PRESERVEMENUBAR = 1;
  MAXSTYLE = 20;
  AUTOWALLPAPER = 0;
}

void WindowSettings::Teardown() {
  ReleaseControls();
  window_ = nullptr;
}

void WindowSettings::Debug(std::string_view text) {
  const std::string line = std::string(kDebugTag) + std::string(Trimmed(text)) + "\n";
  std::fputs(line.c_str(), stderr);
}

void WindowSettings::Enable() { AFDISABLE = 0; }
void WindowSettings::Disable() { AFDISABLE = 1; }

std::string WindowSettings::ReadRegistry(std::uint32_t key, std::string_view subkey, std::string_view value_name) {
  return platform::Registry::ForUser().Get(key, subkey, value_name);
}

int WindowSettings::WriteRegistry(std::uint32_t key, std::string_view subkey, std::string_view value_name,
                                  std::string_view value) {
  return platform::Registry::ForUser().Put(key, subkey, value_name, value);
}

FontSpec WindowSettings::FontOf(int control) const {
  auto number = [&](int property) {
    return window_->Property(property, control).empty() ? -1 : window_->PropertyNumber(property, control);
  };
  return {window_->Property(kPropFontName, control), number(kPropFontSize), number(kPropFontColor),
          number(kPropFontStyle), number(kPropFontCharset)};
}

void WindowSettings::SetFontOf(int control, const FontSpec& font) {
  // Text, not the number setter: a colour or style of 0 is a real value.
  auto set = [&](int property, std::int32_t value) {
    if (value != -1) window_->SetProperty(property, std::to_string(value), control);
  };
  if (!font.NAME.empty()) window_->SetProperty(kPropFontName, font.NAME, control);
  set(kPropFontSize, font.SIZE);
  set(kPropFontColor, font.COLOUR);
  set(kPropFontStyle, font.STYLE);
  set(kPropFontCharset, font.CHARSET);
}

void WindowSettings::SetFont(std::string_view name, bool keep_name, std::int32_t size, std::int32_t colour,
                             std::int32_t, std::int32_t, std::int32_t charset, std::int32_t style) {
  if (AFDISABLE || !window_) return;
  OLDFONT = FontOf(0);
  const std::string given = FontName(name);
  NEWFONT.NAME = keep_name || given.empty() ? OLDFONT.NAME : given;
  NEWFONT.SIZE = size == -1 ? OLDFONT.SIZE : size;
  NEWFONT.COLOUR = colour == -1 ? OLDFONT.COLOUR : colour;
  NEWFONT.STYLE = style == -1 ? OLDFONT.STYLE : style;
  NEWFONT.CHARSET = charset == -1 ? OLDFONT.CHARSET : charset;
  SetFontOf(0, NEWFONT);

  if (AUTOWALLPAPER == kPropWallpaper || AUTOWALLPAPER == kPropTiledWallpaper) {
    window_->SetProperty(AUTOWALLPAPER, 1L);
  } else if (AUTOWALLPAPER == kWallpaperNone) {
    window_->SetProperty(kPropWallpaper, 0L);
    window_->SetProperty(kPropTiledWallpaper, 0L);
  }

  MeasureWindow();
  RegisterControls();
  for (auto control = _CTRLQ.rbegin(); control != _CTRLQ.rend(); ++control) ChangeControlFont(*control);

  // The presenter lays the controls out again for the new font; the ratio
  // keeps the window's proportions when it is next sized.
  const double moved_x = window_->PropertyNumber(platform::kPropXPos) - _WIN_AT.X;
  const double moved_y = window_->PropertyNumber(platform::kPropYPos) - _WIN_AT.Y;
  const int new_width = window_->PropertyNumber(platform::kPropWidth);
  const int new_height = window_->PropertyNumber(platform::kPropHeight);
  _WINRATIO.X = moved_x;
  _WINRATIO.Y = moved_y;
  _WINRATIO.W = new_width > 0 ? _WIN_AT.W / new_width : 1.0;
  _WINRATIO.H = new_height > 0 ? _WIN_AT.H / new_height : 1.0;
  if (_MAX) window_->SetProperty(platform::kPropMaximize, 1L);
  INITED = 1;
}

void WindowSettings::ApplyToControls() {
  if (AFDISABLE || !window_ || INITED != 1) return;
  for (const auto& control : _CTRLQ) {
    if (control.TYPE == kTypeStaticA || control.TYPE == kTypeStaticB) continue;
    if (control.TYPE == platform::kTypeList) ChangeControlFont(control);
  }
}

void WindowSettings::ApplyRatio() {
  if (INITED != 1 || !window_) return;
  INITED = 0;
  const int width = window_->PropertyNumber(platform::kPropWidth);
  const int height = window_->PropertyNumber(platform::kPropHeight);
  if (width <= 0 || height <= 0) return;
  const int x = window_->PropertyNumber(platform::kPropXPos);
  const int y = window_->PropertyNumber(platform::kPropYPos);
  const long new_width = std::max<long>(std::lround(_WINRATIO.W * width), window_->PropertyNumber(kPropMinWidth));
  const long new_height = std::max<long>(std::lround(_WINRATIO.H * height), window_->PropertyNumber(kPropMinHeight));
  window_->SetProperty(platform::kPropXPos, long{x < 0 ? 1 : x});
  window_->SetProperty(platform::kPropYPos, long{y < 0 ? 1 : y});
  window_->SetProperty(platform::kPropWidth, new_width);
  window_->SetProperty(platform::kPropHeight, new_height);
}

void WindowSettings::HandleEvent(std::int32_t event) {
  if (event == REFRESHEVENT) Refresh();
}

void WindowSettings::Refresh() { ApplyRatio(); }

void WindowSettings::SetupFonts(IniManager& ini, FontPreference& preference) {
  const FontPreference::Values& values = preference.Load(ini);
  if (!values.Disable) {
    AUTOWALLPAPER = kWallpaperNone;
    SetFont(values.FontName, false, values.FontSize, values.FontColor, 0, 0, values.FontCharset, values.FontStyle);
  }
  ApplyToControls();
}

void WindowSettings::MeasureWindow() {
  const int x = window_->PropertyNumber(platform::kPropXPos);
  const int y = window_->PropertyNumber(platform::kPropYPos);
  const int width = window_->PropertyNumber(platform::kPropWidth);
  const int height = window_->PropertyNumber(platform::kPropHeight);
  _WIN_AT = {double(x), double(y), double(width), double(height)};
  _WINPOS = {x, y};
  _WINSIZE = {width, height};
  _CLIENTH = height;
  _MAX = window_->PropertyNumber(platform::kPropMaximize) != 0;
  // Without an owning frame the bound would be the screen, which the
  // presenter does not tell; 0 leaves it open.
  _MAXWINSIZE = {};
  if (const platform::Window* owner = window_->Owner()) {
    _MAXWINSIZE = {owner->PropertyNumber(platform::kPropWidth), owner->PropertyNumber(platform::kPropHeight)};
  }
}

void WindowSettings::RegisterControls() {
  _CTRLQ.clear();
  for (const auto& definition : window_->Definition().controls) {
    const int control = definition.number;
    const int type = window_->PropertyNumber(platform::kPropType, control);
    if (type == kTypeFrameA || type == kTypeFrameB) continue;
    const bool menu_bar = type == kTypeMenuBarA || type == kTypeMenuBarB || type == kTypeMenuBarC ||
                          type == platform::kTypeMenu || type == platform::kTypeMenuItem;
    if (PRESERVEMENUBAR && menu_bar) continue;
    const bool toolbar = type == kTypeToolbar || type == platform::kTypeToolButton ||
                         window_->PropertyNumber(kPropToolbarControl, control) == 1;
    if (PRESERVETOOLBAR && toolbar) continue;
    _CTRLQ.push_back({control, type, window_->PropertyNumber(platform::kPropXPos, control),
                      window_->PropertyNumber(platform::kPropYPos, control),
                      window_->PropertyNumber(platform::kPropWidth, control),
                      window_->PropertyNumber(platform::kPropHeight, control)});
  }
}

void WindowSettings::ChangeControlFont(const ControlEntry& entry) {
  // A field the control does not set is the window's, so it counts as the
  // window's old value.
  const FontSpec current = FontOf(entry.CONTROL);
  FontSpec changed;
  if ((current.NAME.empty() || current.NAME == OLDFONT.NAME) && NEWFONT.NAME != current.NAME)
    changed.NAME = NEWFONT.NAME;
  auto take = [](std::int32_t now, std::int32_t old_value, std::int32_t new_value) {
    return (now == -1 || now == old_value) && new_value != now ? new_value : -1;
  };
  changed.SIZE = take(current.SIZE, OLDFONT.SIZE, NEWFONT.SIZE);
  changed.COLOUR = take(current.COLOUR, OLDFONT.COLOUR, NEWFONT.COLOUR);
  changed.STYLE = take(current.STYLE, OLDFONT.STYLE, NEWFONT.STYLE);
  changed.CHARSET = take(current.CHARSET, OLDFONT.CHARSET, NEWFONT.CHARSET);
  SetFontOf(entry.CONTROL, changed);
}

void WindowSettings::ReleaseControls() { _CTRLQ.clear(); }

}  // namespace qm
