#include "ui/paint/high_contrast.h"

namespace lum::installer {

bool SystemHighContrast() {
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof(contrast);
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
         (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

bool MayChangeContrast(UINT message, WPARAM wParam) {
  switch (message) {
    case WM_SETTINGCHANGE:
      return wParam == SPI_SETHIGHCONTRAST;
    case WM_THEMECHANGED:
    case WM_SYSCOLORCHANGE:
      return true;
    default:
      return false;
  }
}

}  // namespace lum::installer
