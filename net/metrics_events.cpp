// The controller's metrics members: the event body and the one-shot start-up report.
#include <nlohmann/json.hpp>

#include "core/build_config.h"
#include "core/installer_controller.h"
#include "manifest/version.h"
#include "net/metrics.h"
#include "net/wide_to_utf8.h"

namespace lum::installer {

void InstallerController::SendMetricsEvent(std::string_view eventName,
                                           const std::wstring& errorCode) {
  std::string body;
  try {
    // The default object type keeps members ordered by name, whatever order they are set in.
    nlohmann::json event = nlohmann::json::object();
    event["event"] = std::string(eventName);
    event["channel_id"] = WideToUtf8(channelId);
    event["bootstrapper_version"] = WideToUtf8(kBootstrapperVersion);
    event["error_code"] = WideToUtf8(errorCode);
    if (const std::optional<PayloadInfo> current = CurrentPayload()) {
      event["payload_version"] = WideToUtf8(current->version);
    }
    body = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception&) {
    // Only an event name that is not UTF-8 gets here; such a report is dropped like any other
    // failed one.
    return;
  }
  std::wstring ignored;
  static_cast<void>(PostJson(kMetricsUrl, body, &ignored));
}

void InstallerController::StartOpenEventThread() {
  if (openEventThread.joinable()) return;
  openEventThread = std::thread([this] { SendMetricsEvent("web_install_open", L""); });
}

}  // namespace lum::installer
