#include "app/silent_run.h"

#include "app/result_codes.h"
#include "core/build_config.h"

namespace lum::installer {

DWORD RunSilentInstallation(const CommandLine& line, const SilentRunContext& context) {
  // The questions about a running copy are answered by /FORCECLOSEAPPLICATIONS, at once: without
  // it the run ends with E_APP_RUNNING instead of waiting for an answer nobody gives.
  const bool force = line.forceCloseApplications;
  InstallerController controller(context.channel, kManifestUrl, context.onStatus,
                                 [force](ConfirmationKind) { return force; });
  InstallOptions options;
  options.bingClickId = context.bingClickId;
  options.installDirectory = line.installDirectory.value_or(controller.ProposedInstallDirectory());
  options.desktopShortcut = !line.noDesktopShortcut;
  options.startMenuShortcut = !line.noStartMenuShortcut;
  // Nobody watches a silent run: another installation on the machine ends it at once (1618).
  controller.SetWaitForOtherInstallation(false);
  controller.StartOpenEventThread();
  controller.StartInstall(options);
  controller.WaitForRun();
  if (controller.MetOtherInstallation()) return ExitCodeFor(kOutcomeAnotherInstance);

  const InstallerStatus end = controller.CurrentStatus();
  if (end.stage == InstallStage::Failed) return ExitCodeFor(end.errorCode);
  // A run that ended without either status was cancelled while the package ran.
  if (end.stage != InstallStage::Completed) return ExitCodeFor(kErrorCancelled);
  if (!line.launch) return ExitCodeFor(kOutcomeSuccess);
  if (context.runningAsSystem) {
    controller.WriteLog(L"install",
                        L"running as SYSTEM: /LAUNCH ignored, no desktop shell to start "
                        L"the application in");
    return ExitCodeFor(kOutcomeSuccess);
  }
  std::wstring message;
  if (!controller.LaunchInstalledApplication(message)) {
    controller.WriteLog(L"install", message);
    return ExitCodeFor(kErrorLaunch);
  }
  return ExitCodeFor(kOutcomeSuccess);
}

}  // namespace lum::installer
