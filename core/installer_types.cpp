#include "core/installer_types.h"

namespace lum::installer {

bool IsBusyStage(InstallStage stage) {
  return stage == InstallStage::Preparing || stage == InstallStage::Downloading ||
         stage == InstallStage::Verifying || stage == InstallStage::Installing;
}

}  // namespace lum::installer
