// One installation at a time on the whole machine, across logon sessions: the working folder is
// machine-wide, and two packages must never run at once.
#pragma once

#include <windows.h>

#include <atomic>

#include "base/handles.h"

namespace lum::installer {

// A mutex inside a private namespace whose boundary is the Administrators group: only an
// elevated administrator (or SYSTEM) can make or open the namespace, so no standard user can
// take, hold or block the name. Taken and released on one thread (a mutex belongs to the thread
// that owns it); the destructor releases it.
class InstallationLock {
 public:
  enum class Outcome {
    Held,       // this thread holds it
    Busy,       // another installation holds it (only when not waiting)
    Cancelled,  // cancel was set while waiting
    Failed,     // it could not be made or waited for; error holds why
  };

  InstallationLock() = default;
  ~InstallationLock();
  InstallationLock(const InstallationLock&) = delete;
  InstallationLock& operator=(const InstallationLock&) = delete;

  // Takes the lock at once or says Busy; with wait, waits for it in 200 ms slices, reading
  // cancel between them.
  [[nodiscard]] Outcome Acquire(bool wait, const std::atomic<bool>& cancel, DWORD& error);
  // True when the holder before ended without releasing it (a process that was killed).
  bool WasAbandoned() const { return abandoned_; }

 private:
  PrivateNamespaceHandle namespace_;
  KernelHandle mutex_;
  bool held_ = false;
  bool abandoned_ = false;
};

}  // namespace lum::installer
