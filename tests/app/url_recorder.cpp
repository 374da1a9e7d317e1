// Test stand-in for the browser: registered as the https handler, it records each URL it is
// given and which process started it, so a test can tell who opened a document.
//   url_recorder.exe URL LOG_FILE
// appends "URL<TAB>parent process id<TAB>parent executable name" (UTF-8) to LOG_FILE. The log
// is named on the command line because the shell that starts it has its own environment.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

namespace {

struct ParentProcess {
  DWORD id = 0;
  std::wstring exeName;
};

ParentProcess FindParent() {
  ParentProcess parent;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return parent;
  const DWORD self = GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) parent.id = entry.th32ParentProcessID;
  }
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more && parent.id != 0;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == parent.id) {
      parent.exeName = entry.szExeFile;
      break;
    }
  }
  CloseHandle(snapshot);
  return parent;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  }
  return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr || count < 3) return 2;
  const ParentProcess parent = FindParent();
  const std::string line =
      Utf8(args[1]) + "\t" + std::to_string(parent.id) + "\t" + Utf8(parent.exeName) + "\n";
  // Appended in one write: two documents opened at once give two whole lines.
  const HANDLE log =
      CreateFileW(args[2], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  LocalFree(args);
  if (log == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
  return ok && written == line.size() ? 0 : 1;
}
