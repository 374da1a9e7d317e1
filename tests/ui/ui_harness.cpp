// The bootstrapper's window with its real controller, driven by a command file instead of the
// install workflow. The workflow cannot be made to stop at a given stage or ask a given question
// in the test bed, so this is the seam: a thread publishes statuses through the controller
// (exactly as the worker does) and sends the worker's confirmation message to the window.
//
//   ui_harness.exe COMMAND_FILE ANSWER_FILE
// Command lines, read as they are appended (UTF-8):
//   status STAGE PROGRESS CODE|- MESSAGE...   publish a status
//   confirm KIND                              ask a question; "answer KIND 0|1" goes to ANSWER_FILE
//   dpi DPI                                   the system's message for a move to a monitor with
//                                             that DPI, with the rectangle it would suggest
//   contrast 0|1                              high contrast off or on, and the system's message
//                                             that it changed
//   identity system|real                      who the window takes itself to run as against the
//                                             desktop's user: SYSTEM, or what the check finds;
//                                             "identity WHO" goes to ANSWER_FILE once taken
//   uia dump FILE                             the window's UI Automation children, through the
//                                             providers' own interfaces (as a screen reader in
//                                             this process sees them), one line each:
//                                             "ct=50000 name=... focus=0 rect=L,T,W,H invoke=1
//                                             toggle=- range=-" (toggle 0|1, range
//                                             VALUE/MIN/MAX/READONLY)
//   uia invoke|toggle|focus NAME              that pattern call on the child named NAME
//   uia events FILE                           the UI Automation events raised since the last
//                                             such command, one line each:
//                                             "event ID NAME", "property ID NAME VALUE",
//                                             "structure TYPE", "notification TEXT"
//   uia stick                                 from now on no UI Automation function the window
//                                             calls returns, as when UI Automation is stuck on a
//                                             client that stopped answering (Wine 8's COM stalls
//                                             so only now and then, when it likes)
//
// No client sees UI Automation's events under Wine 8 (and raising a structure change there is a
// stub that ends the process), so the harness's window raises them through a recorder, which
// notes each one and passes it on to what the system has.
//
// Under Wine every process runs as the desktop's user, so a window of SYSTEM (which must not offer
// the folder picker) is the identity command's.
//
// Wine 8 cannot turn high contrast on (SPI_SETHIGHCONTRAST is a stub and SPI_GETHIGHCONTRAST
// always reads off), so the harness's window reads the setting through a query the contrast
// command sets; the system colours it then draws with are the prefix's own.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/text.h"
#include "ui/main_window.h"
#include "ui/accessibility/uia_api.h"

