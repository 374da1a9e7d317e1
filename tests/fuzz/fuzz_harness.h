// Deterministic mutation-fuzzing harness: a seeded generator per case, a watchdog against hangs,
// a last-chance handler against crashes, counters per mutation kind and per outcome, and the
// failing inputs written to files. Every case is reproducible from (seed, index) alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/printable.h"

namespace lum::installer::fuzz {

// splitmix64: small, fast, and the same sequence on every platform.
class Rng {
 public:
  explicit Rng(std::uint64_t state) : state_(state) {}
  std::uint64_t Next();
  // Uniform in [0, bound); bound 0 gives 0.
  std::uint64_t Below(std::uint64_t bound);
  // Uniform in [low, high].
  std::uint64_t Between(std::uint64_t low, std::uint64_t high);
  bool OneIn(std::uint64_t n) { return Below(n) == 0; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[static_cast<std::size_t>(Below(items.size()))];
  }

 private:
  std::uint64_t state_;
};

struct Options {
  std::uint64_t seed = 1;
  std::uint64_t count = 1000;
  bool singleIndex = false;  // --index: run only that case
  std::uint64_t index = 0;
  std::wstring input;  // --input: run one saved input instead of generated cases
  std::wstring outDir = L"fuzz-findings";
  std::wstring seedsDir;  // --seeds: folder of seed files (manifest target)
  std::wstring target;    // --target: restrict a multi-target program to one target
  double caseTimeoutSeconds = 5.0;
  std::wstring
      inject;  // --inject crash|overflow|hang|throw: a fault in case 3, to check the harness
};

// Reads --seed N --count N --index N --input FILE --out DIR --seeds DIR --target NAME
// --timeout SECONDS --inject KIND.
[[nodiscard]] bool ParseOptions(int argc, wchar_t** argv, Options& options, std::wstring& message);

// One fuzzing target's run. Cases run one at a time on the calling thread.
class Campaign {
 public:
  Campaign(std::string target, std::vector<std::string> kinds, const Options& options);
  ~Campaign();
  Campaign(const Campaign&) = delete;
  Campaign& operator=(const Campaign&) = delete;

  // The generator of one case: a function of the seed, the target and the index only.
  Rng CaseRng(std::uint64_t index) const;

  // The case about to be generated, for the reports of a fault in the generator itself.
  void NoteIndex(std::uint64_t index);
  // Arms the watchdog and the crash handler with this input; EndCase disarms them.
  void BeginCase(std::uint64_t index, std::size_t kind, const std::string& input);
  void EndCase();

  // Counts an outcome of the current case (a success or a failure message).
  void Outcome(const std::string& label);
  // A fault: printed with seed and index, its input written to a file, the run fails.
  void Finding(const std::string& what);

  // Prints the counts; the process exit code (0 without findings).
  int Finish();

  std::uint64_t findings() const { return findings_; }

  // Runs the fault that --inject asks for when the current case is number 3.
  void MaybeInjectFault() const;

 private:
  std::string target_;
  std::vector<std::string> kinds_;
  Options options_;
  std::uint64_t salt_ = 0;
  std::vector<std::uint64_t> kindCounts_;
  std::map<std::string, std::uint64_t> outcomes_;
  std::uint64_t executed_ = 0;
  std::uint64_t findings_ = 0;
  std::uint64_t currentIndex_ = 0;
  std::size_t currentKind_ = 0;
  std::string currentInput_;
  unsigned long long startTick_ = 0;
};

// The whole content of a file, or false.
[[nodiscard]] bool ReadWholeFile(const std::wstring& path, std::string& bytes);
// The files of a folder with this extension (".json"), sorted.
std::vector<std::wstring> ListFiles(const std::wstring& folder, std::wstring_view extension);

// For printing: ASCII as is, everything else as \uXXXX.
using lum::test::Printable;
std::string Printable(std::string_view bytes);
std::string ToUtf8(std::wstring_view text);

}  // namespace lum::installer::fuzz
