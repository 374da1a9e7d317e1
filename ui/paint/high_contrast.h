// The user's high-contrast setting and the messages after which it is read again.
#pragma once

#include <windows.h>

namespace lum::installer {

// Whether high contrast is on (SPI_GETHIGHCONTRAST).
using HighContrastQuery = bool (*)();
bool SystemHighContrast();

// True for a message after which the setting or the system colours may be new: the window then
// reads the setting again and repaints.
bool MayChangeContrast(UINT message, WPARAM wParam);

}  // namespace lum::installer
