// Hands programs and documents to the desktop shell, which opens them with the desktop user's
// rights rather than the bootstrapper's elevated ones.
#pragma once

#include <string>

namespace lum::installer {

// Asks the desktop shell to open `file` (a path or a URL) in `directory`, or without a working
// folder when it is empty. False when no desktop shell answers or the call fails; the shell opens
// asynchronously, so true does not mean the file has opened. Needs a COM apartment.
[[nodiscard]] bool OpenThroughDesktopShell(const std::wstring& file, const std::wstring& directory);

// The installed application, started in its own folder.
[[nodiscard]] bool LaunchAsDesktopUser(const std::wstring& executablePath, std::wstring& message);

}  // namespace lum::installer
