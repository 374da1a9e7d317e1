// The body of one metrics event: a compact JSON object, members ordered by name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lum::installer {

struct MetricsEvent {
  std::string_view name;
  std::wstring channelId;
  std::wstring bootstrapperVersion;
  std::wstring errorCode;
  std::optional<std::wstring> payloadVersion;  // only once a manifest was accepted
};

// Empty when the event cannot be written (an event name that is not UTF-8).
std::string MetricsEventBody(const MetricsEvent& event);

}  // namespace lum::installer
