// The system's folder picker, the Common Item Dialog, over the window.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace lum::installer {

// The folder the user chose, as a file-system path; none when the picker could not be made, was
// cancelled or gave no path. The picker starts wherever it likes; the path is not checked here.
std::optional<std::wstring> ChooseFolder(HWND owner);

}  // namespace lum::installer
