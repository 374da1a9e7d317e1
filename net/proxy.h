// The proxy every request of this process goes through. Without one named, WinHTTP's automatic
// proxy is used; an administrator names one with /PROXY= or the policy value (app/).
#pragma once

#include <string>
#include <string_view>

namespace lum::installer {

// host:port for WinHTTP's named proxy, or empty for the automatic one. Set at start-up, before
// the first request; every session opened afterwards uses it.
void UseNamedProxy(std::wstring proxy);
std::wstring NamedProxy();

// host:port with a host of letters, digits, '.', '-', '_' (or an IPv6 address in brackets) and
// a port 1-65535: what is taken as a named proxy.
bool IsProxyAddress(std::wstring_view text);

}  // namespace lum::installer
