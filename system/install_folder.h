// The application's install folder, made ready before the package is given it (/D=).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace lum::installer {

// What PrepareInstallFolder found and did.
struct InstallFolderReport {
  std::vector<std::wstring> made;     // folders made, outermost first
  DWORD error = 0;                    // why a missing folder could not be made; 0 for none
  std::vector<std::wstring> writers;  // of an existing folder: who besides administrators may
                                      // write to it (OtherWriters)
  std::wstring leadsTo;               // of an existing folder reached through a link: where to
};

// The access list of a folder the bootstrapper makes for the application: administrators and
// SYSTEM may change it, users read and run what is in it, and everything made inside inherits
// that; nothing is inherited from the folder above (a drive root lets every user write).
inline constexpr wchar_t kInstallFolderSddl[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// A missing install folder, and every missing folder above it, is made with kInstallFolderSddl,
// so that no standard user can later replace what an elevated upgrade will run. An existing one
// is left as it is (users often pick folders on other drives, which everyone may write to) and
// only examined. Paths that are not full DOS paths are left to the package.
InstallFolderReport PrepareInstallFolder(const std::wstring& folder);

}  // namespace lum::installer
