// What a failed request or transfer saw, kept for the log.
#pragma once

#include <windows.h>

#include <cstdint>

namespace lum::installer {

struct TransferFailure {
  DWORD winError = 0;               // GetLastError of the call that failed; 0 when no call failed
  DWORD httpStatus = 0;             // the status when it was what the caller refused; else 0
  std::uint64_t bytesReceived = 0;  // body bytes of this response read before the failure
};

}  // namespace lum::installer
