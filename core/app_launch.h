// Starts the installed application through the desktop shell, with the desktop user's rights.
#pragma once

#include <string>

namespace lum::installer {

[[nodiscard]] bool LaunchAsDesktopUser(const std::wstring& executablePath, std::wstring& message);

}  // namespace lum::installer
