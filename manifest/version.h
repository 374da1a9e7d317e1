// Dotted version strings.
#pragma once

#include <string_view>

namespace lum::installer {

inline constexpr wchar_t kBootstrapperVersion[] = L"1.0.0";

// -1 when first < second, 0 when equal, 1 when first > second, 2 when either is not a valid
// dotted version (digits only, no empty field, one trailing dot allowed, each field < 2^64).
int CompareVersions(std::wstring_view first, std::wstring_view second);

}  // namespace lum::installer
