#pragma once

#include <string>
#include <string_view>

namespace lum::installer {

// UTF-16 to UTF-8. An unpaired surrogate becomes the replacement character.
std::string WideToUtf8(std::wstring_view text);

}  // namespace lum::installer
