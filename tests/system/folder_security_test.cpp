// The working folder's trust decisions on real security descriptors, made from SDDL by the
// system's own advapi32 (Wine keeps no file security, so none can be read back from a folder).
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "system/protected_folder.h"

namespace lum::installer {
namespace {

constexpr wchar_t kUser[] = L"S-1-5-21-1004336348-1177238915-682003330-1001";
#define TI L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"

TEST(FolderSecurityTest, DecisionsOnRealDescriptors) {
  struct Row {
    const char* name;
    std::wstring sddl;
    FolderTrust folder;  // the working folder: entries for what is made inside count
    FolderTrust parent;  // its parent: asked only who may create in it
  };
  const std::wstring user = kUser;
  const Row rows[] = {
      {"our own", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", FolderTrust::Trusted,
       FolderTrust::Trusted},
      {"owned by SYSTEM, Users may read",
       L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)", FolderTrust::Trusted,
       FolderTrust::Trusted},
      {"a standard user made it", L"O:" + user + L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;BA)",
       FolderTrust::Foreign, FolderTrust::Foreign},
      {"attacker-owned, granting only Administrators", L"O:" + user + L"D:P(A;OICI;FA;;;BA)",
       FolderTrust::Foreign, FolderTrust::Foreign},
      {"inherit-only Users write", L"O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;FA;;;BU)", FolderTrust::Loose,
       FolderTrust::Trusted},
      {"Everyone write", L"O:BAD:P(A;OICI;FA;;;BA)(A;;0x116;;;WD)", FolderTrust::Loose,
       FolderTrust::Loose},
      {"Users may delete", L"O:BAD:P(A;OICI;FA;;;BA)(A;;SD;;;BU)", FolderTrust::Loose,
       FolderTrust::Loose},
      {"CREATOR OWNER", L"O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)", FolderTrust::Loose,
       FolderTrust::Trusted},
      {"no DACL", L"O:BA", FolderTrust::Loose, FolderTrust::Loose},
      {"a denial only takes away", L"O:BAD:P(D;OICI;FA;;;BU)(A;OICI;FA;;;BA)", FolderTrust::Trusted,
       FolderTrust::Trusted},
      // C:\Program Files as Windows 10 and 11 have it.
      {"the program-files folder",
       L"O:" TI L"G:" TI L"D:PAI(A;;FA;;;" TI L")(A;CIIO;GA;;"
                                              L";" TI L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;"
                                                      L"0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
       L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)"
       L"(A;OICIIO;GXGR;;;AC)",
       FolderTrust::Loose, FolderTrust::Trusted},
      {"Users may create folders in it", L"O:" TI L"D:P(A;;FA;;;" TI L")(A;;0x1200ad;;;BU)",
       FolderTrust::Loose, FolderTrust::Loose},
  };
  for (const Row& row : rows) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        row.sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        << row.name << ": " << GetLastError();
    EXPECT_EQ(JudgeFolderSecurity(descriptor, true), row.folder) << row.name;
    EXPECT_EQ(JudgeFolderSecurity(descriptor, false), row.parent) << row.name;
    LocalFree(descriptor);
  }
}

}  // namespace
}  // namespace lum::installer
