#include "system/protected_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "base/module.h"
#include "system/install_location.h"

namespace lum::installer {
namespace {

// Another name is tried when a component can be neither trusted nor renamed aside.
constexpr int kNamesPerComponent = 8;

constexpr DWORD kNoFollow = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kComponentAccess =
    FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
// No FILE_SHARE_DELETE: while the folder is open nobody renames or removes a component.
constexpr DWORD kComponentShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kRemoveAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

// SYSTEM and Administrators full control, Users read and execute, inherited by what is made
// inside, nothing inherited from above (P), owned by Administrators.
constexpr wchar_t kFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                               FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                               WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::mutex g_repairMutex;  // the worker and the window may both open the folder

bool SamePath(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring FinalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length);  // too small: length counts the terminator
  }
}

// \\?\C:\dir -> C:\dir and \\?\UNC\server\share -> \\server\share.
std::wstring DosPath(std::wstring final) {
  if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + final.substr(8);
  if (final.rfind(L"\\\\?\\", 0) == 0) return final.substr(4);
  return final;
}

bool IsAdministratorsOrSystem(PSID sid) {
  return sid != nullptr && (IsWellKnownSid(sid, WinLocalSystemSid) ||
                            IsWellKnownSid(sid, WinBuiltinAdministratorsSid));
}

// Wine keeps no file security: every file reads back with a synthesized owner (the user) and
// DACL, and every process there is the same Unix user anyway.
bool PlatformKeepsFileSecurity() {
  using WineVersionFn = const char*(CDECL*)();
  return LoadedFunction<WineVersionFn>(L"ntdll.dll", "wine_get_version") == nullptr;
}

// Owned by SYSTEM or Administrators, and nobody else may write, delete or change its security.
bool IsAdministratorsOnly(HANDLE folder) {
  if (!PlatformKeepsFileSecurity()) return true;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const LocalMemory held(descriptor);
  if (!IsAdministratorsOrSystem(owner) || dacl == nullptr) return false;  // no DACL: anyone
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return false;
    if ((header->AceFlags & INHERIT_ONLY_ACE) || header->AceType == ACCESS_DENIED_ACE_TYPE)
      continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    if ((ace->Mask & kWriteRights) &&
        !IsAdministratorsOrSystem(const_cast<DWORD*>(&ace->SidStart))) {
      return false;
    }
  }
  return true;
}

std::atomic<FolderSecurityCheck> g_securityCheck{&IsAdministratorsOnly};

// Wine's open follows a link even when asked not to; the link then still shows in the path's
// own attributes, and the handle names its target.
bool IsTrustedFolder(HANDLE folder, const std::wstring& path, const std::wstring& expectedFinal) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(folder, &info)) return false;
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return false;
  }
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return false;
  }
  return SamePath(FinalPath(folder), expectedFinal) && g_securityCheck.load()(folder);
}

bool RenameThroughHandle(HANDLE entry, const std::wstring& newPath, bool replace) {
  const size_t bytes = newPath.size() * sizeof(wchar_t);
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + bytes, 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->FileNameLength = static_cast<DWORD>(bytes);
  std::copy(newPath.begin(), newPath.end(), rename->FileName);
  return SetFileInformationByHandle(entry, FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size())) != FALSE;
}

KernelHandle OpenEntryItself(const std::wstring& path, DWORD access) {
  return KernelHandle(
      CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, kNoFollow, nullptr));
}

