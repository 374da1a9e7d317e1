#include "core/failure_details.h"

#include <cwchar>

namespace lum::installer {
namespace {

// WinHTTP's own error codes, as opposed to the system's.
constexpr DWORD kWinHttpErrorFirst = 12000;
constexpr DWORD kWinHttpErrorLast = 12999;

std::wstring Hex(DWORD value) {
  wchar_t text[16];
  std::swprintf(text, sizeof(text) / sizeof(text[0]), L"0x%08lX",
                static_cast<unsigned long>(value));
  return text;
}

// The message, the failing call's error or else the refused status, and the bytes received.
std::wstring TransferDetail(const std::wstring& message, const TransferFailure& failure) {
  std::wstring text = message;
  if (!failure.proxy.empty()) text += L"，经代理服务器 " + failure.proxy + L" 失败";
  if (failure.winError != 0) {
    const bool winHttp =
        failure.winError >= kWinHttpErrorFirst && failure.winError <= kWinHttpErrorLast;
    text += (winHttp ? L"，WinHTTP " : L"，Windows ") + std::to_wstring(failure.winError);
  } else if (failure.httpStatus != 0) {
    text += L"，HTTP " + std::to_wstring(failure.httpStatus);
  }
  return text + L"，已收到 " + std::to_wstring(failure.bytesReceived) + L" 字节";
}

}  // namespace

std::wstring ManifestFetchDetail(const std::wstring& message, const TransferFailure& failure) {
  return L"获取安装配置失败：" + TransferDetail(message, failure);
}

std::wstring ManifestSignatureFetchDetail(const std::wstring& message,
                                          const TransferFailure& failure) {
  return L"获取安装配置签名失败：" + TransferDetail(message, failure);
}

std::wstring DownloadAttemptDetail(int attempt, const std::wstring& url,
                                   const std::wstring& message, const TransferFailure& failure) {
  return L"第 " + std::to_wstring(attempt) + L" 次下载失败（" + url + L"）：" +
         TransferDetail(message, failure);
}

std::wstring VerificationDetail(const VerificationFailure& failure) {
  switch (failure.check) {
    case VerificationFailure::Check::None:
      break;
    case VerificationFailure::Check::Size:
      return L"大小校验失败：应为 " + std::to_wstring(failure.expectedSize) + L" 字节，实为 " +
             std::to_wstring(failure.actualSize) + L" 字节";
    case VerificationFailure::Check::Digest:
      return L"SHA-256 校验失败：应为 " + failure.expectedSha256 + L"，实为 " +
             failure.actualSha256;
    case VerificationFailure::Check::Signature:
      if (!failure.chainRefusal.empty()) {
        return L"签名校验失败：" + failure.chainRefusal + L"，WinVerifyTrust " +
               Hex(static_cast<DWORD>(failure.trustResult)) + L"，证书链状态 " +
               Hex(failure.chainStatus);
      }
      return L"签名校验失败：WinVerifyTrust " + Hex(static_cast<DWORD>(failure.trustResult)) +
             (failure.chainBuilt ? L"，证书链状态 " + Hex(failure.chainStatus)
                                 : std::wstring(L"，无证书链"));
  }
  return {};
}

}  // namespace lum::installer
