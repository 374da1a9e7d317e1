// Starts a Windows program from a test and waits for it, optionally reading its standard output.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "base/handles.h"

namespace lum::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  // Ends the program if it still runs, so a failed test leaves nothing behind.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Command line: the quoted executable path followed by arguments.
  bool Start(const std::wstring& executable, const std::wstring& arguments = L"",
             bool captureOutput = false);
  // Everything the program writes to standard output until it closes it.
  std::string ReadOutput();
  // The exit code, or nothing if the program still runs after timeoutMs.
  std::optional<DWORD> Wait(DWORD timeoutMs);
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return process_.Get(); }

 private:
  installer::KernelHandle process_;
  installer::KernelHandle output_;
  DWORD id_ = 0;
};

// The folder of the running test executable.
std::wstring OwnDirectory();

}  // namespace lum::test
