#include "app/proxy_choice.h"

#include <windows.h>

#include <vector>

#include "net/proxy.h"

namespace lum::installer {
namespace {

// The policy value as written, empty when there is none.
std::wstring ReadProxyPolicy() {
  DWORD size = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kProxyPolicyKey, kProxyPolicyValue,
                   RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, nullptr,
                   &size) != ERROR_SUCCESS ||
      size < sizeof(wchar_t)) {
    return {};
  }
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kProxyPolicyKey, kProxyPolicyValue,
                   RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, buffer.data(),
                   &size) != ERROR_SUCCESS) {
    return {};
  }
  return buffer.data();
}

}  // namespace

ProxyChoice ChooseProxy(const CommandLine& line) {
  if (!line.proxy.empty()) return {line.proxy, L"proxy=" + line.proxy + L" (/PROXY=)"};
  const std::wstring policy = ReadProxyPolicy();
  if (policy.empty()) return {};
  const std::wstring where = L"HKLM\\" + std::wstring(kProxyPolicyKey) + L"\\" + kProxyPolicyValue;
  // A value that names no proxy leaves the automatic one, and the log says why.
  if (!IsProxyAddress(policy)) return {L"", L"代理策略值无效，已忽略：" + where + L"=" + policy};
  return {policy, L"proxy=" + policy + L" (" + where + L")"};
}

}  // namespace lum::installer
