// What the demo package leaves in its install folder: setup_command_line.txt, UTF-16LE with
// BOM, line 1 the parameters it received (NSIS has cut " /D=..." off), line 2 its $INSTDIR.
#pragma once

#include <string>

namespace lum::test {

inline constexpr wchar_t kPackageRecordFile[] = L"setup_command_line.txt";

struct PackageRecord {
  std::wstring parameters;
  std::wstring installDirectory;
};

PackageRecord ReadPackageRecord(const std::wstring& folder);

}  // namespace lum::test
