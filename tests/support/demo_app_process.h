// Starting, watching and ending copies of the stand-in application (tools/demo_app) in tests.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "base/handles.h"

namespace lum::test {

// The built stand-in application, artifacts\lumora.exe.
std::wstring DemoAppPath();
// Copies the stand-in application into folder as fileName; returns the copy's path.
std::wstring CopyDemoApp(const std::wstring& folder, std::wstring_view fileName);

// Waits until the file exists; false after timeoutMs.
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);

// One running copy of the stand-in application. Ends it (TerminateProcess) on destruction if it
// is still running, so no test leaves it behind.
class DemoAppProcess {
 public:
  DemoAppProcess() = default;
  ~DemoAppProcess();
  DemoAppProcess(const DemoAppProcess&) = delete;
  DemoAppProcess& operator=(const DemoAppProcess&) = delete;

  // Starts executable with the stand-in's options and waits until its windows exist (its start
  // marker was written). Records a test failure and returns false otherwise.
  bool Start(const std::wstring& executable, const std::wstring& options = L"");
  // Takes over a copy that something else started, from the process id in its marker.
  bool Attach(DWORD processId);

  DWORD Id() const { return id_; }
  bool IsRunning() const;
  // True when the process ended within timeoutMs; exitCode receives its exit code.
  bool WaitForExit(DWORD timeoutMs, DWORD& exitCode) const;
  void Terminate();

 private:
  installer::KernelHandle process_;
  DWORD id_ = 0;
};

// Start marker written by the stand-in: process id, command line, current directory.
struct DemoAppMarker {
  DWORD processId = 0;
  std::wstring commandLine;
  std::wstring currentDirectory;
};
bool ReadDemoAppMarker(const std::wstring& path, DemoAppMarker& marker);

// Name of the marker a copy writes beside itself when started without --marker.
inline constexpr wchar_t kDefaultMarkerName[] = L"lumora_started.txt";

}  // namespace lum::test
