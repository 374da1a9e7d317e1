#include "ui/accessibility/uia_providers.h"

#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <utility>

#include "base/variant.h"

namespace lum::installer {
namespace {

CONTROLTYPEID ControlTypeOf(ControlRole role) {
  switch (role) {
    case ControlRole::Button:
      return uia::kButton;
    case ControlRole::CheckBox:
      return uia::kCheckBox;
    case ControlRole::Link:
      return uia::kHyperlink;
    case ControlRole::ProgressBar:
      return uia::kProgressBar;
    case ControlRole::Edit:
      return uia::kEdit;
    case ControlRole::Text:
      break;
  }
  return uia::kText;
}

HRESULT SetString(VARIANT* value, const std::wstring& text) {
  Variant made = Variant::String(text);
  if (made.Empty()) return E_OUTOFMEMORY;
  made.MoveTo(value);
  return S_OK;
}

HRESULT RuntimeId(std::initializer_list<int> parts, SAFEARRAY** result) {
  *result = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(parts.size()));
  if (*result == nullptr) return E_OUTOFMEMORY;
  LONG i = 0;
  for (int part : parts) {
    int value = part;
    SafeArrayPutElement(*result, &i, &value);
    ++i;
  }
  return S_OK;
}

// Reference counting shared by the providers; the object goes with its last reference.
class RefCounted {
 protected:
  virtual ~RefCounted() = default;
  ULONG AddRefImpl() { return ++references; }
  ULONG ReleaseImpl() {
    const ULONG left = --references;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> references{1};
};

}  // namespace

// The window: a fragment root named with its title, whose children are the elements.
class WindowProvider final : public IRawElementProviderSimple,
                             public IRawElementProviderFragment,
                             public IRawElementProviderFragmentRoot,
                             private RefCounted {
 public:
  explicit WindowProvider(std::shared_ptr<AccessibleTree> owner) : tree(std::move(owner)) {}

  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IRawElementProviderSimple)) {
      *result = static_cast<IRawElementProviderSimple*>(this);
    } else if (iid == __uuidof(IRawElementProviderFragment)) {
      *result = static_cast<IRawElementProviderFragment*>(this);
    } else if (iid == __uuidof(IRawElementProviderFragmentRoot)) {
      *result = static_cast<IRawElementProviderFragmentRoot*>(this);
    } else {
      *result = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  // IRawElementProviderSimple. No COM threading: Wine's client hangs on providers that ask
  // for it, and these answer from any thread anyway.
  HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* options) override {
    *options = ProviderOptions_ServerSideProvider;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID, IUnknown** result) override {
    *result = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* value) override {
    value->vt = VT_EMPTY;
    switch (property) {
      case UIA_ControlTypePropertyId:
        Variant::Int(uia::kWindow).MoveTo(value);
        return S_OK;
      case UIA_NamePropertyId:
        return SetString(value, tree->Title());
      default:
        return S_OK;  // the window's host provider answers the rest
    }
  }
  HRESULT STDMETHODCALLTYPE
  get_HostRawElementProvider(IRawElementProviderSimple** result) override {
    return tree->Api().hostProviderFromHwnd(tree->Window(), result);
  }

  // IRawElementProviderFragment
  HRESULT STDMETHODCALLTYPE Navigate(NavigateDirection direction,
                                     IRawElementProviderFragment** result) override;
  HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** result) override {
    *result = nullptr;  // the host provider's
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BoundingRectangle(UiaRect* rect) override {
    *rect = UiaRect{};  // the host provider's
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** result) override {
    *result = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetFocus() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** result) override {
    *result = this;
    AddRef();
    return S_OK;
  }

  // IRawElementProviderFragmentRoot
  HRESULT STDMETHODCALLTYPE ElementProviderFromPoint(double x, double y,
                                                     IRawElementProviderFragment** result) override;
  HRESULT STDMETHODCALLTYPE GetFocus(IRawElementProviderFragment** result) override;

 private:
  HRESULT ChildAsFragment(int index, IRawElementProviderFragment** result);

  const std::shared_ptr<AccessibleTree> tree;
};

