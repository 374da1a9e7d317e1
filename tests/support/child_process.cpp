#include "tests/support/child_process.h"

#include <vector>

namespace lum::test {

ChildProcess::~ChildProcess() {
  if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.Get(), 255);
    WaitForSingleObject(process_.Get(), 5000);
  }
}

bool ChildProcess::Start(const std::wstring& executable, const std::wstring& arguments,
                         bool captureOutput) {
  std::wstring commandLine = L"\"" + executable + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  installer::KernelHandle writeEnd;
  if (captureOutput) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&readEnd, &write, &inherit, 0)) return false;
    output_.Reset(readEnd);
    writeEnd.Reset(write);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    startup.hStdInput = nullptr;
  }
  PROCESS_INFORMATION info{};
  std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back(L'\0');
  if (!CreateProcessW(executable.c_str(), mutableLine.data(), nullptr, nullptr,
                      captureOutput ? TRUE : FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  process_.Reset(info.hProcess);
  CloseHandle(info.hThread);
  id_ = info.dwProcessId;
  return true;
}

std::string ChildProcess::ReadOutput() {
  std::string text;
  if (!output_) return text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(output_.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  return text;
}

std::optional<DWORD> ChildProcess::Wait(DWORD timeoutMs) {
  if (!process_ || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_.Get(), &code);
  return code;
}

std::wstring OwnDirectory() {
  std::vector<wchar_t> path(32768);
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  std::wstring own(path.data(), length);
  return own.substr(0, own.find_last_of(L"\\/"));
}

}  // namespace lum::test
