// The switches of an unattended installation, parsed from the process's own command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lum::installer {

struct CommandLine {
  bool silent = false;                           // /S
  bool usage = false;                            // /?
  bool noDesktopShortcut = false;                // /NODESKTOPSHORTCUT
  bool noStartMenuShortcut = false;              // /NOSTARTMENUSHORTCUT
  bool forceCloseApplications = false;           // /FORCECLOSEAPPLICATIONS
  bool launch = false;                           // /LAUNCH
  std::wstring logFile;                          // /LOG=<file>
  std::wstring proxy;                            // /PROXY=<host:port>
  std::optional<std::wstring> installDirectory;  // /D=<folder>, last
};

// raw is the whole command line as GetCommandLineW gives it, the program's name first. Switches
// are case-insensitive. /D= takes the rest of the raw line, blanks and all, so it is found in the
// raw text before the rest is split with CommandLineToArgvW. On false, message names the first
// unknown or malformed switch; parsed still tells whether /S was among the others.
[[nodiscard]] bool ParseCommandLine(std::wstring_view raw, CommandLine& parsed,
                                    std::wstring& message);

// The switches in their documented spelling, for the log; "(none)" without any.
std::wstring DescribeSwitches(const CommandLine& line);

}  // namespace lum::installer
