#include "net/proxy.h"

#include <mutex>

namespace lum::installer {
namespace {

std::mutex g_proxyMutex;
std::wstring g_proxy;

bool IsHostCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'.' || c == L'-' || c == L'_';
}

bool IsPort(std::wstring_view text) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  return value >= 1 && value <= 65535;
}

}  // namespace

void UseNamedProxy(std::wstring proxy) {
  const std::lock_guard lock(g_proxyMutex);
  g_proxy = std::move(proxy);
}

std::wstring NamedProxy() {
  const std::lock_guard lock(g_proxyMutex);
  return g_proxy;
}

bool IsProxyAddress(std::wstring_view text) {
  const std::size_t colon = text.rfind(L':');
  if (colon == std::wstring_view::npos || !IsPort(text.substr(colon + 1))) return false;
  const std::wstring_view host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == L'[' && host.back() == L']') {
    for (const wchar_t c : host.substr(1, host.size() - 2)) {
      const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') ||
                       (c >= L'A' && c <= L'F') || c == L':' || c == L'.';
      if (!hex) return false;
    }
    return true;
  }
  if (host.empty() || host.size() > 253) return false;
  for (const wchar_t c : host) {
    if (!IsHostCharacter(c)) return false;
  }
  return true;
}

}  // namespace lum::installer
