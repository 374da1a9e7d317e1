#include "ui/page/controls.h"

#include "ui/page/texts.h"
#include "ui/paint/page_painter.h"

namespace lum::installer {

FocusList FocusTargetsFor(const PageView& view) {
  if (view.dialog != DialogKind::NoDialog) {
    const DialogTexts texts = TextsForDialog(view.dialog, view.message, view.errorCode);
    return {{{FocusKind::Button, layout::kDialogCancel, texts.cancel, true},
             {FocusKind::Button, layout::kDialogConfirm, texts.confirm, true}},
            1};
  }
  switch (view.stage) {
    case InstallStage::Welcome:
      // The install button stays reachable when drawn gray: pressing it asks for the agreement.
      return {{{FocusKind::CheckMark, layout::kAgreementCheck, labels::kAgree, true},
               {FocusKind::Link, layout::kUserAgreementLink, labels::kUserAgreement, true},
               {FocusKind::Link, layout::kPrivacyPolicyLink, labels::kPrivacyPolicy, true},
               {FocusKind::Link, layout::kVipServiceLink, labels::kVipService, true},
               {FocusKind::Link, layout::kCustomInstallLink, labels::kCustomInstall, true},
               {FocusKind::Button, layout::kWelcomeInstall, labels::kInstall, view.agreed}},
              5};
    case InstallStage::CustomOptions:
      return {{{FocusKind::Edit, layout::kPathBox, view.installPath, true},
               {FocusKind::Button, layout::kChangeFolder, labels::kChangeFolder, true},
               {FocusKind::CheckMark, layout::kDesktopOption, labels::kDesktopShortcut, true},
               {FocusKind::CheckMark, layout::kStartMenuOption, labels::kStartMenu, true},
               {FocusKind::Button, layout::kCustomInstall, labels::kInstall, view.agreed},
               {FocusKind::Button, layout::kBack, labels::kBack, true}},
              4};
    case InstallStage::Completed:
      return {{{FocusKind::Button, layout::kLaunch, labels::kLaunch, true}}, 0};
    default:
      return {};
  }
}

}  // namespace lum::installer
