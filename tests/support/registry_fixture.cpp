#include "tests/support/registry_fixture.h"

#include <gtest/gtest.h>

#include "base/handles.h"
#include "system/install_location.h"

namespace lum::test {
namespace {

installer::RegistryKey CreateKey(REGSAM view) {
  installer::RegistryKey key;
  const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, installer::kUninstallKey, 0, nullptr,
                                         0, KEY_ALL_ACCESS | view, nullptr, key.Put(), nullptr);
  EXPECT_EQ(status, ERROR_SUCCESS) << "RegCreateKeyExW";
  return key;
}

}  // namespace

UninstallEntry::UninstallEntry() { RemoveAll(); }
UninstallEntry::~UninstallEntry() { RemoveAll(); }

void UninstallEntry::RemoveAll() {
  for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, installer::kUninstallKey, view, 0);
  }
}

void UninstallEntry::SetRaw(REGSAM view, const wchar_t* name, DWORD type, const void* data,
                            DWORD size) {
  auto key = CreateKey(view);
  ASSERT_EQ(RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
}

void UninstallEntry::SetString(REGSAM view, const wchar_t* name, std::wstring_view value,
                               DWORD type) {
  const std::wstring terminated(value);
  SetRaw(view, name, type, terminated.c_str(),
         static_cast<DWORD>((terminated.size() + 1) * sizeof(wchar_t)));
}

void UninstallEntry::SetDword(REGSAM view, const wchar_t* name, DWORD value) {
  SetRaw(view, name, REG_DWORD, &value, sizeof(value));
}

}  // namespace lum::test
