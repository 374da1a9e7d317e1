#!/usr/bin/env bash
# Runs one GoogleTest program in a lane's two test beds at once: the tests that FILTER selects in
# the lane's twin (LUM_TESTBED_TWIN), all others in the lane's own (LUM_TESTBED). Most of those
# tests wait on time-outs of the product (a stalled server, an application that ignores a close
# request), so two halves take about as long as the longer one, not as both.
#   side-by-side.sh PROGRAM.exe FILTER [ARGS...]
# Each half must run at least one test, so that a renamed test cannot drop out of both; the
# output of each follows, and the exit status is 1 when either failed.
set -u
exe=$1 filter=$2
shift 2
args=("$@")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${LUM_TESTBED:?}" "${LUM_TESTBED_TWIN:?}"
out=$(mktemp -d)
pids=()
# A time-out of ctest ends this script: the halves go with it.
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$out"; exit 1' TERM INT
trap 'rm -rf "$out"' EXIT
run() { # NAME TESTBED FILTER
  LUM_TESTBED=$2 bash "$here/wine-run.sh" "$2" "$exe" "--gtest_filter=$3" "${args[@]}" >"$out/$1" 2>&1 &
  pids+=($!)
}
run own "$LUM_TESTBED" "-$filter"
run twin "$LUM_TESTBED_TWIN" "$filter"
status=0
for i in 0 1; do
  wait "${pids[$i]}" || status=1
done
for half in own twin; do
  echo "---- $half test bed"
  cat "$out/$half"
  if ! grep -qE '^\[==========\] [1-9][0-9]* tests? from .* ran' "$out/$half"; then
    echo "side-by-side: no test ran in the $half test bed" >&2
    status=1
  fi
done
exit $status
