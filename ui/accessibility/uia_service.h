// The thread of the window's UI Automation server that makes every call that can reach a client:
// the events, the providers' disconnection, letting go of what UI Automation keeps for a window,
// and under Wine 8 the answers to WM_GETOBJECT, made ready ahead. The window thread hands work
// over and never waits for it (but for the server's very first answer under Wine, see
// TakeAnswer), so a client that stops answering, or a UI Automation stuck on one, holds up this
// thread only; the process still ends when the window goes.
#pragma once

#include <windows.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/handles.h"
#include "base/variant.h"
#include "ui/accessibility/uia_api.h"

namespace lum::installer {

// One event for the service thread to raise.
struct UiaEvent {
  enum class Kind { Automation, Property, Structure, Notification };
  Kind kind = Kind::Automation;
  ComPtr<IRawElementProviderSimple> provider;
  int id = 0;  // the event, the property, or the kind of structure change
  Variant before;
  Variant after;
  std::wstring text;               // a notification's
  std::array<int, 2> runtimeId{};  // a structure change's
};

class UiaService : public std::enable_shared_from_this<UiaService> {
 public:
  // What WM_GETOBJECT is answered with for one window: its handle and its root provider.
  struct Target {
    HWND handle = nullptr;
    ComPtr<IRawElementProviderSimple> provider;
  };

  // api outlives the process's windows (it is static).
  explicit UiaService(const UiaApi& api);
  UiaService(const UiaService&) = delete;
  UiaService& operator=(const UiaService&) = delete;

  // Starts the thread. Under Wine it also keeps answers ready for each target (a target without
  // a provider gets none).
  void Start(std::vector<Target> targets);

  // Queues an event; it is raised after those queued before it.
  void Raise(UiaEvent event);

  // Under Wine: an answer made ready for target index, waiting up to waitMs for one (messages
  // sent to this thread meanwhile are handled: making an answer sends the window some); none
  // when there is none.
  std::optional<LRESULT> TakeAnswer(std::size_t target, DWORD waitMs);

  // The last work, after what is queued is dropped: let go of what UI Automation keeps for the
  // windows, disconnect the providers; then the thread ends.
  void Close(std::vector<HWND> windows, std::vector<ComPtr<IRawElementProviderSimple>> providers);

  // For a client in this process: true once every event queued so far has been raised, false
  // when that has not happened within timeoutMs.
  bool WaitRaised(DWORD timeoutMs);

 private:
  struct Answers {
    Target target;
    std::deque<LRESULT> ready;
    bool failed = false;
  };

  void Run();
  int WantedAnswer() const;  // the target that wants another answer made ready, or -1
  void Deliver(UiaEvent& event) const;
  void Finish(std::unique_lock<std::mutex>& lock);

  const UiaApi& api;
  bool started = false;
  std::mutex mutex;
  std::condition_variable wake;      // work for the thread
  std::condition_variable progress;  // an event raised, or the end
  const KernelHandle answered;       // an answer made ready, or none can be any more
  std::deque<UiaEvent> events;
  std::uint64_t queued = 0;
  std::uint64_t raised = 0;
  std::vector<Answers> answers;
  bool closing = false;
  std::vector<HWND> leavingWindows;
  std::vector<ComPtr<IRawElementProviderSimple>> leavingProviders;
};

}  // namespace lum::installer
