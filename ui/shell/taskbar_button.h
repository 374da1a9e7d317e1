// What the window's taskbar button shows for the displayed status: a value while downloading and
// installing, a running indicator while preparing and verifying, red with the failure overlay,
// nothing otherwise; and a flash when a run ends while the window is in the background.
#pragma once

#include <windows.h>

#include <memory>

#include "core/installer_types.h"
#include "ui/shell/taskbar_progress.h"

namespace lum::installer {

class TaskbarButton {
 public:
  explicit TaskbarButton(std::unique_ptr<TaskbarProgress> shell);

  // Once the window exists, before it is shown: the shell's message is registered and let in.
  void Attach(HWND window);
  // True for the shell's "TaskbarButtonCreated"; the new button then shows the current state.
  bool HandleMessage(UINT message);
  // The status the window shows from now on; a Failed one comes with the failure overlay.
  void Show(const InstallerStatus& status);

 private:
  void Apply();

  std::unique_ptr<TaskbarProgress> shell;
  HWND window = nullptr;
  UINT buttonCreated = 0;
  bool buttonExists = false;  // the shell has made the button
  bool connected = false;     // the shell's list is made for it
  InstallStage shownStage = InstallStage::Welcome;
  TaskbarState wantedState = TaskbarState::NoProgress;
  int wantedValue = 0;
  // What the button was last told; a new button starts with no progress.
  TaskbarState appliedState = TaskbarState::NoProgress;
  int appliedValue = -1;
};

}  // namespace lum::installer
