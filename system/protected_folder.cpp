#include "system/protected_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "base/module.h"
#include "base/paths.h"
#include "system/install_location.h"

namespace lum::installer {
namespace {

constexpr DWORD kNoFollow = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kRootAccess =
    FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
// The folder is re-secured through the same handle that was checked.
constexpr DWORD kFolderAccess = kRootAccess | WRITE_DAC | WRITE_OWNER;
// No FILE_SHARE_DELETE: while the folder is open nobody renames or removes it.
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kRemoveAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

// Owned by Administrators, SYSTEM and Administrators full control, nothing inherited from above
// (P). Users get nothing: no handle of theirs can hold, lock or oplock the package, the private
// TEMP or the plug-ins the package unpacks there. The folder's entries are inherited by what is
// made inside; files get the same list explicitly.
constexpr wchar_t kFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kFileSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";
// installer.log alone may be read by Users, so that support finds it by its path (traverse
// checking is bypassed for every account by default).
constexpr wchar_t kLogSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";
constexpr size_t kOwnerPartLength = 4;  // "O:BA", left out where the owner cannot be set

constexpr wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Rights that let an account change a folder, what is in it, or who may.
constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                               FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                               WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::mutex g_openMutex;  // the worker and the window may both open the folder

bool IsTrustedSid(PSID sid) {
  if (sid == nullptr || !IsValidSid(sid)) return false;
  if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
    return true;
  }
  PSID trustedInstaller = nullptr;
  if (!ConvertStringSidToSidW(kTrustedInstallerSid, &trustedInstaller)) return false;
  const LocalMemory held(trustedInstaller);
  return EqualSid(sid, trustedInstaller) != FALSE;
}

FolderTrust ReadFolderTrust(HANDLE folder, bool countInheritOnly) {
  if (!PlatformKeepsFileSecurity()) return FolderTrust::Trusted;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return FolderTrust::Foreign;
  }
  const LocalMemory held(descriptor);
  return JudgeFolderSecurity(descriptor, countInheritOnly);
}

std::atomic<FolderSecurityCheck> g_securityCheck{&ReadFolderTrust};

// DOMAIN\name of an account, or its SID where it has no name.
std::wstring AccountName(PSID sid) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD nameLength = 256;
  DWORD domainLength = 256;
  SID_NAME_USE use{};
  if (LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
    return domainLength > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name);
  }
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  const LocalMemory held(text);
  return text;
}

// Calls make(attributes) with the descriptor of sddl; where the caller may not make
// Administrators the owner, once more without the owner. False with the Windows error set.
template <typename Make>
bool MakeWithDescriptor(const wchar_t* sddl, Make make) {
  for (const wchar_t* text : {sddl, sddl + kOwnerPartLength}) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
      return false;
    }
    const LocalMemory held(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    if (make(&attributes)) return true;
    if (GetLastError() != ERROR_INVALID_OWNER) return false;
  }
  return false;
}

// Replaces the owner and the whole access list of an open entry with those of sddl, nothing
// inherited. SetKernelObjectSecurity sets this entry alone: nothing is propagated to what is
// inside (which could reach through a link planted there). 0 or the Windows error.
DWORD ApplyDescriptor(HANDLE entry, const wchar_t* sddl) {
  // Wine turns an access list into Unix mode bits, which also hold its read-only attribute:
  // there it would change what Windows keeps apart, and protect nothing.
  if (!PlatformKeepsFileSecurity()) return 0;
  constexpr SECURITY_INFORMATION kDacl = DACL_SECURITY_INFORMATION;
  for (const SECURITY_INFORMATION what : {kDacl | OWNER_SECURITY_INFORMATION, kDacl}) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
      return GetLastError();
    }
    const LocalMemory held(descriptor);
    if (SetKernelObjectSecurity(entry, what, descriptor)) return 0;
    const DWORD error = GetLastError();
    if (error != ERROR_INVALID_OWNER) return error;
  }
  return ERROR_INVALID_OWNER;
}

const wchar_t* FileSddlFor(std::wstring_view name) {
  return SamePath(name, kLogFileName) ? kLogSddl : kFileSddl;
}

