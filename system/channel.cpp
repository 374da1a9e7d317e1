#include "system/channel.h"

#include <algorithm>
#include <vector>

#include "base/module.h"
#include "base/text.h"

namespace lum::installer {
namespace {

bool IsAsciiLetterOrDigit(wchar_t unit) {
  return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z') ||
         (unit >= L'0' && unit <= L'9');
}

}  // namespace

const std::array<std::wstring, 18>& KnownChannels() {
  // A function-local static: built once, on first use, safely across threads.
  static const std::array<std::wstring, 18> channels = {
      L"guanwang",  L"lenovo",  L"tencent", L"huawei",  L"kingsoft", L"baidu",
      L"baidu2",    L"huorong", L"tianji",  L"tianji2", L"yyb",      L"bing",
      L"microsoft", L"zol",     L"huajun",  L"xiaomi",  L"honor",    L"360"};
  return channels;
}

bool ParseChannelText(const void* bytes, std::size_t length, std::wstring* output) {
  if (output == nullptr || bytes == nullptr || length == 0 || length > kMaxChannelBytes) {
    return false;
  }
  std::wstring wide;
  if (!DecodeUtf8(std::string_view(static_cast<const char*>(bytes), length), wide)) return false;
  // Nothing is trimmed: a space, a line end or a byte-order mark makes the text unknown.
  const std::wstring lower = AsciiLowered(wide);
  for (const std::wstring& known : KnownChannels()) {
    if (lower == known) {
      *output = lower;
      return true;
    }
  }
  return false;
}

std::wstring ReadEmbeddedChannelFrom(HMODULE module) {
  const std::string_view bytes = ResourceBytes(module, kChannelResourceId);
  std::wstring channel;
  if (bytes.empty() || !ParseChannelText(bytes.data(), bytes.size(), &channel)) {
    return kDefaultChannel;
  }
  return channel;
}

std::wstring ReadEmbeddedChannel() { return ReadEmbeddedChannelFrom(GetModuleHandleW(nullptr)); }

std::wstring OwnExecutableFileName() {
  constexpr DWORD kLongestPath = 32768;
  std::vector<wchar_t> buffer(MAX_PATH);
  DWORD length = 0;
  for (;;) {
    length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size() - 1) break;
    // Possibly cut off: try again with a larger buffer, up to the longest path there is.
    if (buffer.size() >= kLongestPath) return {};
    buffer.resize(std::min<std::size_t>(buffer.size() * 2, kLongestPath));
  }
  const std::wstring_view path(buffer.data(), length);
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring_view::npos) return std::wstring(path);
  return std::wstring(path.substr(separator + 1));
}

std::wstring ExtractBingClickId(std::wstring_view channel, std::wstring_view fileName) {
  if (channel != L"bing") return {};
  const std::wstring lower = AsciiLowered(fileName);
  constexpr std::wstring_view kSuffix = L".exe";
  if (lower.size() <= kSuffix.size()) return {};
  const std::size_t suffixStart = lower.size() - kSuffix.size();
  if (std::wstring_view(lower).substr(suffixStart) != kSuffix) return {};

  const std::size_t setup = lower.rfind(L"setup-");
  const std::size_t step = lower.rfind(L"step-");
  std::size_t start = std::wstring::npos;
  if (setup != std::wstring::npos && (step == std::wstring::npos || setup > step)) {
    start = setup + 6;
  } else if (step != std::wstring::npos) {
    start = step + 5;
  }
  // The prefix may overlap the suffix ("setup-.exe" ends right where ".exe" starts).
  if (start == std::wstring::npos || start >= suffixStart) return {};

  std::wstring id(fileName.substr(start, suffixStart - start));
  for (wchar_t unit : id) {
    if (!IsAsciiLetterOrDigit(unit)) return {};
  }
  return id;
}

std::wstring ResolveBingClickId(std::wstring_view channel) {
  return ExtractBingClickId(channel, OwnExecutableFileName());
}

}  // namespace lum::installer
