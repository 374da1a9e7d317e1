// The elevated bootstrapper's working folder: the package, its download, the package's private
// TEMP and installer.log live in %ProgramFiles%\LUMWebBootstrapper.
//
// The folder's parent is the program-files folder, in which standard users cannot create
// anything, so no user can take the folder's name before the bootstrapper makes it. The parent's
// access list is checked for that; the folder itself is opened without following links, checked
// through its handle, given its own owner and access list again (SYSTEM and Administrators only,
// nothing inherited), and held open without delete sharing while it is in use. Nothing outside it
// is ever renamed, written or removed. Entries inside are used only when they are the folder's
// own regular files with a single link, and they too get their access list rewritten.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/handles.h"

namespace lum::installer {

// What a folder's owner and access list allow.
enum class FolderTrust {
  Trusted,  // owned by SYSTEM, Administrators or TrustedInstaller; only they may change it
  Loose,    // owned by one of them, but another account may write to it, remove or re-secure it,
            // or gets such rights on what is made inside (an inheritable entry)
  Foreign,  // owned by someone else, or its security cannot be read
};

// The judgement of one security descriptor. countInheritOnly decides whether entries that apply
// only to what is made inside count: they do for the working folder, whose contents the package
// and its plug-ins are; they do not for its parent, which is asked only who may create in it.
[[nodiscard]] FolderTrust JudgeFolderSecurity(PSECURITY_DESCRIPTOR descriptor,
                                              bool countInheritOnly);

// The accounts other than SYSTEM, Administrators and TrustedInstaller that a folder's descriptor
// lets change it or what is made in it (entries that apply only inside included), and its owner
// when it is none of those: as DOMAIN\name, or as the SID where it has no name. Empty for none.
std::vector<std::wstring> OtherWriters(PSECURITY_DESCRIPTOR descriptor);

// Makes a new folder with the descriptor of sddl from its first moment, owned by Administrators
// where the caller may set the owner. Fails on anything at the name. 0 or the Windows error.
DWORD CreateFolderWithDescriptor(const std::wstring& path, const wchar_t* sddl);

// False under Wine, which keeps no file owners or access lists: every file there reads back with
// a made-up descriptor.
bool PlatformKeepsFileSecurity();

class ProtectedFolder {
 public:
  // Opens the folder, making it when missing, with its own descriptor from the first moment.
  // A folder there that is a link, not a folder, or owned by another account is left as it is,
  // and the open fails; one with a loose access list gets ours (Reclaimed() tells). 0 on
  // success, else the Windows error.
  [[nodiscard]] DWORD Open();
  // True when Open found the folder with an access list that let others in, and replaced it.
  bool Reclaimed() const { return reclaimed_; }

  // The folder as a plain DOS path (C:\Program Files\LUMWebBootstrapper).
  const std::wstring& Path() const { return path_; }
  std::wstring PathOf(std::wstring_view name) const;
  // True when an open handle names the entry `name` of this folder.
  bool Names(HANDLE file, std::wstring_view name) const;

  enum class Entry {
    Missing,     // nothing stands at the name
    File,        // file holds the folder's own regular file, with a single link and our ACL
    Other,       // something else stands there: a link, a second name of a file, a folder, or
                 // a file whose owner and access list could not be made ours
    Unreadable,  // its status could not be read; error holds why
  };
  Entry OpenFile(std::wstring_view name, DWORD access, DWORD share, KernelHandle& file,
                 DWORD& error) const;
  // A new empty file with the folder's descriptor (installer.log: with read access for Users);
  // fails when anything at all stands at the name. 0 or the Windows error.
  DWORD CreateNewFile(std::wstring_view name, DWORD access, DWORD share, KernelHandle& file) const;
  // Removes whatever stands at the name, never what a link there points to. A file that does
  // not exist counts as removed. 0 or the Windows error.
  DWORD Remove(std::wstring_view name) const;

  // A new empty sub-folder with the folder's descriptor (whatever stood at the name is removed
  // first), held open without delete sharing; and its removal with everything in it.
  DWORD MakeEmptyFolder(std::wstring_view name, KernelHandle& held) const;
  void RemoveTree(std::wstring_view name) const;

 private:
  std::vector<KernelHandle> held_;  // the parent, then the folder
  std::wstring path_;
  std::wstring final_;  // GetFinalPathNameByHandleW of the folder
  bool reclaimed_ = false;
};

// Deletes the file an open handle refers to (the handle needs DELETE and FILE_WRITE_ATTRIBUTES),
// with POSIX semantics where the system has them: the name goes at once, even while others hold
// the file open. Elsewhere the name goes when the last handle closes. A read-only attribute does
// not stop it. 0 or the Windows error.
DWORD DeleteThroughHandle(HANDLE file);

// A handle on the same file that reads only and shares only reading, taking over from a writer
// without a moment in which nothing holds the file. Invalid on failure (the writer is closed).
KernelHandle HoldReadOnly(KernelHandle writer);

// Tests only. Wine keeps no file owners or DACLs (every file reads back with a synthesized
// default), so a folder that another user owns cannot be produced there; a test swaps in its own
// judgement of a folder's security (the parent's with countInheritOnly false, the working
// folder's with true). Returns the check that was in place; pass it back to restore.
using FolderSecurityCheck = FolderTrust (*)(HANDLE folder, bool countInheritOnly);
FolderSecurityCheck ReplaceFolderSecurityCheckForTesting(FolderSecurityCheck check);

}  // namespace lum::installer