// Renames an untrusted entry to "<name>.untrusted-N" beside it, through a handle on the entry
// itself. Where the open followed a link (Wine), the rename would move the link's target, so
// nothing is done.
bool MoveAside(const std::wstring& path, const std::wstring& expectedFinal) {
  const KernelHandle entry = OpenEntryItself(path, kRemoveAccess);
  if (!entry || !SamePath(FinalPath(entry.Get()), expectedFinal)) return false;
  const std::wstring stem = path + L".untrusted-" + std::to_wstring(GetTickCount64());
  for (int n = 0; n < 100; ++n) {
    if (RenameThroughHandle(entry.Get(), n == 0 ? stem : stem + L"-" + std::to_wstring(n), false)) {
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

bool CreateProtectedDirectory(const std::wstring& path) {
  for (const wchar_t* sddl : {kFolderSddl, kFolderSddl + 4}) {  // then without the owner
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
      return false;
    }
    const LocalMemory held(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    if (CreateDirectoryW(path.c_str(), &attributes)) return true;
    // Only a caller that may make Administrators an owner can set it.
    if (GetLastError() != ERROR_INVALID_OWNER) return false;
  }
  return false;
}

// Opens the component `base` (or one of its numbered alternatives) inside the parent, making it
// when missing. 0 or the Windows error of the last try.
DWORD OpenComponent(const std::wstring& parentPath, const std::wstring& parentFinal,
                    const wchar_t* base, KernelHandle& held, std::wstring& path,
                    std::wstring& final) {
  DWORD error = ERROR_ACCESS_DENIED;
  for (int n = 1; n <= kNamesPerComponent; ++n) {
    const std::wstring name = n == 1 ? std::wstring(base) : base + (L"." + std::to_wstring(n));
    path = JoinPath(parentPath, name);
    final = JoinPath(parentFinal, name);
    for (int tries = 0; tries < 3; ++tries) {
      KernelHandle folder(CreateFileW(path.c_str(), kComponentAccess, kComponentShare, nullptr,
                                      OPEN_EXISTING, kNoFollow, nullptr));
      if (!folder) {
        error = GetLastError();
        if (!IsNotFoundError(error)) break;  // held by someone else, say: another name
        // A link to nothing reads as missing and still blocks the name: the next try sees the
        // failed creation again, and the name is given up.
        if (!CreateProtectedDirectory(path)) error = GetLastError();
        continue;
      }
      if (IsTrustedFolder(folder.Get(), path, final)) {
        held = std::move(folder);
        return 0;
      }
      folder.Reset();
      error = ERROR_ACCESS_DENIED;
      if (!MoveAside(path, final)) break;
    }
  }
  return error;
}

// Removes the entry at path (expected to be named expectedFinal once opened), never what a link
// there points to.
DWORD RemoveEntry(const std::wstring& path, const std::wstring& expectedFinal) {
  KernelHandle entry = OpenEntryItself(path, kRemoveAccess);
  if (entry && SamePath(FinalPath(entry.Get()), expectedFinal)) {
    // The entry itself: a file, one name of a file with several, an (empty) folder, or, on
    // Windows, the link itself.
    return DeleteThroughHandle(entry.Get());
  }
  const DWORD openError = entry ? 0 : GetLastError();
  entry.Reset();
  if (openError != 0 && !IsNotFoundError(openError)) return openError;
  // The open followed a link (Wine does so even when told not to), or found nothing although a
  // link to nothing may stand there. Deleting through the handle would delete the link's target;
  // a rename of a new file of ours onto the name replaces the link itself instead.
  const std::wstring temporary = path + L".removing-" + std::to_wstring(GetCurrentProcessId());
  KernelHandle replacement(CreateFileW(temporary.c_str(), kRemoveAccess, 0, nullptr, CREATE_NEW,
                                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!replacement) return GetLastError();
  if (!RenameThroughHandle(replacement.Get(), path, true)) {
    const DWORD error = GetLastError();
    DeleteThroughHandle(replacement.Get());
    return error;
  }
  return DeleteThroughHandle(replacement.Get());
}

void RemoveTreeAt(const std::wstring& path, const std::wstring& final) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(JoinPath(path, L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
          RemoveTreeAt(JoinPath(path, name), JoinPath(final, name));
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }
  static_cast<void>(RemoveEntry(path, final));
}

}  // namespace

FolderSecurityCheck ReplaceFolderSecurityCheckForTesting(FolderSecurityCheck check) {
  return g_securityCheck.exchange(check ? check : &IsAdministratorsOnly);
}

DWORD DeleteThroughHandle(HANDLE file) {
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic));
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition))
             ? 0
             : GetLastError();
}

