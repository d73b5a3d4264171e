// The framework's text-matching object. Nothing in the utilities matches
// text with it; each program entry starts it with its options and ends it.
#pragma once

namespace qm {

class TextMatcher {
 public:
  void Init() { active_ = true; }
  void SetOption(int option, bool on) {
    if (option >= 1 && option <= 2) options_[option - 1] = on;
  }
  void Kill() { active_ = false; }
  bool Active() const { return active_; }
  bool Option(int option) const { return option >= 1 && option <= 2 && options_[option - 1]; }

 private:
  bool active_ = false;
  bool options_[2] = {false, false};
};

// The process's one text-matching object.
inline TextMatcher& GlobalTextMatcher() {
  static TextMatcher matcher;
  return matcher;
}

}  // namespace qm
