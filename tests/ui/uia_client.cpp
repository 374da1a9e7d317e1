// A screen reader's view of the bootstrapper window, from another process through UI
// Automation's flat client API (what Wine 8 implements of it: nodes, navigation, properties):
//   uia_client.exe [COUNT INTERVAL_MS]
//   uia_client.exe stop
// prints the tree COUNT times (once by default), INTERVAL_MS apart, as UTF-8 lines:
//   window ct=50032 name=...                        the window's own element
//   child ct=50000 enabled=1 focus=0 name=...       each of its children, in order
//   field ct=50004 focus=1 name=...                 the path field's window, while shown
//   end
// A property the element does not give prints as "-". Exit code 2: no window or no UI Automation.
// "stop" is a screen reader that stops answering in the middle of a walk: it prints the window
// and its first child, then "stopped", and waits for ever holding both (the driver then stops
// the whole process).
#include <windows.h>
#include <oleauto.h>
#include <uiautomationclient.h>
#include <uiautomationcore.h>

#include <bit>
#include <string>

#include "base/text.h"

namespace {

using HUIANODE = void*;
struct UiaCondition {
  int type;  // ConditionType_True = 0
};
struct UiaCacheRequest {
  UiaCondition* viewCondition;
  int scope;  // TreeScope_Element = 1
  PROPERTYID* properties;
  int propertyCount;
  PATTERNID* patterns;
  int patternCount;
  int mode;  // AutomationElementMode_Full = 1
};

struct Api {
  HRESULT(WINAPI* nodeFromHandle)(HWND, HUIANODE*);
  HRESULT(WINAPI* navigate)
  (HUIANODE, NavigateDirection, UiaCondition*, UiaCacheRequest*, SAFEARRAY**, BSTR*);
  HRESULT(WINAPI* getPropertyValue)(HUIANODE, PROPERTYID, VARIANT*);
  HRESULT(WINAPI* nodeFromVariant)(VARIANT*, HUIANODE*);
  BOOL(WINAPI* nodeRelease)(HUIANODE);
};

template <typename F>
bool Find(HMODULE module, const char* name, F& function) {
  function = std::bit_cast<F>(GetProcAddress(module, name));
  return function != nullptr;
}

void Print(const std::wstring& line) {
  const std::string utf8 = lum::installer::WideToUtf8(line + L"\n");
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written,
            nullptr);
}

std::wstring Property(const Api& api, HUIANODE node, PROPERTYID property) {
  VARIANT value;
  VariantInit(&value);
  if (FAILED(api.getPropertyValue(node, property, &value))) return L"-";
  std::wstring text = L"-";
  if (value.vt == VT_BSTR && value.bstrVal != nullptr) text = value.bstrVal;
  if (value.vt == VT_I4) text = std::to_wstring(value.lVal);
  if (value.vt == VT_BOOL) text = value.boolVal ? L"1" : L"0";
  VariantClear(&value);
  return text;
}

HUIANODE Navigate(const Api& api, HUIANODE node, NavigateDirection direction) {
  UiaCondition always{0};
  UiaCacheRequest request{&always, 1, nullptr, 0, nullptr, 0, 1};
  SAFEARRAY* data = nullptr;
  BSTR structure = nullptr;
  HUIANODE found = nullptr;
  if (SUCCEEDED(api.navigate(node, direction, &always, &request, &data, &structure)) && data) {
    LONG index[2] = {0, 0};
    VARIANT value;
    VariantInit(&value);
    if (SUCCEEDED(SafeArrayGetElement(data, index, &value))) api.nodeFromVariant(&value, &found);
    VariantClear(&value);
  }
  if (data != nullptr) SafeArrayDestroy(data);
  SysFreeString(structure);
  return found;
}

void PrintTree(const Api& api, HWND window, bool stop) {
  HUIANODE root = nullptr;
  if (FAILED(api.nodeFromHandle(window, &root)) || root == nullptr) {
    Print(L"window none");
  } else {
    Print(L"window ct=" + Property(api, root, UIA_ControlTypePropertyId) + L" name=" +
          Property(api, root, UIA_NamePropertyId));
    for (HUIANODE child = Navigate(api, root, NavigateDirection_FirstChild); child != nullptr;) {
      Print(L"child ct=" + Property(api, child, UIA_ControlTypePropertyId) + L" enabled=" +
            Property(api, child, UIA_IsEnabledPropertyId) + L" focus=" +
            Property(api, child, UIA_HasKeyboardFocusPropertyId) + L" name=" +
            Property(api, child, UIA_NamePropertyId));
      if (stop) {
        Print(L"stopped");
        Sleep(INFINITE);
      }
      HUIANODE next = Navigate(api, child, NavigateDirection_NextSibling);
      api.nodeRelease(child);
      child = next;
    }
    api.nodeRelease(root);
  }
  HWND field = FindWindowExW(window, nullptr, L"Edit", nullptr);
  HUIANODE node = nullptr;
  if (field != nullptr && IsWindowVisible(field) && SUCCEEDED(api.nodeFromHandle(field, &node)) &&
      node != nullptr) {
    Print(L"field ct=" + Property(api, node, UIA_ControlTypePropertyId) + L" focus=" +
          Property(api, node, UIA_HasKeyboardFocusPropertyId) + L" name=" +
          Property(api, node, UIA_NamePropertyId));
    api.nodeRelease(node);
  }
  Print(L"end");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool stop = argc > 1 && std::wstring(argv[1]) == L"stop";
  const int count = argc > 1 && !stop ? _wtoi(argv[1]) : 1;
  const int interval = argc > 2 ? _wtoi(argv[2]) : 0;
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  Api api{};
  const HMODULE module = LoadLibraryW(L"uiautomationcore.dll");
  if (module == nullptr || !Find(module, "UiaNodeFromHandle", api.nodeFromHandle) ||
      !Find(module, "UiaNavigate", api.navigate) ||
      !Find(module, "UiaGetPropertyValue", api.getPropertyValue) ||
      !Find(module, "UiaHUiaNodeFromVariant", api.nodeFromVariant) ||
      !Find(module, "UiaNodeRelease", api.nodeRelease)) {
    return 2;
  }
  HWND window = FindWindowW(L"LUMWebBootstrapperWindow", nullptr);
  if (window == nullptr) return 2;
  for (int i = 0; i < count; ++i) {
    if (i > 0) Sleep(static_cast<DWORD>(interval));
    PrintTree(api, window, stop);
  }
  return 0;
}
