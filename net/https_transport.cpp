#include "net/https_transport.h"

#include <array>

#include "net/https_request.h"
#include "net/proxy.h"

namespace lum::installer {
namespace {

constexpr int kResolveTimeoutMs = 10000;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kSendTimeoutMs = 30000;

constexpr std::size_t kDocumentReadSize = 16384;

constexpr DWORD kProxyAuthenticationRequired = 407;

}  // namespace

void NoteProxyFailure(TransferFailure& failure, bool requestSent) {
  if (requestSent || failure.httpStatus == kProxyAuthenticationRequired) {
    failure.proxy = NamedProxy();
  }
}

bool CrackHttpsUrl(const std::wstring& url, UrlParts& parts, std::wstring& message) {
  parts = UrlParts{};
  URL_COMPONENTS components{};
  components.dwStructSize = sizeof(components);
  // -1 makes the cracker point into url instead of copying.
  components.dwHostNameLength = static_cast<DWORD>(-1);
  components.dwUrlPathLength = static_cast<DWORD>(-1);
  components.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &components) ||
      components.nScheme != INTERNET_SCHEME_HTTPS) {
    message = L"下载地址必须使用 HTTPS";
    return false;
  }
  parts.host.assign(components.lpszHostName, components.dwHostNameLength);
  parts.path.assign(components.lpszUrlPath, components.dwUrlPathLength);
  if (components.dwExtraInfoLength > 0) {
    parts.path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
  }
  parts.port = components.nPort;
  parts.valid = true;
  return true;
}

bool OpenHttpsRequest(const std::wstring& url, const wchar_t* extraHeaders, WinHttpHandle& session,
                      WinHttpHandle& connection, WinHttpHandle& request, DWORD& statusCode,
                      std::wstring& message, TransferFailure* failure, int receiveMs) {
  detail::RequestSpec spec;
  spec.extraHeaders = extraHeaders;
  spec.timeouts = {kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, receiveMs};
  spec.texts = {L"无法初始化网络组件", L"无法连接下载服务器", L"无法创建下载请求", L"网络请求失败",
                L"无法读取服务器响应"};
  DWORD winError = 0;
  const bool opened = detail::SendHttpsRequest(url, spec, session, connection, request, statusCode,
                                               message, winError);
  if (!opened && failure) {
    *failure = TransferFailure{.winError = winError};
    NoteProxyFailure(*failure, request.IsValid());
  }
  return opened;
}

bool FetchSmallDocument(const std::wstring& url, std::string* body, std::wstring* message,
                        TransferFailure* failure, std::size_t limit) {
  if (body == nullptr || message == nullptr) return false;
  TransferFailure unread;
  TransferFailure& seen = failure ? *failure : unread;
  seen = {};

  // Declared in this order so they close request first.
  WinHttpHandle session;
  WinHttpHandle connection;
  WinHttpHandle request;
  DWORD status = 0;
  if (!OpenHttpsRequest(url, nullptr, session, connection, request, status, *message, &seen)) {
    return false;
  }
  if (status != 200) {
    seen.httpStatus = status;
    NoteProxyFailure(seen, false);
    *message = L"安装配置服务返回异常状态";
    return false;
  }

  std::array<char, kDocumentReadSize> buffer;
  std::string received;
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
      seen.winError = GetLastError();
      *message = L"读取安装配置失败";
      return false;
    }
    if (read == 0) break;
    seen.bytesReceived += read;
    if (received.size() + read > limit) {
      *message = L"安装配置超过大小限制";
      return false;
    }
    received.append(buffer.data(), read);
  }
  *body = std::move(received);
  message->clear();
  return true;
}

}  // namespace lum::installer
