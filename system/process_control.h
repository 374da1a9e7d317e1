// Finding, closing and terminating running copies of the installed application.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace lum::installer {

inline constexpr wchar_t kApplicationExeName[] = L"lumora.exe";

// A running copy of the application.
struct ApplicationCopy {
  DWORD processId = 0;
  DWORD sessionId = 0;
  bool otherSession = false;  // another logon session than this process's: another user's
};

// The application's own running copies: processes whose executable file name equals name
// (ignoring ASCII case) and whose image file lies inside one of folders (the installed
// application's folder, the folder being installed to). Both are compared where they really
// are, after links; a program of that name elsewhere, anyone's, is no copy. Folders that do not
// exist hold none.
std::vector<ApplicationCopy> FindApplicationCopies(std::wstring_view name,
                                                   const std::vector<std::wstring>& folders);
bool IsApplicationRunning(std::wstring_view name, const std::vector<std::wstring>& folders);
// Posts WM_CLOSE to every visible top-level window of the copies in this session (windows of
// other sessions are out of reach); true when no copy at all is left within timeoutSeconds.
bool CloseApplicationWindows(std::wstring_view name, const std::vector<std::wstring>& folders,
                             unsigned timeoutSeconds);
// Terminates the copies in this session and waits up to 5 s for each. A copy in another session
// is another user's, with their unsaved work: it is never ended from here, and the result is then
// false. True when no copy is left running.
bool TerminateApplication(std::wstring_view name, const std::vector<std::wstring>& folders);

// By name alone, every process of any user and session: for tests and tools that end what they
// started, never for the installation.
std::vector<DWORD> FindProcessesByName(std::wstring_view name);
bool IsApplicationRunning(std::wstring_view name);
bool CloseApplicationWindows(std::wstring_view name, unsigned timeoutSeconds);
bool TerminateApplication(std::wstring_view name);

}  // namespace lum::installer
