// HTTPS requests through WinHTTP, synchronous, on the calling thread.
#pragma once

#include <cstddef>
#include <string>

#include "base/handles.h"
#include "net/transfer_failure.h"

namespace lum::installer {

inline constexpr wchar_t kUserAgent[] = L"LUMWebBootstrapper/1.0";

struct UrlParts {
  std::wstring host;
  std::wstring path;  // path followed by the query and fragment, if any
  INTERNET_PORT port = 0;
  bool valid = false;
};

// Splits an https:// URL; anything else fails with "下载地址必须使用 HTTPS".
[[nodiscard]] bool CrackHttpsUrl(const std::wstring& url, UrlParts& parts, std::wstring& message);

// How long a request waits for the next bytes of its response (headers or body) unless its
// caller chooses another time.
inline constexpr int kTransportReceiveTimeoutMs = 30000;

// Opens a session, a connection and a GET request, sends it (with extraHeaders when not null)
// and receives the response headers. The caller owns the three handles, also on failure, and
// closes them request first. The message is left as it was on success. A failure, when given,
// receives the failing call's error. receiveMs bounds the wait for the headers and, afterwards,
// each read of the body.
[[nodiscard]] bool OpenHttpsRequest(const std::wstring& url, const wchar_t* extraHeaders,
                                    WinHttpHandle& session, WinHttpHandle& connection,
                                    WinHttpHandle& request, DWORD& statusCode,
                                    std::wstring& message, TransferFailure* failure = nullptr,
                                    int receiveMs = kTransportReceiveTimeoutMs);

inline constexpr std::size_t kSmallDocumentLimit = 1048576;

// GETs a document of at most limit bytes (1 MiB unless given) with status 200 into body. A
// failure, when given, receives what the fetch saw; it tells something only when the fetch
// failed.
[[nodiscard]] bool FetchSmallDocument(const std::wstring& url, std::string* body,
                                      std::wstring* message, TransferFailure* failure = nullptr,
                                      std::size_t limit = kSmallDocumentLimit);

}  // namespace lum::installer
