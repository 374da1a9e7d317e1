#include "manifest/version.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace lum::installer {
namespace {

std::optional<std::vector<std::uint64_t>> ParseVersion(std::wstring_view text) {
  if (text.empty()) return std::nullopt;
  std::vector<std::uint64_t> fields;
  size_t position = 0;
  while (true) {
    const size_t dot = text.find(L'.', position);
    const std::wstring_view field =
        text.substr(position, dot == std::wstring_view::npos ? std::wstring_view::npos
                                                             : dot - position);
    if (field.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const wchar_t c : field) {
      if (c < L'0' || c > L'9') return std::nullopt;
      const std::uint64_t digit = static_cast<std::uint64_t>(c - L'0');
      if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
      value = value * 10 + digit;
    }
    fields.push_back(value);
    if (dot == std::wstring_view::npos) break;
    position = dot + 1;
    if (position >= text.size()) break;  // one trailing dot is ignored
  }
  return fields;
}

}  // namespace

int CompareVersions(std::wstring_view first, std::wstring_view second) {
  const auto a = ParseVersion(first);
  if (!a) return 2;
  const auto b = ParseVersion(second);
  if (!b) return 2;
  const size_t length = std::max(a->size(), b->size());
  for (size_t i = 0; i < length; ++i) {
    const std::uint64_t x = i < a->size() ? (*a)[i] : 0;
    const std::uint64_t y = i < b->size() ? (*b)[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace lum::installer
