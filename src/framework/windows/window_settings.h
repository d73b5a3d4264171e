// The per-window font and size settings: applies the user's chosen font to
// the window and its controls, keeps the window's size ratio across the
// font change, and switches the window's wallpaper modes.
//
// A procedure creates one, calls Init with its window once the window is
// open, SetupFonts (or SetFont and ApplyToControls) and, from Teardown after
// the window's placement was stored, ApplyRatio; then Teardown.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qm::platform {
class Window;
}

namespace qm {

class IniManager;

// Font properties of a window (control 0) or a control.
inline constexpr int kPropFontName = 31760;
inline constexpr int kPropFontSize = 31761;
inline constexpr int kPropFontColor = 31762;
inline constexpr int kPropFontStyle = 31763;
inline constexpr int kPropFontCharset = 31764;
// Wallpaper modes of a window, and the AUTOWALLPAPER value that switches both off.
inline constexpr int kPropWallpaper = 31254;
inline constexpr int kPropTiledWallpaper = 31255;
inline constexpr int kWallpaperNone = 31980;
inline constexpr int kPropMinWidth = 31917;
inline constexpr int kPropMinHeight = 31918;
inline constexpr int kPropToolbarControl = 31257;

// A font; -1 (or an empty name) means "as designed".
struct FontSpec {
  std::string NAME;
  std::int32_t SIZE = -1;
  std::int32_t COLOUR = -1;
  std::int32_t STYLE = -1;
  std::int32_t CHARSET = -1;
};

// The user's font preference from section "Typeset" of the program's INI
// file, read once per process by the first window that asks.
class FontPreference {
 public:
  struct Values {
    std::string FontName;  // at most 31 characters
    std::int32_t FontSize = -1;
    std::int32_t FontColor = -1;
    std::int32_t FontStyle = -1;
    std::int32_t FontCharset = -1;
    std::int32_t Disable = 0;
  };

  // Reads the keys on the first call (a missing key keeps its start value)
  // and gives the same values on every later call.
  const Values& Load(IniManager& ini);

  static constexpr std::string_view kSection = "Typeset";

 private:
  std::mutex mutex_;
  bool loaded_ = false;  // Protected by mutex_
  Values values_;        // Protected by mutex_ until loaded_
};

// The program's one preference.
FontPreference& GlobalFontPreference();

class WindowSettings {
 public:
  struct Rect {
    double X = 1.0, Y = 1.0, W = 1.0, H = 1.0;
  };
  struct Point {
    std::int32_t X = 0, Y = 0;
  };
  struct Size {
    std::int32_t W = 0, H = 0;
  };
  // One registered control with its metrics when it was registered.
  struct ControlEntry {
    std::int32_t CONTROL = 0;
    std::int32_t TYPE = 0;
    std::int32_t X = 0, Y = 0, W = 0, H = 0;
  };

  static constexpr std::int32_t kRefreshEvent = 2127;

  WindowSettings() = default;
  virtual ~WindowSettings() = default;
  WindowSettings(const WindowSettings&) = delete;
  WindowSettings& operator=(const WindowSettings&) = delete;

  // Binds the window (which must outlive the binding) and starts afresh:
  // PRESERVETOOLBAR and PRESERVEMENUBAR 1, MAXSTYLE 20, AUTOWALLPAPER 0.
  void Init(platform::Window& window);
  // Releases the control list; a second call does nothing.
  void Teardown();

  // Virtual operations, in slot order.
  // Writes the tag and the trimmed text to standard error.
  virtual void Debug(std::string_view text);
  virtual void Enable();
  virtual void Disable();
  // A value of the per-user registry; empty when it or its key is missing.
  virtual std::string ReadRegistry(std::uint32_t key, std::string_view subkey, std::string_view value_name);
  // Stores a value, creating its key; returns the runtime error code (0 on success).
  virtual int WriteRegistry(std::uint32_t key, std::string_view subkey, std::string_view value_name,
                            std::string_view value);
  // Applies a font to the window and its controls (nothing when disabled or
  // unbound). A control takes the new value of each field in which its font
  // equals the window's old font; -1 (or, for the name, the keep-name flag
  // or an empty name) keeps the old value. `b` and `c` are not used.
  virtual void SetFont(std::string_view name, bool keep_name, std::int32_t size, std::int32_t colour,
                       std::int32_t b, std::int32_t c, std::int32_t charset, std::int32_t style);
  // After a font was set: the list controls take the new font for their
  // rows. Our lists have one style, the list's own font.
  virtual void ApplyToControls();
  // Once after a font was set: resizes the window by the kept ratio, not
  // below its minimum size, where it stands now (a negative coordinate
  // becomes 1).
  virtual void ApplyRatio();
  virtual void HandleEvent(std::int32_t event);
  virtual void Refresh();

  // The procedure's font set-up: loads the preference and, unless it says
  // "Disable", switches the wallpaper off and sets its font; then
  // ApplyToControls.
  void SetupFonts(IniManager& ini, FontPreference& preference = GlobalFontPreference());

  // Fields, in the runtime's order.
  FontSpec OLDFONT;
  FontSpec NEWFONT;
  std::int32_t AFDISABLE = 0;
  std::int32_t REFRESHEVENT = kRefreshEvent;
  std::int32_t INITED = 0;
  std::int32_t PRESERVETOOLBAR = 1;
  std::int32_t PRESERVEMENUBAR = 1;
  std::int32_t MAXSTYLE = 20;
  std::int32_t AUTOWALLPAPER = 0;
  std::int32_t NOWINDOWSAVE = 0;
  std::string REGISTRYFOLDER;
  std::vector<ControlEntry> _CTRLQ;
  std::int32_t _CLIENTH = 0;
  Point _WINPOS;
  Size _WINSIZE;
  Size _MAXWINSIZE;
  std::int32_t _DELTAMH = 0;
  std::int32_t _MAX = 0;
  double _WIDTHFACTOR = 1.0;
  double _HEIGHTFACTOR = 1.0;
  Rect _WINRATIO;
  Rect _WIN_AT;
  std::int32_t DISABLECLEARTYPE = 0;
  std::int32_t DEBUGSET = 0;

 protected:
  // The per-control operations ApplyToControls and SetFont use.
  void MeasureWindow();
  void RegisterControls();
  void ChangeControlFont(const ControlEntry& control);
  void ReleaseControls();

 private:
  FontSpec FontOf(int control) const;
  void SetFontOf(int control, const FontSpec& font);

  platform::Window* window_ = nullptr;
};

}  // namespace qm
