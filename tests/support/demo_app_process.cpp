#include "tests/support/demo_app_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <vector>

#include "base/text.h"
#include "system/install_location.h"
#include "tests/support/test_env.h"

namespace lum::test {
namespace {

constexpr DWORD kStartTimeoutMs = 30000;  // a first GUI start under Wine can be slow
constexpr DWORD kTerminateWaitMs = 10000;

std::wstring UniqueMarkerPath(const std::wstring& executable) {
  static std::atomic<unsigned> counter{0};
  return executable + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
         std::to_wstring(++counter) + L".started";
}

}  // namespace

std::wstring DemoAppPath() { return ArtifactPath(L"lumora.exe"); }

std::wstring CopyDemoApp(const std::wstring& folder, std::wstring_view fileName) {
  const std::wstring target = installer::JoinPath(folder, fileName);
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(folder), error);
  std::filesystem::copy_file(std::filesystem::path(DemoAppPath()), std::filesystem::path(target),
                             std::filesystem::copy_options::overwrite_existing, error);
  EXPECT_FALSE(error) << "cannot copy the stand-in application: " << error.message();
  return target;
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!PathExists(path)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(50);
  }
  return true;
}

bool ReadDemoAppMarker(const std::wstring& path, DemoAppMarker& marker) {
  std::istringstream lines(ReadFileBytes(path));
  std::string id, commandLine, directory;
  if (!std::getline(lines, id) || !std::getline(lines, commandLine) ||
      !std::getline(lines, directory)) {
    return false;
  }
  marker.processId = static_cast<DWORD>(std::stoul(id));
  return installer::DecodeUtf8(commandLine, marker.commandLine) &&
         installer::DecodeUtf8(directory, marker.currentDirectory);
}

DemoAppProcess::~DemoAppProcess() { Terminate(); }

bool DemoAppProcess::Start(const std::wstring& executable, const std::wstring& options) {
  const std::wstring marker = UniqueMarkerPath(executable);
  std::wstring commandLine = L"\"" + executable + L"\" --marker \"" + marker + L"\"";
  if (!options.empty()) commandLine += L" " + options;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const std::wstring folder = installer::ParentPath(executable);
  if (!CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &info)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return false;
  }
  CloseHandle(info.hThread);
  process_.Reset(info.hProcess);
  id_ = info.dwProcessId;

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (!PathExists(marker)) {
    if (!IsRunning()) {
      DWORD code = 0;
      GetExitCodeProcess(process_.Get(), &code);
      ADD_FAILURE() << "the stand-in application ended at start with " << code;
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << "the stand-in application did not get ready";
      return false;
    }
    Sleep(20);
  }
  DeleteFileW(marker.c_str());
  return true;
}

bool DemoAppProcess::Attach(DWORD processId) {
  process_.Reset(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                             FALSE, processId));
  id_ = process_ ? processId : 0;
  return process_.IsValid();
}

bool DemoAppProcess::IsRunning() const {
  return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

bool DemoAppProcess::WaitForExit(DWORD timeoutMs, DWORD& exitCode) const {
  if (!process_ || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(process_.Get(), &exitCode) != FALSE;
}

void DemoAppProcess::Terminate() {
  if (IsRunning()) {
    TerminateProcess(process_.Get(), 1);
    WaitForSingleObject(process_.Get(), kTerminateWaitMs);
  }
}

}  // namespace lum::test
