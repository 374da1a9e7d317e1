// UTF-16 inside, UTF-8 at the edges, and the ASCII-only case fold the bootstrapper compares with.
#pragma once

#include <string>
#include <string_view>

namespace lum::installer {

// Strict UTF-8 to UTF-16: false for any invalid sequence (overlong forms, surrogates, bytes
// that cannot start or continue one), leaving wide untouched. Empty text decodes to empty.
[[nodiscard]] bool DecodeUtf8(std::string_view text, std::wstring& wide);

// UTF-16 to UTF-8. An unpaired surrogate becomes the replacement character.
std::string WideToUtf8(std::wstring_view text);

// A-Z to a-z; every other unit stays as it is.
constexpr wchar_t AsciiLower(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}
std::wstring AsciiLowered(std::wstring_view text);

}  // namespace lum::installer
