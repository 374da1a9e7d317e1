#include "ui/shell/taskbar_progress.h"

#include <utility>

namespace lum::installer {
namespace {

TBPFLAG ToFlag(TaskbarState state) {
  switch (state) {
    case TaskbarState::Indeterminate:
      return TBPF_INDETERMINATE;
    case TaskbarState::Normal:
      return TBPF_NORMAL;
    case TaskbarState::Error:
      return TBPF_ERROR;
    case TaskbarState::NoProgress:
      break;
  }
  return TBPF_NOPROGRESS;
}

}  // namespace

void ShellTaskbarProgress::Connect(HWND) {
  // A new button wants a new list: the old one belonged to a shell that may be gone.
  ComPtr<ITaskbarList3> made;
  if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_ITaskbarList3, made.PutVoid())) &&
      SUCCEEDED(made->HrInit())) {
    list = std::move(made);
  } else {
    list.Reset();
  }
}

void ShellTaskbarProgress::SetState(HWND window, TaskbarState state) {
  if (list) list->SetProgressState(window, ToFlag(state));
}

void ShellTaskbarProgress::SetValue(HWND window, int percent) {
  if (list) list->SetProgressValue(window, static_cast<ULONGLONG>(percent), 100);
}

void ShellTaskbarProgress::Flash(HWND window) {
  FLASHWINFO flash{};
  flash.cbSize = sizeof(flash);
  flash.hwnd = window;
  flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
  FlashWindowEx(&flash);
}

}  // namespace lum::installer