// A real folder at path, reached without a link on the way: Wine's open follows a link even when
// asked not to; the link then still shows in the path's own attributes, and the handle names its
// target.
bool IsRealFolder(HANDLE folder, const std::wstring& path, const std::wstring& expectedFinal) {
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
  return SamePath(FinalDosPath(folder), expectedFinal);
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

// Opens the working folder inside its parent, making it when missing. Whatever else stands at
// its name is left exactly as it is. 0 or the Windows error.
DWORD OpenWorkingFolder(const std::wstring& path, const std::wstring& final, KernelHandle& held,
                        bool& reclaimed) {
  DWORD error = ERROR_PATH_NOT_FOUND;
  for (int tries = 0; tries < 2; ++tries) {
    KernelHandle folder(CreateFileW(path.c_str(), kFolderAccess, kFolderShare, nullptr,
                                    OPEN_EXISTING, kNoFollow, nullptr));
    if (!folder) {
      error = GetLastError();
      if (!IsNotFoundError(error)) return error;
      // Made with its descriptor in the same call, so it never exists without it. A link to
      // nothing reads as missing and still blocks the name: the creation fails on it.
      if (!MakeWithDescriptor(kFolderSddl, [&path](SECURITY_ATTRIBUTES* attributes) {
            return CreateDirectoryW(path.c_str(), attributes) != FALSE;
          })) {
        error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) return error;
      }
      continue;
    }
    // A link, a file, or a folder that another account owns: only an administrator can have put
    // it there, and it is not ours to rename or remove.
    if (!IsRealFolder(folder.Get(), path, final)) return ERROR_ACCESS_DENIED;
    const FolderTrust trust = g_securityCheck.load()(folder.Get(), true);
    if (trust == FolderTrust::Foreign) return ERROR_ACCESS_DENIED;
    reclaimed = trust == FolderTrust::Loose;
    // Ours, so its owner and access list are made ours again: nothing inherited, nothing that an
    // administrator's change let in survives.
    if (const DWORD applied = ApplyDescriptor(folder.Get(), kFolderSddl)) return applied;
    held = std::move(folder);
    return 0;
  }
  return error;
}

// Removes the entry at path (expected to be named expectedFinal once opened), never what a link
// there points to.
DWORD RemoveEntry(const std::wstring& path, const std::wstring& expectedFinal) {
  KernelHandle entry = OpenEntryItself(path, kRemoveAccess);
  if (entry && SamePath(FinalDosPath(entry.Get()), expectedFinal)) {
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

// Wine keeps no file security: every file reads back with a synthesized owner (the user) and
// DACL, and every process there is the same Unix user anyway.
bool PlatformKeepsFileSecurity() {
  using WineVersionFn = const char*(CDECL*)();
  return LoadedFunction<WineVersionFn>(L"ntdll.dll", "wine_get_version") == nullptr;
}

std::vector<std::wstring> OtherWriters(PSECURITY_DESCRIPTOR descriptor) {
  std::vector<std::wstring> writers;
  const auto add = [&writers](PSID sid) {
    std::wstring name = AccountName(sid);
    if (std::find(writers.begin(), writers.end(), name) == writers.end()) {
      writers.push_back(std::move(name));
    }
  };
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (descriptor == nullptr) return writers;
  if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner && !IsTrustedSid(owner)) {
    add(owner);  // an owner may always rewrite the access list
  }
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return writers;
  if (!present || dacl == nullptr) {
    writers.push_back(L"Everyone (no access list)");
    return writers;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    PSID sid = &ace->SidStart;
    // CREATOR OWNER and CREATOR GROUP stand for whoever makes an entry inside: only someone who
    // may already write there (program-files folders hold such an entry).
    if (IsWellKnownSid(sid, WinCreatorOwnerSid) || IsWellKnownSid(sid, WinCreatorGroupSid)) {
      continue;
    }
    if ((ace->Mask & kWriteRights) && !IsTrustedSid(sid)) add(sid);
  }
  return writers;
}

DWORD CreateFolderWithDescriptor(const std::wstring& path, const wchar_t* sddl) {
  const bool made = MakeWithDescriptor(sddl, [&path](SECURITY_ATTRIBUTES* attributes) {
    return CreateDirectoryW(path.c_str(), attributes) != FALSE;
  });
  return made ? 0 : GetLastError();
}

FolderTrust JudgeFolderSecurity(PSECURITY_DESCRIPTOR descriptor, bool countInheritOnly) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (descriptor == nullptr || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !IsTrustedSid(owner)) {
    return FolderTrust::Foreign;
  }
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    return FolderTrust::Foreign;
  }
  if (!present || dacl == nullptr) return FolderTrust::Loose;  // no DACL: anyone, anything
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return FolderTrust::Foreign;
    // A denying entry only ever takes away.
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (!countInheritOnly && (header->AceFlags & INHERIT_ONLY_ACE)) continue;
    // Object, callback and other allowing entries are not judged here: not ours.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return FolderTrust::Loose;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    // CREATOR OWNER and OWNER RIGHTS count as anyone else: neither is in our own list.
    if ((ace->Mask & kWriteRights) && !IsTrustedSid(&ace->SidStart)) return FolderTrust::Loose;
  }
  return FolderTrust::Trusted;
}

