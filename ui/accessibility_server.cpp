#include "ui/accessibility_server.h"

#include <oleauto.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "base/module.h"

namespace lum::installer {
namespace {

// UI Automation's runtime id of a window: this base, then the handle.
constexpr int kHwndRuntimeIdBase = 42;
// WM_GETOBJECT's targets, and the answers kept ready for each under Wine.
constexpr int kWindowTarget = 0;
constexpr int kFieldTarget = 1;
constexpr std::size_t kReadyAnswers = 3;
// The first answer is waited for (see Answer); the service thread makes it in milliseconds.
constexpr DWORD kFirstAnswerWaitMs = 5000;

// A VARIANT that frees what it holds.
struct Variant {
  VARIANT value{};
  Variant() { VariantInit(&value); }
  explicit Variant(const std::wstring& text) : Variant() {
    value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (value.bstrVal != nullptr) value.vt = VT_BSTR;
  }
  explicit Variant(double number) : Variant() {
    value.vt = VT_R8;
    value.dblVal = number;
  }
  explicit Variant(int number) : Variant() {
    value.vt = VT_I4;
    value.lVal = number;
  }
  Variant(Variant&& other) noexcept : value(other.value) { VariantInit(&other.value); }
  ~Variant() { VariantClear(&value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  Variant& operator=(Variant&&) = delete;
};

int ToggleStateOf(const AccessibleElement& element) {
  return element.checked ? uia::kToggleOn : uia::kToggleOff;
}

// One event for the service thread to raise.
struct UiaEvent {
  enum class Kind { Automation, Property, Structure, Notification } kind = Kind::Automation;
  ComPtr<IRawElementProviderSimple> provider;
  int id = 0;  // the event, the property, or the kind of structure change
  Variant before;
  Variant after;
  std::wstring text;
  std::array<int, 2> runtimeId{};
};

void Deliver(const UiaApi& api, UiaEvent& event) {
  IRawElementProviderSimple* provider = event.provider.Get();
  switch (event.kind) {
    case UiaEvent::Kind::Automation:
      api.raiseAutomationEvent(provider, event.id);
      return;
    case UiaEvent::Kind::Property:
      api.raisePropertyChangedEvent(provider, event.id, event.before.value, event.after.value);
      return;
    case UiaEvent::Kind::Structure:
      api.raiseStructureChangedEvent(provider, event.id, event.runtimeId.data(),
                                     static_cast<int>(event.runtimeId.size()));
      return;
    case UiaEvent::Kind::Notification: {
      BSTR text = SysAllocStringLen(event.text.data(), static_cast<UINT>(event.text.size()));
      BSTR activity = SysAllocString(L"InstallationFailed");
      api.raiseNotificationEvent(provider, uia::kNotificationOther, uia::kImportantMostRecent, text,
                                 activity);
      SysFreeString(text);
      SysFreeString(activity);
      return;
    }
  }
}

// Wine 8's COM gives up an interface's RPC registration when the last stub of that interface in
// the process goes (a client releasing the last node or provider it held), and waits there for
// the calls of the interface still under way, holding the lock that every marshal of the process
// takes. A call that has sent its reply but not yet left rpcrt4 is never seen to end, so now and
// then that wait never returns: the client that released, every later call that hands out a node
// and, through Wine's provider thread, every later WM_GETOBJECT stall for good. A stub of each
// interface that Wine's UI Automation serves clients through, held for the life of the process,
// keeps that registration, so the wait never starts. The stubs are of an object that no client
// can reach: nothing else in this process knows where they are. Windows has no such interfaces.
class InterfaceAnchor final : public IUnknown {
 public:
  explicit InterfaceAnchor(const IID& stoodFor) : iid(stoodFor) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** result) override {
    if (asked != __uuidof(IUnknown) && asked != iid) {
      *result = nullptr;
      return E_NOINTERFACE;
    }
    *result = this;
    return S_OK;
  }
  // Lives as long as the process.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

 private:
  const IID iid;
};

void AnchorWineUiaInterfaces() {
  // IWineUiaNode and IWineUiaProvider; where a Wine has neither, marshalling fails and nothing
  // is held.
  static const IID kInterfaces[] = {
      {0xbccb6799, 0xd831, 0x4057, {0xbd, 0x50, 0x64, 0x25, 0x82, 0x3f, 0xf1, 0xa3}},
      {0x57865755, 0x6c05, 0x4522, {0x98, 0xdf, 0x4c, 0xa6, 0x58, 0xb7, 0x68, 0xef}},
  };
  static std::once_flag once;
  std::call_once(once, [] {
    for (const IID& iid : kInterfaces) {
      IStream* stream = nullptr;  // kept, with the stub it holds, until the process ends
      if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) continue;
      if (FAILED(CoMarshalInterface(stream, iid, new InterfaceAnchor(iid), MSHCTX_LOCAL, nullptr,
                                    MSHLFLAGS_TABLESTRONG))) {
        stream->Release();
      }
    }
  });
}

}  // namespace

// The thread that makes the UI Automation calls that can reach a client, in the order the
// window thread hands them over; the window thread never waits for it.
class UiaService : public std::enable_shared_from_this<UiaService> {
 public:
  explicit UiaService(const UiaApi& uiaApi)
      : api(uiaApi), answered(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

  // Starts the thread. Under Wine it also keeps answers to WM_GETOBJECT ready for the window's
  // and the field's providers (field may be null).
  void Start(ComPtr<IRawElementProviderSimple> windowProvider, HWND window,
             ComPtr<IRawElementProviderSimple> fieldProvider, HWND field) {
    if (api.wine) {
      answers[kWindowTarget] = Answers{window, std::move(windowProvider)};
      answers[kFieldTarget] = Answers{field, std::move(fieldProvider)};
    }
    try {
      std::thread([self = shared_from_this()] { self->Run(); }).detach();
      started = true;
    } catch (const std::system_error&) {
      // No thread: no events, no answers under Wine; the window goes on without them.
    }
  }

  void Raise(UiaEvent event) {
    if (!started) return;
    std::lock_guard lock(mutex);
    if (closing) return;
    events.push_back(std::move(event));
    ++queued;
    wake.notify_one();
  }

  // An answer made ready for target, waiting up to waitMs for one; none when there is none.
  // Messages sent to the waiting thread are handled meanwhile: making an answer sends the
  // window some (Wine asks it for its MSAA object, for one).
  std::optional<LRESULT> TakeAnswer(int target, DWORD waitMs) {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
      {
        std::lock_guard lock(mutex);
        Answers& slot = answers[target];
        if (!slot.ready.empty()) {
          const LRESULT answer = slot.ready.front();
          slot.ready.pop_front();
          wake.notify_one();  // for the next one
          return answer;
        }
        if (slot.failed || closing || !started) return std::nullopt;
      }
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline || !answered) return std::nullopt;
      const HANDLE event = answered.Get();
      if (MsgWaitForMultipleObjectsEx(1, &event, static_cast<DWORD>(deadline - now), QS_SENDMESSAGE,
                                      0) == WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      }
    }
  }