KernelHandle HoldReadOnly(KernelHandle writer) {
  if (!writer) return {};
  // The writer may write and delete, so a second handle must share both while it is open; that
  // one in turn lets the final hold share nothing but reading.
  const KernelHandle bridge(ReOpenFile(writer.Get(), GENERIC_READ, kShareAll, 0));
  writer.Reset();
  if (!bridge) return {};
  return KernelHandle(ReOpenFile(bridge.Get(), GENERIC_READ, FILE_SHARE_READ, 0));
}

DWORD ProtectedFolder::Open() {
  held_.clear();
  const std::wstring programData = ProgramDataDirectory();
  if (programData.empty()) return ERROR_PATH_NOT_FOUND;
  // The program-data folder itself belongs to the system; everything below it is checked.
  KernelHandle root(CreateFileW(programData.c_str(), kComponentAccess, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!root) return GetLastError();
  std::wstring final = FinalPath(root.Get());
  if (final.empty()) return GetLastError();
  std::wstring path = DosPath(final);
  held_.push_back(std::move(root));

  const std::lock_guard lock(g_repairMutex);
  for (const wchar_t* component : {kInstallFolderName, kCacheFolderName}) {
    KernelHandle folder;
    std::wstring childPath;
    std::wstring childFinal;
    if (const DWORD error = OpenComponent(path, final, component, folder, childPath, childFinal)) {
      held_.clear();
      return error;
    }
    held_.push_back(std::move(folder));
    path = std::move(childPath);
    final = std::move(childFinal);
  }
  path_ = std::move(path);
  final_ = std::move(final);
  return 0;
}

std::wstring ProtectedFolder::PathOf(std::wstring_view name) const { return JoinPath(path_, name); }

bool ProtectedFolder::Names(HANDLE file, std::wstring_view name) const {
  return !final_.empty() && SamePath(FinalPath(file), JoinPath(final_, name));
}

ProtectedFolder::Entry ProtectedFolder::OpenFile(std::wstring_view name, DWORD access, DWORD share,
                                                 KernelHandle& file, DWORD& error) const {
  file.Reset();
  error = 0;
  const std::wstring path = PathOf(name);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = GetLastError();
    if (!IsNotFoundError(error)) return Entry::Unreadable;
    error = 0;
    // A link to nothing reads as missing as well; a later creation fails on it.
    return Entry::Missing;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return Entry::Other;
  file.Reset(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    error = GetLastError();
    return Entry::Unreadable;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      info.nNumberOfLinks != 1 || !Names(file.Get(), name)) {
    file.Reset();
    return Entry::Other;
  }
  return Entry::File;
}

DWORD ProtectedFolder::CreateNewFile(std::wstring_view name, DWORD access, DWORD share,
                                     KernelHandle& file) const {
  if (final_.empty()) return ERROR_PATH_NOT_FOUND;
  // CREATE_NEW fails on anything at the name, a link to nothing included.
  file.Reset(CreateFileW(PathOf(name).c_str(), access, share, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return GetLastError();
  if (!Names(file.Get(), name)) {
    file.Reset();
    return ERROR_ACCESS_DENIED;
  }
  return 0;
}

DWORD ProtectedFolder::Remove(std::wstring_view name) const {
  if (final_.empty()) return ERROR_PATH_NOT_FOUND;
  return RemoveEntry(PathOf(name), JoinPath(final_, name));
}

DWORD ProtectedFolder::MakeEmptyFolder(std::wstring_view name) const {
  if (final_.empty()) return ERROR_PATH_NOT_FOUND;
  RemoveTree(name);
  // Made inside this folder, it inherits the folder's DACL.
  if (!CreateDirectoryW(PathOf(name).c_str(), nullptr)) return GetLastError();
  const KernelHandle folder = OpenEntryItself(PathOf(name), FILE_READ_ATTRIBUTES | SYNCHRONIZE);
  return folder && Names(folder.Get(), name) ? 0 : ERROR_ACCESS_DENIED;
}

void ProtectedFolder::RemoveTree(std::wstring_view name) const {
  if (final_.empty()) return;
  RemoveTreeAt(PathOf(name), JoinPath(final_, name));
}

}  // namespace lum::installer