FolderSecurityCheck ReplaceFolderSecurityCheckForTesting(FolderSecurityCheck check) {
  return g_securityCheck.exchange(check ? check : &ReadFolderTrust);
}

DWORD DeleteThroughHandle(HANDLE file) {
  // FileDispositionInfoEx (21) and its flags (Windows 10 1607, the read-only one 1809) are left
  // out of the headers for the Windows 10 version this builds against.
  constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
  constexpr DWORD kDelete = 0x1, kPosixSemantics = 0x2, kIgnoreReadOnly = 0x10;
  DWORD posix = kDelete | kPosixSemantics | kIgnoreReadOnly;  // FILE_DISPOSITION_INFO_EX
  if (SetFileInformationByHandle(file, kDispositionInfoEx, &posix, sizeof(posix))) return 0;
  // Windows 10 before 1809, file systems without POSIX deletes, and Wine: the classic delete.
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
  path_.clear();
  final_.clear();
  reclaimed_ = false;
  // The parent must be a folder in which no standard user can create anything: then nobody but
  // an administrator can have taken the working folder's name.
  KernelHandle root(CreateFileW(WorkingFolderRoot().c_str(), kRootAccess, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!root) return GetLastError();
  const std::wstring rootFinal = FinalDosPath(root.Get());
  if (rootFinal.empty()) return GetLastError();
  if (g_securityCheck.load()(root.Get(), false) != FolderTrust::Trusted) return ERROR_ACCESS_DENIED;

  const std::wstring path = JoinPath(rootFinal, kWorkingFolderName);
  const std::wstring final = JoinPath(rootFinal, kWorkingFolderName);
  KernelHandle folder;
  {
    const std::lock_guard lock(g_openMutex);
    if (const DWORD error = OpenWorkingFolder(path, final, folder, reclaimed_)) return error;
  }
  held_.push_back(std::move(root));
  held_.push_back(std::move(folder));
  path_ = path;
  final_ = final;
  return 0;
}

std::wstring ProtectedFolder::PathOf(std::wstring_view name) const { return JoinPath(path_, name); }

bool ProtectedFolder::Names(HANDLE file, std::wstring_view name) const {
  return !final_.empty() && SamePath(FinalDosPath(file), JoinPath(final_, name));
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
  // Accepted: its owner and access list become ours, whatever it had before. Rights to change
  // security are not shared out, so this needs no sharing from the caller's handle.
  const KernelHandle secure(ReOpenFile(file.Get(), WRITE_DAC | WRITE_OWNER, kShareAll, 0));
  if (!secure || ApplyDescriptor(secure.Get(), FileSddlFor(name)) != 0) {
    file.Reset();
    return Entry::Other;
  }
  return Entry::File;
}

DWORD ProtectedFolder::CreateNewFile(std::wstring_view name, DWORD access, DWORD share,
                                     KernelHandle& file) const {
  file.Reset();
  if (final_.empty()) return ERROR_PATH_NOT_FOUND;
  const std::wstring path = PathOf(name);
  // CREATE_NEW fails on anything at the name, a link to nothing included.
  if (!MakeWithDescriptor(FileSddlFor(name), [&](SECURITY_ATTRIBUTES* attributes) {
        file.Reset(CreateFileW(path.c_str(), access, share, attributes, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return file.IsValid();
      })) {
    return GetLastError();
  }
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

DWORD ProtectedFolder::MakeEmptyFolder(std::wstring_view name, KernelHandle& held) const {
  held.Reset();
  if (final_.empty()) return ERROR_PATH_NOT_FOUND;
  RemoveTree(name);
  const std::wstring path = PathOf(name);
  if (!MakeWithDescriptor(kFolderSddl, [&path](SECURITY_ATTRIBUTES* attributes) {
        return CreateDirectoryW(path.c_str(), attributes) != FALSE;
      })) {
    return GetLastError();
  }
  KernelHandle folder(CreateFileW(path.c_str(), kRootAccess, kFolderShare, nullptr, OPEN_EXISTING,
                                  kNoFollow, nullptr));
  if (!folder) return GetLastError();
  if (!Names(folder.Get(), name)) return ERROR_ACCESS_DENIED;
  held = std::move(folder);
  return 0;
}

void ProtectedFolder::RemoveTree(std::wstring_view name) const {
  if (final_.empty()) return;
  RemoveTreeAt(PathOf(name), JoinPath(final_, name));
}

}  // namespace lum::installer
