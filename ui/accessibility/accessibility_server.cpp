#include "ui/accessibility/accessibility_server.h"

#include <utility>

namespace lum::installer {
namespace {

// UI Automation's runtime id of a window: this base, then the handle.
constexpr int kHwndRuntimeIdBase = 42;
// WM_GETOBJECT's targets, in the order the service is given them.
constexpr std::size_t kWindowTarget = 0;
constexpr std::size_t kFieldTarget = 1;
// Under Wine the server's first answer is waited for (see Answer); the service thread makes it
// in milliseconds.
constexpr DWORD kFirstAnswerWaitMs = 5000;

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
      tree(std::make_shared<AccessibleTree>(uiaApi, windowHandle, fieldHandle, std::move(title))),
      service(std::make_shared<UiaService>(uiaApi)) {
  if (field != nullptr) fieldProvider = MakeFieldProvider(tree);
  std::vector<UiaService::Target> targets(2);
  targets[kWindowTarget] = {window, tree->RootProvider()};
  targets[kFieldTarget].handle = field;
  if (fieldProvider) {
    fieldProvider->AddRef();
    targets[kFieldTarget].provider.Reset(fieldProvider.Get());
  }
  service->Start(std::move(targets));
}

AccessibilityServer::~AccessibilityServer() {
  // The providers answer "not available" from here on; cutting them loose from clients and
  // letting go of what UI Automation keeps for the windows can wait on a client, so the service
  // thread does it, and clients' references go with it.
  std::vector<ComPtr<IRawElementProviderSimple>> providers = tree->Close();
  if (fieldProvider) providers.push_back(std::move(fieldProvider));
  std::vector<HWND> windows{window};
  if (field != nullptr) windows.push_back(field);
  service->Close(std::move(windows), std::move(providers));
}

bool AccessibilityServer::AsksForUia(LPARAM lParam) {
  return static_cast<LONG>(static_cast<DWORD>(lParam)) == kUiaRootObjectId;
}

LRESULT AccessibilityServer::Answer(std::size_t target, HWND handle,
                                    IRawElementProviderSimple* provider, WPARAM wParam,
                                    LPARAM lParam) {
  if (provider == nullptr) return 0;
  // Windows takes the answer from the window thread, during the question, and hands it over
  // without waiting on any client.
  if (!api.wine) return api.returnRawElementProvider(handle, wParam, lParam, provider);
  // Wine's UiaReturnRawElementProvider marshals through its COM, which can stall on a client
  // for good (see uia_service.cpp), and ignores which question it answers: the answer is one
  // the service thread made ready, or none. Only the server's first answer is waited for,
  // answering what is sent to the window meanwhile: until a client has an answer, no client
  // holds anything of this server to stall on.
  const DWORD wait = std::exchange(askedBefore, true) ? 0 : kFirstAnswerWaitMs;
  return service->TakeAnswer(target, wait).value_or(0);
}

LRESULT AccessibilityServer::AnswerWindow(WPARAM wParam, LPARAM lParam) {
  const ComPtr<IRawElementProviderSimple> root = tree->RootProvider();
  return Answer(kWindowTarget, window, root.Get(), wParam, lParam);
}

LRESULT AccessibilityServer::AnswerField(WPARAM wParam, LPARAM lParam) {
  return Answer(kFieldTarget, field, fieldProvider.Get(), wParam, lParam);
}

std::vector<ComPtr<IRawElementProviderSimple>> AccessibilityServer::Children() {
  std::vector<ComPtr<IRawElementProviderSimple>> children;
  for (int i = tree->Sibling(-1, +1); i >= 0; i = tree->Sibling(i, +1)) {
    children.push_back(tree->ChildProvider(static_cast<std::size_t>(i)));
  }
  return children;
}

ComPtr<IRawElementProviderSimple> AccessibilityServer::Root() { return tree->RootProvider(); }

bool AccessibilityServer::WaitForEvents(DWORD timeoutMs) { return service->WaitRaised(timeoutMs); }

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
  // Each event is handed to the service thread, which raises them in this order.
  if (newStructure && api.raiseStructureChangedEvent != nullptr) {
    UiaEvent event{UiaEvent::Kind::Structure, tree->RootProvider(), uia::kChildrenInvalidated};
    event.runtimeId = {kHwndRuntimeIdBase, static_cast<int>(reinterpret_cast<INT_PTR>(window))};
    service->Raise(std::move(event));
  }
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const Control& now = controls[i];
    if (newStructure) {
      if (!now.alert) continue;
      // A failure's message is read out at once, over whatever was being said.
      if (api.raiseNotificationEvent != nullptr) {
        UiaEvent event{UiaEvent::Kind::Notification, tree->ChildProvider(i)};
        event.text = now.label;
        service->Raise(std::move(event));
      }
      if (api.raiseAutomationEvent != nullptr) {
        Raise(UiaEvent::Kind::Automation, i, uia::kLiveRegionChangedEvent);
      }
      continue;
    }
    if (i >= before.size() || api.raisePropertyChangedEvent == nullptr) continue;
    const Control& was = before[i];
    if (now.label != was.label) {
      Raise(UiaEvent::Kind::Property, i, UIA_NamePropertyId, Variant::String(was.label),
            Variant::String(now.label));
    }
    if (now.role == ControlRole::ProgressBar && now.value != was.value) {
      Raise(UiaEvent::Kind::Property, i, UIA_RangeValueValuePropertyId, Variant::Double(was.value),
            Variant::Double(now.value));
    }
    if (now.role == ControlRole::CheckBox && now.checked != was.checked) {
      Raise(UiaEvent::Kind::Property, i, UIA_ToggleToggleStatePropertyId, ToggleStateOf(was),
            ToggleStateOf(now));
    }
  }
  if ((newStructure || focus != focusBefore) && api.raiseAutomationEvent != nullptr &&
      GetFocus() == window) {
    const int focused = tree->FocusedChild();
    if (focused >= 0) {
      Raise(UiaEvent::Kind::Automation, static_cast<std::size_t>(focused), uia::kFocusChangedEvent);
    }
  }
}

void AccessibilityServer::Raise(UiaEvent::Kind kind, std::size_t child, int id, Variant before,
                                Variant after) {
  service->Raise(
      UiaEvent{kind, tree->ChildProvider(child), id, std::move(before), std::move(after)});
}

std::optional<Control> AccessibilityServer::ActionTarget(WPARAM wParam, LPARAM lParam,
                                                         AccessibleAction& action) const {
  action = static_cast<AccessibleAction>(HIWORD(wParam));
  return tree->Element(static_cast<std::uint32_t>(lParam), LOWORD(wParam));
}

}  // namespace lum::installer
