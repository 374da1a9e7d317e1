#!/usr/bin/env bash
# Runs a Windows program inside the test bed of one build tree:
#   wine-run.sh TESTBED_DIR program.exe [args...]
# The prefix, display and server were prepared by testbed.sh start.
set -u
testbed=$(realpath -m "$1")
shift
# shellcheck disable=SC1091
[[ -f $testbed/env ]] && source "$testbed/env"
export WINEPREFIX=$testbed/prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No crash debugger waiting on stdin; no Mono or Gecko downloads.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winedbg.exe=d;mscoree=d;mshtml=d}
[[ -f $testbed/display ]] && export DISPLAY=$(cat "$testbed/display")
exec wine "$@" </dev/null
