#!/usr/bin/env bash
# Sets up a bare Debian machine, builds what the tests need and runs the whole test suite, two
# entries at a time (the Windows suites in lanes of their own, see README "Test bed").
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset default -B "${LUM_BUILD_DIR:-build}"
# Everything but the benchmarks, which no test runs (bench/run.sh runs them).
cmake --build "${LUM_BUILD_DIR:-build}" --target lum_test_programs
ctest --test-dir "${LUM_BUILD_DIR:-build}" -j2 --output-on-failure
