#include "net/metrics.h"

#include "base/handles.h"
#include "net/https_request.h"

namespace lum::installer {
namespace {

// Much shorter than the download's: a report must never hold up the installation for long.
constexpr int kReportResolveTimeoutMs = 3000;
constexpr int kReportConnectTimeoutMs = 3000;
constexpr int kReportSendTimeoutMs = 5000;
constexpr int kReportReceiveTimeoutMs = 5000;

constexpr wchar_t kTextReportBadStatus[] = L"埋点服务返回异常状态";

}  // namespace

bool PostJson(const std::wstring& url, const std::string& body, std::wstring* message) {
  if (message == nullptr) return false;
  detail::RequestSpec spec;
  spec.method = L"POST";
  spec.extraHeaders = L"Content-Type: application/json\r\n";
  spec.body = &body;
  spec.timeouts = {kReportResolveTimeoutMs, kReportConnectTimeoutMs, kReportSendTimeoutMs,
                   kReportReceiveTimeoutMs};
  spec.texts = {L"无法初始化埋点网络组件", L"无法连接埋点服务", L"无法连接埋点服务",
                L"埋点请求失败", kTextReportBadStatus};
  // Declared in this order so they close request first.
  WinHttpHandle session;
  WinHttpHandle connection;
  WinHttpHandle request;
  DWORD status = 0;
  DWORD winError = 0;  // reports log nothing
  if (!detail::SendHttpsRequest(url, spec, session, connection, request, status, *message,
                                winError)) {
    return false;
  }
  if (status < 200 || status > 299) {
    *message = kTextReportBadStatus;
    return false;
  }
  message->clear();
  return true;
}

}  // namespace lum::installer
