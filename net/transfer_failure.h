// What a failed request or transfer saw, kept for the log.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace lum::installer {

struct TransferFailure {
  DWORD winError = 0;               // GetLastError of the call that failed; 0 when no call failed
  DWORD httpStatus = 0;             // the status when it was what the caller refused; else 0
  std::uint64_t bytesReceived = 0;  // body bytes of this response read before the failure
  // The named proxy, when the failure may be its own: the request went out through it and
  // failed before a response came, or the proxy refused it (HTTP 407).
  std::wstring proxy;
};

// Names the process's named proxy in failure when the failure may be the proxy's: a status
// of 407, or a request that failed on its way out (opened says whether the request handle was
// made, after which only the network can fail).
void NoteProxyFailure(TransferFailure& failure, bool requestSent);

}  // namespace lum::installer
