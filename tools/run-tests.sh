#!/usr/bin/env bash
# Sets up a bare Debian machine, builds everything and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset default -B "${LUM_BUILD_DIR:-build}"
cmake --build "${LUM_BUILD_DIR:-build}"
ctest --test-dir "${LUM_BUILD_DIR:-build}" --output-on-failure