  // The last work: disconnect providers; then the thread ends.
  void Close(std::vector<ComPtr<IRawElementProviderSimple>> providers) {
    std::lock_guard lock(mutex);
    closing = true;
    leaving = std::move(providers);
    wake.notify_one();
    progress.notify_all();
    SetEvent(answered.Get());
  }

  bool WaitRaised(DWORD timeoutMs) {
    std::unique_lock lock(mutex);
    const std::uint64_t target = queued;
    return progress.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return raised >= target; });
  }

 private:
  struct Answers {
    HWND handle = nullptr;
    ComPtr<IRawElementProviderSimple> provider;
    std::deque<LRESULT> ready;
    bool failed = false;
  };

  // The target that wants another answer made ready, or -1.
  int WantedAnswer() const {
    for (int target : {kWindowTarget, kFieldTarget}) {
      const Answers& slot = answers[target];
      if (slot.provider && !slot.failed && slot.ready.size() < kReadyAnswers) return target;
    }
    return -1;
  }

  void Run() {
    // The multithreaded apartment, where UI Automation serves clients, stays until the process
    // ends: Wine's teardown of it waits for every call under way, some of which never end.
    CO_MTA_USAGE_COOKIE usage = nullptr;
    if (FAILED(CoIncrementMTAUsage(&usage))) usage = nullptr;
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    if (api.wine) AnchorWineUiaInterfaces();
    std::unique_lock lock(mutex);
    for (;;) {
      int target = -1;
      wake.wait(lock, [&] {
        target = WantedAnswer();
        return closing || !events.empty() || target >= 0;
      });
      if (closing) break;
      if (!events.empty()) {
        UiaEvent event = std::move(events.front());
        events.pop_front();
        lock.unlock();
        Deliver(api, event);
        event.provider.Reset();
        lock.lock();
        ++raised;
        progress.notify_all();
        continue;
      }
      // Wine ignores the question's wParam; its own clients send 0.
      Answers& slot = answers[target];
      lock.unlock();
      const LRESULT answer =
          api.returnRawElementProvider(slot.handle, 0, kUiaRootObjectId, slot.provider.Get());
      lock.lock();
      if (answer == 0) {
        slot.failed = true;
      } else {
        slot.ready.push_back(answer);
      }
      SetEvent(answered.Get());
    }
    // The providers answer "not available" by now; what was not raised is of no use.
    events.clear();
    raised = queued;
    progress.notify_all();
    std::vector<ComPtr<IRawElementProviderSimple>> gone = std::move(leaving);
    std::vector<LRESULT> unused;
    for (Answers& slot : answers) {
      unused.insert(unused.end(), slot.ready.begin(), slot.ready.end());
      slot.ready.clear();
    }
    lock.unlock();
    for (const ComPtr<IRawElementProviderSimple>& provider : gone) {
      if (provider && api.disconnectProvider != nullptr) api.disconnectProvider(provider.Get());
    }
    // What no client took is taken here, so that its global atom and mapping go.
    using ObjectFromLresultFn = HRESULT(WINAPI*)(LRESULT, REFIID, WPARAM, void**);
    if (const auto take = LoadedFunction<ObjectFromLresultFn>(L"oleacc.dll", "ObjectFromLresult")) {
      for (LRESULT answer : unused) {
        ComPtr<IUnknown> node;
        take(answer, __uuidof(IUnknown), 0, node.PutVoid());
      }
    }
    gone.clear();
    for (Answers& slot : answers) slot.provider.Reset();
    if (com) CoUninitialize();
    (void)usage;  // never given back, as said above
  }

  const UiaApi& api;
  bool started = false;
  std::mutex mutex;
  std::condition_variable wake;      // work for the thread
  std::condition_variable progress;  // an event raised, the end
  const KernelHandle answered;       // an answer made ready, or none can be
  std::deque<UiaEvent> events;
  std::uint64_t queued = 0;
  std::uint64_t raised = 0;
  Answers answers[2];
  bool closing = false;
  std::vector<ComPtr<IRawElementProviderSimple>> leaving;
};

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
  ComPtr<IRawElementProviderSimple> fieldCopy;
  if (fieldProvider) {
    fieldProvider->AddRef();
    fieldCopy.Reset(fieldProvider.Get());
  }
  service->Start(tree->RootProvider(), window, std::move(fieldCopy), field);
}

