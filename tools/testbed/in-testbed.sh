#!/usr/bin/env bash
# Runs a command of the build machine against one test bed: inside its network namespace (where
# its release server listens), with its display and prefix in the environment.
#   in-testbed.sh TESTBED_DIR command [args...]
# The UI driver runs through this: it talks to the server and restarts the prefix's wineserver.
set -euo pipefail
testbed=$(realpath -m "$1")
shift
# shellcheck disable=SC1091
source "$testbed/config.sh"
# shellcheck disable=SC1091
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
[[ -f $testbed/display ]] || { echo "in-testbed: $testbed is not started" >&2; exit 1; }
export LUM_TESTBED=$testbed WINEPREFIX=$testbed/prefix DISPLAY
DISPLAY=$(cat "$testbed/display")
netns_enter_command "$testbed"
exec "${NETNS_ENTER[@]}" "$@"
