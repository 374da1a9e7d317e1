#include "base/text.h"

#include <windows.h>

#include <climits>

namespace lum::installer {

bool DecodeUtf8(std::string_view text, std::wstring& wide) {
  if (text.empty()) {
    wide.clear();
    return true;
  }
  if (text.size() > static_cast<size_t>(INT_MAX)) return false;
  const int length = static_cast<int>(text.size());
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (units < 1) return false;
  std::wstring decoded(static_cast<size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, decoded.data(),
                          units) != units) {
    return false;
  }
  wide = std::move(decoded);
  return true;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string result(static_cast<size_t>(length), '\0');
  const int written = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          result.data(), length, nullptr, nullptr);
  result.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return result;
}

std::wstring AsciiLowered(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& unit : lower) unit = AsciiLower(unit);
  return lower;
}

}  // namespace lum::installer
