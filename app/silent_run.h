// One whole installation without a window: the same controller and workflow as the window's,
// with the switches in place of the user's choices and answers.
#pragma once

#include <windows.h>

#include <string>

#include "app/command_line.h"
#include "core/installer_controller.h"

namespace lum::installer {

struct SilentRunContext {
  std::wstring channel;
  std::wstring bingClickId;
  // The desktop shell runs no session of the local system account, so nothing is launched there.
  bool runningAsSystem = false;
  // Sees every status (a test tool prints them); none by default.
  InstallerController::StatusCallback onStatus;
};

// Runs on a thread whose COM apartment is initialised (the launch needs it) and returns the exit
// code of the outcome (app/result_codes.h) once every thread of the run has ended.
[[nodiscard]] DWORD RunSilentInstallation(const CommandLine& line, const SilentRunContext& context);

}  // namespace lum::installer
