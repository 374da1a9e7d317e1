// Metrics reports: one compact JSON object per POST, best effort.
#pragma once

#include <string>

namespace lum::installer {

[[nodiscard]] bool PostJson(const std::wstring& url, const std::string& body,
                            std::wstring* message);

}  // namespace lum::installer
