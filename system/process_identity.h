// Who the process runs as: deployment tools start installers as the local system account.
#pragma once

#include <windows.h>

namespace lum::installer {

// True for the local system account's SID, S-1-5-18.
[[nodiscard]] bool IsLocalSystemSid(PSID sid);

// True when the process token's user is the local system account; false when it cannot be read.
[[nodiscard]] bool IsRunningAsLocalSystem();

}  // namespace lum::installer
