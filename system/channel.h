// The distribution channel embedded in the executable and, for the channel "bing" only, the
// click identifier carried in the executable's own file name.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace lum::installer {

inline constexpr int kChannelResourceId = 104;
inline constexpr wchar_t kDefaultChannel[] = L"guanwang";
inline constexpr std::size_t kMaxChannelBytes = 64;

// The allow-list, in its fixed order.
const std::array<std::wstring, 18>& KnownChannels();

// RCDATA 104 of the own executable, or "guanwang" when it is missing or not allowed.
std::wstring ReadEmbeddedChannel();
// The same for another module (an executable loaded as a data file, for example).
std::wstring ReadEmbeddedChannelFrom(HMODULE module);

// True when the bytes, decoded as strict UTF-8 and lower-cased, are exactly one of
// KnownChannels; the lower-case text is then stored in *output.
[[nodiscard]] bool ParseChannelText(const void* bytes, std::size_t length, std::wstring* output);

// The file-name part of the own executable's path; empty on failure.
std::wstring OwnExecutableFileName();

// The letters and digits between the last "setup-" or "step-" and the final ".exe" of the file
// name, in their original case; empty unless the channel is "bing" and the name fits.
std::wstring ExtractBingClickId(std::wstring_view channel, std::wstring_view fileName);
std::wstring ResolveBingClickId(std::wstring_view channel);

}  // namespace lum::installer
