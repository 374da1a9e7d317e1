// The UI Automation providers of the window: the window itself (a fragment root), one element
// per announced control of the page or overlay that takes input, and the path field, a window of
// its own. They answer from the tree's copy of the control list, on whatever thread UI Automation
// calls them, and hand every action to the window thread as a posted message.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/handles.h"
#include "ui/accessibility/uia_api.h"
#include "ui/page/controls.h"

namespace lum::installer {

// Posted by a provider: wParam = MAKEWPARAM(element index, AccessibleAction), lParam = the
// generation of the list the index belongs to.
inline constexpr UINT WM_INSTALLER_ACCESSIBLE_ACTION = WM_APP + 3;
enum class AccessibleAction : WORD { Invoke = 0, Focus = 1 };

class WindowProvider;
class ElementProvider;

// What the providers share: the list on screen, replaced whole by the window thread, and the
// providers handed out for it.
class AccessibleTree : public std::enable_shared_from_this<AccessibleTree> {
 public:
  AccessibleTree(const UiaApi& api, HWND window, HWND field, std::wstring title);
  ~AccessibleTree();

  const UiaApi& Api() const { return api; }
  HWND Window() const { return window; }
  HWND Field() const { return field; }
  const std::wstring& Title() const { return title; }

  struct State {
    std::vector<Control> controls;
    std::optional<ControlId> focus;  // the keyboard's control
    float scale = 1;                 // pixels per design unit
  };
  // Window thread. A new structure (another page or overlay) starts a new generation: the old
  // elements' providers answer "not available" from then on. They stay connected until Close, as
  // a client may be in the middle of a call on one.
  void Replace(State next, bool newStructure);
  // Ends every provider's service; returns them all, the window's first, for disconnecting.
  std::vector<ComPtr<IRawElementProviderSimple>> Close();

  ComPtr<IRawElementProviderSimple> RootProvider();
  // The provider of element index of the current generation; null when there is none.
  ComPtr<IRawElementProviderSimple> ChildProvider(std::size_t index);

  // For the providers.
  ComPtr<WindowProvider> Root();
  ComPtr<ElementProvider> Child(std::size_t index);
  // The control of a provider, while its generation is still on screen.
  std::optional<Control> Element(std::uint32_t generation, std::size_t index) const;
  std::optional<Control> FieldElement() const;
  // Index of the window's child before or after index (the field is not one); -1 when none.
  int Sibling(int index, int step) const;
  // The child a click at the point reaches, else the one whose rectangle holds it; -1 when none.
  int ChildAt(double screenX, double screenY) const;
  int FocusedChild() const;
  bool HasKeyboardFocus(const Control& control) const;
  UiaRect ScreenRect(const DesignRect& rect) const;
  std::uint32_t Generation() const;
  void Post(std::uint32_t generation, std::size_t index, AccessibleAction action) const;

 private:
  bool IsChild(std::size_t index) const;  // lock held

  const UiaApi& api;
  const HWND window;
  const HWND field;
  const std::wstring title;
  mutable std::mutex mutex;
  State state;
  std::uint32_t generation = 1;
  bool open = true;
  ComPtr<WindowProvider> root;
  std::vector<ComPtr<ElementProvider>> children;  // of this generation, made on first use
  std::vector<ComPtr<ElementProvider>> retired;   // of earlier generations
};

// A provider of the path field's own window, which names it with the path it shows.
ComPtr<IRawElementProviderSimple> MakeFieldProvider(std::shared_ptr<const AccessibleTree> tree);

}  // namespace lum::installer
