#include "ui/accessibility/uia_service.h"

#include <objbase.h>

#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

#include "base/module.h"

namespace lum::installer {
namespace {

// Answers kept ready for each target under Wine: a client's look asks a few times in a row.
constexpr std::size_t kReadyAnswers = 3;

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

UiaService::UiaService(const UiaApi& uiaApi)
    : api(uiaApi), answered(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

void UiaService::Start(std::vector<Target> targets) {
  if (api.wine) {
    for (Target& target : targets) answers.push_back(Answers{std::move(target)});
  }
  try {
    std::thread([self = shared_from_this()] { self->Run(); }).detach();
    started = true;
  } catch (const std::system_error&) {
    // No thread: no events, and no answers under Wine; the window goes on without them.
  }
}

void UiaService::Raise(UiaEvent event) {
  if (!started || !event.provider) return;
  std::lock_guard lock(mutex);
  if (closing) return;
  events.push_back(std::move(event));
  ++queued;
  wake.notify_one();
}

std::optional<LRESULT> UiaService::TakeAnswer(std::size_t target, DWORD waitMs) {
  const ULONGLONG deadline = GetTickCount64() + waitMs;
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (target >= answers.size() || !started) return std::nullopt;
      Answers& slot = answers[target];
      if (!slot.ready.empty()) {
        const LRESULT answer = slot.ready.front();
        slot.ready.pop_front();
        wake.notify_one();  // for the next one
        return answer;
      }
      if (slot.failed || closing) return std::nullopt;
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

void UiaService::Close(std::vector<HWND> windows,
                       std::vector<ComPtr<IRawElementProviderSimple>> providers) {
  std::lock_guard lock(mutex);
  closing = true;
  leavingWindows = std::move(windows);
  leavingProviders = std::move(providers);
  wake.notify_one();
  progress.notify_all();
  if (answered) SetEvent(answered.Get());
}

bool UiaService::WaitRaised(DWORD timeoutMs) {
  std::unique_lock lock(mutex);
  const std::uint64_t target = queued;
  return progress.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return raised >= target; });
}

int UiaService::WantedAnswer() const {
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const Answers& slot = answers[i];
    if (slot.target.provider && !slot.failed && slot.ready.size() < kReadyAnswers) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void UiaService::Deliver(UiaEvent& event) const {
  IRawElementProviderSimple* provider = event.provider.Get();
  switch (event.kind) {
    case UiaEvent::Kind::Automation:
      if (api.raiseAutomationEvent != nullptr) api.raiseAutomationEvent(provider, event.id);
      return;
    case UiaEvent::Kind::Property:
      if (api.raisePropertyChangedEvent != nullptr) {
        api.raisePropertyChangedEvent(provider, event.id, event.before.Get(), event.after.Get());
      }
      return;
    case UiaEvent::Kind::Structure:
      if (api.raiseStructureChangedEvent != nullptr) {
        api.raiseStructureChangedEvent(provider, event.id, event.runtimeId.data(),
                                       static_cast<int>(event.runtimeId.size()));
      }
      return;
    case UiaEvent::Kind::Notification:
      if (api.raiseNotificationEvent != nullptr) {
        const ScopedBstr text = MakeBstr(event.text);
        const ScopedBstr activity = MakeBstr(L"InstallationFailed");
        api.raiseNotificationEvent(provider, uia::kNotificationOther, uia::kImportantMostRecent,
                                   text.Get(), activity.Get());
      }
      return;
  }
}

void UiaService::Run() {
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
      Deliver(event);
      event.provider.Reset();
      lock.lock();
      ++raised;
      progress.notify_all();
      continue;
    }
    // Wine ignores the question's wParam; its own clients send 0.
    const Target& slot = answers[static_cast<std::size_t>(target)].target;
    const HWND handle = slot.handle;
    IRawElementProviderSimple* const provider = slot.provider.Get();  // held until Finish
    lock.unlock();
    const LRESULT answer = api.returnRawElementProvider(handle, 0, kUiaRootObjectId, provider);
    lock.lock();
    Answers& made = answers[static_cast<std::size_t>(target)];
    if (answer == 0) {
      made.failed = true;
    } else {
      made.ready.push_back(answer);
    }
    SetEvent(answered.Get());
  }
  Finish(lock);
  if (com) CoUninitialize();
  (void)usage;  // never given back, as said above
}

void UiaService::Finish(std::unique_lock<std::mutex>& lock) {
  // The providers answer "not available" by now; what was not raised is of no use.
  events.clear();
  raised = queued;
  progress.notify_all();
  const std::vector<HWND> windows = std::move(leavingWindows);
  std::vector<ComPtr<IRawElementProviderSimple>> providers = std::move(leavingProviders);
  std::vector<LRESULT> unused;
  for (Answers& slot : answers) {
    unused.insert(unused.end(), slot.ready.begin(), slot.ready.end());
    slot.ready.clear();
  }
  lock.unlock();
  // As a window that goes does on Windows: the providers are cut loose, then what UI
  // Automation kept for the window is let go. The handles only name the bookkeeping: the
  // windows may be gone by now.
  if (api.disconnectProvider != nullptr) {
    for (const ComPtr<IRawElementProviderSimple>& provider : providers) {
      if (provider) api.disconnectProvider(provider.Get());
    }
  }
  for (HWND window : windows) api.returnRawElementProvider(window, 0, 0, nullptr);
  // What no client took is taken here, so that its global atom and mapping go.
  using ObjectFromLresultFn = HRESULT(WINAPI*)(LRESULT, REFIID, WPARAM, void**);
  if (const auto take = LoadedFunction<ObjectFromLresultFn>(L"oleacc.dll", "ObjectFromLresult")) {
    for (LRESULT answer : unused) {
      ComPtr<IUnknown> node;
      take(answer, __uuidof(IUnknown), 0, node.PutVoid());
    }
  }
  providers.clear();
  lock.lock();
  for (Answers& slot : answers) slot.target.provider.Reset();
}

}  // namespace lum::installer
