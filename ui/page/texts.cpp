#include "ui/page/texts.h"

#include <algorithm>

#include "core/build_config.h"

namespace lum::installer {

std::wstring LegalDocumentUrl(LegalDocument document) {
  std::wstring url = kLegalBaseUrl;
  switch (document) {
    case LegalDocument::UserAgreement:
      return url + L"/html/android/lumora/user_agreement.html";
    case LegalDocument::PrivacyPolicy:
      return url + L"/html/android/lumora/privacy_policy.html";
    case LegalDocument::VipService:
      return url + L"/html/android/lumora/vip_service.html";
    case LegalDocument::None:
      break;
  }
  return {};
}

LegalDocument DocumentAtSentencePosition(std::uint32_t position) {
  for (const SentenceLink& link : kAgreementLinks) {
    if (position >= link.start && position < link.start + link.length) return link.document;
  }
  return LegalDocument::None;
}

std::wstring FreeSpaceText(std::uint64_t bytes) {
  if (bytes == 0) return L"可用空间：--";
  return L"可用空间：" + std::to_wstring(bytes >> 30) + L"G";
}

std::wstring ProgressText(std::int32_t progress) {
  return L"正在安装 " + std::to_wstring(std::clamp<std::int32_t>(progress, 0, 100)) + L"%";
}

DialogTexts TextsForDialog(DialogKind kind, const std::wstring& statusMessage,
                           const std::wstring& errorCode) {
  switch (kind) {
    case DialogKind::AgreementRequired:
      return {L"提示", kAgreementSentence, L"同意并安装", L"取消"};
    case DialogKind::ExitConfirm:
      return {L"", L"确认要退出LumoraMP3转换器安装吗？", L"确定", L"取消"};
    case DialogKind::CloseAppConfirm:
      return {L"", L"安装前需要关闭LumoraMP3转换器，是否继续？", L"关闭并继续", L"取消"};
    case DialogKind::ForceCloseConfirm:
      return {L"", L"Lumora仍在运行，是否强制关闭并继续安装？", L"强制关闭", L"取消"};
    default:
      break;
  }
  std::wstring confirm = L"重新下载";
  if (errorCode == kErrorDiskSpace) {
    confirm = L"更改目录";
  } else if (errorCode == kErrorNetwork) {
    confirm = L"重新检测";
  } else if (errorCode == kErrorUac) {
    confirm = L"重新授权";
  } else if (errorCode == kErrorInstall) {
    confirm = L"重新安装";
  }
  return {L"", statusMessage, confirm, L"退出安装"};
}

}  // namespace lum::installer
