#include "ui/page/page_view.h"

namespace lum::installer {

Page PageFor(InstallStage stage) {
  if (stage == InstallStage::CustomOptions) return Page::CustomOptions;
  if (IsBusyStage(stage)) return Page::Progress;
  if (stage == InstallStage::Completed) return Page::Completed;
  return Page::Welcome;
}

}  // namespace lum::installer
