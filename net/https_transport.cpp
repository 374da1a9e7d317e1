#include "net/https_transport.h"

#include <array>

namespace lum::installer {
namespace {

constexpr int kResolveTimeoutMs = 10000;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kSendTimeoutMs = 30000;
constexpr int kReceiveTimeoutMs = 30000;

constexpr std::size_t kDocumentReadSize = 16384;
constexpr std::size_t kDocumentLimit = 1048576;

}  // namespace

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
                      std::wstring& message) {
  UrlParts parts;
  if (!CrackHttpsUrl(url, parts, message)) return false;

  session.Reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    message = L"无法初始化网络组件";
    return false;
  }
  static_cast<void>(WinHttpSetTimeouts(session.Get(), kResolveTimeoutMs, kConnectTimeoutMs,
                                       kSendTimeoutMs, kReceiveTimeoutMs));

  connection.Reset(WinHttpConnect(session.Get(), parts.host.c_str(), parts.port, 0));
  if (!connection) {
    message = L"无法连接下载服务器";
    return false;
  }
  request.Reset(WinHttpOpenRequest(connection.Get(), L"GET", parts.path.c_str(), nullptr,
                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                   WINHTTP_FLAG_SECURE));
  if (!request) {
    message = L"无法创建下载请求";
    return false;
  }
  // The receive time-out does not cover the wait for the response headers everywhere (Wine
  // waits forever, Windows 90 s); bound that wait the same way. The result is ignored.
  DWORD headersTimeout = kReceiveTimeoutMs;
  static_cast<void>(WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                                     &headersTimeout, sizeof(headersTimeout)));

  const BOOL sent = extraHeaders != nullptr
                        ? WinHttpSendRequest(request.Get(), extraHeaders, static_cast<DWORD>(-1),
                                             WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
                        : WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                             WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
  if (!sent || !WinHttpReceiveResponse(request.Get(), nullptr)) {
    message = L"网络请求失败";
    return false;
  }

  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    message = L"无法读取服务器响应";
    return false;
  }
  statusCode = status;
  return true;
}

bool FetchSmallDocument(const std::wstring& url, std::string* body, std::wstring* message) {
  if (body == nullptr || message == nullptr) return false;

  // Declared in this order so they close request first.
  WinHttpHandle session;
  WinHttpHandle connection;
  WinHttpHandle request;
  DWORD status = 0;
  if (!OpenHttpsRequest(url, nullptr, session, connection, request, status, *message)) {
    return false;
  }
  if (status != 200) {
    *message = L"安装配置服务返回异常状态";
    return false;
  }

  std::array<char, kDocumentReadSize> buffer;
  std::string received;
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
      *message = L"读取安装配置失败";
      return false;
    }
    if (read == 0) break;
    if (received.size() + read > kDocumentLimit) {
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
