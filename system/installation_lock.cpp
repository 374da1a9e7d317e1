#include "system/installation_lock.h"

#include <sddl.h>

#include "base/module.h"
#include "base/paths.h"

namespace lum::installer {
namespace {

constexpr wchar_t kBoundaryName[] = L"LUMWebBootstrapper";
constexpr wchar_t kNamespaceAlias[] = L"LUMWebBootstrapper";
constexpr wchar_t kMutexName[] = L"LUMWebBootstrapper\\Installation";
// Wine 8 has no private namespaces (CreateBoundaryDescriptorW returns null, and the other
// namespace functions are stubs that end the process), nor sessions or other users: a global
// name stands in there.
constexpr wchar_t kWineMutexName[] = L"Global\\LUMWebBootstrapper.Installation";
// SYSTEM and Administrators only, for the namespace and the mutex alike.
constexpr wchar_t kLockSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
constexpr DWORD kWaitSliceMs = 200;

bool RunningUnderWine() {
  using WineVersionFn = const char*(CDECL*)();
  return LoadedFunction<WineVersionFn>(L"ntdll.dll", "wine_get_version") != nullptr;
}

// Makes the namespace, or opens the one another bootstrapper made. It lasts while any process
// holds a handle on it; one that went away between the two calls is made again.
DWORD OpenNamespace(SECURITY_ATTRIBUTES& attributes, PrivateNamespaceHandle& opened) {
  BoundaryDescriptorHandle boundary(CreateBoundaryDescriptorW(kBoundaryName, 0));
  if (!boundary) return GetLastError();
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(administrators);
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
    return GetLastError();
  }
  HANDLE descriptor = boundary.Release();
  const BOOL added = AddSIDToBoundaryDescriptor(&descriptor, administrators);
  boundary.Reset(descriptor);  // the call may have moved it
  if (!added) return GetLastError();
  DWORD error = ERROR_ALREADY_EXISTS;
  for (int tries = 0; tries < 3; ++tries) {
    opened.Reset(CreatePrivateNamespaceW(&attributes, boundary.Get(), kNamespaceAlias));
    if (opened) return 0;
    error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return error;
    opened.Reset(OpenPrivateNamespaceW(boundary.Get(), kNamespaceAlias));
    if (opened) return 0;
    error = GetLastError();
    if (!IsNotFoundError(error)) return error;
  }
  return error;
}

}  // namespace

InstallationLock::~InstallationLock() {
  if (held_) ReleaseMutex(mutex_.Get());
}

InstallationLock::Outcome InstallationLock::Acquire(bool wait, const std::atomic<bool>& cancel,
                                                    DWORD& error) {
  error = 0;
  if (held_) return Outcome::Held;
  if (!mutex_) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
      error = GetLastError();
      return Outcome::Failed;
    }
    const LocalMemory held(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    const bool wine = RunningUnderWine();
    if (!wine && (error = OpenNamespace(attributes, namespace_)) != 0) return Outcome::Failed;
    mutex_.Reset(CreateMutexW(&attributes, FALSE, wine ? kWineMutexName : kMutexName));
    if (!mutex_) {
      error = GetLastError();
      return Outcome::Failed;
    }
  }
  for (;;) {
    const DWORD result = WaitForSingleObject(mutex_.Get(), wait ? kWaitSliceMs : 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
      held_ = true;
      abandoned_ = result == WAIT_ABANDONED;
      return Outcome::Held;
    }
    if (result != WAIT_TIMEOUT) {
      error = GetLastError();
      return Outcome::Failed;
    }
    if (!wait) return Outcome::Busy;
    if (cancel.load()) return Outcome::Cancelled;
  }
}

}  // namespace lum::installer
