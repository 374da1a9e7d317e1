// The parts of UI Automation's provider side that MinGW's headers leave out: the pattern
// interfaces the window implements, the control-type and event identifiers, and the flat API of
// uiautomationcore.dll, which has no import library here and is looked up by name.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <uiautomationclient.h>
#include <uiautomationcore.h>

namespace lum::installer {

inline constexpr LONG kUiaRootObjectId = -25;
inline constexpr int kUiaAppendRuntimeId = 3;
inline constexpr HRESULT kUiaElementNotAvailable = static_cast<HRESULT>(0x80040201);
inline constexpr HRESULT kUiaElementNotEnabled = static_cast<HRESULT>(0x80040200);

namespace uia {

inline constexpr CONTROLTYPEID kButton = 50000;
inline constexpr CONTROLTYPEID kCheckBox = 50002;
inline constexpr CONTROLTYPEID kEdit = 50004;
inline constexpr CONTROLTYPEID kHyperlink = 50005;
inline constexpr CONTROLTYPEID kProgressBar = 50012;
inline constexpr CONTROLTYPEID kText = 50020;
inline constexpr CONTROLTYPEID kWindow = 50032;

inline constexpr EVENTID kStructureChangedEvent = 20002;
inline constexpr EVENTID kFocusChangedEvent = 20005;
inline constexpr EVENTID kLiveRegionChangedEvent = 20024;

inline constexpr int kChildrenInvalidated = 2;  // StructureChangeType
inline constexpr int kNotificationOther = 4;    // NotificationKind
inline constexpr int kImportantMostRecent = 1;  // NotificationProcessing
inline constexpr int kLiveAssertive = 2;        // LiveSetting
inline constexpr int kToggleOff = 0;            // ToggleState
inline constexpr int kToggleOn = 1;

}  // namespace uia

MIDL_INTERFACE("54fcb24b-e18e-47a2-b4d3-eccbe77599a2")
IInvokeProvider : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};

MIDL_INTERFACE("56d00bd0-c4f4-433c-a836-1a52a57e0892")
IToggleProvider : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE Toggle() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ToggleState(int* state) = 0;
};

MIDL_INTERFACE("36dc7aef-33e6-4691-afe1-2be7274b3d33")
IRangeValueProvider : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE SetValue(double value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Value(double* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL * readOnly) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Maximum(double* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Minimum(double* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_LargeChange(double* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SmallChange(double* value) = 0;
};

// uiautomationcore.dll's functions, loaded from System32 on first use; a missing one is null
// (Wine 8 has no UiaRaiseNotificationEvent, for one).
struct UiaApi {
  LRESULT(WINAPI* returnRawElementProvider)
  (HWND, WPARAM, LPARAM, IRawElementProviderSimple*) = nullptr;
  HRESULT(WINAPI* hostProviderFromHwnd)(HWND, IRawElementProviderSimple**) = nullptr;
  HRESULT(WINAPI* raiseAutomationEvent)(IRawElementProviderSimple*, EVENTID) = nullptr;
  HRESULT(WINAPI* raisePropertyChangedEvent)
  (IRawElementProviderSimple*, PROPERTYID, VARIANT, VARIANT) = nullptr;
  HRESULT(WINAPI* raiseStructureChangedEvent)
  (IRawElementProviderSimple*, int, int*, int) = nullptr;
  HRESULT(WINAPI* raiseNotificationEvent)
  (IRawElementProviderSimple*, int, int, BSTR, BSTR) = nullptr;
  HRESULT(WINAPI* disconnectProvider)(IRawElementProviderSimple*) = nullptr;
  // Wine's, whose faults the server works around where Windows behaves the same either way.
  bool wine = false;
};

// Null when the DLL or its two entry points a server cannot do without are missing.
const UiaApi* LoadUiaApi();
// Where a window gets the API from: LoadUiaApi, or a test's recorder of the events.
using UiaApiSource = const UiaApi* (*)();

}  // namespace lum::installer

#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(lum::installer::IInvokeProvider, 0x54fcb24b, 0xe18e, 0x47a2, 0xb4, 0xd3, 0xec, 0xcb,
                0xe7, 0x75, 0x99, 0xa2)
__CRT_UUID_DECL(lum::installer::IToggleProvider, 0x56d00bd0, 0xc4f4, 0x433c, 0xa8, 0x36, 0x1a, 0x52,
                0xa5, 0x7e, 0x08, 0x92)
__CRT_UUID_DECL(lum::installer::IRangeValueProvider, 0x36dc7aef, 0x33e6, 0x4691, 0xaf, 0xe1, 0x2b,
                0xe7, 0x27, 0x4b, 0x3d, 0x33)
#endif
