#include "system/process_identity.h"

#include <vector>

#include "base/handles.h"

namespace lum::installer {

bool IsLocalSystemSid(PSID sid) {
  BYTE system[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(system);
  if (sid == nullptr || !IsValidSid(sid) ||
      !CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size)) {
    return false;
  }
  return EqualSid(sid, system) != FALSE;
}

namespace {

// The TOKEN_USER of a process; empty when it cannot be read.
std::vector<BYTE> ProcessUser(HANDLE process) {
  KernelHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.Put())) return {};
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return {};
  std::vector<BYTE> buffer(size);
  if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return {};
  return buffer;
}

PSID SidOf(std::vector<BYTE>& user) {
  return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

}  // namespace

bool IsRunningAsLocalSystem() {
  std::vector<BYTE> user = ProcessUser(GetCurrentProcess());
  return IsLocalSystemSid(SidOf(user));
}

DesktopIdentity CheckDesktopIdentity() {
  std::vector<BYTE> own = ProcessUser(GetCurrentProcess());
  if (own.empty()) return DesktopIdentity::Unknown;
  if (IsLocalSystemSid(SidOf(own))) return DesktopIdentity::LocalSystem;
  // The shell's window; failing that, the desktop window, which under Wine belongs to the shell
  // process (explorer) and on Windows to csrss, a process of SYSTEM that never matches.
  HWND shell = GetShellWindow();
  if (shell == nullptr) shell = GetDesktopWindow();
  DWORD shellProcess = 0;
  if (shell == nullptr || GetWindowThreadProcessId(shell, &shellProcess) == 0 ||
      shellProcess == 0) {
    return DesktopIdentity::NoShell;
  }
  const KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcess));
  if (!process) return DesktopIdentity::Unknown;
  std::vector<BYTE> shellUser = ProcessUser(process.Get());
  if (shellUser.empty()) return DesktopIdentity::Unknown;
  return EqualSid(SidOf(own), SidOf(shellUser)) ? DesktopIdentity::SameUser
                                                : DesktopIdentity::OtherUser;
}

}  // namespace lum::installer