namespace lum::installer {
namespace {

std::atomic<bool> highContrastOn{false};
std::atomic<bool> asSystem{false};
std::atomic<bool> uiaStuck{false};

// A UI Automation function that can reach a client: it never returns once UI Automation is stuck.
void ReachClient() {
  if (uiaStuck.load()) Sleep(INFINITE);
}

std::mutex eventsMutex;
std::vector<std::wstring> events;
const UiaApi* systemUia = nullptr;

std::wstring VariantText(const VARIANT& value) {
  if (value.vt == VT_BSTR && value.bstrVal != nullptr) return value.bstrVal;
  if (value.vt == VT_I4) return std::to_wstring(value.lVal);
  if (value.vt == VT_R8) return std::to_wstring(static_cast<int>(value.dblVal));
  return L"-";
}

std::wstring NameOf(IRawElementProviderSimple* element) {
  VARIANT name;
  VariantInit(&name);
  element->GetPropertyValue(UIA_NamePropertyId, &name);
  std::wstring text = VariantText(name);
  VariantClear(&name);
  return text;
}

void Note(std::wstring line) {
  std::lock_guard lock(eventsMutex);
  events.push_back(std::move(line));
}

HRESULT WINAPI RecordEvent(IRawElementProviderSimple* element, EVENTID id) {
  ReachClient();
  Note(L"event " + std::to_wstring(id) + L" " + NameOf(element));
  const auto raise = systemUia->raiseAutomationEvent;
  return raise != nullptr ? raise(element, id) : S_OK;
}

HRESULT WINAPI RecordProperty(IRawElementProviderSimple* element, PROPERTYID id, VARIANT before,
                              VARIANT after) {
  ReachClient();
  Note(L"property " + std::to_wstring(id) + L" " + NameOf(element) + L" " + VariantText(after));
  const auto raise = systemUia->raisePropertyChangedEvent;
  return raise != nullptr ? raise(element, id, before, after) : S_OK;
}

HRESULT WINAPI RecordStructure(IRawElementProviderSimple* element, int type, int* id, int length) {
  ReachClient();
  Note(L"structure " + std::to_wstring(type));
  const auto raise = systemUia->raiseStructureChangedEvent;
  return raise != nullptr ? raise(element, type, id, length) : S_OK;
}

HRESULT WINAPI RecordNotification(IRawElementProviderSimple* element, int kind, int processing,
                                  BSTR text, BSTR activity) {
  ReachClient();
  Note(L"notification " + std::wstring(text != nullptr ? text : L""));
  const auto raise = systemUia->raiseNotificationEvent;
  return raise != nullptr ? raise(element, kind, processing, text, activity) : S_OK;
}

// Answering a client, or letting go of what UI Automation keeps for a window that goes.
LRESULT WINAPI ReturnProvider(HWND window, WPARAM wParam, LPARAM lParam,
                              IRawElementProviderSimple* provider) {
  ReachClient();
  return systemUia->returnRawElementProvider(window, wParam, lParam, provider);
}

HRESULT WINAPI HostProvider(HWND window, IRawElementProviderSimple** provider) {
  ReachClient();
  return systemUia->hostProviderFromHwnd(window, provider);
}

HRESULT WINAPI Disconnect(IRawElementProviderSimple* provider) {
  ReachClient();
  return systemUia->disconnectProvider != nullptr ? systemUia->disconnectProvider(provider) : S_OK;
}

const UiaApi* HarnessUia() {
  static const UiaApi recorder = [] {
    systemUia = LoadUiaApi();
    UiaApi api = systemUia != nullptr ? *systemUia : UiaApi{};
    api.raiseAutomationEvent = &RecordEvent;
    api.raisePropertyChangedEvent = &RecordProperty;
    api.raiseStructureChangedEvent = &RecordStructure;
    api.raiseNotificationEvent = &RecordNotification;
    api.returnRawElementProvider = &ReturnProvider;
    api.hostProviderFromHwnd = &HostProvider;
    api.disconnectProvider = &Disconnect;
    return api;
  }();
  return systemUia != nullptr ? &recorder : nullptr;
}

bool HarnessHighContrast() { return highContrastOn.load() || SystemHighContrast(); }

DesktopIdentity HarnessIdentity() {
  return asSystem.load() ? DesktopIdentity::LocalSystem : CheckDesktopIdentity();
}

// Commands are written by the driver; a line that is not UTF-8 shows as no text.
std::wstring FromUtf8(const std::string& text) {
  std::wstring wide;
  if (!DecodeUtf8(text, wide)) wide.clear();
  return wide;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  // Only complete lines: the driver may be in the middle of writing the next one.
  while (std::getline(in, line)) {
    if (in.eof()) break;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::wstring Number(double value) {
  std::wstring text = std::to_wstring(value);
  text.erase(text.find_last_not_of(L'0') + 1);
  if (!text.empty() && text.back() == L'.') text.pop_back();
  return text;
}

std::wstring Describe(IRawElementProviderSimple* element) {
  std::wstring line;
  VARIANT value;
  VariantInit(&value);
  element->GetPropertyValue(UIA_ControlTypePropertyId, &value);
  line += L"ct=" + std::to_wstring(value.vt == VT_I4 ? value.lVal : 0);
  VariantClear(&value);
  element->GetPropertyValue(UIA_NamePropertyId, &value);
  line += L" name=" + std::wstring(value.vt == VT_BSTR ? value.bstrVal : L"");
  VariantClear(&value);
  element->GetPropertyValue(UIA_HasKeyboardFocusPropertyId, &value);
  line += std::wstring(L" focus=") + (value.vt == VT_BOOL && value.boolVal ? L"1" : L"0");
  VariantClear(&value);
  ComPtr<IRawElementProviderFragment> fragment;
  UiaRect rect{};
  if (SUCCEEDED(
          element->QueryInterface(__uuidof(IRawElementProviderFragment), fragment.PutVoid()))) {
    fragment->get_BoundingRectangle(&rect);
  }
  line += L" rect=" + Number(rect.left) + L"," + Number(rect.top) + L"," + Number(rect.width) +
          L"," + Number(rect.height);
  ComPtr<IUnknown> pattern;
  element->GetPatternProvider(UIA_InvokePatternId, pattern.Put());
  line += std::wstring(L" invoke=") + (pattern ? L"1" : L"0");
  element->GetPatternProvider(UIA_TogglePatternId, pattern.Put());
  ComPtr<IToggleProvider> toggle;
  int state = -1;
  if (pattern && SUCCEEDED(pattern.As(toggle))) toggle->get_ToggleState(&state);
  line += L" toggle=" + (state < 0 ? std::wstring(L"-") : std::to_wstring(state));
  element->GetPatternProvider(UIA_RangeValuePatternId, pattern.Put());
  ComPtr<IRangeValueProvider> range;
  line += L" range=";
  if (pattern && SUCCEEDED(pattern.As(range))) {
    double current = -1, minimum = -1, maximum = -1;
    BOOL readOnly = FALSE;
    range->get_Value(&current);
    range->get_Minimum(&minimum);
    range->get_Maximum(&maximum);
    range->get_IsReadOnly(&readOnly);
    line += Number(current) + L"/" + Number(minimum) + L"/" + Number(maximum) + L"/" +
            (readOnly ? L"1" : L"0");
  } else {
    line += L"-";
  }
  return line;
}

// The providers answer on this thread as they would on UI Automation's own.
void ExecuteUia(std::istringstream& words, MainWindow& window) {
  std::string verb;
  words >> verb;
  std::string argument;
  std::getline(words >> std::ws, argument);
  if (verb == "stick") {
    uiaStuck.store(true);
    return;
  }
  // The question a client's first look asks; it makes the providers. Asked once: the answer
  // is left untaken.
  static bool asked = false;
  if (!std::exchange(asked, true)) {
    SendMessageW(window.Handle(), WM_GETOBJECT, 0, static_cast<LPARAM>(kUiaRootObjectId));
  }
  AccessibilityServer* server = window.Accessibility();
  if (server == nullptr) return;
  const std::vector<ComPtr<IRawElementProviderSimple>> children = server->Children();
  if (verb == "events") {
    server->WaitForEvents(10000);  // raised by the server's own thread
    std::wstring text;
    {
      std::lock_guard lock(eventsMutex);
      for (const std::wstring& event : events) text += event + L"\n";
      events.clear();
    }
    std::ofstream out(std::filesystem::path(FromUtf8(argument)), std::ios::binary);
    out << WideToUtf8(text);
    return;
  }
  if (verb == "dump") {
    std::wstring text;
    for (const auto& child : children) text += Describe(child.Get()) + L"\n";
    std::ofstream out(std::filesystem::path(FromUtf8(argument)), std::ios::binary);
    out << WideToUtf8(text);
    return;
  }
  for (const auto& child : children) {
    VARIANT name;
    VariantInit(&name);
    child->GetPropertyValue(UIA_NamePropertyId, &name);
    const bool match = name.vt == VT_BSTR && FromUtf8(argument) == name.bstrVal;
    VariantClear(&name);
    if (!match) continue;
    ComPtr<IUnknown> pattern;
    if (verb == "invoke") {
      child->GetPatternProvider(UIA_InvokePatternId, pattern.Put());
      ComPtr<IInvokeProvider> invoke;
      if (pattern && SUCCEEDED(pattern.As(invoke))) invoke->Invoke();
    } else if (verb == "toggle") {
      child->GetPatternProvider(UIA_TogglePatternId, pattern.Put());
      ComPtr<IToggleProvider> toggle;
      if (pattern && SUCCEEDED(pattern.As(toggle))) toggle->Toggle();
    } else if (verb == "focus") {
      ComPtr<IRawElementProviderFragment> fragment;
      if (SUCCEEDED(child.As(fragment))) fragment->SetFocus();
    }
    return;
  }
}

void Execute(const std::string& line, MainWindow& window, const std::wstring& answerFile) {
  std::istringstream words(line);
  std::string verb;
  words >> verb;
  if (verb == "status") {
    int stage = 0;
    int progress = 0;
    std::string code;
    words >> stage >> progress >> code;
    std::string message;
    std::getline(words >> std::ws, message);
    window.Controller()->PublishStatus(static_cast<InstallStage>(stage), progress,
                                       FromUtf8(message), code == "-" ? L"" : FromUtf8(code));
  } else if (verb == "confirm") {
    int kind = 0;
    words >> kind;
    ConfirmationRequest request{static_cast<ConfirmationKind>(kind), false};
    SendMessageW(window.Handle(), WM_INSTALLER_CONFIRM, 0, reinterpret_cast<LPARAM>(&request));
    std::ofstream out(std::filesystem::path(answerFile), std::ios::binary | std::ios::app);
    out << "answer " << kind << ' ' << (request.answer ? 1 : 0) << '\n';
  } else if (verb == "contrast") {
    int on = 0;
    words >> on;
    highContrastOn.store(on != 0);
    SendMessageW(window.Handle(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
  } else if (verb == "identity") {
    std::string who;
    words >> who;
    asSystem.store(who == "system");
    std::ofstream out(std::filesystem::path(answerFile), std::ios::binary | std::ios::app);
    out << "identity " << who << '\n';  // taken: the driver may click now
  } else if (verb == "uia") {
    ExecuteUia(words, window);
  } else if (verb == "dpi") {
    int dpi = 96;
    words >> dpi;
    RECT frame{};
    GetWindowRect(window.Handle(), &frame);
    RECT suggested{frame.left, frame.top, frame.left + dpi * 600 / 96, frame.top + dpi * 400 / 96};
    SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
  }
}

}  // namespace
}  // namespace lum::installer

int wmain(int argc, wchar_t** argv) {
  using namespace lum::installer;
  if (argc < 3) return 64;
  const std::wstring commandFile = argv[1];
  const std::wstring answerFile = argv[2];
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  int exitCode = 3;
  {
    MainWindow window(GetModuleHandleW(nullptr), std::make_unique<ShellTaskbarProgress>(),
                      &HarnessHighContrast, &HarnessUia, &HarnessIdentity);
    if (window.Create()) {
      std::atomic<bool> stop{false};
      std::thread driver([&] {
        std::size_t done = 0;
        while (!stop.load()) {
          const std::vector<std::string> lines = ReadLines(commandFile);
          for (; done < lines.size(); ++done) Execute(lines[done], window, answerFile);
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
      });
      MSG message{};
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      exitCode = static_cast<int>(message.wParam);
      stop.store(true);
      driver.join();
    }
  }
  CoUninitialize();
  return exitCode;
}
