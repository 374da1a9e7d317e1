#include "ui/shell/taskbar_button.h"

#include <algorithm>
#include <utility>

namespace lum::installer {
namespace {

TaskbarState StateFor(InstallStage stage) {
  switch (stage) {
    case InstallStage::Preparing:
    case InstallStage::Verifying:
      return TaskbarState::Indeterminate;
    case InstallStage::Downloading:
    case InstallStage::Installing:
      return TaskbarState::Normal;
    case InstallStage::Failed:
      return TaskbarState::Error;
    default:
      return TaskbarState::NoProgress;
  }
}

bool EndsRun(InstallStage stage) {
  return stage == InstallStage::Completed || stage == InstallStage::Failed;
}

}  // namespace

TaskbarButton::TaskbarButton(std::unique_ptr<TaskbarProgress> taskbarShell)
    : shell(std::move(taskbarShell)) {}

void TaskbarButton::Attach(HWND attached) {
  window = attached;
  buttonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
  // The program runs elevated and the shell does not: without this the message is filtered out.
  if (buttonCreated != 0) ChangeWindowMessageFilterEx(window, buttonCreated, MSGFLT_ALLOW, nullptr);
}

bool TaskbarButton::HandleMessage(UINT message) {
  if (buttonCreated == 0 || message != buttonCreated) return false;
  // The shell's list is made when the button first has something to show: the message arrives
  // before the first paint, which the list's DLL loading would delay.
  buttonExists = true;
  connected = false;
  appliedState = TaskbarState::NoProgress;
  appliedValue = -1;
  Apply();
  return true;
}

void TaskbarButton::Show(const InstallerStatus& status) {
  const bool ended = EndsRun(status.stage) && status.stage != shownStage;
  shownStage = status.stage;
  wantedState = StateFor(status.stage);
  wantedValue = std::clamp<int>(status.progress, 0, 100);
  Apply();
  if (ended && shell && GetForegroundWindow() != window) shell->Flash(window);
}

void TaskbarButton::Apply() {
  if (!buttonExists || !shell) return;
  if (wantedState != appliedState) {
    if (!connected) shell->Connect(window);
    connected = true;
    shell->SetState(window, wantedState);
    appliedState = wantedState;
    appliedValue = -1;
  }
  if (wantedState == TaskbarState::Normal && wantedValue != appliedValue) {
    shell->SetValue(window, wantedValue);
    appliedValue = wantedValue;
  }
}

}  // namespace lum::installer
