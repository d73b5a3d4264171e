// TdxConv: the data-file integrity checker.
#include "checker/checker_main.h"
#include "framework/windows/application.h"
#include "platform/qt/qt_presenter.h"

int main() {
  qm::platform::QtPresenter desktop;
  return qm::RunApplication(qm::checker::ProgramEntry, &desktop);
}
