// The exit codes of a silent run: one per outcome, each with the response a package manager
// (winget's ExpectedReturnCodes) reports for it. README's table and packaging/winget follow this
// one; a test compares them. A windowed run keeps its own codes 0-4.
#pragma once

#include <windows.h>

#include <string_view>

namespace lum::installer {

struct ResultCode {
  std::wstring_view outcome;  // a Failed status's error code, or one of the names below
  DWORD exitCode;
  std::string_view wingetResponse;  // empty for success
};

// Outcomes that are not a Failed status's error code.
inline constexpr std::wstring_view kOutcomeSuccess = L"SUCCESS";
inline constexpr std::wstring_view kOutcomeAnotherInstance = L"ANOTHER_INSTANCE";
inline constexpr std::wstring_view kOutcomeBadSwitch = L"BAD_SWITCH";
inline constexpr std::wstring_view kOutcomeUnsupportedSystem = L"UNSUPPORTED_SYSTEM";
inline constexpr std::wstring_view kOutcomeStartFailed = L"START_FAILED";

// Windows Installer's codes where one means the same (1602 cancelled, 1603 fatal failure, 1618
// another installation running, 1638 a newer version installed, 1639 invalid command line), the
// system's own for a full disk (112), a refused elevation (1223) and an old system (1150); the
// bootstrapper's own 20001-20008 for the rest.
inline constexpr ResultCode kResultCodes[] = {
    {kOutcomeSuccess, 0, ""},
    {L"E_NETWORK", 20001, "noNetwork"},
    {L"E_MANIFEST", 20002, "contactSupport"},
    {L"E_LOCAL_VERSION", 20003, "contactSupport"},
    {L"E_DOWNGRADE", 1638, "downgrade"},
    {L"E_DISK_SPACE", 112, "diskFull"},
    {L"E_VERIFY", 20004, "contactSupport"},
    {L"E_CANCELLED", 1602, "cancelledByUser"},
    {L"E_DOWNLOAD", 20005, "noNetwork"},
    {L"E_APP_RUNNING", 20006, "packageInUse"},
    {L"E_UAC", 1223, "cancelledByUser"},
    {L"E_INSTALL", 1603, "contactSupport"},
    {L"E_LAUNCH", 20007, "custom"},
    {kOutcomeAnotherInstance, 1618, "installInProgress"},
    {kOutcomeBadSwitch, 1639, "invalidParameter"},
    {kOutcomeUnsupportedSystem, 1150, "systemNotSupported"},
    {kOutcomeStartFailed, 20008, "contactSupport"},
};

// The exit code of an outcome; an unknown one counts as the fatal failure E_INSTALL.
DWORD ExitCodeFor(std::wstring_view outcome);

}  // namespace lum::installer
