// Who the process runs as: deployment tools start installers as the local system account.
#pragma once

#include <windows.h>

namespace lum::installer {

// True for the local system account's SID, S-1-5-18.
[[nodiscard]] bool IsLocalSystemSid(PSID sid);

// True when the process token's user is the local system account; false when it cannot be read.
[[nodiscard]] bool IsRunningAsLocalSystem();

// This process's user against the user of the desktop shell (the process that owns the shell
// window). A common dialog opened here hands whoever sits at that desktop a shell view (context
// menus, an address bar, "open in new window") whose every program starts with this process's
// rights: that is only the desktop user's own when both users are the same.
enum class DesktopIdentity {
  SameUser,     // the shell runs as this process's user (elevation by the same account)
  LocalSystem,  // this process runs as SYSTEM, a deployment tool's start shown on a desktop
  OtherUser,    // another account's elevation, typed in over the desktop user's shoulder
  NoShell,      // no desktop shell to compare with
  Unknown,      // the shell's user cannot be read (another user's process, as a rule)
};
[[nodiscard]] DesktopIdentity CheckDesktopIdentity();
using DesktopIdentityCheck = DesktopIdentity (*)();

}  // namespace lum::installer
