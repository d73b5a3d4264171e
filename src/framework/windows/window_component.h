// Everything a window manager dispatches events to (a browse, a toolbar
// target) implements this interface.
#pragma once

#include "framework/errors/error_level.h"

namespace qm {

class WindowComponent {
 public:
  virtual ~WindowComponent() = default;
  virtual void Teardown() = 0;
  virtual void Reset(int force) = 0;
  // True when the component's view is stale and the window must be reset.
  virtual bool ResetRequired() = 0;
  virtual void RegisterAlerts() = 0;
  // 0 to go on with the next handler, 3 to leave the loop, 5 when handled.
  virtual ErrorLevel HandleEvent() = 0;
  // Copies what the window shows back into the component's buffers.
  virtual void Update() = 0;
  virtual void UpdateWindow() = 0;
};

}  // namespace qm
