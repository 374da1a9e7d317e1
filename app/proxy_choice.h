// The proxy a run's requests go through: the one /PROXY= names, else the one the administrator's
// policy value names, else WinHTTP's automatic proxy.
#pragma once

#include <string>

#include "app/command_line.h"

namespace lum::installer {

// HKLM (64-bit view), REG_SZ host:port.
inline constexpr wchar_t kProxyPolicyKey[] = L"SOFTWARE\\Policies\\Lumora\\WebSetup";
inline constexpr wchar_t kProxyPolicyValue[] = L"ProxyServer";

struct ProxyChoice {
  std::wstring proxy;    // host:port; empty for the automatic proxy
  std::wstring logLine;  // what the log says about the choice; empty for the automatic one
};

ProxyChoice ChooseProxy(const CommandLine& line);

}  // namespace lum::installer
