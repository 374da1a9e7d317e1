// Writes the application's uninstall entry into the test prefix's registry and removes it
// again, in both registry views.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace lum::test {

class UninstallEntry {
 public:
  // Starts from no entry in either view.
  UninstallEntry();
  ~UninstallEntry();
  UninstallEntry(const UninstallEntry&) = delete;
  UninstallEntry& operator=(const UninstallEntry&) = delete;

  // view is KEY_WOW64_64KEY or KEY_WOW64_32KEY.
  void SetString(REGSAM view, const wchar_t* name, std::wstring_view value, DWORD type = REG_SZ);
  // Raw data, for values with embedded NULs or odd sizes.
  void SetRaw(REGSAM view, const wchar_t* name, DWORD type, const void* data, DWORD size);
  void SetDword(REGSAM view, const wchar_t* name, DWORD value);

  static void RemoveAll();
};

}  // namespace lum::test
