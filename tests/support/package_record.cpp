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
  PackageRecord record;
  std::wstring* const fields[] = {
      &record.parameters, &record.installDirectory, &record.version,          &record.temp,
      &record.tmp,        &record.workingDirectory, &record.pluginsDirectory, &record.planted};
  size_t start = 0;
  for (std::wstring* field : fields) {
    const size_t end = text.find(L"\r\n", start);
    *field = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (end == std::wstring::npos) break;
    start = end + 2;
  }
  return record;
}

}  // namespace lum::test
