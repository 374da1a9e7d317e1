#include "net/https_request.h"

#include "net/https_transport.h"
#include "net/proxy.h"

namespace lum::installer::detail {
namespace {

// TLS 1.2 at least, and 1.3 where WinHTTP knows it: systems without TLS 1.3 refuse that flag, and
// then get TLS 1.2 alone. Nothing older is ever offered. False with the error of the last try.
bool RequireModernTls(HINTERNET session, DWORD& winError) {
  const DWORD choices[] = {
      WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3,
      WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2};
  for (DWORD protocols : choices) {
    if (WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
      return true;
    }
    winError = GetLastError();
  }
  return false;
}

// The server's certificate is checked for revocation too, and no credentials of the account go
// out on their own: not to the server, not to a proxy found by WPAD. False with the error.
bool HardenRequest(HINTERNET request, DWORD& winError) {
  DWORD revocation = WINHTTP_ENABLE_SSL_REVOCATION;
  if (!WinHttpSetOption(request, WINHTTP_OPTION_ENABLE_FEATURE, &revocation, sizeof(revocation))) {
    winError = GetLastError();
    return false;
  }
  DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
  if (!WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof(logon))) {
    winError = GetLastError();
    return false;
  }
  return true;
}

}  // namespace

bool SendHttpsRequest(const std::wstring& url, const RequestSpec& spec, WinHttpHandle& session,
                      WinHttpHandle& connection, WinHttpHandle& request, DWORD& statusCode,
                      std::wstring& message, DWORD& winError) {
  UrlParts parts;
  SetLastError(0);
  if (!CrackHttpsUrl(url, parts, message)) {
    winError = GetLastError();  // stays 0 for a URL that cracked but is not https
    return false;
  }

  // A proxy an administrator named takes every request, with no bypass list; otherwise the
  // platform finds one (WPAD, the machine's settings).
  const std::wstring proxy = NamedProxy();
  session.Reset(proxy.empty() ? WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)
                              : WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                                            proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    winError = GetLastError();
    message = spec.texts.session;
    return false;
  }
  if (!RequireModernTls(session.Get(), winError)) {
    message = spec.texts.session;
    return false;
  }
  const RequestTimeouts& timeouts = spec.timeouts;
  static_cast<void>(WinHttpSetTimeouts(session.Get(), timeouts.resolveMs, timeouts.connectMs,
                                       timeouts.sendMs, timeouts.receiveMs));

  connection.Reset(WinHttpConnect(session.Get(), parts.host.c_str(), parts.port, 0));
  if (!connection) {
    winError = GetLastError();
    message = spec.texts.connection;
    return false;
  }
  request.Reset(WinHttpOpenRequest(connection.Get(), spec.method, parts.path.c_str(), nullptr,
                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                   WINHTTP_FLAG_SECURE));
  if (!request) {
    winError = GetLastError();
    message = spec.texts.request;
    return false;
  }
  if (!HardenRequest(request.Get(), winError)) {
    message = spec.texts.request;
    return false;
  }
  // The receive time-out does not cover the wait for the response headers everywhere (Wine
  // waits forever, Windows 90 s); bound that wait the same way. The result is ignored.
  DWORD headersTimeout = static_cast<DWORD>(timeouts.receiveMs);
  static_cast<void>(WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                                     &headersTimeout, sizeof(headersTimeout)));

  const DWORD length = spec.body ? static_cast<DWORD>(spec.body->size()) : 0;
  void* body = spec.body ? const_cast<char*>(spec.body->data()) : WINHTTP_NO_REQUEST_DATA;
  const BOOL sent = spec.extraHeaders != nullptr
                        ? WinHttpSendRequest(request.Get(), spec.extraHeaders,
                                             static_cast<DWORD>(-1), body, length, length, 0)
                        : WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, body,
                                             length, length, 0);
  if (!sent) {
    winError = GetLastError();
    message = spec.texts.send;
    return false;
  }
  if (!WinHttpReceiveResponse(request.Get(), nullptr)) {
    winError = GetLastError();
    message = spec.texts.send;
    return false;
  }

  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    winError = GetLastError();
    message = spec.texts.status;
    return false;
  }
  statusCode = status;
  return true;
}

}  // namespace lum::installer::detail