AccessibilityServer::~AccessibilityServer() {
  std::vector<ComPtr<IRawElementProviderSimple>> providers = tree->Close();
  if (fieldProvider) providers.push_back(std::move(fieldProvider));
  // The call a window that goes makes while it still exists: it lets go of what UI Automation
  // keeps for the window in this process (under Wine 8 it does nothing).
  api.returnRawElementProvider(window, 0, 0, nullptr);
  if (field != nullptr) api.returnRawElementProvider(field, 0, 0, nullptr);
  service->Close(std::move(providers));
}

bool AccessibilityServer::AsksForUia(LPARAM lParam) {
  return static_cast<LONG>(static_cast<DWORD>(lParam)) == kUiaRootObjectId;
}

LRESULT AccessibilityServer::Answer(int target, HWND handle, IRawElementProviderSimple* provider,
                                    WPARAM wParam, LPARAM lParam) {
  if (provider == nullptr) return 0;
  // Windows takes the answer from the window thread, during the question.
  if (!api.wine) return api.returnRawElementProvider(handle, wParam, lParam, provider);
  // Wine's UiaReturnRawElementProvider marshals through its COM, which can stall on a client
  // for good (see AnchorWineUiaInterfaces), and ignores which question it answers: the answer
  // is one the service thread made ready, or none. Only the server's first answer is waited
  // for, answering what is sent to the window meanwhile: until a client has an answer, no
  // client holds anything of this server to stall on.
  const DWORD wait = askedBefore ? 0 : kFirstAnswerWaitMs;
  askedBefore = true;
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

void AccessibilityServer::Update(std::uint32_t nextStructure,
                                 std::vector<AccessibleElement> nextElements, int nextFocus,
                                 float scale) {
  const bool newStructure = structure != nextStructure;
  const bool first = !structure.has_value();
  structure = nextStructure;
  std::vector<AccessibleElement> before = std::exchange(elements, std::move(nextElements));
  const int focusBefore = std::exchange(focusIndex, nextFocus);
  tree->Replace({elements, focusIndex, scale}, newStructure);
  // The first list is what the client that asked for the window will read; nothing changed.
  if (!first) RaiseChanges(before, focusBefore, newStructure);
}

void AccessibilityServer::RaiseChanges(const std::vector<AccessibleElement>& before,
                                       int focusBefore, bool newStructure) {
  const auto raise = [&](UiaEvent::Kind kind, ComPtr<IRawElementProviderSimple> provider, int id,
                         Variant was = Variant(), Variant now = Variant()) {
    if (!provider) return;
    UiaEvent event{kind, std::move(provider), id, std::move(was), std::move(now)};
    service->Raise(std::move(event));
  };
  if (newStructure && api.raiseStructureChangedEvent != nullptr) {
    UiaEvent event{UiaEvent::Kind::Structure, tree->RootProvider(), uia::kChildrenInvalidated};
    event.runtimeId = {kHwndRuntimeIdBase, static_cast<int>(reinterpret_cast<INT_PTR>(window))};
    if (event.provider) service->Raise(std::move(event));
  }
  const bool properties = api.raisePropertyChangedEvent != nullptr;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const AccessibleElement& now = elements[i];
    if (newStructure) {
      if (!now.alert) continue;
      // A failure's message is read out at once, over whatever was being said.
      if (api.raiseNotificationEvent != nullptr) {
        UiaEvent event{UiaEvent::Kind::Notification, tree->ChildProvider(i)};
        event.text = now.name;
        if (event.provider) service->Raise(std::move(event));
      }
      if (api.raiseAutomationEvent != nullptr) {
        raise(UiaEvent::Kind::Automation, tree->ChildProvider(i), uia::kLiveRegionChangedEvent);
      }
      continue;
    }
    if (i >= before.size() || !properties) continue;
    const AccessibleElement& was = before[i];
    if (now.name != was.name) {
      raise(UiaEvent::Kind::Property, tree->ChildProvider(i), UIA_NamePropertyId, Variant(was.name),
            Variant(now.name));
    }
    if (now.role == AccessibleRole::ProgressBar && now.value != was.value) {
      raise(UiaEvent::Kind::Property, tree->ChildProvider(i), UIA_RangeValueValuePropertyId,
            Variant(static_cast<double>(was.value)), Variant(static_cast<double>(now.value)));
    }
    if (now.role == AccessibleRole::CheckBox && now.checked != was.checked) {
      raise(UiaEvent::Kind::Property, tree->ChildProvider(i), UIA_ToggleToggleStatePropertyId,
            Variant(ToggleStateOf(was)), Variant(ToggleStateOf(now)));
    }
  }
  if ((newStructure || focusIndex != focusBefore) && api.raiseAutomationEvent != nullptr &&
      GetFocus() == window) {
    const int focused = tree->FocusedChild();
    if (focused >= 0) {
      raise(UiaEvent::Kind::Automation, tree->ChildProvider(static_cast<std::size_t>(focused)),
            uia::kFocusChangedEvent);
    }
  }
}

std::optional<AccessibleElement> AccessibilityServer::ActionTarget(WPARAM wParam, LPARAM lParam,
                                                                   AccessibleAction& action) const {
  action = static_cast<AccessibleAction>(HIWORD(wParam));
  return tree->Element(static_cast<std::uint32_t>(lParam), LOWORD(wParam));
}

}  // namespace lum::installer
