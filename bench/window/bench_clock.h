// Clocks shared by the window benchmarks: the performance counter (one time base for every
// process on the machine) and the calling thread's CPU time.
#pragma once

#include <windows.h>

#include <cstdint>

namespace lum::installer::bench {

inline std::int64_t CounterNow() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

inline double CounterMs(std::int64_t ticks) {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  return static_cast<double>(ticks) * 1000.0 / static_cast<double>(frequency);
}

inline std::uint64_t FileTimeTicks(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Wall-clock time in 100 ns units, comparable with the process creation time.
inline std::uint64_t SystemTimeNow() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  return FileTimeTicks(now);
}

// User plus kernel time of the calling thread, in ms (Wine reads it from /proc: 10 ms steps).
inline double ThreadCpuMs() {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
  return static_cast<double>(FileTimeTicks(kernel) + FileTimeTicks(user)) / 10000.0;
}

}  // namespace lum::installer::bench
