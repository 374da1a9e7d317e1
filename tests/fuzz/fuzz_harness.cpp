#include "tests/fuzz/fuzz_harness.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "base/handles.h"

namespace lum::installer::fuzz {
namespace {

std::uint64_t Mix(std::uint64_t value) {
  value += 0x9E3779B97F4A7C15ull;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

std::uint64_t HashName(std::string_view name) {
  std::uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
  for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return hash;
}

// What the watchdog and the crash handler need; guarded by the mutex except inside the crash
// handler, which runs when the fuzzing thread is already lost.
struct ActiveCase {
  std::mutex mutex;
  bool armed = false;
  std::string target;
  std::uint64_t seed = 0;
  std::uint64_t index = 0;
  const std::string* input = nullptr;
  std::wstring outDir;
  unsigned long long startTick = 0;
  unsigned long long timeoutMs = 5000;
};

// Never destroyed: the watchdog thread may still look at it while the process exits.
ActiveCase& Active() {
  static ActiveCase* active = new ActiveCase;
  return *active;
}

std::wstring Widen(std::string_view text) { return std::wstring(text.begin(), text.end()); }

// Writes the input next to the other findings; the path, or empty when it could not be written.
std::wstring SaveInput(const std::wstring& outDir, const std::string& target, std::uint64_t seed,
                       std::uint64_t index, std::string_view input) {
  CreateDirectoryW(outDir.c_str(), nullptr);
  const std::wstring path = outDir + L"\\" + Widen(target) + L"-seed" + std::to_wstring(seed) +
                            L"-index" + std::to_wstring(index) + L".bin";
  KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  std::size_t done = 0;
  while (done < input.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(input.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file.Get(), input.data() + done, chunk, &written, nullptr) || written == 0) {
      return {};
    }
    done += written;
  }
  return path;
}

[[noreturn]] void AbortCase(const char* what, int exitCode) {
  ActiveCase& active = Active();
  std::fprintf(stdout, "\nFINDING [%s] %s: seed %llu index %llu\n", active.target.c_str(), what,
               static_cast<unsigned long long>(active.seed),
               static_cast<unsigned long long>(active.index));
  if (active.input != nullptr) {
    const std::wstring path =
        SaveInput(active.outDir, active.target, active.seed, active.index, *active.input);
    std::fprintf(stdout, "  input (%zu bytes) written to %s\n", active.input->size(),
                 Printable(path).c_str());
  }
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  std::abort();
}

// Set by the crash handler; the watchdog thread reports it, on a stack of its own (a stack
// overflow leaves the crashed thread too little room to print and write files).
std::atomic<unsigned long> crashCode{0};

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  crashCode = static_cast<unsigned long>(pointers->ExceptionRecord->ExceptionCode);
  for (;;) Sleep(INFINITE);
}

void OnTerminate() { AbortCase("C++ exception escaped (std::terminate)", 3); }

void WatchdogLoop() {
  for (;;) {
    Sleep(100);
    if (const unsigned long code = crashCode.load(); code != 0) {
      char what[64];
      std::snprintf(what, sizeof(what), "crash (exception 0x%08lX)", code);
      AbortCase(what, 3);
    }
    ActiveCase& active = Active();
    std::unique_lock lock(active.mutex);
    if (active.armed && GetTickCount64() - active.startTick > active.timeoutMs) {
      AbortCase("hang (case still running after the time limit)", 4);
    }
  }
}

void StartWatchdogOnce() {
  static std::once_flag once;
  std::call_once(once, [] { std::thread(WatchdogLoop).detach(); });
}

// Unbounded recursion, like a parser that recurses per nesting level.
int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (frame[0] == 127 && depth < 0) return 0;  // never true; keeps the compiler from proving it
  return Recurse(depth + 1) + frame[0];
}

}  // namespace

std::uint64_t Rng::Next() {
  state_ += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint64_t Rng::Below(std::uint64_t bound) { return bound == 0 ? 0 : Next() % bound; }

std::uint64_t Rng::Between(std::uint64_t low, std::uint64_t high) {
  return low + Below(high - low + 1);
}

bool ParseOptions(int argc, wchar_t** argv, Options& options, std::wstring& message) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view name = argv[i];
    if (i + 1 >= argc) {
      message = L"missing value after " + std::wstring(name);
      return false;
    }
    const wchar_t* value = argv[++i];
    wchar_t* end = nullptr;
    const auto number = [&](std::uint64_t& out) {
      out = std::wcstoull(value, &end, 10);
      return end != value && *end == L'\0';
    };
    bool ok = true;
    if (name == L"--seed") {
      ok = number(options.seed);
    } else if (name == L"--count") {
      ok = number(options.count);
    } else if (name == L"--index") {
      ok = number(options.index);
      options.singleIndex = true;
    } else if (name == L"--input") {
      options.input = value;
    } else if (name == L"--out") {
      options.outDir = value;
    } else if (name == L"--seeds") {
      options.seedsDir = value;
    } else if (name == L"--inject") {
      options.inject = value;
      ok = options.inject == L"crash" || options.inject == L"overflow" ||
           options.inject == L"hang" || options.inject == L"throw";
    } else if (name == L"--target") {
      options.target = value;
    } else if (name == L"--timeout") {
      options.caseTimeoutSeconds = std::wcstod(value, &end);
      ok = end != value && *end == L'\0' && options.caseTimeoutSeconds > 0;
    } else {
      message = L"unknown option " + std::wstring(name);
      return false;
    }
    if (!ok) {
      message = L"bad value for " + std::wstring(name);
      return false;
    }
  }
  return true;
}

