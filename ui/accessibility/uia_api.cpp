#include "ui/accessibility/uia_api.h"

#include "base/module.h"

namespace lum::installer {
namespace {

constexpr wchar_t kUiaDll[] = L"uiautomationcore.dll";

template <typename F>
void Find(const char* name, F& function) {
  function = LoadedFunction<F>(kUiaDll, name);
}

UiaApi Load() {
  UiaApi api;
  // Loaded on the first question from a client, so a start without one never pays for it; from
  // System32 only, like every DLL the elevated process loads. It stays loaded.
  if (LoadLibraryExW(kUiaDll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) == nullptr) return api;
  Find("UiaReturnRawElementProvider", api.returnRawElementProvider);
  Find("UiaHostProviderFromHwnd", api.hostProviderFromHwnd);
  Find("UiaRaiseAutomationEvent", api.raiseAutomationEvent);
  Find("UiaRaiseAutomationPropertyChangedEvent", api.raisePropertyChangedEvent);
  Find("UiaRaiseStructureChangedEvent", api.raiseStructureChangedEvent);
  Find("UiaRaiseNotificationEvent", api.raiseNotificationEvent);
  Find("UiaDisconnectProvider", api.disconnectProvider);
  api.wine = LoadedFunction<FARPROC>(L"ntdll.dll", "wine_get_version") != nullptr;
  // Wine 8 exports this one as a stub that ends the process when it is called.
  if (api.wine) api.raiseStructureChangedEvent = nullptr;
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
