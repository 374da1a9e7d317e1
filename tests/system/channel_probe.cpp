// Prints what the channel functions see in this very executable, for tests that copy it under
// other names, into deep folders, or with another RCDATA 104:
//   channel|own file name|click identifier for "bing"      (UTF-8, one line)
#include <windows.h>

#include <string>

#include "system/channel.h"

int wmain() {
  using namespace lum::installer;
  const std::wstring line =
      ReadEmbeddedChannel() + L"|" + OwnExecutableFileName() + L"|" + ResolveBingClickId(L"bing");
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written,
            nullptr);
  return 0;
}
