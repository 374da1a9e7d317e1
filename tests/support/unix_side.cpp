#include "tests/support/unix_side.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/text.h"
#include "tests/support/test_env.h"

namespace lum::test {
namespace {

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string ShellPath(const std::wstring& windowsPath) {
  return ShellQuoted(UnixPath(windowsPath));
}

std::string UnixPath(const std::wstring& windowsPath) {
  using ToUnixFn = char*(CDECL*)(LPCWSTR);
  const auto toUnix = reinterpret_cast<ToUnixFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) {
    ADD_FAILURE() << "not running under Wine";
    return {};
  }
  char* path = toUnix(windowsPath.c_str());
  if (path == nullptr) {
    ADD_FAILURE() << "no Unix path for a test path";
    return {};
  }
  std::string result = path;
  HeapFree(GetProcessHeap(), 0, path);
  return result;
}

void RunShell(const std::string& commands) {
  // Wine starts a Unix program but cannot wait for it: the script leaves a mark when it is done.
  static int counter = 0;
  const std::wstring base = FreshScratchDirectory(L"unix-side") + L"\\" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(++counter);
  const std::wstring script = base + L".sh";
  const std::wstring done = base + L".done";
  WriteFileBytes(script, commands + "\n: > " + ShellPath(done) + "\n");
  const std::string unixScript = UnixPath(script);
  std::wstring wideScript;
  ASSERT_TRUE(installer::DecodeUtf8(unixScript, wideScript));
  std::wstring commandLine = L"Z:\\bin\\sh \"" + wideScript + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &started));
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  for (int i = 0; i < 400 && !PathExists(done); ++i) Sleep(25);
  ASSERT_TRUE(PathExists(done)) << "shell commands did not finish: " << commands;
}

void SymbolicLink(const std::wstring& target, const std::wstring& link) {
  RunShell("ln -sfn " + ShellPath(target) + " " + ShellPath(link));
}

void HardLink(const std::wstring& target, const std::wstring& link) {
  RunShell("ln -f " + ShellPath(target) + " " + ShellPath(link));
}

void RemoveWithoutFollowing(const std::wstring& path) { RunShell("rm -rf " + ShellPath(path)); }

}  // namespace lum::test
