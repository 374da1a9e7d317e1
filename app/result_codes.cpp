#include "app/result_codes.h"

namespace lum::installer {

DWORD ExitCodeFor(std::wstring_view outcome) {
  for (const ResultCode& code : kResultCodes) {
    if (code.outcome == outcome) return code.exitCode;
  }
  return ExitCodeFor(L"E_INSTALL");
}

}  // namespace lum::installer
