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

bool IsRunningAsLocalSystem() {
  KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return false;
  std::vector<BYTE> buffer(size);
  if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return false;
  return IsLocalSystemSid(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
}

}  // namespace lum::installer
