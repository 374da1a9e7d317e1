// The usage text of the command line, shown for /? and for a switch that is not understood.
#pragma once

#include <string>

namespace lum::installer {

// problem (empty for /?) and the usage text go to the parent process's console when there is
// one, or to the standard output it gave; otherwise to a message box, unless messageBoxAllowed
// is false (a silent run shows nothing).
void ShowUsage(const std::wstring& problem, bool messageBoxAllowed);

}  // namespace lum::installer