Campaign::Campaign(std::string target, std::vector<std::string> kinds, const Options& options)
    : target_(std::move(target)),
      kinds_(std::move(kinds)),
      options_(options),
      salt_(HashName(target_)),
      kindCounts_(kinds_.size(), 0) {
  // Room for the crash handler after a stack overflow.
  ULONG guarantee = 64 * 1024;
  SetThreadStackGuarantee(&guarantee);
  SetUnhandledExceptionFilter(OnUnhandledException);
  std::set_terminate(OnTerminate);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  ActiveCase& active = Active();
  {
    std::lock_guard lock(active.mutex);
    active.target = target_;
    active.seed = options_.seed;
    active.outDir = options_.outDir;
    active.timeoutMs = static_cast<unsigned long long>(options_.caseTimeoutSeconds * 1000);
    active.armed = false;
  }
  StartWatchdogOnce();
}

Campaign::~Campaign() {
  std::lock_guard lock(Active().mutex);
  Active().armed = false;
  Active().input = nullptr;
}

Rng Campaign::CaseRng(std::uint64_t index) const {
  return Rng(Mix(Mix(options_.seed ^ salt_) ^ index));
}

void Campaign::NoteIndex(std::uint64_t index) {
  std::lock_guard lock(Active().mutex);
  currentIndex_ = index;
  Active().index = index;
  Active().input = nullptr;
}

void Campaign::BeginCase(std::uint64_t index, std::size_t kind, const std::string& input) {
  ActiveCase& active = Active();
  std::lock_guard lock(active.mutex);
  currentIndex_ = index;
  currentKind_ = kind;
  currentInput_ = input;
  ++executed_;
  if (kind < kindCounts_.size()) ++kindCounts_[kind];
  active.target = target_;
  active.index = index;
  active.input = &currentInput_;
  active.startTick = GetTickCount64();
  active.armed = true;
}

void Campaign::EndCase() {
  std::lock_guard lock(Active().mutex);
  Active().armed = false;
}

void Campaign::MaybeInjectFault() const {
  if (options_.inject.empty() || currentIndex_ != 3) return;
  if (options_.inject == L"crash") {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  } else if (options_.inject == L"overflow") {
    Recurse(0);
  } else if (options_.inject == L"hang") {
    for (;;) Sleep(1000);
  } else if (options_.inject == L"throw") {
    throw std::runtime_error("injected");
  }
}

void Campaign::Outcome(const std::string& label) { ++outcomes_[label]; }

void Campaign::Finding(const std::string& what) {
  ++findings_;
  std::printf("\nFINDING [%s] %s\n  seed %llu index %llu kind %s\n", target_.c_str(), what.c_str(),
              static_cast<unsigned long long>(options_.seed),
              static_cast<unsigned long long>(currentIndex_),
              currentKind_ < kinds_.size() ? kinds_[currentKind_].c_str() : "?");
  // The first few inputs are enough to reproduce; each is also reproducible from seed+index.
  if (findings_ <= 20) {
    const std::wstring path =
        SaveInput(options_.outDir, target_, options_.seed, currentIndex_, currentInput_);
    std::printf("  input (%zu bytes) written to %s\n", currentInput_.size(),
                path.empty() ? "(could not write)" : Printable(path).c_str());
  }
  std::fflush(stdout);
}

int Campaign::Finish() {
  std::printf("[%s] seed %llu: %llu cases executed, %llu findings\n", target_.c_str(),
              static_cast<unsigned long long>(options_.seed),
              static_cast<unsigned long long>(executed_),
              static_cast<unsigned long long>(findings_));
  std::printf("  by mutation kind:\n");
  for (std::size_t i = 0; i < kinds_.size(); ++i) {
    std::printf("    %-22s %llu\n", kinds_[i].c_str(),
                static_cast<unsigned long long>(kindCounts_[i]));
  }
  std::printf("  by outcome:\n");
  for (const auto& [label, count] : outcomes_) {
    std::printf("    %-40s %llu\n", label.c_str(), static_cast<unsigned long long>(count));
  }
  std::fflush(stdout);
  return findings_ == 0 ? 0 : 1;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > (1ll << 30)) return false;
  bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    if (!ReadFile(file.Get(), bytes.data() + done, chunk, &read, nullptr) || read == 0) {
      return false;
    }
    done += read;
  }
  return true;
}

std::vector<std::wstring> ListFiles(const std::wstring& folder, std::wstring_view extension) {
  std::vector<std::wstring> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_regular_file(error) && entry.path().extension().wstring() == extension) {
      files.push_back(entry.path().wstring());
    }
  }
  std::sort(files.begin(), files.end());  // the seed order must not depend on the file system
  return files;
}

std::string Printable(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F) {
      out.push_back(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\x%02x", b);
      out += escape;
    }
  }
  return out;
}

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace lum::installer::fuzz
