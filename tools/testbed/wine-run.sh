#!/usr/bin/env bash
# Runs a Windows program inside one test bed:
#   wine-run.sh TESTBED_DIR program.exe [args...]
# LUM_TESTBED, when set (ctest sets it for each lane's tests), names the test bed instead of
# TESTBED_DIR. The prefix, display, server and network namespace were prepared by testbed.sh start.
set -u
testbed=$(realpath -m "${LUM_TESTBED:-$1}")
shift
# shellcheck disable=SC1091
[[ -f $testbed/config.sh ]] && source "$testbed/config.sh"
# shellcheck disable=SC1091
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
# shellcheck disable=SC1091
source "$(dirname "${BASH_SOURCE[0]}")/wine-layout.sh"
# shellcheck disable=SC1091
[[ -f $testbed/env ]] && source "$testbed/env"
export WINEPREFIX=$testbed/prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No crash debugger waiting on stdin; no Mono or Gecko downloads.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winedbg.exe=d;mscoree=d;mshtml=d}
[[ -f $testbed/display ]] && export DISPLAY=$(cat "$testbed/display")
netns_enter_command "$testbed" || exit 1
exec "${NETNS_ENTER[@]}" "${WINE_LAYOUT[@]}" wine "$@" </dev/null
