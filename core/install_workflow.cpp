// The install workflow, run on the worker thread.
#include "core/installer_controller.h"

namespace lum::installer {

void InstallerController::Run(InstallOptions options) {
  static_cast<void>(options);
  PublishStatus(InstallStage::Preparing, 0, kTextPreparing, L"");
}

}  // namespace lum::installer
