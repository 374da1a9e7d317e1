#!/usr/bin/env bash
# Starts or stops the test beds of one lane side by side: its own and, where it has one, its twin
# (see side-by-side.sh). Each one's output follows; the exit status is 1 when any failed.
#   lane.sh start|stop TESTBED_DIR...
set -u
action=$1
shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
pids=()
for i in $(seq $#); do
  bash "$here/testbed.sh" "$action" "${!i}" >"$out/$i" 2>&1 &
  pids+=($!)
done
status=0
for i in $(seq $#); do
  wait "${pids[$((i - 1))]}" || status=1
  cat "$out/$i"
done
exit $status
