// The controller's metrics members: one event sent, and the one-shot start-up report.
#include "core/build_config.h"
#include "core/installer_controller.h"
#include "manifest/version.h"
#include "net/metrics.h"
#include "net/metrics_event.h"

namespace lum::installer {

void InstallerController::SendMetricsEvent(std::string_view eventName,
                                           const std::wstring& errorCode) {
  MetricsEvent event{eventName, channelId, kBootstrapperVersion, errorCode, std::nullopt};
  if (const std::optional<PayloadInfo> current = CurrentPayload()) {
    event.payloadVersion = current->version;
  }
  // Only an event name that is not UTF-8 gives no body; such a report is dropped like any other
  // failed one.
  const std::string body = MetricsEventBody(event);
  if (body.empty()) return;
  std::wstring ignored;
  static_cast<void>(PostJson(kMetricsUrl, body, &ignored));
}

void InstallerController::StartOpenEventThread() {
  if (openEventThread.joinable()) return;
  openEventThread = std::thread([this] { SendMetricsEvent("web_install_open", L""); });
}

}  // namespace lum::installer
