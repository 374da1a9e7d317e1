// Runs one whole installation without a window, through the product's own silent run, printing
// every status as a line (the benchmarks read them).
//   headless_install.exe [--channel ID] [--dir FOLDER] [--click-id ID] [--answer yes|no]
//                        [--no-desktop-shortcut] [--no-start-menu-shortcut]
// --answer yes is /FORCECLOSEAPPLICATIONS. Exit code: the silent run's (0 when the installation
// completed), 1639 on a usage error.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "app/result_codes.h"
#include "app/silent_run.h"
#include "base/text.h"

using namespace lum::installer;

namespace {

void PrintLine(const std::wstring& line) {
  const std::string utf8 = WideToUtf8(line) + "\n";
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  CommandLine line;
  line.silent = true;
  SilentRunContext context;
  context.channel = L"baidu2";
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == L"--channel" && hasValue) {
      context.channel = argv[++i];
    } else if (arg == L"--dir" && hasValue) {
      line.installDirectory = argv[++i];
    } else if (arg == L"--click-id" && hasValue) {
      context.bingClickId = argv[++i];
    } else if (arg == L"--answer" && hasValue) {
      line.forceCloseApplications = std::wstring(argv[++i]) == L"yes";
    } else if (arg == L"--no-desktop-shortcut") {
      line.noDesktopShortcut = true;
    } else if (arg == L"--no-start-menu-shortcut") {
      line.noStartMenuShortcut = true;
    } else {
      PrintLine(
          L"usage: headless_install.exe [--channel ID] [--dir FOLDER] [--click-id ID] "
          L"[--answer yes|no] [--no-desktop-shortcut] [--no-start-menu-shortcut]");
      return static_cast<int>(ExitCodeFor(kOutcomeBadSwitch));
    }
  }
  context.onStatus = [](const InstallerStatus& status) {
    PrintLine(L"status " + std::to_wstring(static_cast<int>(status.stage)) + L" " +
              std::to_wstring(status.progress) + L" " + status.message +
              (status.errorCode.empty() ? L"" : L" " + status.errorCode));
  };
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    return static_cast<int>(ExitCodeFor(kOutcomeStartFailed));
  }
  const DWORD exitCode = RunSilentInstallation(line, context);
  CoUninitialize();
  return static_cast<int>(exitCode);
}
