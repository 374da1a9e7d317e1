#!/usr/bin/env bash
# Runs every benchmark of a built tree and prints their tables (see bench/*/README.md):
#   bash bench/run.sh [BUILD_DIR]      (default: build)
# Starts the tree's test bed once for all of them unless it is already running.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$source_dir/build}")
# tools/run-tests.sh builds only what the tests need: build the benchmarks too (quick when built).
cmake --build "$build" >/dev/null
testbed=$build/testbed
started=0
if ! bash "$source_dir/tools/testbed/testbed.sh" running "$testbed"; then
  bash "$source_dir/tools/testbed/testbed.sh" start "$testbed" >/dev/null
  started=1
fi
cleanup() { if ((started)); then bash "$source_dir/tools/testbed/testbed.sh" stop "$testbed" >/dev/null; fi; }
trap cleanup EXIT
bash "$source_dir/bench/transfer/run.sh" "$build"
echo
bash "$source_dir/bench/window/run.sh" "$build"
