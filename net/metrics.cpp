#include "net/metrics.h"

#include "base/handles.h"
#include "net/https_transport.h"

namespace lum::installer {
namespace {

// Much shorter than the download's: a report must never hold up the installation for long.
constexpr int kResolveTimeoutMs = 3000;
constexpr int kConnectTimeoutMs = 3000;
constexpr int kSendTimeoutMs = 5000;
constexpr int kReceiveTimeoutMs = 5000;

}  // namespace

bool PostJson(const std::wstring& url, const std::string& body, std::wstring* message) {
  if (message == nullptr) return false;
  UrlParts parts;
  if (!CrackHttpsUrl(url, parts, *message)) return false;

  // Declared in this order so they close request first.
  WinHttpHandle session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    *message = L"无法初始化埋点网络组件";
    return false;
  }
  static_cast<void>(WinHttpSetTimeouts(session.Get(), kResolveTimeoutMs, kConnectTimeoutMs,
                                       kSendTimeoutMs, kReceiveTimeoutMs));
  WinHttpHandle connection(WinHttpConnect(session.Get(), parts.host.c_str(), parts.port, 0));
  WinHttpHandle request;
  if (connection) {
    request.Reset(WinHttpOpenRequest(connection.Get(), L"POST", parts.path.c_str(), nullptr,
                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     WINHTTP_FLAG_SECURE));
  }
  if (!connection || !request) {
    *message = L"无法连接埋点服务";
    return false;
  }
  // As for downloads: the wait for the response headers is bounded by the receive time-out too.
  DWORD headersTimeout = kReceiveTimeoutMs;
  static_cast<void>(WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                                     &headersTimeout, sizeof(headersTimeout)));

  const DWORD length = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request.Get(), L"Content-Type: application/json\r\n",
                          static_cast<DWORD>(-1), const_cast<char*>(body.data()), length, length,
                          0) ||
      !WinHttpReceiveResponse(request.Get(), nullptr)) {
    *message = L"埋点请求失败";
    return false;
  }

  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
      status < 200 || status > 299) {
    *message = L"埋点服务返回异常状态";
    return false;
  }
  message->clear();
  return true;
}

}  // namespace lum::installer
