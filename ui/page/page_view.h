// What the window shows, in its own terms and without any window: the displayed status, the
// overlay over the page, and the user's choices. The page follows from the status's stage alone.
#pragma once

#include <cstdint>
#include <string>

#include "core/installer_types.h"

namespace lum::installer {

enum class DialogKind : std::int32_t {
  NoDialog = 0,
  ExitConfirm = 1,
  InstallError = 2,
  CloseAppConfirm = 3,
  ForceCloseConfirm = 4,
  AgreementRequired = 5,
};

enum class Page { Welcome, CustomOptions, Progress, Completed };

// The one mapping of stages to pages: the options page for CustomOptions, the progress page for
// the busy stages, the completion page for Completed, and the welcome page for every other value
// (a failure shows the welcome page under its overlay).
Page PageFor(InstallStage stage);

struct PageView {
  InstallerStatus status;  // the last one received, or the page the window switched to itself
  DialogKind dialog = DialogKind::NoDialog;
  bool agreed = true;  // the agreement mark
  bool desktopShortcut = true;
  bool startMenuShortcut = true;
  std::wstring installPath;     // the path field's text
  std::uint64_t freeSpace = 0;  // of installPath's volume, read when the path changed; 0: unknown

  Page page() const { return PageFor(status.stage); }
  bool operator==(const PageView&) const = default;
};

}  // namespace lum::installer
