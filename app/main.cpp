// Process entry: the switches, system check, single instance, COM, then the main window and its
// message loop, or the silent run.
#include <windows.h>
#include <objbase.h>

#include <memory>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/delay_loaded_dlls.h"
#include "app/proxy_choice.h"
#include "app/result_codes.h"
#include "app/silent_run.h"
#include "app/usage.h"
#include "base/handles.h"
#include "base/module.h"
#include "core/installer_log.h"
#include "net/proxy.h"
#include "system/channel.h"
#include "system/process_identity.h"
#include "ui/main_window.h"

namespace {

constexpr int kExitNormal = 0;
constexpr int kExitMutexFailed = 1;
constexpr int kExitComFailed = 2;
constexpr int kExitWindowFailed = 3;
constexpr int kExitUnsupportedSystem = 4;

constexpr wchar_t kMutexName[] = L"Local\\LUMWebBootstrapper.SingleInstance";

// Every DLL loaded from here on comes from System32, never from the folder the executable was
// started from (a downloads folder, typically). The DLLs that are not on the system's known-DLL
// list are delay-loaded for this reason; they are then loaded right here, from System32, so that
// every later load by name, ours or one a system DLL makes among its own dependencies, finds them
// already in the process. They stay loaded for the process's lifetime.
// SetDefaultDllDirectories is looked up by name like the functions below: where it is missing
// the system is too old anyway and the start stops at the system check.
void RestrictDllSearchToSystem32() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto restrict = lum::installer::LoadedFunction<SetDefaultDllDirectoriesFn>(
      L"kernel32.dll", "SetDefaultDllDirectories");
  if (restrict == nullptr) return;
  restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
  for (const wchar_t* name : lum::installer::kDelayLoadedDlls) {
    LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

// From here on this elevated process does not follow a junction or a symbolic link that an
// account other than an administrator made: such a link in a folder a user controls cannot steer
// a write of ours elsewhere. Windows has this guard since Windows 10 version 2004 with recent
// updates, and Windows 11; elsewhere the call fails and changes nothing. It is looked up by name
// like the functions below.
void TrustOnlyAdministratorsRedirections() {
  using SetPolicyFn = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
  const auto setPolicy =
      lum::installer::LoadedFunction<SetPolicyFn>(L"kernel32.dll", "SetProcessMitigationPolicy");
  if (setPolicy == nullptr) return;
  PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
  policy.EnforceRedirectionTrust = 1;
  static_cast<void>(setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy)));
}

// Windows 10 or later on native x64 hardware. Both functions are looked up by name: the
// version one is not in the import libraries, and IsWow64Process2 is missing before
// Windows 10, where the executable must still load to say why it stops.
bool IsSupportedSystem() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

  using lum::installer::LoadedFunction;
  const auto getVersion = LoadedFunction<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion");
  if (getVersion == nullptr) return false;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);  // 276
  if (getVersion(&version) != 0) return false;
  if (version.dwMajorVersion < 10) return false;

  const auto wow64 = LoadedFunction<IsWow64Process2Fn>(L"kernel32.dll", "IsWow64Process2");
  if (wow64 == nullptr) return false;
  USHORT processMachine = 0;
  USHORT nativeMachine = 0;
  if (!wow64(GetCurrentProcess(), &processMachine, &nativeMachine)) return false;
  return nativeMachine == IMAGE_FILE_MACHINE_AMD64;
}

// Restores and raises the window of the instance that owns the name; it may have none yet.
void ActivateFirstInstance() {
  HWND other = FindWindowW(lum::installer::kWindowClassName, nullptr);
  if (other == nullptr) return;
  ShowWindow(other, SW_RESTORE);
  SetForegroundWindow(other);
}

int RunMessageLoop() {
  MSG message{};
  BOOL result = 0;
  while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return result == 0 ? static_cast<int>(message.wParam) : kExitNormal;
}

