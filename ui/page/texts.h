// The labels drawn on the pages' targets, shared by the painter and the list of focus targets so
// that what is read out is what is shown.
#pragma once

namespace lum::installer::labels {

inline constexpr wchar_t kInstall[] = L"一键安装";
inline constexpr wchar_t kAgree[] = L"同意";
inline constexpr wchar_t kUserAgreement[] = L"《用户协议》";
inline constexpr wchar_t kPrivacyPolicy[] = L"《隐私政策》";
inline constexpr wchar_t kVipService[] = L"《会员服务协议》";
inline constexpr wchar_t kCustomInstall[] = L"自定义安装  \u203A";
inline constexpr wchar_t kChangeFolder[] = L"更改目录";
inline constexpr wchar_t kDesktopShortcut[] = L"添加快捷方式到桌面";
inline constexpr wchar_t kStartMenu[] = L"添加到开始菜单";
inline constexpr wchar_t kBack[] = L"返回";
inline constexpr wchar_t kLaunch[] = L"立即体验";

}  // namespace lum::installer::labels