// One control of the list, for as long as its generation is on screen.
class ElementProvider final : public IRawElementProviderSimple,
                              public IRawElementProviderFragment,
                              public IInvokeProvider,
                              public IToggleProvider,
                              public IRangeValueProvider,
                              private RefCounted {
 public:
  ElementProvider(std::shared_ptr<AccessibleTree> owner, std::uint32_t of, std::size_t at,
                  ControlRole kind)
      : tree(std::move(owner)), generation(of), index(at), role(kind) {}

  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
    *result = nullptr;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IRawElementProviderSimple)) {
      *result = static_cast<IRawElementProviderSimple*>(this);
    } else if (iid == __uuidof(IRawElementProviderFragment)) {
      *result = static_cast<IRawElementProviderFragment*>(this);
    } else if (iid == __uuidof(IInvokeProvider) && Invokable()) {
      *result = static_cast<IInvokeProvider*>(this);
    } else if (iid == __uuidof(IToggleProvider) && role == ControlRole::CheckBox) {
      *result = static_cast<IToggleProvider*>(this);
    } else if (iid == __uuidof(IRangeValueProvider) && role == ControlRole::ProgressBar) {
      *result = static_cast<IRangeValueProvider*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  // IRawElementProviderSimple
  HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* options) override {
    *options = ProviderOptions_ServerSideProvider;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown** result) override {
    *result = nullptr;
    if (pattern == UIA_InvokePatternId && Invokable()) {
      *result = static_cast<IInvokeProvider*>(this);
    } else if (pattern == UIA_TogglePatternId && role == ControlRole::CheckBox) {
      *result = static_cast<IToggleProvider*>(this);
    } else if (pattern == UIA_RangeValuePatternId && role == ControlRole::ProgressBar) {
      *result = static_cast<IRangeValueProvider*>(this);
    }
    if (*result != nullptr) AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* value) override {
    value->vt = VT_EMPTY;
    const std::optional<Control> element = Current();
    if (!element) return kUiaElementNotAvailable;
    switch (property) {
      case UIA_ControlTypePropertyId:
        Variant::Int(ControlTypeOf(element->role)).MoveTo(value);
        break;
      case UIA_NamePropertyId:
        return SetString(value, element->label);
      case UIA_IsEnabledPropertyId:
        // What shows is what answers a click, the gray install button too.
        Variant::Bool(true).MoveTo(value);
        break;
      case UIA_IsKeyboardFocusablePropertyId:
        Variant::Bool(element->takesFocus).MoveTo(value);
        break;
      case UIA_HasKeyboardFocusPropertyId:
        Variant::Bool(tree->HasKeyboardFocus(*element)).MoveTo(value);
        break;
      case UIA_ToggleToggleStatePropertyId:
        if (role == ControlRole::CheckBox) {
          Variant::Int(element->checked ? uia::kToggleOn : uia::kToggleOff).MoveTo(value);
        }
        break;
      case UIA_RangeValueValuePropertyId:
        if (role == ControlRole::ProgressBar) Variant::Double(element->value).MoveTo(value);
        break;
      case UIA_LiveSettingPropertyId:
        if (element->alert) Variant::Int(uia::kLiveAssertive).MoveTo(value);
        break;
      default:
        break;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  get_HostRawElementProvider(IRawElementProviderSimple** result) override {
    *result = nullptr;
    return S_OK;
  }

  // IRawElementProviderFragment
  HRESULT STDMETHODCALLTYPE Navigate(NavigateDirection direction,
                                     IRawElementProviderFragment** result) override {
    *result = nullptr;
    if (!Current()) return kUiaElementNotAvailable;
    int next = -1;
    if (direction == NavigateDirection_Parent) {
      const ComPtr<WindowProvider> root = tree->Root();
      if (!root) return kUiaElementNotAvailable;
      *result = static_cast<IRawElementProviderFragment*>(root.Get());
      (*result)->AddRef();
      return S_OK;
    }
    if (direction == NavigateDirection_NextSibling) next = tree->Sibling(Index(), +1);
    if (direction == NavigateDirection_PreviousSibling) next = tree->Sibling(Index(), -1);
    if (next < 0) return S_OK;
    ComPtr<ElementProvider> sibling = tree->Child(static_cast<std::size_t>(next));
    if (sibling) *result = static_cast<IRawElementProviderFragment*>(sibling.Release());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** result) override {
    return RuntimeId({kUiaAppendRuntimeId, static_cast<int>(generation), Index()}, result);
  }
  HRESULT STDMETHODCALLTYPE get_BoundingRectangle(UiaRect* rect) override {
    *rect = UiaRect{};
    const std::optional<Control> element = Current();
    if (!element) return kUiaElementNotAvailable;
    *rect = tree->ScreenRect(element->rect);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** result) override {
    *result = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetFocus() override {
    const std::optional<Control> element = Current();
    if (!element) return kUiaElementNotAvailable;
    if (!element->takesFocus) return S_OK;
    tree->Post(generation, index, AccessibleAction::Focus);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** result) override {
    *result = nullptr;
    const ComPtr<WindowProvider> root = tree->Root();
    if (!root) return kUiaElementNotAvailable;
    *result = static_cast<IRawElementProviderFragmentRoot*>(root.Get());
    (*result)->AddRef();
    return S_OK;
  }

  // IInvokeProvider and IToggleProvider: the control activated on the window thread, as a click
  // or a key would, after this call has returned (UI Automation's Invoke must not wait).
  HRESULT STDMETHODCALLTYPE Invoke() override { return Act(); }
  HRESULT STDMETHODCALLTYPE Toggle() override { return Act(); }
  HRESULT STDMETHODCALLTYPE get_ToggleState(int* state) override {
    const std::optional<Control> element = Current();
    if (!element) return kUiaElementNotAvailable;
    *state = element->checked ? uia::kToggleOn : uia::kToggleOff;
    return S_OK;
  }

  // IRangeValueProvider: 0-100, read only.
  HRESULT STDMETHODCALLTYPE SetValue(double) override { return kUiaElementNotEnabled; }
  HRESULT STDMETHODCALLTYPE get_Value(double* value) override {
    const std::optional<Control> element = Current();
    if (!element) return kUiaElementNotAvailable;
    *value = element->value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* readOnly) override {
    *readOnly = TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Maximum(double* value) override {
    *value = 100;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Minimum(double* value) override {
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_LargeChange(double* value) override {
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_SmallChange(double* value) override {
    *value = 0;
    return S_OK;
  }

 private:
  bool Invokable() const { return role == ControlRole::Button || role == ControlRole::Link; }
  int Index() const { return static_cast<int>(index); }
  std::optional<Control> Current() const { return tree->Element(generation, index); }
  HRESULT Act() {
    if (!Current()) return kUiaElementNotAvailable;
    tree->Post(generation, index, AccessibleAction::Invoke);
    return S_OK;
  }

  const std::shared_ptr<AccessibleTree> tree;
  const std::uint32_t generation;
  const std::size_t index;
  const ControlRole role;
};

HRESULT WindowProvider::ChildAsFragment(int index, IRawElementProviderFragment** result) {
  *result = nullptr;
  if (index < 0) return S_OK;
  ComPtr<ElementProvider> child = tree->Child(static_cast<std::size_t>(index));
  if (child) *result = static_cast<IRawElementProviderFragment*>(child.Release());
  return S_OK;
}

HRESULT WindowProvider::Navigate(NavigateDirection direction,
                                 IRawElementProviderFragment** result) {
  *result = nullptr;
  if (direction == NavigateDirection_FirstChild)
    return ChildAsFragment(tree->Sibling(-1, +1), result);
  if (direction == NavigateDirection_LastChild) {
    return ChildAsFragment(tree->Sibling(std::numeric_limits<int>::max(), -1), result);
  }
  return S_OK;  // the window has no parent or siblings among these
}

HRESULT WindowProvider::ElementProviderFromPoint(double x, double y,
                                                 IRawElementProviderFragment** result) {
  return ChildAsFragment(tree->ChildAt(x, y), result);
}

HRESULT WindowProvider::GetFocus(IRawElementProviderFragment** result) {
  return ChildAsFragment(tree->FocusedChild(), result);
}

namespace {

// The path field answers for itself: a native field, whose own window provider gives the rest.
class FieldProvider final : public IRawElementProviderSimple, private RefCounted {
 public:
  explicit FieldProvider(std::shared_ptr<const AccessibleTree> owner) : tree(std::move(owner)) {}

  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
    if (iid != __uuidof(IUnknown) && iid != __uuidof(IRawElementProviderSimple)) {
      *result = nullptr;
      return E_NOINTERFACE;
    }
    *result = static_cast<IRawElementProviderSimple*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* options) override {
    *options = ProviderOptions_ServerSideProvider;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID, IUnknown** result) override {
    *result = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* value) override {
    value->vt = VT_EMPTY;
    const std::optional<Control> element = tree->FieldElement();
    if (!element) return S_OK;  // not on screen: the host's answers stand
    switch (property) {
      case UIA_ControlTypePropertyId:
        Variant::Int(uia::kEdit).MoveTo(value);
        return S_OK;
      case UIA_NamePropertyId:
        return SetString(value, element->label);
      case UIA_HasKeyboardFocusPropertyId:
        Variant::Bool(tree->HasKeyboardFocus(*element)).MoveTo(value);
        return S_OK;
      default:
        return S_OK;
    }
  }
  HRESULT STDMETHODCALLTYPE
  get_HostRawElementProvider(IRawElementProviderSimple** result) override {
    return tree->Api().hostProviderFromHwnd(tree->Field(), result);
  }

 private:
  const std::shared_ptr<const AccessibleTree> tree;
};

}  // namespace

ComPtr<IRawElementProviderSimple> MakeFieldProvider(std::shared_ptr<const AccessibleTree> tree) {
  ComPtr<IRawElementProviderSimple> provider;
  provider.Reset(new FieldProvider(std::move(tree)));
  return provider;
}

AccessibleTree::AccessibleTree(const UiaApi& uiaApi, HWND windowHandle, HWND fieldHandle,
                               std::wstring windowTitle)
    : api(uiaApi), window(windowHandle), field(fieldHandle), title(std::move(windowTitle)) {}

AccessibleTree::~AccessibleTree() = default;

namespace {

template <typename T>
ComPtr<IRawElementProviderSimple> Simple(ComPtr<T> provider) {
  ComPtr<IRawElementProviderSimple> simple;
  if (provider) simple.Reset(static_cast<IRawElementProviderSimple*>(provider.Release()));
  return simple;
}

}  // namespace

void AccessibleTree::Replace(State next, bool newStructure) {
  std::lock_guard lock(mutex);
  state = std::move(next);
  if (newStructure) {
    ++generation;
    for (ComPtr<ElementProvider>& child : children) {
      if (child) retired.push_back(std::move(child));
    }
    children.clear();
  }
  children.resize(state.controls.size());
}

std::vector<ComPtr<IRawElementProviderSimple>> AccessibleTree::Close() {
  std::vector<ComPtr<IRawElementProviderSimple>> gone;
  std::lock_guard lock(mutex);
  open = false;
  if (root) gone.push_back(Simple(std::move(root)));
  for (auto* list : {&children, &retired}) {
    for (ComPtr<ElementProvider>& provider : *list) {
      if (provider) gone.push_back(Simple(std::move(provider)));
    }
    list->clear();
  }
  return gone;
}

ComPtr<IRawElementProviderSimple> AccessibleTree::RootProvider() { return Simple(Root()); }

ComPtr<IRawElementProviderSimple> AccessibleTree::ChildProvider(std::size_t index) {
  return Simple(Child(index));
}

ComPtr<WindowProvider> AccessibleTree::Root() {
  std::lock_guard lock(mutex);
  if (!open) return {};
  if (!root) root.Reset(new WindowProvider(shared_from_this()));
  root->AddRef();
  ComPtr<WindowProvider> copy;
  copy.Reset(root.Get());
  return copy;
}

ComPtr<ElementProvider> AccessibleTree::Child(std::size_t index) {
  std::lock_guard lock(mutex);
  if (!open || !IsChild(index)) return {};
  ComPtr<ElementProvider>& child = children[index];
  if (!child) {
    child.Reset(
        new ElementProvider(shared_from_this(), generation, index, state.controls[index].role));
  }
  child->AddRef();
  ComPtr<ElementProvider> copy;
  copy.Reset(child.Get());
  return copy;
}

bool AccessibleTree::IsChild(std::size_t index) const {
  return index < state.controls.size() && state.controls[index].announced &&
         state.controls[index].role != ControlRole::Edit;
}

std::optional<Control> AccessibleTree::Element(std::uint32_t of, std::size_t index) const {
  std::lock_guard lock(mutex);
  if (!open || of != generation || index >= state.controls.size()) return std::nullopt;
  return state.controls[index];
}

std::optional<Control> AccessibleTree::FieldElement() const {
  std::lock_guard lock(mutex);
  if (!open) return std::nullopt;
  for (const Control& control : state.controls) {
    if (control.role == ControlRole::Edit) return control;
  }
  return std::nullopt;
}

int AccessibleTree::Sibling(int index, int step) const {
  std::lock_guard lock(mutex);
  if (!open) return -1;
  const int count = static_cast<int>(state.controls.size());
  for (int i = std::clamp(index, -1, count) + step; i >= 0 && i < count; i += step) {
    if (IsChild(static_cast<std::size_t>(i))) return i;
  }
  return -1;
}

int AccessibleTree::ChildAt(double x, double y) const {
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  std::lock_guard lock(mutex);
  if (!open) return -1;
  // In design units: the child a click there reaches, else the text or bar drawn there.
  const auto designX = static_cast<float>((x - origin.x) / state.scale);
  const auto designY = static_cast<float>((y - origin.y) / state.scale);
  const std::optional<ControlId> hit =
      HitTest(ControlList{state.controls, std::nullopt}, designX, designY, {});
  int drawn = -1;
  for (std::size_t i = 0; i < state.controls.size(); ++i) {
    const Control& control = state.controls[i];
    if (!IsChild(i)) continue;
    if (hit == control.id) return static_cast<int>(i);
    if (drawn < 0 && control.rect.Contains(designX, designY)) drawn = static_cast<int>(i);
  }
  return drawn;
}

int AccessibleTree::FocusedChild() const {
  std::lock_guard lock(mutex);
  for (std::size_t i = 0; i < state.controls.size(); ++i) {
    const Control& control = state.controls[i];
    if (control.takesFocus && control.id == state.focus && IsChild(i)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool AccessibleTree::HasKeyboardFocus(const Control& control) const {
  std::optional<ControlId> focus;
  {
    std::lock_guard lock(mutex);
    focus = state.focus;
  }
  if (!control.takesFocus || control.id != focus) return false;
  // The window thread's focus, asked from any thread.
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return false;
  return info.hwndFocus == (control.role == ControlRole::Edit ? field : window);
}

UiaRect AccessibleTree::ScreenRect(const DesignRect& rect) const {
  float scale = 1;
  {
    std::lock_guard lock(mutex);
    scale = state.scale;
  }
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  return UiaRect{origin.x + rect.left * scale, origin.y + rect.top * scale,
                 (rect.right - rect.left) * scale, (rect.bottom - rect.top) * scale};
}

std::uint32_t AccessibleTree::Generation() const {
  std::lock_guard lock(mutex);
  return generation;
}

void AccessibleTree::Post(std::uint32_t of, std::size_t index, AccessibleAction action) const {
  PostMessageW(window, WM_INSTALLER_ACCESSIBLE_ACTION,
               MAKEWPARAM(static_cast<WORD>(index), static_cast<WORD>(action)),
               static_cast<LPARAM>(of));
}

}  // namespace lum::installer
