#include "tests/support/package_record.h"

#include <cstring>

#include "system/install_location.h"
#include "tests/support/test_env.h"

namespace lum::test {

PackageRecord ReadPackageRecord(const std::wstring& folder) {
  const std::string bytes = ReadFileBytes(installer::JoinPath(folder, kPackageRecordFile));
  std::wstring text(bytes.size() / 2, L'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
  if (!text.empty() && text.front() == 0xFEFF) text.erase(0, 1);
  const size_t first = text.find(L"\r\n");
  if (first == std::wstring::npos) return {text, L""};
  const size_t second = text.find(L"\r\n", first + 2);
  return {text.substr(0, first), text.substr(first + 2, second - first - 2)};
}

}  // namespace lum::test
