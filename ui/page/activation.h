// What activating a control does, whether a click reached it after its hit test, a key pressed it
// with the focus on it, or a screen reader invoked it: the changes to the page model itself (the
// marks, the switch between the welcome and the options page), and what is left to the window.
#pragma once

#include "ui/page/controls.h"
#include "ui/page/page_view.h"
#include "ui/page/texts.h"

namespace lum::installer {

enum class Command {
  None,
  Minimize,
  Close,              // as the system's close: asks first while a run is busy
  OpenDocument,       // the activation's document, in the desktop user's browser
  BeginInstallation,  // asks for the agreement first while the mark is cleared
  PickFolder,
  FocusPathField,  // the field takes the keys; it has nothing to press
  Launch,
  Answer,             // the overlay's question, answered with the activation's answer
  LeaveAfterFailure,  // "退出安装": the run is cancelled and the window closes
  ChangeFolder,       // a disk-space failure's "更改目录": back to the options page
  Retry,              // every other failure's confirm button: a new run
};

struct Activation {
  Command command = Command::None;
  LegalDocument document = LegalDocument::None;
  bool answer = false;

  bool operator==(const Activation&) const = default;
};

// Applies what activating the control does to the view and returns what the window must do
// besides. The control is one of InputControls(view).
Activation Activate(PageView& view, ControlId id);

}  // namespace lum::installer
