#include "net/metrics_event.h"

#include <nlohmann/json.hpp>

#include "base/text.h"

namespace lum::installer {

std::string MetricsEventBody(const MetricsEvent& event) {
  try {
    // The default object type keeps members ordered by name, whatever order they are set in.
    nlohmann::json body = nlohmann::json::object();
    body["event"] = std::string(event.name);
    body["channel_id"] = WideToUtf8(event.channelId);
    body["bootstrapper_version"] = WideToUtf8(event.bootstrapperVersion);
    body["error_code"] = WideToUtf8(event.errorCode);
    if (event.payloadVersion) body["payload_version"] = WideToUtf8(*event.payloadVersion);
    return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception&) {
    return {};
  }
}

}  // namespace lum::installer
