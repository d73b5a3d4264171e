// The translator hook: turns a window's texts into the user's language. No
// translator is installed in our programs; the window and popup managers
// call it when one is.
#pragma once

#include <string>

namespace qm::platform {
class Window;
}

namespace qm {

class Translator {
 public:
  virtual ~Translator() = default;
  virtual void TranslateText(std::string& text) = 0;
  virtual void TranslateWindow(platform::Window& window) = 0;
};

}  // namespace qm
