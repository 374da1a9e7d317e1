// Finding, closing and terminating running copies of the installed application.
#pragma once

#include <windows.h>

#include <string_view>
#include <vector>

namespace lum::installer {

inline constexpr wchar_t kApplicationExeName[] = L"lumora.exe";

// Process ids whose executable file name equals name, ignoring ASCII case.
std::vector<DWORD> FindProcessesByName(std::wstring_view name);
bool IsApplicationRunning(std::wstring_view name);
// Posts WM_CLOSE to every visible top-level window of those processes; true when none is left
// within timeoutSeconds.
bool CloseApplicationWindows(std::wstring_view name, unsigned timeoutSeconds);
// True when every such process was terminated and ended within 5 s (also when none ran).
bool TerminateApplication(std::wstring_view name);

}  // namespace lum::installer
