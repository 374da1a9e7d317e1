#include "ui/page/activation.h"

namespace lum::installer {
namespace {

Activation Do(Command command) { return {command}; }

Activation AnswerOverlay(const PageView& view, bool confirmed) {
  if (view.dialog != DialogKind::InstallError)
    return {Command::Answer, LegalDocument::None, confirmed};
  if (!confirmed) return Do(Command::LeaveAfterFailure);
  return Do(view.status.errorCode == kErrorDiskSpace ? Command::ChangeFolder : Command::Retry);
}

}  // namespace

Activation Activate(PageView& view, ControlId id) {
  switch (id) {
    case ControlId::Minimize:
      return Do(Command::Minimize);
    case ControlId::Close:
      return Do(Command::Close);
    case ControlId::AgreementMark:
      view.agreed = !view.agreed;
      return {};
    case ControlId::UserAgreementLink:
    case ControlId::SentenceUserAgreement:
      return {Command::OpenDocument, LegalDocument::UserAgreement};
    case ControlId::PrivacyPolicyLink:
    case ControlId::SentencePrivacyPolicy:
      return {Command::OpenDocument, LegalDocument::PrivacyPolicy};
    case ControlId::VipServiceLink:
    case ControlId::SentenceVipService:
      return {Command::OpenDocument, LegalDocument::VipService};
    case ControlId::CustomInstallLink:
      view.status.stage = InstallStage::CustomOptions;
      return {};
    case ControlId::WelcomeInstall:
    case ControlId::CustomInstall:
      return Do(Command::BeginInstallation);
    case ControlId::PathField:
      return Do(Command::FocusPathField);
    case ControlId::ChangeFolder:
      return Do(Command::PickFolder);
    case ControlId::DesktopOption:
      view.desktopShortcut = !view.desktopShortcut;
      return {};
    case ControlId::StartMenuOption:
      view.startMenuShortcut = !view.startMenuShortcut;
      return {};
    case ControlId::Back:
      view.status.stage = InstallStage::Welcome;
      return {};
    case ControlId::Launch:
      return Do(Command::Launch);
    case ControlId::DialogCancel:
      return AnswerOverlay(view, false);
    case ControlId::DialogConfirm:
      return AnswerOverlay(view, true);
    case ControlId::Progress:
    case ControlId::CompletedText:
    case ControlId::DialogTitle:
    case ControlId::DialogBody:
      break;
  }
  return {};
}

}  // namespace lum::installer
