// Text for failure output: ASCII as is, everything else as \uXXXX.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace lum::test {

inline std::string Printable(std::wstring_view text) {
  std::string out;
  for (const wchar_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    }
  }
  return out;
}

}  // namespace lum::test
