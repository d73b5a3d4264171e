#include "platform/presenter.h"

#include <atomic>

#include "platform/headless_presenter.h"

namespace qm::platform {
namespace {

struct ButtonText {
  unsigned button;
  const char* caption;
  const char* name;
};

constexpr ButtonText kButtons[] = {
    {kButtonOk, "O&k", "Ok"},           {kButtonYes, "&Yes", "Yes"},
    {kButtonNo, "&No", "No"},           {kButtonAbort, "&Abort", "Abort"},
    {kButtonRetry, "&Retry", "Retry"},  {kButtonIgnore, "&Ignore", "Ignore"},
    {kButtonCancel, "&Cancel", "Cancel"}, {kButtonHelp, "&Help", "Help"},
};

std::atomic<Presenter*> installed{nullptr};

Presenter& FallbackPresenter() {
  static auto* fallback = new HeadlessPresenter;  // used by threads until the end
  return *fallback;
}

}  // namespace

std::string ButtonCaption(unsigned button) {
  for (const auto& entry : kButtons) {
    if (entry.button == button) return entry.caption;
  }
  return {};
}

std::string ButtonName(unsigned button) {
  for (const auto& entry : kButtons) {
    if (entry.button == button) return entry.name;
  }
  return {};
}

Presenter& CurrentPresenter() {
  Presenter* presenter = installed.load();
  return presenter ? *presenter : FallbackPresenter();
}

void InstallPresenter(Presenter* presenter) { installed.store(presenter); }

}  // namespace qm::platform