// The first log lines of a run, written when its first installation starts: its mode and
// switches, a log copy that cannot be written, and a proxy that was named. Until then no line
// touches the working folder.
void LogStart(const lum::installer::CommandLine& line, const lum::installer::ProxyChoice& proxy) {
  using namespace lum::installer;
  std::wstring problem;
  const bool copied = line.logFile.empty() || SetLogCopyFile(line.logFile, problem);
  std::vector<InstallerLogLine> lines;
  lines.push_back({L"install", std::wstring(L"mode=") + (line.silent ? L"silent" : L"windowed") +
                                   L" switches=" + DescribeSwitches(line)});
  if (!copied) lines.push_back({L"install", L"log copy not written: " + problem});
  if (!proxy.logLine.empty()) lines.push_back({L"install", proxy.logLine});
  DeferInstallerLog(std::move(lines));
}

// The whole installation without a window; the window's codes 1 and 2 become the silent
// run's start-up failure.
int RunSilent(const lum::installer::CommandLine& line) {
  using namespace lum::installer;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    return static_cast<int>(ExitCodeFor(kOutcomeStartFailed));
  }
  SilentRunContext context;
  context.channel = ReadEmbeddedChannel();
  context.bingClickId = ResolveBingClickId(context.channel);
  context.runningAsSystem = IsRunningAsLocalSystem();
  const DWORD exitCode = RunSilentInstallation(line, context);
  CoUninitialize();
  return static_cast<int>(exitCode);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  static_assert(sizeof(OSVERSIONINFOW) == 276);
  using lum::installer::ExitCodeFor;
  RestrictDllSearchToSystem32();
  TrustOnlyAdministratorsRedirections();
  lum::installer::CommandLine line;
  std::wstring problem;
  const bool understood = lum::installer::ParseCommandLine(GetCommandLineW(), line, problem);
  const bool silent = line.silent;
  if (!understood || line.usage) {
    lum::installer::ShowUsage(problem, !silent);
    return understood ? kExitNormal
                      : static_cast<int>(ExitCodeFor(lum::installer::kOutcomeBadSwitch));
  }

  if (!IsSupportedSystem()) {
    if (silent) return static_cast<int>(ExitCodeFor(lum::installer::kOutcomeUnsupportedSystem));
    MessageBoxW(nullptr, L"安装器仅支持 Windows 10/11 x64 系统。", L"系统不受支持",
                MB_ICONERROR | MB_OK);
    return kExitUnsupportedSystem;
  }

  lum::installer::KernelHandle mutex(CreateMutexW(nullptr, TRUE, kMutexName));
  if (!mutex) {
    return silent ? static_cast<int>(ExitCodeFor(lum::installer::kOutcomeStartFailed))
                  : kExitMutexFailed;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // A silent second start shows nothing and says so by its code; a windowed one shows the
    // first instance's window.
    if (silent) return static_cast<int>(ExitCodeFor(lum::installer::kOutcomeAnotherInstance));
    ActivateFirstInstance();
    return kExitNormal;
  }

  // Before anything goes out: the window's open event is sent as soon as it is made.
  const lum::installer::ProxyChoice proxy = lum::installer::ChooseProxy(line);
  lum::installer::UseNamedProxy(proxy.proxy);

  int exitCode = kExitWindowFailed;
  if (silent) {
    LogStart(line, proxy);
    exitCode = RunSilent(line);
  } else if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    return kExitComFailed;
  } else {
    {
      auto window = std::make_unique<lum::installer::MainWindow>(instance);
      // The log copy is opened once the first frame is up, so that it does not delay it; the
      // log's lines wait for the user to start an installation.
      if (window->Create()) {
        LogStart(line, proxy);
        exitCode = RunMessageLoop();
      }
      // Destroying the window joins the controller's threads before COM goes away.
    }
    CoUninitialize();
  }
  // Held until everything else is gone, so a start during shutdown still finds the name.
  ReleaseMutex(mutex.Get());
  mutex.Reset();
  return exitCode;
}
