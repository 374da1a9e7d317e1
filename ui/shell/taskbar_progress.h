// The shell's side of the window's taskbar button: its progress indicator and its flashing.
//
// An interface because Wine's taskbar list accepts every call and shows nothing, so no test can
// read back what the button shows; the window's tests put a recorder here instead. The product
// only ever uses ShellTaskbarProgress.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "base/handles.h"

namespace lum::installer {

enum class TaskbarState { NoProgress, Indeterminate, Normal, Error };

class TaskbarProgress {
 public:
  virtual ~TaskbarProgress() = default;
  // The shell has created the window's button, for the first time or after it restarted.
  virtual void Connect(HWND window) = 0;
  virtual void SetState(HWND window, TaskbarState state) = 0;
  virtual void SetValue(HWND window, int percent) = 0;  // 0-100
  // Draws attention to the button until the window comes to the foreground.
  virtual void Flash(HWND window) = 0;
};

// ITaskbarList3 and FlashWindowEx. Without a taskbar list the progress calls do nothing.
class ShellTaskbarProgress final : public TaskbarProgress {
 public:
  void Connect(HWND window) override;
  void SetState(HWND window, TaskbarState state) override;
  void SetValue(HWND window, int percent) override;
  void Flash(HWND window) override;

 private:
  ComPtr<ITaskbarList3> list;
};

}  // namespace lum::installer
