// The one WinHTTP request path of net/: session, time-outs, connection, request, send, response
// headers and status. For the transport and the metrics posts only; others use their functions.
#pragma once

#include <string>

#include "base/handles.h"
#include "net/transfer_failure.h"

namespace lum::installer::detail {

struct RequestTimeouts {
  int resolveMs;
  int connectMs;
  int sendMs;
  int receiveMs;  // also bounds the wait for the response headers
};

// What each failure is called to the user.
struct RequestTexts {
  const wchar_t* session;
  const wchar_t* connection;
  const wchar_t* request;
  const wchar_t* send;
  const wchar_t* status;
};

struct RequestSpec {
  const wchar_t* method = L"GET";
  const wchar_t* extraHeaders = nullptr;  // CR LF terminated, or null
  const std::string* body = nullptr;
  RequestTimeouts timeouts;
  RequestTexts texts;
};

// Sends the request to an https:// URL and receives the response headers. The caller owns the
// three handles, also on failure, and closes them request first. The message is left as it was
// on success; on failure winError holds the failing call's error.
[[nodiscard]] bool SendHttpsRequest(const std::wstring& url, const RequestSpec& spec,
                                    WinHttpHandle& session, WinHttpHandle& connection,
                                    WinHttpHandle& request, DWORD& statusCode,
                                    std::wstring& message, DWORD& winError);

}  // namespace lum::installer::detail
