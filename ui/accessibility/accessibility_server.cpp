#include "ui/accessibility/accessibility_server.h"

#include <utility>

namespace lum::installer {
namespace {

// UI Automation's runtime id of a window: this base, then the handle.
constexpr int kHwndRuntimeIdBase = 42;

Variant ToggleStateOf(const Control& control) {
  return Variant::Int(control.checked ? uia::kToggleOn : uia::kToggleOff);
}

}  // namespace

std::unique_ptr<AccessibilityServer> AccessibilityServer::Create(const UiaApi* api, HWND window,
                                                                 HWND field, std::wstring title) {
  if (api == nullptr) return nullptr;
  return std::unique_ptr<AccessibilityServer>(
      new AccessibilityServer(*api, window, field, std::move(title)));
}

AccessibilityServer::AccessibilityServer(const UiaApi& uiaApi, HWND windowHandle, HWND fieldHandle,
                                         std::wstring title)
    : api(uiaApi),
      window(windowHandle),
      field(fieldHandle),
      tree(std::make_shared<AccessibleTree>(uiaApi, windowHandle, fieldHandle, std::move(title))) {
  if (field != nullptr) fieldProvider = MakeFieldProvider(tree);
  // Clients' calls come in on the process's multithreaded apartment. Held while the providers
  // serve, it is not torn down between two clients' calls: Wine's teardown inside a call waits
  // for that very call, and the client, then the window, wait for it.
  if (FAILED(CoIncrementMTAUsage(&mtaUsage))) mtaUsage = nullptr;
}

AccessibilityServer::~AccessibilityServer() {
  std::vector<ComPtr<IRawElementProviderSimple>> providers = tree->Close();
  if (fieldProvider) providers.push_back(std::move(fieldProvider));
  if (api.disconnectProvider != nullptr) {
    for (const ComPtr<IRawElementProviderSimple>& provider : providers) {
      api.disconnectProvider(provider.Get());
    }
  }
  // Clients' references to what the windows returned are let go with them.
  api.returnRawElementProvider(window, 0, 0, nullptr);
  if (field != nullptr) api.returnRawElementProvider(field, 0, 0, nullptr);
  if (mtaUsage != nullptr) CoDecrementMTAUsage(mtaUsage);
}

bool AccessibilityServer::AsksForUia(LPARAM lParam) {
  return static_cast<LONG>(static_cast<DWORD>(lParam)) == kUiaRootObjectId;
}

LRESULT AccessibilityServer::AnswerWindow(WPARAM wParam, LPARAM lParam) {
  const ComPtr<IRawElementProviderSimple> root = tree->RootProvider();
  if (!root) return 0;
  return api.returnRawElementProvider(window, wParam, lParam, root.Get());
}

LRESULT AccessibilityServer::AnswerField(WPARAM wParam, LPARAM lParam) {
  return api.returnRawElementProvider(field, wParam, lParam, fieldProvider.Get());
}

std::vector<ComPtr<IRawElementProviderSimple>> AccessibilityServer::Children() {
  std::vector<ComPtr<IRawElementProviderSimple>> children;
  for (int i = tree->Sibling(-1, +1); i >= 0; i = tree->Sibling(i, +1)) {
    children.push_back(tree->ChildProvider(static_cast<std::size_t>(i)));
  }
  return children;
}

ComPtr<IRawElementProviderSimple> AccessibilityServer::Root() { return tree->RootProvider(); }

void AccessibilityServer::Update(std::uint32_t nextStructure, std::vector<Control> nextControls,
                                 std::optional<ControlId> nextFocus, float scale) {
  const bool newStructure = structure != nextStructure;
  const bool first = !structure.has_value();
  structure = nextStructure;
  std::vector<Control> before = std::exchange(controls, std::move(nextControls));
  const std::optional<ControlId> focusBefore = std::exchange(focus, nextFocus);
  tree->Replace({controls, focus, scale}, newStructure);
  // The first list is what the client that asked for the window will read; nothing changed.
  if (!first) RaiseChanges(before, focusBefore, newStructure);
}

void AccessibilityServer::RaiseChanges(const std::vector<Control>& before,
                                       std::optional<ControlId> focusBefore, bool newStructure) {
  if (newStructure && api.raiseStructureChangedEvent != nullptr) {
    if (const ComPtr<IRawElementProviderSimple> root = tree->RootProvider()) {
      int id[] = {kHwndRuntimeIdBase, static_cast<int>(reinterpret_cast<INT_PTR>(window))};
      api.raiseStructureChangedEvent(root.Get(), uia::kChildrenInvalidated, id, 2);
    }
  }
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const Control& now = controls[i];
    if (newStructure) {
      if (!now.alert) continue;
      // A failure's message is read out at once, over whatever was being said.
      const ComPtr<IRawElementProviderSimple> provider = tree->ChildProvider(i);
      if (!provider) continue;
      if (api.raiseNotificationEvent != nullptr) {
        const ScopedBstr text = MakeBstr(now.label);
        const ScopedBstr activity = MakeBstr(L"InstallationFailed");
        api.raiseNotificationEvent(provider.Get(), uia::kNotificationOther,
                                   uia::kImportantMostRecent, text.Get(), activity.Get());
      }
      if (api.raiseAutomationEvent != nullptr) {
        api.raiseAutomationEvent(provider.Get(), uia::kLiveRegionChangedEvent);
      }
      continue;
    }
    if (i >= before.size()) continue;
    const Control& was = before[i];
    if (now.label != was.label) {
      RaisePropertyChange(i, UIA_NamePropertyId, Variant::String(was.label),
                          Variant::String(now.label));
    }
    if (now.role == ControlRole::ProgressBar && now.value != was.value) {
      RaisePropertyChange(i, UIA_RangeValueValuePropertyId, Variant::Double(was.value),
                          Variant::Double(now.value));
    }
    if (now.role == ControlRole::CheckBox && now.checked != was.checked) {
      RaisePropertyChange(i, UIA_ToggleToggleStatePropertyId, ToggleStateOf(was),
                          ToggleStateOf(now));
    }
  }
  if ((newStructure || focus != focusBefore) && api.raiseAutomationEvent != nullptr &&
      GetFocus() == window) {
    const int focused = tree->FocusedChild();
    if (focused >= 0) {
      if (const ComPtr<IRawElementProviderSimple> provider =
              tree->ChildProvider(static_cast<std::size_t>(focused))) {
        api.raiseAutomationEvent(provider.Get(), uia::kFocusChangedEvent);
      }
    }
  }
}

void AccessibilityServer::RaisePropertyChange(std::size_t index, PROPERTYID property,
                                              const Variant& before, const Variant& after) {
  if (api.raisePropertyChangedEvent == nullptr) return;
  const ComPtr<IRawElementProviderSimple> provider = tree->ChildProvider(index);
  if (provider) api.raisePropertyChangedEvent(provider.Get(), property, before.Get(), after.Get());
}

std::optional<Control> AccessibilityServer::ActionTarget(WPARAM wParam, LPARAM lParam,
                                                         AccessibleAction& action) const {
  action = static_cast<AccessibleAction>(HIWORD(wParam));
  return tree->Element(static_cast<std::uint32_t>(lParam), LOWORD(wParam));
}

}  // namespace lum::installer
