// The window's side of UI Automation: made on the first question a client asks, it answers
// WM_GETOBJECT for the window and its path field, takes each new state of the window and says
// what changed (focus, names, values, a new page or overlay, a failure to read out), and cuts the
// providers loose when the window goes.
//
// The window thread never waits on a client: every UI Automation call that can reach one (the
// events, the providers' disconnection, letting go of the windows' bookkeeping, and under Wine
// the answers to WM_GETOBJECT) is made by the server's service thread (uia_service.h), which the
// window thread hands work to and never waits for.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/variant.h"
#include "ui/accessibility/uia_providers.h"
#include "ui/accessibility/uia_service.h"
#include "ui/page/controls.h"

namespace lum::installer {

class AccessibilityServer {
 public:
  // Null when the system has no UI Automation (api is null).
  static std::unique_ptr<AccessibilityServer> Create(const UiaApi* api, HWND window, HWND field,
                                                     std::wstring title);
  // Hands the disconnection of the providers to the service thread.
  ~AccessibilityServer();
  AccessibilityServer(const AccessibilityServer&) = delete;
  AccessibilityServer& operator=(const AccessibilityServer&) = delete;

  // WM_GETOBJECT of the window and of the field, when it asks for UI Automation's root.
  LRESULT AnswerWindow(WPARAM wParam, LPARAM lParam);
  LRESULT AnswerField(WPARAM wParam, LPARAM lParam);
  static bool AsksForUia(LPARAM lParam);

  // Window thread: what is on screen now. structure names the page or overlay; controls are the
  // list that takes input; focus the keyboard's control; scale pixels per design unit.
  void Update(std::uint32_t structure, std::vector<Control> controls,
              std::optional<ControlId> focus, float scale);
  // The control a provider's posted action names, while it is still on screen.
  std::optional<Control> ActionTarget(WPARAM wParam, LPARAM lParam, AccessibleAction& action) const;

  // The providers of the window and its current children, for a client in this process.
  ComPtr<IRawElementProviderSimple> Root();
  std::vector<ComPtr<IRawElementProviderSimple>> Children();
  // For a client in this process: true once the events of every update so far have been raised,
  // false when that has not happened within timeoutMs.
  bool WaitForEvents(DWORD timeoutMs);

 private:
  AccessibilityServer(const UiaApi& api, HWND window, HWND field, std::wstring title);
  void RaiseChanges(const std::vector<Control>& before, std::optional<ControlId> focusBefore,
                    bool newStructure);
  LRESULT Answer(std::size_t target, HWND handle, IRawElementProviderSimple* provider,
                 WPARAM wParam, LPARAM lParam);
  void Raise(UiaEvent::Kind kind, std::size_t child, int id, Variant before = {},
             Variant after = {});

  const UiaApi& api;
  const HWND window;
  const HWND field;
  std::shared_ptr<AccessibleTree> tree;
  ComPtr<IRawElementProviderSimple> fieldProvider;
  std::shared_ptr<UiaService> service;
  bool askedBefore = false;                // whether WM_GETOBJECT was answered before (Answer)
  std::optional<std::uint32_t> structure;  // none before the first update
  std::vector<Control> controls;
  std::optional<ControlId> focus;
};

}  // namespace lum::installer
