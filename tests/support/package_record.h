// What the demo package leaves in its install folder: setup_command_line.txt, UTF-16LE with
// BOM, one item a line.
#pragma once

#include <string>

namespace lum::test {

inline constexpr wchar_t kPackageRecordFile[] = L"setup_command_line.txt";

struct PackageRecord {
  std::wstring parameters;        // as received (NSIS has cut " /D=..." off)
  std::wstring installDirectory;  // $INSTDIR
  std::wstring version;           // the package's own version
  std::wstring temp;              // its TEMP and TMP
  std::wstring tmp;
  std::wstring workingDirectory;
  std::wstring pluginsDirectory;  // where NSIS unpacked its plug-in DLLs
  std::wstring planted;           // its LUM_PLANTED variable, empty when it had none
};

PackageRecord ReadPackageRecord(const std::wstring& folder);

}  // namespace lum::test
