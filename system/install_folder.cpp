#include "system/install_folder.h"

#include <aclapi.h>

#include "base/handles.h"
#include "base/paths.h"
#include "system/protected_folder.h"

namespace lum::installer {
namespace {

// Who besides administrators may write to the existing folder, and where it really is.
void Examine(const std::wstring& folder, InstallFolderReport& report) {
  const KernelHandle handle(CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                        kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return;
  wchar_t full[MAX_PATH];
  const DWORD length = GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr);
  std::wstring asked = length > 0 && length < MAX_PATH ? std::wstring(full, length) : folder;
  while (asked.size() > 3 && (asked.back() == L'\\' || asked.back() == L'/')) asked.pop_back();
  const std::wstring reached = FinalDosPath(handle.Get());
  if (!reached.empty() && !SamePath(reached, asked)) report.leadsTo = reached;
  if (!PlatformKeepsFileSecurity()) return;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle.Get(), SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return;
  }
  const LocalMemory held(descriptor);
  report.writers = OtherWriters(descriptor);
}

}  // namespace

InstallFolderReport PrepareInstallFolder(const std::wstring& folder) {
  InstallFolderReport report;
  if (!IsFullDosPath(folder)) return report;
  // The missing folders, innermost first, up to the first one that exists.
  std::vector<std::wstring> missing;
  for (std::wstring current = folder;;) {
    if (GetFileAttributesW(current.c_str()) != INVALID_FILE_ATTRIBUTES) break;
    const DWORD error = GetLastError();
    if (!IsNotFoundError(error)) {
      report.error = error;
      return report;
    }
    std::wstring parent = ParentPath(current);
    if (parent == current) {  // a drive or share that does not exist
      report.error = error;
      return report;
    }
    missing.push_back(std::move(current));
    current = std::move(parent);
  }
  if (missing.empty()) {
    Examine(folder, report);
    return report;
  }
  bool madeByOthers = false;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    const DWORD error = CreateFolderWithDescriptor(*it, kInstallFolderSddl);
    if (error == ERROR_ALREADY_EXISTS) {
      madeByOthers = true;  // made meanwhile, and not with our descriptor
    } else if (error != 0) {
      report.error = error;
      return report;
    } else {
      report.made.push_back(*it);
    }
  }
  if (madeByOthers) Examine(folder, report);
  return report;
}

}  // namespace lum::installer
