// The elevated bootstrapper's working folder: the package, its download and installer.log live
// in %ProgramData%\VIVOV3\InstallerCache, which only administrators can write.
//
// Every process of the user may create folders under the program-data folder, so nothing found
// there is trusted: each component is opened without following links and checked through its
// handle, and the handles stay open (without delete sharing) so that no component can be renamed
// or replaced while the folder is in use. Entries inside are used only when they are the folder's
// own regular files with a single link.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/handles.h"

namespace lum::installer {

class ProtectedFolder {
 public:
  // Opens the folder from the program-data folder down, making missing components with a DACL
  // of their own (SYSTEM and Administrators full control, Users read and execute, nothing
  // inherited). A component that is a link, or (on Windows) not owned by SYSTEM or
  // Administrators, or writable by anyone else, is renamed aside and made again; where it cannot
  // be renamed without acting on what a link points to, the next name "<name>.2" … is used
  // instead. 0 on success, else the Windows error.
  [[nodiscard]] DWORD Open();

  // The folder as a plain DOS path (C:\ProgramData\VIVOV3\InstallerCache).
  const std::wstring& Path() const { return path_; }
  std::wstring PathOf(std::wstring_view name) const;
  // True when an open handle names the entry `name` of this folder.
  bool Names(HANDLE file, std::wstring_view name) const;

  enum class Entry {
    Missing,     // nothing stands at the name
    File,        // file holds the folder's own regular file, with a single link
    Other,       // something else stands there: a link, a second name of a file, a folder
    Unreadable,  // its status could not be read; error holds why
  };
  Entry OpenFile(std::wstring_view name, DWORD access, DWORD share, KernelHandle& file,
                 DWORD& error) const;
  // A new empty file; fails when anything at all stands at the name. 0 or the Windows error.
  DWORD CreateNewFile(std::wstring_view name, DWORD access, DWORD share, KernelHandle& file) const;
  // Removes whatever stands at the name, never what a link there points to. A file that does
  // not exist counts as removed. 0 or the Windows error.
  DWORD Remove(std::wstring_view name) const;

  // A new empty sub-folder (whatever stood at the name is removed first), and its removal with
  // everything in it.
  DWORD MakeEmptyFolder(std::wstring_view name) const;
  void RemoveTree(std::wstring_view name) const;

 private:
  std::vector<KernelHandle> held_;  // every component, outermost first
  std::wstring path_;
  std::wstring final_;  // GetFinalPathNameByHandleW of the folder
};

// Deletes the file an open handle refers to (the handle needs DELETE and FILE_WRITE_ATTRIBUTES);
// the name goes when the last handle closes. A read-only attribute is cleared first. 0 or the
// Windows error.
DWORD DeleteThroughHandle(HANDLE file);

// A handle on the same file that reads only and shares only reading, taking over from a writer
// without a moment in which nothing holds the file. Invalid on failure (the writer is closed).
KernelHandle HoldReadOnly(KernelHandle writer);

// Tests only. Wine keeps no file owners or DACLs (every file reads back with a synthesized
// default), so a folder that another user owns cannot be produced there; a test swaps in its own
// judgement of a folder's security. Returns the check that was in place; pass it back to restore.
using FolderSecurityCheck = bool (*)(HANDLE folder);
FolderSecurityCheck ReplaceFolderSecurityCheckForTesting(FolderSecurityCheck check);

}  // namespace lum::installer
