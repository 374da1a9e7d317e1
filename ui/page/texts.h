// The texts the pages and overlays show, letter for letter: labels, overlay texts, the progress
// and free-space texts, and the legal documents with their addresses and their titles in the
// agreement sentence.
#pragma once

#include <cstdint>
#include <string>

#include "ui/page/page_view.h"

namespace lum::installer {

namespace labels {

inline constexpr wchar_t kProductTitle[] = L"LumoraMP3转换器";
inline constexpr wchar_t kInstall[] = L"一键安装";
inline constexpr wchar_t kAgree[] = L"同意";
inline constexpr wchar_t kUserAgreement[] = L"《用户协议》";
inline constexpr wchar_t kPrivacyPolicy[] = L"《隐私政策》";
inline constexpr wchar_t kVipService[] = L"《会员服务协议》";
inline constexpr wchar_t kCustomInstall[] = L"自定义安装  \u203A";
inline constexpr wchar_t kChangeFolder[] = L"更改目录";
inline constexpr wchar_t kDesktopShortcut[] = L"添加快捷方式到桌面";
inline constexpr wchar_t kStartMenu[] = L"添加到开始菜单";
inline constexpr wchar_t kRequiredSpace[] = L"所需空间：281MB";
inline constexpr wchar_t kBack[] = L"返回";
inline constexpr wchar_t kLaunch[] = L"立即体验";
// The window glyphs show no text; a screen reader reads these.
inline constexpr wchar_t kMinimize[] = L"最小化";
inline constexpr wchar_t kClose[] = L"关闭";

}  // namespace labels

enum class LegalDocument { None, UserAgreement, PrivacyPolicy, VipService };

// The document's web address on the legal-document host of this build; empty for None.
std::wstring LegalDocumentUrl(LegalDocument document);

// The sentence of the AgreementRequired overlay, and where each document's title lies in it
// (first UTF-16 code unit and length).
inline constexpr wchar_t kAgreementSentence[] =
    L"请先阅读《用户协议》《隐私政策》《会员服务协议》并勾选同意";
struct SentenceLink {
  std::uint32_t start;
  std::uint32_t length;
  LegalDocument document;
};
inline constexpr SentenceLink kAgreementLinks[] = {
    {4, 6, LegalDocument::UserAgreement},
    {10, 6, LegalDocument::PrivacyPolicy},
    {16, 8, LegalDocument::VipService},
};
// The document whose title holds the sentence's code unit at position; None elsewhere.
LegalDocument DocumentAtSentencePosition(std::uint32_t position);

// "可用空间：" and whole GiB, or "--" when nothing is known (0 bytes).
std::wstring FreeSpaceText(std::uint64_t bytes);
// "正在安装 " and the percentage clamped to 0-100.
std::wstring ProgressText(std::int32_t progress);

// The title, body, confirm and cancel labels of an overlay. Only the agreement question has a
// title; its body is the agreement sentence.
struct DialogTexts {
  std::wstring title;
  std::wstring body;
  std::wstring confirm;
  std::wstring cancel;
};
DialogTexts TextsForDialog(DialogKind kind, const std::wstring& statusMessage,
                           const std::wstring& errorCode);

}  // namespace lum::installer
