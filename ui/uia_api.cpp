#include "ui/uia_api.h"

#include <bit>

namespace lum::installer {
namespace {

template <typename F>
void Find(HMODULE module, const char* name, F& function) {
  function = std::bit_cast<F>(GetProcAddress(module, name));
}

UiaApi Load() {
  UiaApi api;
  // Loaded on the first question from a client, so a start without one never pays for it; from
  // System32 only, like every DLL the elevated process loads. It stays loaded.
  const HMODULE module =
      LoadLibraryExW(L"uiautomationcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return api;
  Find(module, "UiaReturnRawElementProvider", api.returnRawElementProvider);
  Find(module, "UiaHostProviderFromHwnd", api.hostProviderFromHwnd);
  Find(module, "UiaRaiseAutomationEvent", api.raiseAutomationEvent);
  Find(module, "UiaRaiseAutomationPropertyChangedEvent", api.raisePropertyChangedEvent);
  Find(module, "UiaRaiseStructureChangedEvent", api.raiseStructureChangedEvent);
  Find(module, "UiaRaiseNotificationEvent", api.raiseNotificationEvent);
  Find(module, "UiaDisconnectProvider", api.disconnectProvider);
  // Wine 8 exports this one as a stub that ends the process when it is called.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr) {
    api.raiseStructureChangedEvent = nullptr;
  }
  return api;
}

}  // namespace

const UiaApi* LoadUiaApi() {
  static const UiaApi api = Load();
  if (api.returnRawElementProvider == nullptr || api.hostProviderFromHwnd == nullptr) {
    return nullptr;
  }
  return &api;
}

}  // namespace lum::installer
