// Runs one whole installation without a window: the controller against the compiled-in
// manifest URL, questions answered from the command line, every status printed as a line.
//   headless_install.exe [--channel ID] [--dir FOLDER] [--click-id ID] [--answer yes|no]
//                        [--no-desktop-shortcut] [--no-start-menu-shortcut]
// Exit code: 0 when the installation completed, 1 when it failed, 2 on a usage error.
#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/text.h"
#include "core/build_config.h"
#include "core/installer_controller.h"

using namespace lum::installer;

namespace {

void PrintLine(const std::wstring& line) {
  const std::string utf8 = WideToUtf8(line) + "\n";
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring channel = L"baidu2";
  bool answer = true;
  InstallOptions options;
  bool haveDirectory = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == L"--channel" && hasValue) {
      channel = argv[++i];
    } else if (arg == L"--dir" && hasValue) {
      options.installDirectory = argv[++i];
      haveDirectory = true;
    } else if (arg == L"--click-id" && hasValue) {
      options.bingClickId = argv[++i];
    } else if (arg == L"--answer" && hasValue) {
      answer = std::wstring(argv[++i]) == L"yes";
    } else if (arg == L"--no-desktop-shortcut") {
      options.desktopShortcut = false;
    } else if (arg == L"--no-start-menu-shortcut") {
      options.startMenuShortcut = false;
    } else {
      PrintLine(
          L"usage: headless_install.exe [--channel ID] [--dir FOLDER] [--click-id ID] "
          L"[--answer yes|no] [--no-desktop-shortcut] [--no-start-menu-shortcut]");
      return 2;
    }
  }

  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  InstallStage last = InstallStage::Welcome;
  InstallerController controller(
      channel, kManifestUrl,
      [&](const InstallerStatus& status) {
        PrintLine(L"status " + std::to_wstring(static_cast<int>(status.stage)) + L" " +
                  std::to_wstring(status.progress) + L" " + status.message +
                  (status.errorCode.empty() ? L"" : L" " + status.errorCode));
        if (status.stage == InstallStage::Completed || status.stage == InstallStage::Failed) {
          std::lock_guard lock(mutex);
          done = true;
          last = status.stage;
          finished.notify_all();
        }
      },
      [&](ConfirmationKind kind) {
        PrintLine(L"question " + std::to_wstring(static_cast<int>(kind)) + L" answered " +
                  (answer ? L"yes" : L"no"));
        return answer;
      });
  if (!haveDirectory) options.installDirectory = controller.ProposedInstallDirectory();
  PrintLine(L"install folder " + options.installDirectory);
  controller.StartOpenEventThread();
  controller.StartInstall(options);
  std::unique_lock lock(mutex);
  finished.wait(lock, [&] { return done; });
  return last == InstallStage::Completed ? 0 : 1;
}
